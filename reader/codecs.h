// The decoders of the lossless and lossy OpenEXR compressions that work on
// the channels of a chunk: PIZ, PXR24, B44 and B44A. Each restores the
// chunk's bytes as the file's uncompressed layout holds them (line by line,
// channel by channel, little-endian), exactly `outSize` of them, or fails
// with `why`. None reads or writes outside the buffers it is given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reader/exr_header.h"

namespace exrfile {

// The part of the data window one chunk covers, inclusive.
struct ChunkRegion {
  int64_t x0, x1, y0, y1;
};

// How many of the coordinates first..last a channel of this sampling holds.
int64_t SamplesIn(int64_t first, int64_t last, int32_t sampling);
bool HoldsLine(int64_t y, int32_t sampling);

bool DecodePiz(const std::vector<ChannelEntry>& channels, const ChunkRegion& region, const uint8_t* in,
               int64_t inSize, uint8_t* out, int64_t outSize, std::string* why);
bool DecodePxr24(const std::vector<ChannelEntry>& channels, const ChunkRegion& region, const uint8_t* in,
                 int64_t inSize, uint8_t* out, int64_t outSize, std::string* why);
// B44 and B44A alike: a block of three bytes is a flat one.
bool DecodeB44(const std::vector<ChannelEntry>& channels, const ChunkRegion& region, const uint8_t* in,
               int64_t inSize, uint8_t* out, int64_t outSize, std::string* why);

// Huffman-coded 16-bit values as PIZ stores them: exactly `count` values.
bool HuffmanDecode(const uint8_t* in, int64_t inSize, uint16_t* out, int64_t count, std::string* why);

}  // namespace exrfile
