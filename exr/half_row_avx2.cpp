// AVX2 conversion of float rows to half rows, bit-identical to FloatToHalf.
// Built with AVX2 enabled for this file alone and called only when the
// processor has it.
#include "exr/float_to_half.h"

#ifdef MONDREL_X86_SIMD

#include <immintrin.h>

namespace {

// Eight floats to eight halves, each in the low 16 bits of its lane (0 to
// 0xFFFF, so that an unsigned pack keeps them). Few shifts, since only two
// ports take them: every class comes from one of two candidates and
// integer min and max.
inline __m256i HalfBits(__m256i bits) {
  const __m256i magnitude = _mm256_and_si256(bits, _mm256_set1_epi32(0x7FFFFFFF));
  const __m256i fraction = _mm256_and_si256(bits, _mm256_set1_epi32(0x7FFFFF));
  const __m256i one = _mm256_set1_epi32(1);
  // Exponents 113 to 254: rebiased, saturating at 0x7BFF; 255 gives
  // 0x23C00 plus the top fraction bits.
  const __m256i rebiased = _mm256_sub_epi32(_mm256_srli_epi32(magnitude, 13), _mm256_set1_epi32(112 << 10));
  const __m256i normal = _mm256_min_epi32(rebiased, _mm256_set1_epi32(0x7BFF));
  // Exponents up to 112: the shift of 126 - e is 24 or more below 103, and
  // wraps to a huge count above 126; either way it leaves 0.
  const __m256i shift = _mm256_sub_epi32(_mm256_set1_epi32(126), _mm256_srli_epi32(magnitude, 23));
  const __m256i subnormal = _mm256_srlv_epi32(_mm256_or_si256(fraction, _mm256_set1_epi32(0x800000)), shift);
  __m256i result =
      _mm256_blendv_epi8(subnormal, normal, _mm256_cmpgt_epi32(magnitude, _mm256_set1_epi32(0x387FFFFF)));
  // Nonzero magnitudes below the subnormals lift to 1; zero stays 0.
  result = _mm256_max_epi32(result, _mm256_min_epi32(magnitude, one));
  // Infinity and NaN: 0x7C00 plus the top fraction bits, or plus 1 when a
  // NaN's top bits are all zero.
  const __m256i special = _mm256_max_epi32(_mm256_sub_epi32(rebiased, _mm256_set1_epi32(0x1C000)),
                                           _mm256_add_epi32(_mm256_min_epi32(fraction, one), _mm256_set1_epi32(0x7C00)));
  result = _mm256_blendv_epi8(result, special, _mm256_cmpgt_epi32(magnitude, _mm256_set1_epi32(0x7F7FFFFF)));
  const __m256i sign = _mm256_and_si256(_mm256_srli_epi32(bits, 16), _mm256_set1_epi32(0x8000));
  return _mm256_or_si256(result, sign);
}

}  // namespace

void FloatRowToHalfAvx2(const uint8_t* source, uint8_t* destination, int32_t count) {
  int32_t i = 0;
  for (; i + 16 <= count; i += 16) {
    // Both loads come before the store, so converting in place is safe.
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + 4 * static_cast<int64_t>(i)));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + 4 * static_cast<int64_t>(i) + 32));
    // The pack works within 128-bit lanes; restore the order of the halves.
    const __m256i packed = _mm256_packus_epi32(HalfBits(low), HalfBits(high));
    const __m256i halves = _mm256_permute4x64_epi64(packed, 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + 2 * static_cast<int64_t>(i)), halves);
  }
  FloatRowToHalfSse2(source + 4 * static_cast<int64_t>(i), destination + 2 * static_cast<int64_t>(i), count - i);
}

#endif
