// Builds rows of half RGBA pixels from four planes of half samples.
#pragma once

#include <cstdint>

// One source per output component (R, G, B, A): either a plane of `width`
// little-endian halves, or a constant. A constant source points at sixteen
// copies of its value and has a stride of 0; a plane has a stride of 1.
struct ComponentSource {
  const uint8_t* samples;
  int32_t stride;
};

// Sixteen copies of 0x0000 and of 0x3C00, for constant components.
extern const uint8_t kZeroHalves[32];
extern const uint8_t kOneHalves[32];

// How rows reach the frame. Streaming stores go around the caches, which
// pays when a frame read touches more than the last-level cache keeps (it
// would only evict the file's bytes and the frame's own first rows). When
// the frame and the file's bytes fit, cached stores are faster, and the
// frame is still in the cache for whoever reads it next.
enum class RowStores : uint8_t { kCached, kStreaming };

// Streaming unless `bytesTouched` fits in a third of a known cache, leaving
// room for everything else kept there: the host's own data, other
// processes, and the file's bytes in the system's cache, which a frame
// read again (a single image, a paused clip) then finds still cached.
// A frame refilled in the buffer of the previous read may take half the
// cache: its lines are likely cached already, where a buffer new to the
// read (a host cycling several) has to be fetched before cached stores.
RowStores RowStoresFor(int64_t bytesTouched, int64_t lastLevelCacheBytes, bool frameRefilled);

// Writes `width` pixels of 8 bytes to `row`. FinishRowStores() orders
// streaming stores before the frame is handed on.
void InterleaveHalfRow(const ComponentSource sources[4], uint8_t* row, int32_t width, RowStores stores);
void FinishRowStores();

// Sixteen pixels a block from the four sources into 32-byte aligned `out`,
// with AVX2; the caller checks the processor.
void InterleaveBlocksAvx2(const uint8_t* const sources[4], const int32_t strides[4], uint8_t* out, int32_t blocks,
                          RowStores stores);
