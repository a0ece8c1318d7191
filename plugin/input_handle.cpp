// Open, get information, read frame and close: the glue between the host,
// the EXR decoder and the sequence naming. Nothing here throws; every
// failure is the entry's ordinary result, with what was acquired released
// in the order file, scratch buffer, bitmap header, handle record.
#include "plugin/input_handle.h"

#include <new>

#include "plugin/live_handles.h"
#include "plugin/plugin_table.h"

FrameSettings CurrentFrameSettings = {30, 1};

namespace {

constexpr int32_t kSequenceFlags = 1;
constexpr int32_t kSingleImageFlags = 0x11;
const uint8_t kHalfFloatCode[4] = {'H', 'F', '6', '4'};

void StoreU32LE(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value >> 16);
  p[3] = static_cast<uint8_t>(value >> 24);
}

// The layout of a BITMAPINFOHEADER announcing half-float RGBA.
void FillBitmapHeader(uint8_t* header, int32_t width, int32_t height) {
  StoreU32LE(header + 0, kBitmapHeaderSize);
  StoreU32LE(header + 4, static_cast<uint32_t>(width));
  StoreU32LE(header + 8, static_cast<uint32_t>(height));
  header[12] = 1;   // planes
  header[14] = 64;  // bits per pixel
  for (int i = 0; i < 4; ++i) header[16 + i] = kHalfFloatCode[i];
  StoreU32LE(header + 20, static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 8u);
}

// Everything the record owns, in the order file, scratch buffer, bitmap
// header, then the record's own contents.
void ReleaseContents(InputHandle* handle) {
  platform::CloseFile(handle->file);
  platform::FreeZeroed(handle->scratch);
  platform::FreeZeroed(handle->bitmapHeader);
  platform::FreeZeroed(handle->naming);
  handle->~InputHandle();
}

// A handle that never reached the host goes straight back to the heap.
void ReleaseHandle(InputHandle* handle) {
  ReleaseContents(handle);
  platform::FreeZeroed(handle);
}

// Reads up to the header buffer's size from the start of a just-opened file.
bool ReadHeaderBytes(platform::FileHandle file, int32_t* byteCount) {
  uint32_t bytesRead = 0;
  if (!platform::ReadFromFile(file, HeaderBuffer, kHeaderBufferSize, &bytesRead)) return false;
  *byteCount = static_cast<int32_t>(bytesRead);
  return true;
}

int32_t ReadSequenceFrame(InputHandle* handle, int32_t frame, uint8_t* buffer) {
  // Only the files counted at open belong to the clip: a numbered file
  // before it, or past the gap that ended it, is another shot.
  if (frame < 0 || frame >= handle->frameCount) return 0;
  const int32_t number = static_cast<int32_t>(static_cast<uint32_t>(handle->naming->number) +
                                              static_cast<uint32_t>(frame));
  FormatFramePath(*handle->naming, number);
  const platform::FileHandle file = platform::OpenFileForReading(PathBuffer);
  if (file == platform::kInvalidFile) return 0;
  int32_t byteCount = 0;
  if (!ReadHeaderBytes(file, &byteCount)) {
    platform::CloseFile(file);
    return 0;
  }
  int32_t result = 0;
  {
    Mondrel image;
    if (image.ParseHeader(byteCount) > 0 && image.width == handle->image.width &&
        image.height == handle->image.height) {
      image.scratch = handle->scratch;
      image.scratchSize = handle->scratchSize;
      image.ReadLineOffsets(file);
      result = image.DecodeFrame(file, buffer, buffer == handle->lastFrame);
      handle->lastFrame = buffer;
    }
  }
  platform::CloseFile(file);
  return result > 0 ? result : 0;
}

}  // namespace

