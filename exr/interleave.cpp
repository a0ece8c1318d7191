#include "exr/interleave.h"

#include <cstring>

#include "exr/processor.h"

#ifdef MONDREL_X86_SIMD
#include <emmintrin.h>
#endif

alignas(32) const uint8_t kZeroHalves[32] = {0};
alignas(32) const uint8_t kOneHalves[32] = {0x00, 0x3C, 0x00, 0x3C, 0x00, 0x3C, 0x00, 0x3C, 0x00, 0x3C, 0x00,
                                            0x3C, 0x00, 0x3C, 0x00, 0x3C, 0x00, 0x3C, 0x00, 0x3C, 0x00, 0x3C,
                                            0x00, 0x3C, 0x00, 0x3C, 0x00, 0x3C, 0x00, 0x3C, 0x00, 0x3C};

namespace {

// One pixel from the four sources, which then move on by their strides.
inline void CopyPixel(uint8_t* pixel, const uint8_t*& r, const uint8_t*& g, const uint8_t*& b, const uint8_t*& a,
                      const ComponentSource sources[4]) {
  std::memcpy(pixel, r, 2);
  std::memcpy(pixel + 2, g, 2);
  std::memcpy(pixel + 4, b, 2);
  std::memcpy(pixel + 6, a, 2);
  r += 2 * sources[0].stride;
  g += 2 * sources[1].stride;
  b += 2 * sources[2].stride;
  a += 2 * sources[3].stride;
}

// One pixel written with the row's kind of store: in a streamed row, two
// 4-byte streaming stores, so that an odd last pixel or the one before the
// row reaches 16-byte alignment does not pull its line into the cache
// among lines that streaming stores write. A frame not 8-byte aligned never
// reaches the vector stores; its rows keep ordinary ones throughout, which
// are faster one pixel at a time.
inline void StorePixel(uint8_t* pixel, const uint8_t*& r, const uint8_t*& g, const uint8_t*& b, const uint8_t*& a,
                       const ComponentSource sources[4], RowStores stores) {
#ifdef MONDREL_X86_SIMD
  if (stores == RowStores::kStreaming && (reinterpret_cast<uintptr_t>(pixel) & 7) == 0) {
    int32_t words[2];
    CopyPixel(reinterpret_cast<uint8_t*>(words), r, g, b, a, sources);
    _mm_stream_si32(reinterpret_cast<int*>(pixel), words[0]);
    _mm_stream_si32(reinterpret_cast<int*>(pixel + 4), words[1]);
    return;
  }
#else
  (void)stores;
#endif
  CopyPixel(pixel, r, g, b, a, sources);
}

#ifdef MONDREL_X86_SIMD
inline void StoreRowVector(__m128i* to, __m128i pixels, RowStores stores) {
  if (stores == RowStores::kStreaming) {
    _mm_stream_si128(to, pixels);
  } else {
    _mm_store_si128(to, pixels);
  }
}

// Two pixels with one 16-byte store to 16-byte aligned `pixel`, so that the
// ends of a row take the same kind of store as its middle: an ordinary
// store into a line that streaming stores also write costs a round trip to
// memory.
inline void StorePixelPair(uint8_t* pixel, const uint8_t*& r, const uint8_t*& g, const uint8_t*& b,
                           const uint8_t*& a, const ComponentSource sources[4], RowStores stores) {
  uint32_t pairs[4];
  std::memcpy(&pairs[0], r, 4);
  std::memcpy(&pairs[1], g, 4);
  std::memcpy(&pairs[2], b, 4);
  std::memcpy(&pairs[3], a, 4);
  const __m128i rg = _mm_unpacklo_epi16(_mm_cvtsi32_si128(static_cast<int>(pairs[0])),
                                        _mm_cvtsi32_si128(static_cast<int>(pairs[1])));
  const __m128i ba = _mm_unpacklo_epi16(_mm_cvtsi32_si128(static_cast<int>(pairs[2])),
                                        _mm_cvtsi32_si128(static_cast<int>(pairs[3])));
  StoreRowVector(reinterpret_cast<__m128i*>(pixel), _mm_unpacklo_epi32(rg, ba), stores);
  r += 4 * sources[0].stride;
  g += 4 * sources[1].stride;
  b += 4 * sources[2].stride;
  a += 4 * sources[3].stride;
}
#endif

}  // namespace

