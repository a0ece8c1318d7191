#include "tools/clip.h"

#include <cstring>
#include <filesystem>
#include <memory>
#include <new>

#include "exr/mondrel.h"
#include "sequence/sequence_name.h"
#include "tools/tool_platform.h"

namespace {

// The naming the plug-in makes of `path`; false for a name without a run.
bool NamingOf(const std::string& path, FrameNaming* naming) {
  const WideString wide = ToWide(path);
  SequenceName split;
  PrepareFrameNaming(wide.c_str(), &split, naming);
  return split.digitCount > 0;
}

}  // namespace

bool InspectFile(const std::string& path, HeaderReport* report, std::string* error) {
  // The plug-in's own way in: regular files on disk only, as a FIFO or a
  // console would wait for a writer.
  const WideString wide = ToWide(path);
  const platform::FileHandle file = platform::OpenFileForReading(wide.c_str());
  if (file == platform::kInvalidFile) {
    *error = SystemReason(path);
    return false;
  }
  std::vector<uint8_t> head(kHeaderBufferSize);
  uint32_t bytesRead = 0;
  const bool read = platform::ReadFromFile(file, head.data(), kHeaderBufferSize, &bytesRead);
  const int64_t size = platform::FileSize(file);
  platform::CloseFile(file);
  if (!read) {
    *error = "cannot read the file";
    return false;
  }
  *report = InspectHeader(head.data(), static_cast<int32_t>(bytesRead), size);
  return true;
}

std::string FrameSourceName(const std::string& path, int32_t n) {
  std::unique_ptr<FrameNaming> naming(new (std::nothrow) FrameNaming);
  if (!naming || !NamingOf(path, naming.get())) return path;
  FormatFramePath(*naming, static_cast<int32_t>(static_cast<uint32_t>(naming->number) + static_cast<uint32_t>(n)));
  return ToUtf8(WideString(PathBuffer));
}

bool HasFrameNumber(const std::string& path) {
  std::unique_ptr<FrameNaming> naming(new (std::nothrow) FrameNaming);
  return naming && NamingOf(path, naming.get());
}

int32_t NumberedRunLength(const std::string& path) {
  std::unique_ptr<FrameNaming> naming(new (std::nothrow) FrameNaming);
  if (!naming || !NamingOf(path, naming.get())) return 0;
  return CountSequenceFrames(*naming);
}

int32_t FrameSourceNumber(const std::string& path, int32_t n) {
  std::unique_ptr<FrameNaming> naming(new (std::nothrow) FrameNaming);
  if (!naming || !NamingOf(path, naming.get())) return n;
  return static_cast<int32_t>(static_cast<uint32_t>(naming->number) + static_cast<uint32_t>(n));
}

bool OpenClip(const PluginTable* table, const std::string& path, Clip* clip, std::string* error) {
  *clip = Clip();
  clip->table = table;
  clip->path = path;
  if (!InspectFile(path, &clip->header, error)) {
    *error = "cannot read the file: " + *error;
    return false;
  }
  clip->readable = true;
  const WideString wide = ToWide(path);
  void* handle = table->open(wide.c_str());
  if (handle == nullptr) {
    *error = ExplainRefusal(clip->header);
    // The header passed our reading yet the plug-in refused: it is what counts.
    if (error->empty()) *error = "the plug-in refused it (the file changed, or another plug-in build reads it differently)";
    return false;
  }
  InputInfo info;
  std::memset(&info, 0, sizeof info);
  clip->handle = handle;
  if (!table->getInformation(handle, &info) || info.format == nullptr) {
    *error = "the plug-in opened it but gave no information about it";
    CloseClip(*clip);
    return false;
  }
  const uint8_t* bitmap = static_cast<const uint8_t*>(info.format);
  std::memcpy(&clip->width, bitmap + 4, 4);
  std::memcpy(&clip->height, bitmap + 8, 4);
  clip->formatCode.assign(reinterpret_cast<const char*>(bitmap + 16), 4);
  clip->rate = info.rate;
  clip->scale = info.scale;
  clip->frameCount = info.frameCount;
  clip->sequence = info.flags == 1;
  return true;
}

void CloseClip(Clip& clip) {
  if (clip.handle != nullptr) clip.table->close(clip.handle);
  clip.handle = nullptr;
}

int64_t ClipFrameBytes(const Clip& clip) { return FrameByteCount(clip.width, clip.height); }

bool ReadClipFrame(const Clip& clip, int32_t n, std::vector<uint8_t>& frame) {
  const int64_t bytes = ClipFrameBytes(clip);
  if (bytes < 0) return false;
  try {
    frame.resize(static_cast<size_t>(bytes));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return clip.table->readFrame(clip.handle, n, frame.data()) == bytes;
}
