// What the `mondrel` tool needs of the system: its arguments in UTF-8,
// paths as the plug-in's wide strings, and the plug-in's table, built in or
// loaded from an installed DLL.
#pragma once

#include <string>
#include <vector>

#include "plugin/plugin_table.h"

using WideString = std::basic_string<WideChar>;

std::vector<std::string> Utf8Arguments(int argc, char** argv);
WideString ToWide(const std::string& utf8);
std::string ToUtf8(const WideString& wide);

// The table compiled into the tool, or (on Windows) the one of the DLL at
// `dllPath`. Null with `error` set when the DLL cannot be used.
const PluginTable* LoadPluginTable(const std::string& dllPath, std::string* error);

// True when standard error is a terminal (progress is shown only there).
bool ErrorIsTerminal();

// The system's words for an error code (errno, or GetLastError() on Windows).
std::string SystemErrorText(unsigned long code);

// Why the file at `path` cannot be opened for reading, in the system's
// words ("No such file or directory", "Access is denied.", ...).
std::string SystemReason(const std::string& path);
