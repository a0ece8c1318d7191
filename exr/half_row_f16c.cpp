// Conversion of float rows to half rows by the processor's own converter
// (F16C), bit-identical to FloatToHalf. Rounding toward zero is exactly the
// integer truncation for every finite input down to 2^-24, including the
// saturation at 65504. The two classes where FloatToHalf differs from IEEE
// are patched afterwards: nonzero magnitudes below 2^-24 lift to the
// smallest subnormal, and NaNs keep their payload without a quiet bit (a
// NaN whose top fraction bits are all zero keeps a payload of 1). The patch
// costs about three times the conversion and most rows of most pictures
// need none, so a row takes the converter's result as it is until the
// first block that does; from there on the row is patched without a
// branch, so that pictures full of such values (noise, uninitialised
// buffers) cost no more than patching throughout. Built with AVX2 and F16C
// for this file alone and called only when the processor has both.
#include "exr/float_to_half.h"

#ifdef MONDREL_X86_SIMD

#include <immintrin.h>

namespace {

// All six exception masks of MXCSR. Truncation raises inexact, a
// magnitude of 65536 or more overflow and a signalling NaN invalid; a host
// that unmasked any of them would take a floating-point exception in the
// middle of a frame read.
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

// The converter's result for sixteen samples.
inline __m256i Convert(__m256i low, __m256i high) {
  return _mm256_set_m128i(_mm256_cvtps_ph(_mm256_castsi256_ps(high), _MM_FROUND_TO_ZERO),
                          _mm256_cvtps_ph(_mm256_castsi256_ps(low), _MM_FROUND_TO_ZERO));
}

// Whether a result holds a half of magnitude 0 (from zero or from a
// magnitude below 2^-24) or a NaN: doubled magnitudes of 0 or above
// 0xF800, found at once as (doubled - 1) >= 0xF800.
inline bool MayNeedPatch(__m256i halves) {
  const __m256i doubled = _mm256_add_epi16(halves, halves);
  const __m256i shifted = _mm256_sub_epi16(doubled, _mm256_set1_epi16(1));
  const __m256i excess = _mm256_subs_epu16(shifted, _mm256_set1_epi16(static_cast<short>(0xF7FF)));
  return !_mm256_testz_si256(excess, excess);
}

inline __m256i Load(const uint8_t* source, int32_t index) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + 4 * static_cast<int64_t>(index)));
}

inline void Store(uint8_t* destination, int32_t index, __m256i halves) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + 2 * static_cast<int64_t>(index)), halves);
}

}  // namespace

void FloatRowToHalfF16c(const uint8_t* source, uint8_t* destination, int32_t count) {
  // The host's MXCSR comes back whole, its sticky exception flags too: a
  // host testing them after its own arithmetic must not find ours.
  const unsigned hostControl = _mm_getcsr();
  const bool maskExceptions = (hostControl & kAllExceptionsMasked) != kAllExceptionsMasked;
  if (maskExceptions) _mm_setcsr(hostControl | kAllExceptionsMasked);
  // Every block is loaded before its result is stored, and a block's result
  // lands below its samples, so converting in place is safe; a block that
  // leaves the first loop has stored nothing and is read again whole.
  int32_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m256i low = Load(source, i);
    const __m256i high = Load(source, i + 8);
    const __m256i converted = Convert(low, high);
    if (MayNeedPatch(converted)) {
      // Zeros (black, empty alpha) are common and need nothing.
      const __m256i where = _mm256_or_si256(PatchOf(low).where, PatchOf(high).where);
      if (!_mm256_testz_si256(where, where)) break;
    }
    Store(destination, i, converted);
  }
  for (; i + 16 <= count; i += 16) {
    const __m256i low = Load(source, i);
    const __m256i high = Load(source, i + 8);
    const __m256i converted = Convert(low, high);
    const Patch lowPatch = PatchOf(low);
    const Patch highPatch = PatchOf(high);
    // The converter keeps the sign of every input, NaNs included.
    const __m256i patched = _mm256_or_si256(_mm256_and_si256(converted, _mm256_set1_epi16(-0x8000)),
                                            Narrow(lowPatch.magnitude, highPatch.magnitude));
    Store(destination, i, _mm256_blendv_epi8(converted, patched, Narrow(lowPatch.where, highPatch.where)));
  }
  _mm_setcsr(hostControl);
  FloatRowToHalfAvx2(source + 4 * static_cast<int64_t>(i), destination + 2 * static_cast<int64_t>(i), count - i);
}

#endif
