// The compressions of OpenEXR chunks that the tool reads back to the bytes
// the writer started from: RLE, and ZIP for one line (ZIPS) or sixteen.
#pragma once

#include <cstdint>
#include <string>

namespace exrfile {

// Whether the tool reads chunks of this compression.
bool ReadsCompression(int32_t compression);

// Restores `outSize` bytes from a chunk's `inSize` packed bytes. False with
// `why` when the chunk does not restore to exactly that many bytes.
bool Decompress(int32_t compression, const uint8_t* in, int64_t inSize, uint8_t* out, int64_t outSize,
                std::string* why);

}  // namespace exrfile
