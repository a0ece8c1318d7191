// PXR24: each line's samples, channel by channel, as differences from the
// sample before, split into byte planes (most significant first) and packed
// with zlib. FLOAT samples keep their top 24 bits, HALF and UINT all of
// theirs.
#include <vector>

#include <zlib.h>

#include "reader/codecs.h"

namespace exrfile {

namespace {

bool Fail(std::string* why, const char* text) {
  *why = text;
  return false;
}

}  // namespace

bool DecodePxr24(const std::vector<ChannelEntry>& channels, const ChunkRegion& region, const uint8_t* in,
                 int64_t inSize, uint8_t* out, int64_t outSize, std::string* why) {
  // The packed planes take 2 bytes a HALF sample and 3 a FLOAT one where
  // the copy takes 2 and 4; UINT takes 4 in both.
  int64_t planeBytes = 0;
  int64_t restored = 0;
  for (const ChannelEntry& channel : channels) {
    const int64_t samples = SamplesIn(region.y0, region.y1, channel.ySampling) *
                            SamplesIn(region.x0, region.x1, channel.xSampling);
    planeBytes += samples * (channel.pixelType == 1 ? 2 : channel.pixelType == 2 ? 3 : 4);
    restored += samples * (channel.pixelType == 1 ? 2 : 4);
  }
  if (restored != outSize) return Fail(why, "the chunk's channels do not add up to its pixels");
  static thread_local std::vector<uint8_t> planes;
  planes.resize(static_cast<size_t>(planeBytes) + 1);
  uLongf length = static_cast<uLongf>(planeBytes) + 1;  // room for one byte more, to tell a longer stream
  if (uncompress(planes.data(), &length, in, static_cast<uLong>(inSize)) != Z_OK &&
      length != static_cast<uLongf>(planeBytes) + 1) {
    return Fail(why, "the chunk's zlib stream is damaged");
  }
  if (static_cast<int64_t>(length) != planeBytes) {
    return Fail(why, length > static_cast<uLongf>(planeBytes) ? "the chunk inflates to more bytes than its pixels take"
                                                             : "the chunk inflates to fewer bytes than its pixels take");
  }
  const uint8_t* read = planes.data();
  uint8_t* write = out;
  for (int64_t y = region.y0; y <= region.y1; ++y) {
    for (const ChannelEntry& channel : channels) {
      if (!HoldsLine(y, channel.ySampling)) continue;
      const int64_t n = SamplesIn(region.x0, region.x1, channel.xSampling);
      const int planesOf = channel.pixelType == 1 ? 2 : channel.pixelType == 2 ? 3 : 4;
      const uint8_t* plane[4] = {read, read + n, read + 2 * n, read + 3 * n};
      read += planesOf * n;
      uint32_t pixel = 0;
      for (int64_t x = 0; x < n; ++x) {
        uint32_t difference = 0;
        for (int k = 0; k < planesOf; ++k) difference = difference << 8 | plane[k][x];
        if (channel.pixelType == 2) difference <<= 8;  // the 24 bits kept are the top ones
        pixel += difference;
        const int bytes = channel.pixelType == 1 ? 2 : 4;
        for (int k = 0; k < bytes; ++k) *write++ = static_cast<uint8_t>(pixel >> (8 * k));
      }
    }
  }
  return true;
}

}  // namespace exrfile
