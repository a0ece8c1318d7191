// mondrel: reads EXR files and sequences exactly as a video-editing host
// does, through the plug-in's table, and says in words what it finds.
#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "tools/check_command.h"
#include "tools/convert_command.h"
#include "tools/info_command.h"
#include "tools/picture_commands.h"
#include "tools/sample_sequence.h"
#include "tools/text_output.h"
#include "tools/tool_platform.h"

namespace {

struct Command {
  const char* name;
  const char* usage;        // one line
  const char* description;
};

const Command kCommands[] = {
    {"info", "mondrel info [--json] [--plugin DLL] [--] PATH...",
     "what a host is told about each file, or why the plug-in refuses it"},
    {"check", "mondrel check [--json] [--plugin DLL] [--] PATH...",
     "read every frame as the host will; report failures, gaps, odd layouts and speed"},
    {"frames", "mondrel frames [--plugin DLL] [--range A:B] -o DIR [--] PATH",
     "decode frames A to B (from 0) into PNG previews"},
    {"sheet", "mondrel sheet [--plugin DLL] [--columns N] [--every K] -o FILE.png [--] PATH",
     "a labelled contact sheet of every K-th frame"},
    {"convert",
     "mondrel convert [--layer NAME] [--part N|NAME] [--force] [--json] [--threads N] [--plugin DLL] -o DIR [--] "
     "PATH...",
     "copy files the plug-in refuses (compressed but for DWAA and DWAB, tiled, multi-part, extra channels) into DIR as files it opens"},
    {"sample", "mondrel sample [--frames N] [--size WxH] [--] DIR", "write a sample sequence (sample_0001.exr on)"},
};

const Command* FindCommand(const std::string& name) {
  for (const Command& command : kCommands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

std::string FullUsage() {
  std::string text = "usage:\n";
  for (const Command& command : kCommands) text += "  " + std::string(command.usage) + "\n      " + command.description + "\n";
  text +=
      "  mondrel --version [--plugin DLL]\n"
      "  mondrel [COMMAND] --help\n"
      "--json prints one JSON document for the whole run: {\"command\":...,\"files\":[...]}.\n"
      "exit status: 0 success, 1 a file refused or a frame failed, 2 wrong usage\n";
  return text;
}

// A mistake: what is wrong and the one usage line of the command at fault.
int UsageError(const Command* command, const std::string& message) {
  Err("mondrel: " + Printable(message) + "\n");
  Err(command != nullptr ? "usage: " + std::string(command->usage) + "\n"
                         : std::string("usage: mondrel COMMAND ...; mondrel --help lists the commands\n"));
  return 2;
}

bool ParsePositive(const std::string& text, int* value) {
  char* end = nullptr;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != 0 || parsed < 1 || parsed > 100000) return false;
  *value = static_cast<int>(parsed);
  return true;
}

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

// Everything a command may be given; each takes what it knows.
struct Options {
  bool json = false;
  bool help = false;
  std::string plugin;
  std::string output;
  FrameRange range;
  int columns = 8;
  int every = 1;
  int frames = 48;
  int width = 320;
  int height = 180;
  ConvertOptions convert;
  std::vector<std::string> operands;
};

// Returns 0, or the usage error's status.
int ParseOptions(const Command& command, const std::vector<std::string>& arguments, Options* options) {
  const std::string name = command.name;
  const bool pictures = name == "frames" || name == "sheet";
  const bool converts = name == "convert";
  bool optionsEnded = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
      options->operands.push_back(argument);
      continue;
    }
    const bool hasValue = i + 1 < arguments.size();
    const std::string value = hasValue ? arguments[i + 1] : "";
    if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "-h" || argument == "--help") {
      options->help = true;
    } else if (argument == "--json" && (name == "info" || name == "check" || converts)) {
      options->json = true;
    } else if (argument == "--plugin" && name != "sample") {
      if (!hasValue) return UsageError(&command, "--plugin needs the path of mondrel_input.aui2");
      options->plugin = arguments[++i];
    } else if (argument == "-o" && (pictures || converts)) {
      if (!hasValue) return UsageError(&command, name == "sheet" ? "-o needs FILE.png" : "-o needs a folder");
      options->output = arguments[++i];
    } else if (argument == "--layer" && converts) {
      if (!hasValue || value.empty()) return UsageError(&command, "--layer needs a layer's name");
      options->convert.request.layer = arguments[++i];
    } else if (argument == "--part" && converts) {
      if (!hasValue || value.empty()) return UsageError(&command, "--part needs a part's index or name");
      options->convert.request.part = arguments[++i];
    } else if (argument == "--force" && converts) {
      options->convert.force = true;
    } else if (argument == "--threads" && converts) {
      if (!hasValue || !ParsePositive(arguments[++i], &options->convert.threads) || options->convert.threads > 16) {
        return UsageError(&command, "--threads needs a count from 1 to 16");
      }
    } else if (argument == "--range" && name == "frames") {
      if (!hasValue || !ParseRange(arguments[++i], &options->range)) {
        return UsageError(&command, "--range needs A:B with 0 <= A <= B <= 1000000");
      }
    } else if (argument == "--columns" && name == "sheet") {
      if (!hasValue || !ParsePositive(arguments[++i], &options->columns)) {
        return UsageError(&command, "--columns needs a count from 1 to 100000");
      }
    } else if (argument == "--every" && name == "sheet") {
      if (!hasValue || !ParsePositive(arguments[++i], &options->every)) {
        return UsageError(&command, "--every needs a count from 1 to 100000");
      }
    } else if (argument == "--frames" && name == "sample") {
      if (!hasValue || !ParsePositive(arguments[++i], &options->frames)) {
        return UsageError(&command, "--frames needs a count from 1 to 100000");
      }
    } else if (argument == "--size" && name == "sample") {
      const size_t cross = value.find('x');
      ++i;
      if (cross == std::string::npos || !ParsePositive(value.substr(0, cross), &options->width) ||
          !ParsePositive(value.substr(cross + 1), &options->height) || options->width > 8000 ||
          options->height > 8000) {
        return UsageError(&command, "--size needs WIDTHxHEIGHT, each from 1 to 8000");
      }
    } else {
      return UsageError(&command, "unknown option " + argument);
    }
  }
  return 0;
}

