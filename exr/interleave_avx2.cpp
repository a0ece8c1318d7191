// AVX2 form of the row interleave: sixteen pixels a step with 32-byte
// stores. Built with AVX2 enabled for this file alone and called
// only when the processor has it.
#include "exr/interleave.h"

#include "exr/processor.h"

#ifdef MONDREL_X86_SIMD

#include <immintrin.h>

namespace {

inline void StoreRowVector(__m256i* to, __m256i pixels, RowStores stores) {
  if (stores == RowStores::kStreaming) {
    _mm256_stream_si256(to, pixels);
  } else {
    _mm256_store_si256(to, pixels);
  }
}

// Sixteen samples with their dwords (sample pairs) 0, 2, 4, 6 moved to the
// low lane and 1, 3, 5, 7 to the high one: the in-lane unpacks that follow
// then leave pixels 0-3, 4-7, 8-11 and 12-15 in order, with no permute
// after them.
inline __m256i LoadSixteen(const uint8_t* samples) {
  const __m256i pairOrder = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  return _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples)), pairOrder);
}

// Sixteen pixels from components loaded by LoadSixteen (a constant is the
// same whatever its order) to 128 bytes at `out`.
inline void StoreSixteenPixels(uint8_t* out, __m256i vr, __m256i vg, __m256i vb, __m256i va, RowStores stores) {
  const __m256i rgLow = _mm256_unpacklo_epi16(vr, vg);
  const __m256i rgHigh = _mm256_unpackhi_epi16(vr, vg);
  const __m256i baLow = _mm256_unpacklo_epi16(vb, va);
  const __m256i baHigh = _mm256_unpackhi_epi16(vb, va);
  __m256i* target = reinterpret_cast<__m256i*>(out);
  StoreRowVector(target, _mm256_unpacklo_epi32(rgLow, baLow), stores);
  StoreRowVector(target + 1, _mm256_unpackhi_epi32(rgLow, baLow), stores);
  StoreRowVector(target + 2, _mm256_unpacklo_epi32(rgHigh, baHigh), stores);
  StoreRowVector(target + 3, _mm256_unpackhi_epi32(rgHigh, baHigh), stores);
}

}  // namespace

void InterleaveBlocksAvx2(const uint8_t* const sources[4], const int32_t strides[4], uint8_t* out, int32_t blocks,
                          RowStores stores) {
  const uint8_t* r = sources[0];
  const uint8_t* g = sources[1];
  const uint8_t* b = sources[2];
  const uint8_t* a = sources[3];
  if (strides[3] == 0) {
    // No alpha plane: the constant is loaded once. A grey row (one plane
    // for R, G and B) loads its samples once a block, not three times.
    const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a));
    const bool grey = r == g && g == b && strides[0] == strides[1] && strides[1] == strides[2];
    for (int32_t i = 0; i < blocks; ++i) {
      const __m256i vr = LoadSixteen(r);
      StoreSixteenPixels(out + 128 * static_cast<int64_t>(i), vr, grey ? vr : LoadSixteen(g),
                         grey ? vr : LoadSixteen(b), va, stores);
      r += 32 * strides[0];
      g += 32 * strides[1];
      b += 32 * strides[2];
    }
    return;
  }
  for (int32_t i = 0; i < blocks; ++i) {
    StoreSixteenPixels(out + 128 * static_cast<int64_t>(i), LoadSixteen(r), LoadSixteen(g), LoadSixteen(b),
                       LoadSixteen(a), stores);
    r += 32 * strides[0];
    g += 32 * strides[1];
    b += 32 * strides[2];
    a += 32 * strides[3];
  }
}

#endif
