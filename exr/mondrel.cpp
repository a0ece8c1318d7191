#include "exr/mondrel.h"

uint8_t HeaderBuffer[kHeaderBufferSize];

Mondrel::Mondrel()
    : dataWindow{0, 0, 0, 0},
      displayWindow{0, 0, 0, 0},
      width(0),
      height(0),
      compression(0),
      lineOrder(-1),
      channelCount(0),
      pixelType{-1, -1, -1, -1},
      channelSlot{-1, -1, -1, -1},
      version(-1),
      headerEnd(-1),
      scratch(nullptr),
      scratchSize(0),
      lineOffsetsComplete(false),
      lineOffsetsOutOfMemory(false) {}

Mondrel::~Mondrel() {
  // Release the storage itself, not just the elements.
  std::vector<uint64_t>().swap(lineOffsets);
}

int64_t FrameByteCount(int32_t width, int32_t height) {
  if (width < 1 || height < 1) return -1;
  // Both sides are below 2^31, so their product fits in 64 bits; the byte
  // count is taken only once the pixel count is known to be below 2^28.
  const int64_t pixels = static_cast<int64_t>(width) * height;
  return pixels < (int64_t{1} << 28) ? pixels * 8 : -1;
}
