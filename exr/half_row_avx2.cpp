// AVX2 conversion of float rows to half rows, bit-identical to FloatToHalf.
// Built with AVX2 enabled for this file alone and called only when the
// processor has it.
#include "exr/float_to_half.h"

#ifdef MONDREL_X86_SIMD

#include <immintrin.h>

namespace {

inline __m256i Select(__m256i mask, __m256i whenSet, __m256i otherwise) {
  return _mm256_blendv_epi8(otherwise, whenSet, mask);
}

// Eight floats to eight halves, each in the low 16 bits of its lane.
inline __m256i HalfBits(__m256i bits) {
  const __m256i magnitude = _mm256_and_si256(bits, _mm256_set1_epi32(0x7FFFFFFF));
  const __m256i sign = _mm256_and_si256(_mm256_srli_epi32(bits, 16), _mm256_set1_epi32(0x8000));
  const __m256i fraction = _mm256_and_si256(bits, _mm256_set1_epi32(0x7FFFFF));
  const __m256i normal = _mm256_sub_epi32(_mm256_srli_epi32(magnitude, 13), _mm256_set1_epi32(112 << 10));
  const __m256i subnormal = _mm256_srlv_epi32(
      _mm256_or_si256(fraction, _mm256_set1_epi32(0x800000)),
      _mm256_sub_epi32(_mm256_set1_epi32(126), _mm256_srli_epi32(magnitude, 23)));
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i payload = _mm256_srli_epi32(fraction, 13);
  const __m256i isNan = _mm256_cmpgt_epi32(magnitude, _mm256_set1_epi32(0x7F800000));
  const __m256i lostPayload =
      _mm256_and_si256(_mm256_and_si256(isNan, _mm256_cmpeq_epi32(payload, _mm256_setzero_si256())), one);
  const __m256i special = _mm256_or_si256(_mm256_or_si256(_mm256_set1_epi32(0x7C00), payload), lostPayload);

  __m256i result = _mm256_andnot_si256(_mm256_cmpeq_epi32(magnitude, _mm256_setzero_si256()), one);
  result = Select(_mm256_cmpgt_epi32(magnitude, _mm256_set1_epi32(0x337FFFFF)), subnormal, result);
  result = Select(_mm256_cmpgt_epi32(magnitude, _mm256_set1_epi32(0x387FFFFF)), normal, result);
  result = Select(_mm256_cmpgt_epi32(magnitude, _mm256_set1_epi32(0x477FFFFF)), _mm256_set1_epi32(0x7BFF), result);
  result = Select(_mm256_cmpgt_epi32(magnitude, _mm256_set1_epi32(0x7F7FFFFF)), special, result);
  result = _mm256_or_si256(result, sign);
  return _mm256_srai_epi32(_mm256_slli_epi32(result, 16), 16);
}

}  // namespace

void FloatRowToHalfAvx2(const uint8_t* source, uint8_t* destination, int32_t count) {
  int32_t i = 0;
  for (; i + 16 <= count; i += 16) {
    // Both loads come before the store, so converting in place is safe.
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + 4 * static_cast<int64_t>(i)));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + 4 * static_cast<int64_t>(i) + 32));
    // The pack works within 128-bit lanes; restore the order of the halves.
    const __m256i packed = _mm256_packs_epi32(HalfBits(low), HalfBits(high));
    const __m256i halves = _mm256_permute4x64_epi64(packed, 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + 2 * static_cast<int64_t>(i)), halves);
  }
  FloatRowToHalfSse2(source + 4 * static_cast<int64_t>(i), destination + 2 * static_cast<int64_t>(i), count - i);
}

#endif
