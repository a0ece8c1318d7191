// Decodes the uncompressed scanline chunks of a file into a frame of half
// RGBA pixels, one positioned read per chunk into the lent scratch buffer.
#include <cstring>

#include "exr/byte_reader.h"
#include "exr/float_to_half.h"
#include "exr/interleave.h"
#include "exr/mondrel.h"

namespace {

constexpr int32_t kHalfPixelType = 1;
constexpr int64_t kChunkPrefixBytes = 8;  // y, then the unread data size

// How the samples of one chunk become a row.
struct ChunkPlan {
  int32_t sampleBytes;           // 2 for HALF, 4 for everything else
  int64_t chunkBytes;            // prefix plus every channel's samples
  int32_t channelForSlot[4];     // last channel feeding R, G, B, A; -1: none
  bool alphaIsOne;               // no alpha channel: A is 1.0
};

// False for channel layouts the parser never produces.
bool PlanChunk(const Mondrel& image, ChunkPlan* plan) {
  const int32_t count = image.channelCount;
  if (count != 1 && count != 3 && count != 4) return false;
  plan->sampleBytes = image.pixelType[0] == kHalfPixelType ? 2 : 4;
  plan->chunkBytes = static_cast<int64_t>(plan->sampleBytes) * image.width * count + kChunkPrefixBytes;
  plan->alphaIsOne = count != 4;
  if (count == 1) {
    // Grey: channel 0 feeds R, G and B; its slot is not consulted.
    plan->channelForSlot[0] = plan->channelForSlot[1] = plan->channelForSlot[2] = 0;
    plan->channelForSlot[3] = -1;
    return true;
  }
  for (int32_t& channel : plan->channelForSlot) channel = -1;
  for (int32_t c = 0; c < count; ++c) {
    const int32_t slot = image.channelSlot[c];
    if (slot < 0 || slot > 3) return false;
    plan->channelForSlot[slot] = c;  // a later channel on the same slot wins
  }
  return true;
}

void ConvertChunk(const ChunkPlan& plan, int32_t width, uint8_t* samples, uint8_t* row) {
  const int64_t planeBytes = static_cast<int64_t>(plan.sampleBytes) * width;
  ComponentSource sources[4];
  bool converted[4] = {false, false, false, false};
  for (int32_t slot = 0; slot < 4; ++slot) {
    const int32_t channel = plan.channelForSlot[slot];
    if (slot == 3 && plan.alphaIsOne) {
      sources[slot] = ComponentSource{kOneHalves, 0};
    } else if (channel < 0) {
      sources[slot] = ComponentSource{kZeroHalves, 0};
    } else {
      uint8_t* plane = samples + channel * planeBytes;
      if (plan.sampleBytes == 4 && !converted[channel]) {
        FloatRowToHalf(plane, plane, width);  // halves now start the plane
        converted[channel] = true;
      }
      sources[slot] = ComponentSource{plane, 1};
    }
  }
  InterleaveHalfRow(sources, row, width);
}

}  // namespace

int32_t Mondrel::DecodeFrame(platform::FileHandle file, uint8_t* frame) {
  const int64_t frameBytes = FrameByteCount(width, height);
  if (frameBytes < 0 || frame == nullptr) return 0;
  std::memset(frame, 0, static_cast<size_t>(frameBytes));

  ChunkPlan plan;
  if (!PlanChunk(*this, &plan)) return 0;
  if (scratch == nullptr || scratchSize < plan.chunkBytes) return 0;
  if (!lineOffsetsComplete || lineOffsets.size() != static_cast<size_t>(height)) return 0;

  const int64_t rowBytes = static_cast<int64_t>(width) * 8;
  const uint32_t chunkBytes = static_cast<uint32_t>(plan.chunkBytes);
  for (const uint64_t offset : lineOffsets) {
    uint32_t bytesRead = 0;
    if (!platform::SeekFile(file, offset)) return 0;
    if (!platform::ReadFromFile(file, scratch, chunkBytes, &bytesRead) || bytesRead != chunkBytes) return 0;
    // Rows count from the data window's top, whatever its y origin.
    const int64_t row = static_cast<int64_t>(static_cast<int32_t>(LoadU32LE(scratch))) - dataWindow.yMin;
    if (row < 0 || row >= height) return 0;
    ConvertChunk(plan, width, scratch + kChunkPrefixBytes, frame + row * rowBytes);
  }
  return static_cast<int32_t>(frameBytes);
}
