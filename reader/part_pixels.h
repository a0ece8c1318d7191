// The pixels of a part's full-resolution level, channel by channel, read
// from its scanline chunks or level-0 tiles and restored from their
// compression.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reader/exr_file.h"

namespace exrfile {

// One channel's samples, row after row across the data window, each as the
// file stores it (2 bytes for HALF, 4 for FLOAT and UINT, little-endian).
struct Plane {
  int32_t channel = 0;      // index in the part's channel list
  int32_t sampleBytes = 0;
  std::vector<uint8_t> samples;
};

int32_t SampleBytes(int32_t pixelType);

// Reads the listed channels, which must not be subsampled, of part `part` of
// `file` (whose bytes are `bytes`). False with `error` naming the first chunk
// or tile at fault.
bool ReadPlanes(const uint8_t* bytes, const File& file, size_t part, const std::vector<int32_t>& channels,
                std::vector<Plane>* planes, std::string* error);

}  // namespace exrfile