void* OpenInput(const WideChar* path) {
  void* memory = platform::AllocateZeroed(sizeof(InputHandle));
  if (memory == nullptr) return nullptr;
  InputHandle* handle = new (memory) InputHandle;
  handle->frameCount = 0;
  handle->lastFrame = nullptr;
  handle->file = platform::kInvalidFile;
  handle->scratchSize = kScratchSize;
  handle->scratch = static_cast<uint8_t*>(platform::AllocateZeroed(kScratchSize));
  handle->bitmapHeaderSize = kBitmapHeaderSize;
  handle->bitmapHeader = static_cast<uint8_t*>(platform::AllocateZeroed(kBitmapHeaderSize));
  handle->naming = static_cast<FrameNaming*>(platform::AllocateZeroed(sizeof(FrameNaming)));
  if (handle->scratch == nullptr || handle->bitmapHeader == nullptr || handle->naming == nullptr ||
      path == nullptr) {
    ReleaseHandle(handle);
    return nullptr;
  }

  handle->file = platform::OpenFileForReading(path);
  int32_t byteCount = 0;
  if (handle->file == platform::kInvalidFile || !ReadHeaderBytes(handle->file, &byteCount) ||
      handle->image.ParseHeader(byteCount) <= 0 ||
      FrameByteCount(handle->image.width, handle->image.height) < 0) {
    // A window of no pixels, or a frame of 2^31 bytes or more, is refused
    // like a refused header: nothing may be sized from it.
    ReleaseHandle(handle);
    return nullptr;
  }
  handle->image.scratch = handle->scratch;
  handle->image.scratchSize = handle->scratchSize;
  FillBitmapHeader(handle->bitmapHeader, handle->image.width, handle->image.height);

  // The naming becomes the process-wide one only once nothing can fail.
  SequenceName split;
  PrepareFrameNaming(path, &split, handle->naming);
  handle->frameCount = CountSequenceFrames(*handle->naming);
  if (handle->frameCount < 2) {
    handle->image.ReadLineOffsets(handle->file);
    if (handle->image.lineOffsetsOutOfMemory) {
      ReleaseHandle(handle);
      return nullptr;
    }
  }
  if (!RegisterHandle(handle)) {
    ReleaseHandle(handle);
    return nullptr;
  }
  CommitFrameNaming(split, *handle->naming);
  if (handle->frameCount < 2) {
    // Only a sequence reads by its naming again.
    platform::FreeZeroed(handle->naming);
    handle->naming = nullptr;
  }
  return handle;
}

// A pointer that is not a live handle (closed already, never opened) is
// answered as a null one.
bool CloseInput(void* handle) {
  if (UnregisterHandle(handle)) {
    ReleaseContents(static_cast<InputHandle*>(handle));
    platform::FreeZeroed(KeepClosedRecord(handle));
  }
  return true;
}

bool GetInputInformation(void* opaque, InputInfo* info) {
  if (!IsLiveHandle(opaque) || info == nullptr) return false;
  const InputHandle* handle = static_cast<const InputHandle*>(opaque);
  const bool sequence = handle->frameCount >= 2;
  info->flags = sequence ? kSequenceFlags : kSingleImageFlags;
  info->rate = CurrentFrameSettings.rate;
  info->scale = CurrentFrameSettings.scale;
  info->frameCount = sequence ? handle->frameCount : kSingleImageFrameCount;
  info->format = handle->bitmapHeader;
  info->formatSize = handle->bitmapHeaderSize;
  info->zeroed32 = nullptr;
  info->zeroed40 = 0;
  return true;
}

int32_t ReadInputFrame(void* opaque, int32_t frame, void* buffer) {
  if (!IsLiveHandle(opaque)) return 0;
  InputHandle* handle = static_cast<InputHandle*>(opaque);
  uint8_t* pixels = static_cast<uint8_t*>(buffer);
  if (handle->frameCount >= 2) return ReadSequenceFrame(handle, frame, pixels);
  const int32_t result = handle->image.DecodeFrame(handle->file, pixels, pixels == handle->lastFrame);
  handle->lastFrame = pixels;
  return result > 0 ? result : 0;
}

int32_t AnswerZero() { return 0; }
