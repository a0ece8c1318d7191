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

}  // namespace

bool DecodeB44(const std::vector<ChannelEntry>& channels, const ChunkRegion& region, const uint8_t* in,
               int64_t inSize, uint8_t* out, int64_t outSize, std::string* why) {
  std::vector<WordPlane> planes;
  const int64_t words = PlanWordPlanes(channels, region, &planes);
  if (2 * words != outSize) return Fail(why, "the chunk's channels do not add up to its pixels");
  static thread_local std::vector<uint16_t> buffer;
  buffer.resize(static_cast<size_t>(words));
  int64_t read = 0;
  for (const WordPlane& plane : planes) {
    if (plane.wordsPerSample != 1) {
      // FLOAT and UINT samples are stored as they are, their words little-endian.
      const int64_t count = plane.nx * plane.ny * plane.wordsPerSample;
      if (inSize - read < 2 * count) return Fail(why, "the B44 data ends inside a channel stored as it is");
      for (int64_t k = 0; k < count; ++k) {
        buffer[static_cast<size_t>(plane.start + k)] = static_cast<uint16_t>(in[read + 2 * k] | in[read + 2 * k + 1] << 8);
      }
      read += 2 * count;
      continue;
    }
    for (int64_t y = 0; y < plane.ny; y += 4) {
      uint16_t* row = buffer.data() + plane.start + y * plane.nx;
      for (int64_t x = 0; x < plane.nx; x += 4) {
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
        if (plane.linear) LinearFromB44(s);
        const size_t bytes = 2 * static_cast<size_t>(x + 3 < plane.nx ? 4 : plane.nx - x);
        for (int64_t line = 0; line < 4 && y + line < plane.ny; ++line) {
          std::memcpy(row + line * plane.nx + x, s + 4 * line, bytes);
        }
      }
    }
  }
  if (read != inSize) return Fail(why, "the B44 data holds more blocks than the chunk");
  WriteWordLines(planes, region, buffer.data(), out);
  return true;
}

}  // namespace exrfile
