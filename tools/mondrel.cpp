// mondrel: reads EXR files and sequences exactly as a video-editing host
// does, through the plug-in's table, and says in words what it finds.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/info_command.h"
#include "tools/sample_sequence.h"
#include "tools/tool_platform.h"

namespace {

const char kUsage[] =
    "usage:\n"
    "  mondrel info [--json] [--plugin DLL] PATH...   what a host is told about each file, or why it is refused\n"
    "  mondrel sample DIR [--frames N] [--size WxH]    write a sample sequence (sample_0001.exr on)\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "mondrel: %s\n%s", message.c_str(), kUsage);
  return 2;
}

bool ParsePositive(const std::string& text, int* value) {
  char* end = nullptr;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != 0 || parsed < 1 || parsed > 100000) return false;
  *value = static_cast<int>(parsed);
  return true;
}

int Info(const std::vector<std::string>& arguments) {
  bool json = false;
  std::string plugin;
  std::vector<std::string> paths;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--json") {
      json = true;
    } else if (arguments[i] == "--plugin") {
      if (++i == arguments.size()) return UsageError("--plugin needs the path of mondrel_input.aui2");
      plugin = arguments[i];
    } else if (arguments[i].rfind("--", 0) == 0) {
      return UsageError("unknown option " + arguments[i]);
    } else {
      paths.push_back(arguments[i]);
    }
  }
  if (paths.empty()) return UsageError("info needs at least one PATH");
  std::string error;
  const PluginTable* table = LoadPluginTable(plugin, &error);
  if (table == nullptr) {
    std::fprintf(stderr, "mondrel: %s\n", error.c_str());
    return 1;
  }
  return RunInfo(table, paths, json);
}

int Sample(const std::vector<std::string>& arguments) {
  std::string folder;
  int frames = 48;
  int width = 320;
  int height = 180;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--frames") {
      if (++i == arguments.size() || !ParsePositive(arguments[i], &frames)) return UsageError("--frames needs a count");
    } else if (arguments[i] == "--size") {
      const std::string size = ++i < arguments.size() ? arguments[i] : "";
      const size_t cross = size.find('x');
      if (cross == std::string::npos || !ParsePositive(size.substr(0, cross), &width) ||
          !ParsePositive(size.substr(cross + 1), &height) || width > 8000 || height > 8000) {
        return UsageError("--size needs WIDTHxHEIGHT, each from 1 to 8000");
      }
    } else if (folder.empty() && arguments[i].rfind("--", 0) != 0) {
      folder = arguments[i];
    } else {
      return UsageError("unexpected " + arguments[i]);
    }
  }
  if (folder.empty()) return UsageError("sample needs a folder");
  std::string error;
  if (!WriteSampleSequence(folder, frames, width, height, &error)) {
    std::fprintf(stderr, "mondrel: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s/sample_0001.exr (%d frames of %d x %d)\n", folder.c_str(), frames, width, height);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> all = Utf8Arguments(argc, argv);
  if (all.size() < 2) return UsageError("no command given");
  const std::string command = all[1];
  const std::vector<std::string> arguments(all.begin() + 2, all.end());
  if (command == "info") return Info(arguments);
  if (command == "sample") return Sample(arguments);
  if (command == "--help" || command == "help") {
    std::printf("%s", kUsage);
    return 0;
  }
  return UsageError("unknown command " + command);
}
