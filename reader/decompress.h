// The compressions of OpenEXR chunks that the tool reads back to the bytes
// of the file's uncompressed layout: RLE, ZIP for one line (ZIPS) or
// sixteen, PIZ, PXR24, B44 and B44A. DWAA and DWAB are not read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reader/codecs.h"

namespace exrfile {

// Whether the tool reads chunks of this compression.
bool ReadsCompression(int32_t compression);

// Restores `outSize` bytes from the `inSize` packed bytes of a chunk that
// covers `region` of a part with these channels. False with `why` when the
// chunk does not restore to exactly that many bytes.
bool Decompress(int32_t compression, const std::vector<ChannelEntry>& channels, const ChunkRegion& region,
                const uint8_t* in, int64_t inSize, uint8_t* out, int64_t outSize, std::string* why);

}  // namespace exrfile
