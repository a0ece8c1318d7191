#pragma once

#include <string>
#include <vector>

#include "plugin/plugin_table.h"

// `mondrel check PATH...`: reads every frame of each clip through the
// plug-in's table, exactly as the host will, and reports every frame that
// fails and why, where a sequence stops and what follows the gap, files
// whose layout differs from the first frame's, and the frames per second
// reached. Returns the exit status: 0 when every frame of every clip
// decodes, 1 otherwise.
int RunCheck(const PluginTable* table, const std::vector<std::string>& paths, bool json);