RowStores RowStoresFor(int64_t bytesTouched, int64_t lastLevelCacheBytes, bool frameRefilled) {
  const int64_t cachedUpTo = frameRefilled ? lastLevelCacheBytes / 2 : lastLevelCacheBytes / 3;
  if (lastLevelCacheBytes <= 0 || bytesTouched > cachedUpTo) return RowStores::kStreaming;
  return RowStores::kCached;
}

void InterleaveHalfRow(const ComponentSource sources[4], uint8_t* row, int32_t width, RowStores stores) {
  const uint8_t* r = sources[0].samples;
  const uint8_t* g = sources[1].samples;
  const uint8_t* b = sources[2].samples;
  const uint8_t* a = sources[3].samples;
  int32_t x = 0;
#ifdef MONDREL_X86_SIMD
  // A pixel is 8 bytes: one pixel at most before a row of an 8-byte aligned
  // frame reaches the 16-byte alignment of the vector stores, then one
  // pair at most before the 32-byte alignment of the AVX2 ones.
  static const bool useAvx2 = ProcessorHasAvx2();
  const auto misaligned = [&](uintptr_t mask) {
    return ((reinterpret_cast<uintptr_t>(row) + 8 * static_cast<uintptr_t>(x)) & mask) != 0;
  };
  while (x < width && misaligned(15)) {
    StorePixel(row + 8 * static_cast<int64_t>(x), r, g, b, a, sources, stores);
    ++x;
  }
  if (useAvx2 && width - x >= 16 && misaligned(31)) {
    StorePixelPair(row + 8 * static_cast<int64_t>(x), r, g, b, a, sources, stores);
    x += 2;
  }
  if (useAvx2 && width - x >= 16) {
    const uint8_t* const planes[4] = {r, g, b, a};
    const int32_t strides[4] = {sources[0].stride, sources[1].stride, sources[2].stride, sources[3].stride};
    const int32_t blocks = (width - x) / 16;
    InterleaveBlocksAvx2(planes, strides, row + 8 * static_cast<int64_t>(x), blocks, stores);
    r += 32 * static_cast<int64_t>(blocks) * strides[0];
    g += 32 * static_cast<int64_t>(blocks) * strides[1];
    b += 32 * static_cast<int64_t>(blocks) * strides[2];
    a += 32 * static_cast<int64_t>(blocks) * strides[3];
    x += 16 * blocks;
  }
  // Eight pixels a step; a constant source does not advance.
  const int64_t stepR = 16 * static_cast<int64_t>(sources[0].stride);
  const int64_t stepG = 16 * static_cast<int64_t>(sources[1].stride);
  const int64_t stepB = 16 * static_cast<int64_t>(sources[2].stride);
  const int64_t stepA = 16 * static_cast<int64_t>(sources[3].stride);
  for (; x + 8 <= width; x += 8) {
    const __m128i vr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r));
    const __m128i vg = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
    const __m128i rgLow = _mm_unpacklo_epi16(vr, vg);
    const __m128i rgHigh = _mm_unpackhi_epi16(vr, vg);
    const __m128i baLow = _mm_unpacklo_epi16(vb, va);
    const __m128i baHigh = _mm_unpackhi_epi16(vb, va);
    __m128i* out = reinterpret_cast<__m128i*>(row + 8 * static_cast<int64_t>(x));
    StoreRowVector(out, _mm_unpacklo_epi32(rgLow, baLow), stores);
    StoreRowVector(out + 1, _mm_unpackhi_epi32(rgLow, baLow), stores);
    StoreRowVector(out + 2, _mm_unpacklo_epi32(rgHigh, baHigh), stores);
    StoreRowVector(out + 3, _mm_unpackhi_epi32(rgHigh, baHigh), stores);
    r += stepR;
    g += stepG;
    b += stepB;
    a += stepA;
  }
  if (!misaligned(15)) {
    for (; x + 2 <= width; x += 2) StorePixelPair(row + 8 * static_cast<int64_t>(x), r, g, b, a, sources, stores);
  }
#endif
  for (; x < width; ++x) StorePixel(row + 8 * static_cast<int64_t>(x), r, g, b, a, sources, stores);
}

void FinishRowStores() {
#ifdef MONDREL_X86_SIMD
  _mm_sfence();
#endif
}
