// mondrel: reads EXR files and sequences exactly as a video-editing host
// does, through the plug-in's table, and says in words what it finds.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/info_command.h"
#include "tools/picture_commands.h"
#include "tools/sample_sequence.h"
#include "tools/tool_platform.h"

namespace {

const char kUsage[] =
    "usage:\n"
    "  mondrel info [--json] [--plugin DLL] PATH...   what a host is told about each file, or why it is refused\n"
    "  mondrel frames PATH -o DIR [--range A:B] [--plugin DLL]\n"
    "                                                 decode frames A to B (from 0) into PNG previews\n"
    "  mondrel sheet PATH -o FILE.png [--columns N] [--every K] [--plugin DLL]\n"
    "                                                 a contact sheet of every K-th frame, labelled\n"
    "  mondrel sample DIR [--frames N] [--size WxH]    write a sample sequence (sample_0001.exr on)\n"
    "exit status: 0 success, 1 a file refused or a frame failed, 2 wrong usage\n";

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

// The options shared by frames and sheet.
struct PictureOptions {
  std::string path;
  std::string output;
  std::string plugin;
  FrameRange range;
  int columns = 8;
  int every = 1;
};

bool ParseRange(const std::string& text, FrameRange* range) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  char* end = nullptr;
  const long first = std::strtol(text.c_str(), &end, 10);
  if (end != text.c_str() + colon) return false;
  const long last = std::strtol(text.c_str() + colon + 1, &end, 10);
  if (*end != 0 || end == text.c_str() + colon + 1 || first < 0 || last < first || last > 1000000) return false;
  range->given = true;
  range->first = static_cast<int32_t>(first);
  range->last = static_cast<int32_t>(last);
  return true;
}

// Returns 0 when the options parse, else the usage error's status.
int ParsePictureOptions(const std::vector<std::string>& arguments, bool sheet, PictureOptions* options) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const bool hasValue = i + 1 < arguments.size();
    if (argument == "-o" && hasValue) {
      options->output = arguments[++i];
    } else if (argument == "--plugin" && hasValue) {
      options->plugin = arguments[++i];
    } else if (!sheet && argument == "--range" && hasValue) {
      if (!ParseRange(arguments[++i], &options->range)) return UsageError("--range needs A:B with 0 <= A <= B");
    } else if (sheet && argument == "--columns" && hasValue) {
      if (!ParsePositive(arguments[++i], &options->columns)) return UsageError("--columns needs a count");
    } else if (sheet && argument == "--every" && hasValue) {
      if (!ParsePositive(arguments[++i], &options->every)) return UsageError("--every needs a count");
    } else if (options->path.empty() && argument.rfind("-", 0) != 0) {
      options->path = argument;
    } else {
      return UsageError("unexpected " + argument);
    }
  }
  if (options->path.empty()) return UsageError("a PATH is needed");
  if (options->output.empty()) return UsageError(sheet ? "-o FILE.png is needed" : "-o DIR is needed");
  return 0;
}

int Pictures(const std::vector<std::string>& arguments, bool sheet) {
  PictureOptions options;
  if (const int usage = ParsePictureOptions(arguments, sheet, &options)) return usage;
  std::string error;
  const PluginTable* table = LoadPluginTable(options.plugin, &error);
  if (table == nullptr) {
    std::fprintf(stderr, "mondrel: %s\n", error.c_str());
    return 1;
  }
  return sheet ? RunSheet(table, options.path, options.output, options.columns, options.every)
               : RunFrames(table, options.path, options.output, options.range);
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
  if (command == "frames") return Pictures(arguments, false);
  if (command == "sheet") return Pictures(arguments, true);
  if (command == "--help" || command == "help") {
    std::printf("%s", kUsage);
    return 0;
  }
  return UsageError("unknown command " + command);
}
