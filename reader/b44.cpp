// B44 and B44A: HALF samples in blocks of 4 x 4, each stored in 14 bytes (a
// first value and 15 differences of 6 bits at a shared scale), or in 3 when
// all 16 are equal (B44A writes those). Other types are stored as they are.
// Blocks cut by the chunk's right or bottom edge repeat their last column
// or line; only the part inside the chunk is kept.
#include <cstring>
#include <vector>

#include "reader/b44_linear.h"
#include "reader/codecs.h"

namespace exrfile {

namespace {

bool Fail(std::string* why, const char* text) {
  *why = text;
  return false;
}

// Stored words put negative values below positive ones; undo that order.
inline uint16_t FromOrdered(uint16_t value) {
  return (value & 0x8000) != 0 ? static_cast<uint16_t>(value & 0x7FFF) : static_cast<uint16_t>(~value);
}

void UnpackFlat(const uint8_t b[3], uint16_t s[16]) {
  const uint16_t value = FromOrdered(static_cast<uint16_t>(b[0] << 8 | b[1]));
  for (int i = 0; i < 16; ++i) s[i] = value;
}

void Unpack14(const uint8_t b[14], uint16_t s[16]) {
  const int shift = b[2] >> 2;
  const uint64_t bias = uint64_t{0x20} << shift;
  // Each value is its neighbour above (or to the left, down the first
  // column) plus a 6-bit difference at the block's scale, modulo 2^16.
  const auto step = [&](uint16_t from, int bits) {
    return static_cast<uint16_t>(from + (static_cast<uint64_t>(bits & 0x3F) << shift) - bias);
  };
  s[0] = static_cast<uint16_t>(b[0] << 8 | b[1]);
  s[4] = step(s[0], b[2] << 4 | b[3] >> 4);
  s[8] = step(s[4], b[3] << 2 | b[4] >> 6);
  s[12] = step(s[8], b[4]);
  s[1] = step(s[0], b[5] >> 2);
  s[5] = step(s[4], b[5] << 4 | b[6] >> 4);
  s[9] = step(s[8], b[6] << 2 | b[7] >> 6);
  s[13] = step(s[12], b[7]);
  s[2] = step(s[1], b[8] >> 2);
  s[6] = step(s[5], b[8] << 4 | b[9] >> 4);
  s[10] = step(s[9], b[9] << 2 | b[10] >> 6);
  s[14] = step(s[13], b[10]);
  s[3] = step(s[2], b[11] >> 2);
  s[7] = step(s[6], b[11] << 4 | b[12] >> 4);
  s[11] = step(s[10], b[12] << 2 | b[13] >> 6);
  s[15] = step(s[14], b[13]);
  for (int i = 0; i < 16; ++i) s[i] = FromOrdered(s[i]);
}

struct B44Channel {
  int64_t nx;
  int64_t ny;
  int32_t ySampling;
  bool half;
  bool linear;
  int64_t start;  // in 16-bit words
  int64_t words;  // a line's
};

}  // namespace

bool DecodeB44(const std::vector<ChannelEntry>& channels, const ChunkRegion& region, const uint8_t* in,
               int64_t inSize, uint8_t* out, int64_t outSize, std::string* why) {
  std::vector<B44Channel> layout;
  int64_t words = 0;
  for (const ChannelEntry& channel : channels) {
    B44Channel entry{SamplesIn(region.x0, region.x1, channel.xSampling),
                     SamplesIn(region.y0, region.y1, channel.ySampling), channel.ySampling, channel.pixelType == 1,
                     channel.linear != 0, words, 0};
    entry.words = entry.nx * (entry.half ? 1 : 2);
    words += entry.words * entry.ny;
    layout.push_back(entry);
  }
  if (2 * words != outSize) return Fail(why, "the chunk's channels do not add up to its pixels");
  static thread_local std::vector<uint16_t> buffer;
  buffer.resize(static_cast<size_t>(words));
  int64_t read = 0;
  for (const B44Channel& channel : layout) {
    if (!channel.half) {
      const int64_t bytes = 2 * channel.words * channel.ny;
      if (inSize - read < bytes) return Fail(why, "the B44 data ends inside a channel stored as it is");
      std::memcpy(buffer.data() + channel.start, in + read, static_cast<size_t>(bytes));
      read += bytes;
      continue;
    }
    for (int64_t y = 0; y < channel.ny; y += 4) {
      uint16_t* row = buffer.data() + channel.start + y * channel.nx;
      for (int64_t x = 0; x < channel.nx; x += 4) {
        uint16_t s[16];
        if (inSize - read < 3) return Fail(why, "the B44 blocks run past the chunk");
        if (in[read + 2] == 0xFC) {
          UnpackFlat(in + read, s);
          read += 3;
        } else {
          if (inSize - read < 14) return Fail(why, "the B44 blocks run past the chunk");
          Unpack14(in + read, s);
          read += 14;
        }
        if (channel.linear) LinearFromB44(s);
        const size_t bytes = 2 * static_cast<size_t>(x + 3 < channel.nx ? 4 : channel.nx - x);
        for (int64_t line = 0; line < 4 && y + line < channel.ny; ++line) {
          std::memcpy(row + line * channel.nx + x, s + 4 * line, bytes);
        }
      }
    }
  }
  if (read != inSize) return Fail(why, "the B44 data holds more blocks than the chunk");
  // Line by line, each channel's words of that line. Stored words are
  // little-endian; the decoded HALF blocks hold values.
  std::vector<int64_t> next(layout.size());
  for (size_t c = 0; c < layout.size(); ++c) next[c] = layout[c].start;
  uint8_t* write = out;
  for (int64_t y = region.y0; y <= region.y1; ++y) {
    for (size_t c = 0; c < layout.size(); ++c) {
      if (!HoldsLine(y, layout[c].ySampling)) continue;
      const uint16_t* from = buffer.data() + next[c];
      if (layout[c].half) {
        for (int64_t k = 0; k < layout[c].words; ++k) {
          *write++ = static_cast<uint8_t>(from[k]);
          *write++ = static_cast<uint8_t>(from[k] >> 8);
        }
      } else {
        std::memcpy(write, from, static_cast<size_t>(2 * layout[c].words));
        write += 2 * layout[c].words;
      }
      next[c] += layout[c].words;
    }
  }
  return true;
}

}  // namespace exrfile
