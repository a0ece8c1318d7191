#pragma once

#include <string>
#include <vector>

#include "plugin/plugin_table.h"
#include "tools/convert_picture.h"

struct ConvertOptions {
  ConvertRequest request;
  std::string folder;  // -o DIR
  bool force = false;
  bool json = false;
  int threads = 0;     // 0: one per core
};

// `mondrel convert`: every file of every PATH (a numbered file standing for
// its run) copied into the folder as a file the plug-in opens, each read
// back through `table` before it counts. Exit status: 0 all converted, 1
// otherwise, 2 when the folder would hold a source.
int RunConvert(const PluginTable* table, const std::vector<std::string>& paths, const ConvertOptions& options);
