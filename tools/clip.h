// A clip opened through the plug-in's table, as a host holds it, with the
// facts of its first file's header for the tool's reasons and warnings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/plugin_table.h"
#include "tools/header_report.h"

struct Clip {
  const PluginTable* table = nullptr;
  void* handle = nullptr;
  std::string path;
  HeaderReport header;       // of the opened file
  int32_t width = 0;
  int32_t height = 0;
  int32_t rate = 0;
  int32_t scale = 0;
  int32_t frameCount = 0;    // what the host is told: 120 for a single image
  bool sequence = false;
  std::string formatCode;    // the bitmap header's compression code
  bool readable = false;     // the file could be read (a refusal is then the header's)
};

// Reads up to 16 KiB of the file at `path` and inspects them. False with
// `error` set (the system's reason) when the file cannot be read.
bool InspectFile(const std::string& path, HeaderReport* report, std::string* error);

// Opens `path` as a host does. On refusal `error` says why: the system's
// reason when the file cannot be read, else what its header breaks.
bool OpenClip(const PluginTable* table, const std::string& path, Clip* clip, std::string* error);
void CloseClip(Clip& clip);

// The byte count of one frame of the clip (the core's own rule), or -1.
int64_t ClipFrameBytes(const Clip& clip);

// Reads frame `n` into `frame` (resized to the frame's byte count).
bool ReadClipFrame(const Clip& clip, int32_t n, std::vector<uint8_t>& frame);

// The file that frame `n` of the clip starting at `path` comes from (built
// by the plug-in's own naming rule), and the number in its name (n itself
// for a name without one).
std::string FrameSourceName(const std::string& path, int32_t n);
bool HasFrameNumber(const std::string& path);
// How many files the run from `path` holds, counted as the plug-in counts
// (to the first gap, at most 10,000); 0 for a name without a number.
int32_t NumberedRunLength(const std::string& path);
int32_t FrameSourceNumber(const std::string& path, int32_t n);
