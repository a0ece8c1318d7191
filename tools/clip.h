// A clip opened through the plug-in's table, as a host holds it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/plugin_table.h"

struct Clip {
  const PluginTable* table = nullptr;
  void* handle = nullptr;
  std::string path;
  int32_t width = 0;
  int32_t height = 0;
  int32_t frameCount = 0;
  bool sequence = false;
};

// Opens `path`; on refusal `error` says why in words.
bool OpenClip(const PluginTable* table, const std::string& path, Clip* clip, std::string* error);
void CloseClip(Clip& clip);

// Reads frame `n` into `frame` (resized to width x height x 8).
bool ReadClipFrame(const Clip& clip, int32_t n, std::vector<uint8_t>& frame);

// The file that frame `n` of the clip starting at `path` comes from, and
// the number in its name (n itself for a name without one).
std::string FrameSourceName(const std::string& path, int32_t n);
int32_t FrameSourceNumber(const std::string& path, int32_t n);

// Why the plug-in refuses the file, read from its first bytes.
std::string DescribeRefusal(const std::string& path);
