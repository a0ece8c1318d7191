#include <cstring>

#include "reader/codecs.h"

namespace exrfile {

namespace {

const bool kLittleEndian = [] {
  const uint16_t one = 1;
  uint8_t first;
  std::memcpy(&first, &one, 1);
  return first == 1;
}();

}  // namespace

int64_t PlanWordPlanes(const std::vector<ChannelEntry>& channels, const ChunkRegion& region,
                       std::vector<WordPlane>* planes) {
  planes->clear();
  int64_t words = 0;
  for (const ChannelEntry& channel : channels) {
    const WordPlane plane{SamplesIn(region.x0, region.x1, channel.xSampling),
                          SamplesIn(region.y0, region.y1, channel.ySampling), channel.ySampling,
                          channel.pixelType == 1 ? 1 : 2, channel.linear != 0, words};
    words += plane.nx * plane.ny * plane.wordsPerSample;
    planes->push_back(plane);
  }
  return words;
}

void WriteWordLines(const std::vector<WordPlane>& planes, const ChunkRegion& region, const uint16_t* words,
                    uint8_t* out) {
  std::vector<int64_t> next(planes.size());
  for (size_t c = 0; c < planes.size(); ++c) next[c] = planes[c].start;
  for (int64_t y = region.y0; y <= region.y1; ++y) {
    for (size_t c = 0; c < planes.size(); ++c) {
      if (!HoldsLine(y, planes[c].ySampling)) continue;
      const int64_t count = planes[c].nx * planes[c].wordsPerSample;
      const uint16_t* from = words + next[c];
      if (kLittleEndian) {
        std::memcpy(out, from, static_cast<size_t>(2 * count));
        out += 2 * count;
      } else {
        for (int64_t k = 0; k < count; ++k) {
          *out++ = static_cast<uint8_t>(from[k]);
          *out++ = static_cast<uint8_t>(from[k] >> 8);
        }
      }
      next[c] += count;
    }
  }
}

}  // namespace exrfile
