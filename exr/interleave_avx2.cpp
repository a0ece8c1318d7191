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

}  // namespace

void InterleaveBlocksAvx2(const uint8_t* const sources[4], const int32_t strides[4], uint8_t* out, int32_t blocks,
                          RowStores stores) {
  const uint8_t* r = sources[0];
  const uint8_t* g = sources[1];
  const uint8_t* b = sources[2];
  const uint8_t* a = sources[3];
  for (int32_t i = 0; i < blocks; ++i) {
    const __m256i vr = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r));
    const __m256i vg = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(g));
    const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b));
    const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a));
    // The unpacks work within 128-bit lanes: pixels 0-7 come out in the low
    // lanes and 8-15 in the high ones, put back in order by the permutes.
    const __m256i rgLow = _mm256_unpacklo_epi16(vr, vg);
    const __m256i rgHigh = _mm256_unpackhi_epi16(vr, vg);
    const __m256i baLow = _mm256_unpacklo_epi16(vb, va);
    const __m256i baHigh = _mm256_unpackhi_epi16(vb, va);
    const __m256i pixels01 = _mm256_unpacklo_epi32(rgLow, baLow);
    const __m256i pixels23 = _mm256_unpackhi_epi32(rgLow, baLow);
    const __m256i pixels45 = _mm256_unpacklo_epi32(rgHigh, baHigh);
    const __m256i pixels67 = _mm256_unpackhi_epi32(rgHigh, baHigh);
    __m256i* target = reinterpret_cast<__m256i*>(out + 128 * static_cast<int64_t>(i));
    StoreRowVector(target, _mm256_permute2x128_si256(pixels01, pixels23, 0x20), stores);
    StoreRowVector(target + 1, _mm256_permute2x128_si256(pixels45, pixels67, 0x20), stores);
    StoreRowVector(target + 2, _mm256_permute2x128_si256(pixels01, pixels23, 0x31), stores);
    StoreRowVector(target + 3, _mm256_permute2x128_si256(pixels45, pixels67, 0x31), stores);
    r += 32 * strides[0];
    g += 32 * strides[1];
    b += 32 * strides[2];
    a += 32 * strides[3];
  }
}

void InterleaveGreyBlocksAvx2(const uint8_t* grey, const uint8_t* alpha, uint8_t* out, int32_t blocks,
                              RowStores stores) {
  const __m256i alphas = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(alpha));
  // Dwords (sample pairs) 0, 2, 4, 6 to the low lane and 1, 3, 5, 7 to the
  // high one: the in-lane unpacks that follow then leave pixels 0-3, 4-7,
  // 8-11 and 12-15 in order, with no permute after them.
  const __m256i pairOrder = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  for (int32_t i = 0; i < blocks; ++i) {
    const __m256i samples = _mm256_permutevar8x32_epi32(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(grey + 32 * static_cast<int64_t>(i))), pairOrder);
    const __m256i low = _mm256_unpacklo_epi16(samples, samples);
    const __m256i high = _mm256_unpackhi_epi16(samples, samples);
    // Each pixel is its sample four times; the fourth becomes alpha.
    __m256i* target = reinterpret_cast<__m256i*>(out + 128 * static_cast<int64_t>(i));
    StoreRowVector(target, _mm256_blend_epi16(_mm256_unpacklo_epi32(low, low), alphas, 0x88), stores);
    StoreRowVector(target + 1, _mm256_blend_epi16(_mm256_unpackhi_epi32(low, low), alphas, 0x88), stores);
    StoreRowVector(target + 2, _mm256_blend_epi16(_mm256_unpacklo_epi32(high, high), alphas, 0x88), stores);
    StoreRowVector(target + 3, _mm256_blend_epi16(_mm256_unpackhi_epi32(high, high), alphas, 0x88), stores);
  }
}

#endif