const PluginTable* TableOrComplain(const std::string& plugin) {
  std::string error;
  const PluginTable* table = LoadPluginTable(plugin, &error);
  if (table == nullptr) Err("mondrel: " + Printable(error) + "\n");
  return table;
}

int RunCommand(const Command& command, const Options& options) {
  const std::string name = command.name;
  const size_t operands = options.operands.size();
  if (name == "sample") {
    if (operands != 1) return UsageError(&command, operands == 0 ? "a folder is needed" : "one folder only");
    std::string error;
    if (!WriteSampleSequence(options.operands[0], options.frames, options.width, options.height, &error)) {
      Err("mondrel: " + Printable(error) + "\n");
      return 1;
    }
    Out(Printable(options.operands[0]) +
        Format("/sample_0001.exr (%d frames of %d x %d)\n", options.frames, options.width, options.height));
    return 0;
  }
  if (operands == 0) return UsageError(&command, "a PATH is needed");
  if (name == "frames" || name == "sheet") {
    if (operands > 1) return UsageError(&command, "one PATH only");
  }
  if (options.output.empty() && name != "info" && name != "check") {
    return UsageError(&command, name == "sheet" ? "-o FILE.png is needed" : "-o DIR is needed");
  }
  const PluginTable* table = TableOrComplain(options.plugin);
  if (table == nullptr) return 1;
  if (name == "info") return RunInfo(table, options.operands, options.json);
  if (name == "check") return RunCheck(table, options.operands, options.json);
  if (name == "frames") return RunFrames(table, options.operands[0], options.output, options.range);
  if (name == "convert") {
    ConvertOptions convert = options.convert;
    convert.folder = options.output;
    convert.json = options.json;
    return RunConvert(table, options.operands, convert);
  }
  return RunSheet(table, options.operands[0], options.output, options.columns, options.every);
}

int Version(const std::vector<std::string>& arguments) {
  std::string plugin;
  if (arguments.size() == 2 && arguments[0] == "--plugin") {
    plugin = arguments[1];
  } else if (!arguments.empty()) {
    return UsageError(nullptr, "--version takes only --plugin DLL");
  }
  const PluginTable* table = TableOrComplain(plugin);
  if (table == nullptr) return 1;
  Out("mondrel " MONDREL_VERSION "\nplug-in: " + Printable(ToUtf8(WideString(table->information))) + "\n");
  return 0;
}

int Main(const std::vector<std::string>& all) {
  if (all.size() < 2) return UsageError(nullptr, "no command given");
  const std::string first = all[1];
  const std::vector<std::string> arguments(all.begin() + 2, all.end());
  if (first == "-h" || first == "--help" || first == "help") {
    Out(FullUsage());
    return 0;
  }
  if (first == "--version") return Version(arguments);
  const Command* command = FindCommand(first);
  if (command == nullptr) return UsageError(nullptr, "unknown command " + first);
  Options options;
  if (const int usage = ParseOptions(*command, arguments, &options)) return usage;
  if (options.help) {
    Out("usage: " + std::string(command->usage) + "\n  " + command->description + "\n");
    return 0;
  }
  return RunCommand(*command, options);
}

}  // namespace

int main(int argc, char** argv) {
  // Exit codes stay 0, 1 and 2 whatever happens inside.
  try {
    return Main(Utf8Arguments(argc, argv));
  } catch (const std::bad_alloc&) {
    Err("mondrel: out of memory\n");
  } catch (const std::exception& error) {
    Err(std::string("mondrel: ") + Printable(error.what()) + "\n");
  } catch (...) {
    Err("mondrel: unexpected failure\n");
  }
  return 1;
}
