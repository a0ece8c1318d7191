// Decodes the uncompressed scanline chunks of a file into a frame of half
// RGBA pixels. Chunks are read into the lent scratch buffer, several at once
// when the file stores them back to back.
#include <cstring>

#include "exr/byte_reader.h"
#include "exr/float_to_half.h"
#include "exr/interleave.h"
#include "exr/mondrel.h"
#include "exr/processor.h"

namespace {

constexpr int32_t kUintPixelType = 0;
constexpr int32_t kHalfPixelType = 1;
constexpr int64_t kChunkPrefixBytes = 8;  // y, then the unread data size

// How the samples of one chunk become a row. Each channel has its own
// sample size, so the planes of a chunk may differ in length.
struct ChunkPlan {
  int32_t sampleBytes[kMaxChannels];   // 2 for HALF, 4 for everything else
  bool byValue[kMaxChannels];          // UINT: converted by value, not as FLOAT bits
  int64_t planeOffset[kMaxChannels];   // where each channel's samples start
  int64_t chunkBytes;                  // prefix plus every channel's samples
  int32_t channelForSlot[4];           // last channel feeding R, G, B, A; -1: none
  bool alphaIsOne;                     // no alpha channel: A is 1.0
};

// False for channel layouts the parser never produces.
bool PlanChunk(const Mondrel& image, ChunkPlan* plan) {
  const int32_t count = image.channelCount;
  if (count != 1 && count != 3 && count != 4) return false;
  int64_t offset = kChunkPrefixBytes;
  for (int32_t c = 0; c < count; ++c) {
    plan->sampleBytes[c] = image.pixelType[c] == kHalfPixelType ? 2 : 4;
    plan->byValue[c] = image.pixelType[c] == kUintPixelType;
    plan->planeOffset[c] = offset;
    offset += static_cast<int64_t>(plan->sampleBytes[c]) * image.width;
  }
  plan->chunkBytes = offset;
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

// `chunk` starts at the chunk's y; FLOAT and UINT planes are converted in place.
void ConvertChunk(const ChunkPlan& plan, int32_t width, uint8_t* chunk, uint8_t* row, RowStores stores) {
  ComponentSource sources[4];
  bool converted[kMaxChannels] = {false, false, false, false};
  for (int32_t slot = 0; slot < 4; ++slot) {
    const int32_t channel = plan.channelForSlot[slot];
    if (slot == 3 && plan.alphaIsOne) {
      sources[slot] = ComponentSource{kOneHalves, 0};
    } else if (channel < 0) {
      sources[slot] = ComponentSource{kZeroHalves, 0};
    } else {
      uint8_t* plane = chunk + plan.planeOffset[channel];
      if (plan.sampleBytes[channel] == 4 && !converted[channel]) {
        // Halves now start the plane.
        if (plan.byValue[channel]) {
          UintRowToHalf(plane, plane, width);
        } else {
          FloatRowToHalf(plane, plane, width);
        }
        converted[channel] = true;
      }
      sources[slot] = ComponentSource{plane, 1};
    }
  }
  InterleaveHalfRow(sources, row, width, stores);
}

// The frame must read as if it had been zero-filled before any chunk was
// converted. Rather than write every byte twice, the rows converted so far
// are kept as one interval while chunks arrive in order (as they do in
// increasing and decreasing files); the rest is zeroed once at the end, or
// at once when a chunk lands outside the interval.
struct ConvertedRows {
  int64_t first = 0;
  int64_t end = 0;        // exclusive; first == end: none yet
  bool restZeroed = false;
};

void ZeroRowsOutside(uint8_t* frame, int64_t rowBytes, int64_t height, const ConvertedRows& rows) {
  if (rows.restZeroed) return;
  std::memset(frame, 0, static_cast<size_t>(rows.first * rowBytes));
  std::memset(frame + rows.end * rowBytes, 0, static_cast<size_t>((height - rows.end) * rowBytes));
}

void NoteRow(uint8_t* frame, int64_t rowBytes, int64_t height, int64_t row, ConvertedRows& rows) {
  if (rows.restZeroed) return;
  if (rows.first == rows.end) {
    rows.first = row;
    rows.end = row + 1;
  } else if (row == rows.end) {
    ++rows.end;
  } else if (row + 1 == rows.first) {
    --rows.first;
  } else if (row < rows.first || row >= rows.end) {
    ZeroRowsOutside(frame, rowBytes, height, rows);
    rows.restZeroed = true;
  }
}

}  // namespace

namespace {

// A run of table entries that name chunks stored back to back, read with
// one request: ascending (each entry the previous one plus the chunk
// length, as top-down files store them) or descending (minus it, as
// bottom-up files do). `count` is 1 for an entry that starts no run.
struct ChunkRun {
  size_t count;
  bool descending;
};

// The run from `first` on, at most `limit` entries long. Repeated and
// shuffled entries end a run at once.
ChunkRun ContiguousChunks(const std::vector<uint64_t>& offsets, size_t first, uint64_t chunkBytes, size_t limit) {
  ChunkRun run{1, false};
  if (limit < 2 || first + 1 >= offsets.size()) return run;
  run.descending = offsets[first] >= chunkBytes && offsets[first + 1] == offsets[first] - chunkBytes;
  while (run.count < limit && first + run.count < offsets.size()) {
    const uint64_t previous = offsets[first + run.count - 1];
    const uint64_t next = offsets[first + run.count];
    const bool follows = run.descending ? previous >= chunkBytes && next == previous - chunkBytes
                                        : previous <= UINT64_MAX - chunkBytes && next == previous + chunkBytes;
    if (!follows) break;
    ++run.count;
  }
  return run;
}

}  // namespace

int32_t Mondrel::DecodeFrame(platform::FileHandle file, uint8_t* frame, bool frameRefilled) {
  const int64_t frameBytes = FrameByteCount(width, height);
  if (frameBytes < 0 || frame == nullptr) return 0;

  ChunkPlan plan;
  const bool usable = PlanChunk(*this, &plan) && scratch != nullptr && scratchSize >= plan.chunkBytes &&
                      lineOffsetsComplete && lineOffsets.size() == static_cast<size_t>(height);
  if (!usable) {
    std::memset(frame, 0, static_cast<size_t>(frameBytes));
    return 0;
  }

  const int64_t rowBytes = static_cast<int64_t>(width) * 8;
  const uint32_t chunkBytes = static_cast<uint32_t>(plan.chunkBytes);
  // Chunks stored back to back are read together, as many whole ones as the
  // scratch buffer holds. The outcome is that of one read per chunk: a batch
  // that comes up short gives the chunks it holds whole, and the chunk it
  // cut is then read again on its own and fails or succeeds as that read does.
  // Reads land on the buffer's first 64-byte boundary when a chunk still
  // fits after it: the system copies into a line-aligned destination
  // faster (3-4% of a 1080p frame read here).
  const int64_t lineAlign = static_cast<int64_t>((0 - reinterpret_cast<uintptr_t>(scratch)) & 63);
  const int64_t readStart = scratchSize - lineAlign >= plan.chunkBytes ? lineAlign : 0;
  uint8_t* const batchStart = scratch + readStart;
  const size_t chunksPerRead = static_cast<size_t>((scratchSize - readStart) / plan.chunkBytes);
  // A frame read touches the file's bytes (copied in by the system) and
  // the frame; both are bounded far below 2^62.
  static const int64_t lastLevelCacheBytes = LastLevelCacheBytes();
  const RowStores stores = RowStoresFor(plan.chunkBytes * height + frameBytes, lastLevelCacheBytes, frameRefilled);
  ConvertedRows rows;
  int32_t result = static_cast<int32_t>(frameBytes);
  size_t next = 0;
  // Batches that follow each other read on without a seek between them.
  platform::ReadPosition position;
  while (next < lineOffsets.size() && result != 0) {
    const ChunkRun run = ContiguousChunks(lineOffsets, next, chunkBytes, chunksPerRead);
    // A descending run starts in the file at its last entry's chunk, and
    // its entries are taken from the end of what was read.
    const size_t batch = run.count;
    const uint64_t batchOffset = lineOffsets[run.descending ? next + batch - 1 : next];
    const uint32_t batchBytes = static_cast<uint32_t>(batch * chunkBytes);
    uint32_t bytesRead = 0;
    const bool read = platform::ReadFileAt(file, batchOffset, batchStart, batchBytes, &bytesRead, &position);
    // The chunks whole in what was read, in table order: from the start of
    // an ascending run; a descending run's first entry is its last chunk, so
    // a short read holds none of it whole.
    size_t whole = !read ? 0 : run.descending ? (bytesRead == batchBytes ? batch : 0) : bytesRead / chunkBytes;
    bool alone = false;
    if (whole == 0 && batch > 1 &&
        platform::ReadFileAt(file, lineOffsets[next], batchStart, chunkBytes, &bytesRead, &position) &&
        bytesRead == chunkBytes) {
      whole = 1;
      alone = true;
    }
    if (whole == 0) {
      result = 0;
      break;
    }
    for (size_t k = 0; k < whole; ++k) {
      const size_t place = run.descending && !alone ? batch - 1 - k : k;
      uint8_t* chunk = batchStart + place * chunkBytes;
      // Rows count from the data window's top, whatever its y origin.
      const int64_t row = static_cast<int64_t>(static_cast<int32_t>(LoadU32LE(chunk))) - dataWindow.yMin;
      if (row < 0 || row >= height) {
        result = 0;
        break;
      }
      NoteRow(frame, rowBytes, height, row, rows);
      ConvertChunk(plan, width, chunk, frame + row * rowBytes, stores);
    }
    next += whole;
  }
  FinishRowStores();
  ZeroRowsOutside(frame, rowBytes, height, rows);
  return result;
}
