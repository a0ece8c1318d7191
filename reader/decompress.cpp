#include "reader/decompress.h"

#include <cstring>
#include <vector>

#include <zlib.h>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "reader/exr_file.h"

namespace exrfile {

namespace {

bool Refuse(std::string* why, const std::string& text) {
  *why = text;
  return false;
}

// RLE: a signed count byte; below zero, that many literal bytes follow,
// else one byte repeated count + 1 times.
bool RunLengthDecode(const uint8_t* in, int64_t inSize, uint8_t* out, int64_t outSize, std::string* why) {
  int64_t read = 0;
  int64_t written = 0;
  while (read < inSize) {
    const int32_t count = static_cast<int8_t>(in[read++]);
    if (count < 0) {
      const int64_t literal = -static_cast<int64_t>(count);
      if (literal > inSize - read) return Refuse(why, "RLE data ends inside a literal run");
      if (literal > outSize - written) return Refuse(why, "RLE runs past the chunk's pixels");
      std::memcpy(out + written, in + read, static_cast<size_t>(literal));
      read += literal;
      written += literal;
    } else {
      if (read >= inSize) return Refuse(why, "RLE data ends inside a run");
      if (count + 1 > outSize - written) return Refuse(why, "RLE runs past the chunk's pixels");
      std::memset(out + written, in[read++], static_cast<size_t>(count) + 1);
      written += count + 1;
    }
  }
  if (written != outSize) {
    return Refuse(why, "RLE restores " + std::to_string(written) + " bytes, not " + std::to_string(outSize));
  }
  return true;
}

// Both RLE and ZIP store differences of successive bytes (plus 128), after
// splitting the bytes into the even-numbered and the odd-numbered half.
// Undoing the differences is a running sum: within 16 bytes by doubling
// shifts, carried from one block to the next.
void UndoDifferences(uint8_t* bytes, int64_t size) {
  bytes[0] = static_cast<uint8_t>(bytes[0] + 128);  // the first byte is no difference
  uint8_t carry = 0;
  int64_t i = 0;
#if defined(__SSE2__) || defined(_M_X64)
  const __m128i bias = _mm_set1_epi8(static_cast<char>(128));
  for (; i + 16 <= size; i += 16) {
    __m128i block = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i)), bias);
    block = _mm_add_epi8(block, _mm_slli_si128(block, 1));
    block = _mm_add_epi8(block, _mm_slli_si128(block, 2));
    block = _mm_add_epi8(block, _mm_slli_si128(block, 4));
    block = _mm_add_epi8(block, _mm_slli_si128(block, 8));
    block = _mm_add_epi8(block, _mm_set1_epi8(static_cast<char>(carry)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + i), block);
    carry = bytes[i + 15];
  }
#endif
  for (; i < size; ++i) {
    carry = static_cast<uint8_t>(carry + bytes[i] - 128);
    bytes[i] = carry;
  }
}

// The even-numbered bytes come first, then the odd-numbered ones.
void Interleave(const uint8_t* split, int64_t size, uint8_t* out) {
  const uint8_t* even = split;
  const uint8_t* odd = split + (size + 1) / 2;
  const int64_t pairs = size / 2;
  int64_t i = 0;
#if defined(__SSE2__) || defined(_M_X64)
  for (; i + 16 <= pairs; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(even + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(odd + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi8(a, b));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 16), _mm_unpackhi_epi8(a, b));
  }
#endif
  for (; i < pairs; ++i) {
    out[2 * i] = even[i];
    out[2 * i + 1] = odd[i];
  }
  if (size % 2 != 0) out[size - 1] = even[pairs];
}

bool Inflate(const uint8_t* in, int64_t inSize, uint8_t* out, int64_t outSize, std::string* why) {
  uLongf length = static_cast<uLongf>(outSize);
  const int result = uncompress(out, &length, in, static_cast<uLong>(inSize));
  if (result == Z_BUF_ERROR && length == static_cast<uLongf>(outSize)) {
    return Refuse(why, "the chunk inflates to more than its " + std::to_string(outSize) + " bytes of pixels");
  }
  if (result != Z_OK) return Refuse(why, "the chunk's zlib stream is damaged");
  if (static_cast<int64_t>(length) != outSize) {
    return Refuse(why, "the chunk inflates to " + std::to_string(length) + " bytes, not " + std::to_string(outSize));
  }
  return true;
}

}  // namespace

bool ReadsCompression(int32_t compression) { return compression >= kNone && compression <= kB44a; }

bool Decompress(int32_t compression, const std::vector<ChannelEntry>& channels, const ChunkRegion& region,
                const uint8_t* in, int64_t inSize, uint8_t* out, int64_t outSize, std::string* why) {
  if (outSize == 0) return true;
  if (compression == kPiz) return DecodePiz(channels, region, in, inSize, out, outSize, why);
  if (compression == kPxr24) return DecodePxr24(channels, region, in, inSize, out, outSize, why);
  if (compression == kB44 || compression == kB44a) return DecodeB44(channels, region, in, inSize, out, outSize, why);
  static thread_local std::vector<uint8_t> split;
  split.resize(static_cast<size_t>(outSize));
  if (compression == kRle) {
    if (!RunLengthDecode(in, inSize, split.data(), outSize, why)) return false;
  } else if (compression == kZips || compression == kZip) {
    if (!Inflate(in, inSize, split.data(), outSize, why)) return false;
  } else {
    return Refuse(why, "compression " + std::to_string(compression) + " is not read here");
  }
  UndoDifferences(split.data(), outSize);
  Interleave(split.data(), outSize, out);
  return true;
}

}  // namespace exrfile
