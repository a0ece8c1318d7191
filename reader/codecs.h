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

// PIZ and B44 hold a chunk as planes of 16-bit words, channel after channel,
// each its lines of nx samples of 1 word (HALF) or 2 (FLOAT, UINT).
struct WordPlane {
  int64_t nx;
  int64_t ny;
  int32_t ySampling;
  int32_t wordsPerSample;
  bool linear;     // the channel's perceptually-linear flag
  int64_t start;   // the plane's first word
};

// The planes of a chunk's channels; returns the words of all of them.
int64_t PlanWordPlanes(const std::vector<ChannelEntry>& channels, const ChunkRegion& region,
                       std::vector<WordPlane>* planes);

// Writes the planes' words as the file's layout holds them: line by line,
// each channel's words of that line, little-endian.
void WriteWordLines(const std::vector<WordPlane>& planes, const ChunkRegion& region, const uint16_t* words,
                    uint8_t* out);

// Huffman-coded 16-bit values as PIZ stores them: exactly `count` values.
bool HuffmanDecode(const uint8_t* in, int64_t inSize, uint16_t* out, int64_t count, std::string* why);

}  // namespace exrfile
