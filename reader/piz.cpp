// PIZ: the chunk's 16-bit words, channel by channel, mapped through a table
// of the values that occur (a bitmap of them is stored), transformed by a
// two-dimensional Haar wavelet and Huffman coded. Decoding undoes each.
#include <algorithm>
#include <cstring>
#include <vector>

#include "exr/byte_reader.h"
#include "reader/codecs.h"

namespace exrfile {

namespace {

constexpr int32_t kValueRange = 1 << 16;
constexpr int32_t kBitmapBytes = kValueRange / 8;

bool Fail(std::string* why, const char* text) {
  *why = text;
  return false;
}

// The values that occur, in order (zero always among them), the rest of the
// table zero; returns the largest index used.
uint16_t ValuesFromBitmap(const uint8_t* bitmap, std::vector<uint16_t>& values) {
  int32_t count = 0;
  values[static_cast<size_t>(count++)] = 0;
  for (int32_t byte = 0; byte < kBitmapBytes; ++byte) {
    const uint32_t bits = bitmap[byte] & (byte == 0 ? 0xFEu : 0xFFu);
    if (bits == 0) continue;
    for (int32_t bit = 0; bit < 8; ++bit) {
      if ((bits >> bit) & 1u) values[static_cast<size_t>(count++)] = static_cast<uint16_t>(byte * 8 + bit);
    }
  }
  std::fill(values.begin() + count, values.end(), 0);
  return static_cast<uint16_t>(count - 1);
}

// One inverse step of the wavelet on a pair: 14-bit words by sums and
// differences, wider ones modulo 2^16.
inline void Inverse14(uint16_t low, uint16_t high, uint16_t& a, uint16_t& b) {
  const int32_t h = static_cast<int16_t>(high);
  const int32_t sum = static_cast<int16_t>(low) + (h & 1) + (h >> 1);
  a = static_cast<uint16_t>(sum);
  b = static_cast<uint16_t>(sum - h);
}

inline void Inverse16(uint16_t low, uint16_t high, uint16_t& a, uint16_t& b) {
  const int32_t m = low;
  const int32_t d = high;
  const int32_t bb = (m - (d >> 1)) & 0xFFFF;
  a = static_cast<uint16_t>((d + bb - 0x8000) & 0xFFFF);
  b = static_cast<uint16_t>(bb);
}

template <bool kNarrow>
inline void Inverse(uint16_t low, uint16_t high, uint16_t& a, uint16_t& b) {
  if (kNarrow) {
    Inverse14(low, high, a, b);
  } else {
    Inverse16(low, high, a, b);
  }
}

// The inverse of the wavelet over nx x ny words, `ox` apart along a line and
// `oy` apart from line to line, from the coarsest level to the finest.
template <bool kNarrow>
void InverseWaveletOf(uint16_t* in, int64_t nx, int64_t ox, int64_t ny, int64_t oy) {
  const int64_t n = nx > ny ? ny : nx;
  int64_t p = 1;
  while (p <= n) p <<= 1;
  p >>= 1;
  int64_t p2 = p;
  p >>= 1;
  uint16_t i00, i01, i10, i11;
  while (p >= 1) {
    const int64_t oy1 = oy * p;
    const int64_t oy2 = oy * p2;
    const int64_t ox1 = ox * p;
    const int64_t ox2 = ox * p2;
    int64_t py = 0;
    for (; py <= oy * (ny - p2); py += oy2) {
      int64_t px = py;
      for (; px <= py + ox * (nx - p2); px += ox2) {
        uint16_t& a = in[px];
        uint16_t& b = in[px + ox1];
        uint16_t& c = in[px + oy1];
        uint16_t& d = in[px + oy1 + ox1];
        Inverse<kNarrow>(a, c, i00, i10);
        Inverse<kNarrow>(b, d, i01, i11);
        Inverse<kNarrow>(i00, i01, a, b);
        Inverse<kNarrow>(i10, i11, c, d);
      }
      if ((nx & p) != 0) {  // an odd column at this level
        Inverse<kNarrow>(in[px], in[px + oy1], i00, in[px + oy1]);
        in[px] = i00;
      }
    }
    if ((ny & p) != 0) {  // an odd line at this level
      for (int64_t px = py; px <= py + ox * (nx - p2); px += ox2) {
        Inverse<kNarrow>(in[px], in[px + ox1], i00, in[px + ox1]);
        in[px] = i00;
      }
    }
    p2 = p;
    p >>= 1;
  }
}

// Words below 2^14 take the simpler transform, which the writer chose for them.
void InverseWavelet(uint16_t* in, int64_t nx, int64_t ox, int64_t ny, int64_t oy, uint16_t largest) {
  if (largest < (1 << 14)) {
    InverseWaveletOf<true>(in, nx, ox, ny, oy);
  } else {
    InverseWaveletOf<false>(in, nx, ox, ny, oy);
  }
}

}  // namespace

bool DecodePiz(const std::vector<ChannelEntry>& channels, const ChunkRegion& region, const uint8_t* in,
               int64_t inSize, uint8_t* out, int64_t outSize, std::string* why) {
  std::vector<WordPlane> planes;
  const int64_t words = PlanWordPlanes(channels, region, &planes);
  if (2 * words != outSize) return Fail(why, "the chunk's channels do not add up to its pixels");

  ByteReader reader{in, inSize, 0};
  if (BytesLeft(reader) < 4) return Fail(why, "the PIZ bitmap's range runs past the chunk");
  const uint16_t minNonZero = static_cast<uint16_t>(in[0] | in[1] << 8);
  const uint16_t maxNonZero = static_cast<uint16_t>(in[2] | in[3] << 8);
  reader.position = 4;
  if (maxNonZero >= kBitmapBytes) return Fail(why, "the PIZ bitmap is longer than 8 KiB");
  static thread_local std::vector<uint8_t> bitmap(kBitmapBytes);
  std::fill(bitmap.begin(), bitmap.end(), 0);
  if (minNonZero <= maxNonZero) {
    const int64_t length = maxNonZero - minNonZero + 1;
    if (BytesLeft(reader) < length) return Fail(why, "the PIZ bitmap runs past the chunk");
    std::memcpy(bitmap.data() + minNonZero, in + reader.position, static_cast<size_t>(length));
    reader.position += length;
  }
  static thread_local std::vector<uint16_t> values(kValueRange);
  const uint16_t largest = ValuesFromBitmap(bitmap.data(), values);
  int32_t length = 0;
  if (!ReadInt32(reader, &length) || length < 0 || length > BytesLeft(reader)) {
    return Fail(why, "the PIZ Huffman data runs past the chunk");
  }
  static thread_local std::vector<uint16_t> words16;
  words16.resize(static_cast<size_t>(words));
  if (!HuffmanDecode(in + reader.position, length, words16.data(), words, why)) return false;
  for (const WordPlane& plane : planes) {
    for (int32_t j = 0; j < plane.wordsPerSample; ++j) {
      InverseWavelet(words16.data() + plane.start + j, plane.nx, plane.wordsPerSample, plane.ny,
                     plane.nx * plane.wordsPerSample, largest);
    }
  }
  for (uint16_t& word : words16) word = values[word];
  WriteWordLines(planes, region, words16.data(), out);
  return true;
}

}  // namespace exrfile
