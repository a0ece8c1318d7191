// Conversion of float rows to half rows by the processor's own converter
// (F16C), bit-identical to FloatToHalf. Rounding toward zero is exactly the
// integer truncation for every finite input down to 2^-24, including the
// saturation at 65504. The two classes where FloatToHalf differs from IEEE
// are patched afterwards without a branch, so that no picture is slower
// than another: nonzero magnitudes below 2^-24 lift to the smallest
// subnormal, and NaNs keep their payload without a quiet bit (a NaN whose
// top fraction bits are all zero keeps a payload of 1). Built with AVX2 and
// F16C for this file alone and called only when the processor has both.
#include "exr/float_to_half.h"

#ifdef MONDREL_X86_SIMD

#include <immintrin.h>

namespace {

// All six exception masks of MXCSR. Truncation raises inexact, and a
// magnitude of 65536 or more raises overflow; a host that unmasked either
// would take a floating-point exception in the middle of a frame read.
constexpr unsigned kAllExceptionsMasked = 0x1F80;

struct Patch {
  __m256i where;      // all ones in lanes that FloatToHalf treats otherwise
  __m256i magnitude;  // the half magnitude those lanes take
};

inline Patch PatchOf(__m256i bits) {
  const __m256i magnitude = _mm256_and_si256(bits, _mm256_set1_epi32(0x7FFFFFFF));
  const __m256i belowSubnormals =
      _mm256_andnot_si256(_mm256_cmpeq_epi32(magnitude, _mm256_setzero_si256()),
                          _mm256_cmpgt_epi32(_mm256_set1_epi32(0x33800000), magnitude));
  const __m256i nan = _mm256_cmpgt_epi32(magnitude, _mm256_set1_epi32(0x7F800000));
  // A NaN's magnitude >> 13 is 0x3FC00 plus its top ten fraction bits.
  const __m256i nanHalf = _mm256_max_epi32(
      _mm256_sub_epi32(_mm256_srli_epi32(magnitude, 13), _mm256_set1_epi32(0x38000)), _mm256_set1_epi32(0x7C01));
  return Patch{_mm256_or_si256(belowSubnormals, nan), _mm256_blendv_epi8(_mm256_set1_epi32(1), nanHalf, nan)};
}

// Sixteen 32-bit lanes (low, then high) as sixteen 16-bit lanes in order;
// every value fits a signed 16-bit lane.
inline __m256i Narrow(__m256i low, __m256i high) {
  return _mm256_permute4x64_epi64(_mm256_packs_epi32(low, high), 0xD8);
}

}  // namespace

void FloatRowToHalfF16c(const uint8_t* source, uint8_t* destination, int32_t count) {
  const unsigned hostControl = _mm_getcsr();
  const bool maskExceptions = (hostControl & kAllExceptionsMasked) != kAllExceptionsMasked;
  if (maskExceptions) _mm_setcsr(hostControl | kAllExceptionsMasked);
  int32_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const uint8_t* from = source + 4 * static_cast<int64_t>(i);
    // Both loads come before the store, so converting in place is safe.
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + 32));
    const __m256i converted = _mm256_set_m128i(_mm256_cvtps_ph(_mm256_castsi256_ps(high), _MM_FROUND_TO_ZERO),
                                               _mm256_cvtps_ph(_mm256_castsi256_ps(low), _MM_FROUND_TO_ZERO));
    const Patch lowPatch = PatchOf(low);
    const Patch highPatch = PatchOf(high);
    // The converter keeps the sign of every input, NaNs included.
    const __m256i patched = _mm256_or_si256(_mm256_and_si256(converted, _mm256_set1_epi16(-0x8000)),
                                            Narrow(lowPatch.magnitude, highPatch.magnitude));
    const __m256i halves = _mm256_blendv_epi8(converted, patched, Narrow(lowPatch.where, highPatch.where));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + 2 * static_cast<int64_t>(i)), halves);
  }
  if (maskExceptions) _mm_setcsr(hostControl);
  FloatRowToHalfAvx2(source + 4 * static_cast<int64_t>(i), destination + 2 * static_cast<int64_t>(i), count - i);
}

#endif
