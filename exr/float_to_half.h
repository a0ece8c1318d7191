// Conversion of 32-bit samples to IEEE binary16, by integer operations only:
// truncating toward zero, saturating at 65504, never producing infinity from
// a finite value, and lifting nonzero magnitudes below the half subnormal
// range to the smallest subnormal. Exact zeros stay zero.
#pragma once

#include <cstdint>

#include "exr/processor.h"

uint16_t FloatToHalf(uint32_t bits);

// A UINT sample by its value: FloatToHalf of the FLOAT nearest to it, so
// 37 gives 37.0 and everything from 65504 on the largest finite half.
uint16_t UintToHalf(uint32_t value);
void UintRowToHalf(const uint8_t* source, uint8_t* destination, int32_t count);

// Converts `count` little-endian 32-bit samples at `source` to little-endian
// halves at `destination`. The destination may start at the source's own
// start (the row is then converted in place); no other overlap is allowed.
// Uses the widest vector unit the processor has.
void FloatRowToHalf(const uint8_t* source, uint8_t* destination, int32_t count);

// The individual implementations, exposed for tests and benchmarks.
void FloatRowToHalfScalar(const uint8_t* source, uint8_t* destination, int32_t count);
#ifdef MONDREL_X86_SIMD
void FloatRowToHalfSse2(const uint8_t* source, uint8_t* destination, int32_t count);
void FloatRowToHalfAvx2(const uint8_t* source, uint8_t* destination, int32_t count);
// Needs F16C as well; masks floating-point exceptions while it converts.
void FloatRowToHalfF16c(const uint8_t* source, uint8_t* destination, int32_t count);
#endif
