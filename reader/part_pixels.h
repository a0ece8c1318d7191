// The pixels of a part's full-resolution level, channel by channel, read
// from its scanline chunks or level-0 tiles and restored from their
// compression.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reader/exr_file.h"

namespace exrfile {

// Where one channel's samples go: row r of the data window (its samples as
// the file stores them, 2 bytes for HALF, 4 for FLOAT and UINT) at
// origin + r * stride. The stride may be negative.
struct PlaneTarget {
  int32_t channel = 0;  // index in the part's channel list
  uint8_t* origin = nullptr;
  int64_t stride = 0;
};

int32_t SampleBytes(int32_t pixelType);

// Whether every chunk or tile of the part's full-resolution level lies in
// the file, so that storage for its pixels may be sized. False with `error`
// naming the first at fault.
bool ChunksLieInTheFile(const uint8_t* bytes, const File& file, size_t part, std::string* error);

// Reads the targets' channels, which must not be subsampled, of part `part`
// of `file` (whose bytes are `bytes`), writing every sample of each. False
// with `error` naming the first chunk or tile at fault.
bool ReadPixels(const uint8_t* bytes, const File& file, size_t part, const std::vector<PlaneTarget>& targets,
                std::string* error);

}  // namespace exrfile
