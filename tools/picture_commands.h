#pragma once

#include <cstdint>
#include <string>

#include "plugin/plugin_table.h"

struct FrameRange {
  bool given = false;
  int32_t first = 0;
  int32_t last = 0;  // inclusive
};

// `mondrel frames`: decodes frames through the read-frame entry and writes
// them as PNG previews named after their source frames. Exit status.
int RunFrames(const PluginTable* table, const std::string& path, const std::string& folder, FrameRange range);

// `mondrel sheet`: a contact sheet of the clip's frames, each labelled with
// its frame number. Exit status.
int RunSheet(const PluginTable* table, const std::string& path, const std::string& output, int columns, int every);
