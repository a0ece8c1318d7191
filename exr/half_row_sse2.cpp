// SSE2 conversion of float rows to half rows, bit-identical to FloatToHalf.
// SSE2 has no per-lane variable shift, so the subnormal shift is made of
// four conditional shifts by 1, 2, 4 and 8; and _mm_packs_epi32 saturates
// as signed, so the 16-bit results are sign-extended before packing.
#include "exr/float_to_half.h"

#ifdef MONDREL_X86_SIMD

#include <emmintrin.h>

namespace {

inline __m128i Select(__m128i mask, __m128i whenSet, __m128i otherwise) {
  return _mm_or_si128(_mm_and_si128(mask, whenSet), _mm_andnot_si128(mask, otherwise));
}

// Four floats to four halves, each in the low 16 bits of its 32-bit lane.
inline __m128i HalfBits(__m128i bits) {
  const __m128i magnitude = _mm_and_si128(bits, _mm_set1_epi32(0x7FFFFFFF));
  const __m128i sign = _mm_and_si128(_mm_srli_epi32(bits, 16), _mm_set1_epi32(0x8000));
  const __m128i fraction = _mm_and_si128(bits, _mm_set1_epi32(0x7FFFFF));

  // Normal halves: rebias the exponent, truncate the fraction.
  const __m128i normal = _mm_sub_epi32(_mm_srli_epi32(magnitude, 13), _mm_set1_epi32(112 << 10));

  // Subnormal halves: (fraction | implicit bit) >> (126 - exponent), done as
  // >> 14 and then >> (112 - exponent) in binary steps.
  __m128i subnormal = _mm_srli_epi32(_mm_or_si128(fraction, _mm_set1_epi32(0x800000)), 14);
  const __m128i extraShift = _mm_sub_epi32(_mm_set1_epi32(112), _mm_srli_epi32(magnitude, 23));
  const __m128i one = _mm_set1_epi32(1);
  const __m128i two = _mm_set1_epi32(2);
  const __m128i four = _mm_set1_epi32(4);
  const __m128i eight = _mm_set1_epi32(8);
  subnormal = Select(_mm_cmpeq_epi32(_mm_and_si128(extraShift, one), one), _mm_srli_epi32(subnormal, 1), subnormal);
  subnormal = Select(_mm_cmpeq_epi32(_mm_and_si128(extraShift, two), two), _mm_srli_epi32(subnormal, 2), subnormal);
  subnormal = Select(_mm_cmpeq_epi32(_mm_and_si128(extraShift, four), four), _mm_srli_epi32(subnormal, 4), subnormal);
  subnormal = Select(_mm_cmpeq_epi32(_mm_and_si128(extraShift, eight), eight), _mm_srli_epi32(subnormal, 8), subnormal);

  // Infinity and NaN; a NaN whose kept fraction bits are zero gets bit 0.
  const __m128i payload = _mm_srli_epi32(fraction, 13);
  const __m128i isNan = _mm_cmpgt_epi32(magnitude, _mm_set1_epi32(0x7F800000));
  const __m128i lostPayload = _mm_and_si128(_mm_and_si128(isNan, _mm_cmpeq_epi32(payload, _mm_setzero_si128())), one);
  const __m128i special = _mm_or_si128(_mm_or_si128(_mm_set1_epi32(0x7C00), payload), lostPayload);

  // Below the subnormal range: 1 unless exactly zero.
  __m128i result = _mm_andnot_si128(_mm_cmpeq_epi32(magnitude, _mm_setzero_si128()), one);
  result = Select(_mm_cmpgt_epi32(magnitude, _mm_set1_epi32(0x337FFFFF)), subnormal, result);
  result = Select(_mm_cmpgt_epi32(magnitude, _mm_set1_epi32(0x387FFFFF)), normal, result);
  result = Select(_mm_cmpgt_epi32(magnitude, _mm_set1_epi32(0x477FFFFF)), _mm_set1_epi32(0x7BFF), result);
  result = Select(_mm_cmpgt_epi32(magnitude, _mm_set1_epi32(0x7F7FFFFF)), special, result);
  result = _mm_or_si128(result, sign);
  // Sign-extend from 16 bits so the signed saturating pack keeps every bit.
  return _mm_srai_epi32(_mm_slli_epi32(result, 16), 16);
}

}  // namespace

void FloatRowToHalfSse2(const uint8_t* source, uint8_t* destination, int32_t count) {
  int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    // Both loads come before the store, so converting in place is safe.
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 4 * static_cast<int64_t>(i)));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 4 * static_cast<int64_t>(i) + 16));
    const __m128i halves = _mm_packs_epi32(HalfBits(low), HalfBits(high));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + 2 * static_cast<int64_t>(i)), halves);
  }
  FloatRowToHalfScalar(source + 4 * static_cast<int64_t>(i), destination + 2 * static_cast<int64_t>(i), count - i);
}

#endif
