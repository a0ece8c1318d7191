#include "tools/clip.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>

#include "sequence/sequence_name.h"
#include "tools/header_report.h"
#include "tools/tool_platform.h"

namespace {

bool SplitName(const std::string& path, WideString* wide, SequenceName* split) {
  *wide = ToWide(path);
  *split = SequenceName{};
  SplitSequenceName(wide->c_str(), split);
  return split->digitCount > 0;
}

}  // namespace

std::string FrameSourceName(const std::string& path, int32_t n) {
  WideString wide;
  SequenceName split;
  if (!SplitName(path, &wide, &split)) return path;
  char number[16];
  std::snprintf(number, sizeof number, "%0*d", split.digitCount, split.number + n);
  return ToUtf8(wide.substr(0, static_cast<size_t>(split.digitFirst))) + number +
         ToUtf8(wide.substr(static_cast<size_t>(split.digitLast) + 1));
}

int32_t FrameSourceNumber(const std::string& path, int32_t n) {
  WideString wide;
  SequenceName split;
  return SplitName(path, &wide, &split) ? split.number + n : n;
}

std::string DescribeRefusal(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  if (!in) return "cannot read the file";
  std::vector<uint8_t> head(16384);
  in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  const std::string reason = ExplainRefusal(InspectHeader(head.data(), static_cast<int32_t>(in.gcount())));
  return reason.empty() ? "the plug-in could not open it" : reason;
}

bool OpenClip(const PluginTable* table, const std::string& path, Clip* clip, std::string* error) {
  const WideString wide = ToWide(path);
  void* handle = table->open(wide.c_str());
  if (handle == nullptr) {
    *error = DescribeRefusal(path);
    return false;
  }
  InputInfo info;
  std::memset(&info, 0, sizeof info);
  table->getInformation(handle, &info);
  const uint8_t* bitmap = static_cast<const uint8_t*>(info.format);
  clip->table = table;
  clip->handle = handle;
  clip->path = path;
  std::memcpy(&clip->width, bitmap + 4, 4);
  std::memcpy(&clip->height, bitmap + 8, 4);
  clip->frameCount = info.frameCount;
  clip->sequence = info.flags == 1;
  return true;
}

void CloseClip(Clip& clip) {
  if (clip.handle != nullptr) clip.table->close(clip.handle);
  clip.handle = nullptr;
}

bool ReadClipFrame(const Clip& clip, int32_t n, std::vector<uint8_t>& frame) {
  try {
    frame.resize(static_cast<size_t>(clip.width) * clip.height * 8);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return clip.table->readFrame(clip.handle, n, frame.data()) == static_cast<int32_t>(frame.size());
}
