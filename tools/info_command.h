#pragma once

#include <string>
#include <vector>

#include "plugin/plugin_table.h"

// `mondrel info PATH...`: what a host is told about each file, or why the
// plug-in refuses it, on standard output (with --json one JSON document for
// the whole run). Returns the exit status: 0, or 1 when any file was
// refused or its first frame failed.
int RunInfo(const PluginTable* table, const std::vector<std::string>& paths, bool json);
