#include "exr/float_to_half.h"

#include "exr/byte_reader.h"

uint16_t FloatToHalf(uint32_t bits) {
  const uint32_t sign = (bits >> 16) & 0x8000u;
  const uint32_t exponent = (bits >> 23) & 0xFFu;
  const uint32_t fraction = bits & 0x7FFFFFu;
  uint32_t magnitude;
  if (exponent == 255) {
    // Infinity stays infinity; a NaN keeps its top fraction bits and stays
    // a NaN even when those are all zero.
    const uint32_t payload = fraction >> 13;
    magnitude = fraction == 0 ? 0x7C00u : (0x7C00u | (payload != 0 ? payload : 1u));
  } else if (exponent >= 143) {
    magnitude = 0x7BFFu;  // 65536 and above saturate at the largest finite half
  } else if (exponent >= 113) {
    magnitude = ((exponent - 112) << 10) | (fraction >> 13);
  } else if (exponent >= 103) {
    magnitude = (fraction | 0x800000u) >> (126 - exponent);
  } else {
    magnitude = (exponent | fraction) != 0 ? 1u : 0u;
  }
  return static_cast<uint16_t>(sign | magnitude);
}

uint16_t UintToHalf(uint32_t value) {
  // Below 65504 the FLOAT is the value itself (it is below 2^24), and
  // truncating its fraction to ten bits is what FloatToHalf does; from
  // 65504 on FloatToHalf gives 0x7BFF whatever the rounding to FLOAT.
  if (value >= 65504) return 0x7BFF;
  if (value == 0) return 0;
  uint32_t exponent = 0;
  while ((value >> (exponent + 1)) != 0) ++exponent;
  return static_cast<uint16_t>(((exponent + 15) << 10) | (((value << 10) >> exponent) & 0x3FFu));
}

void UintRowToHalf(const uint8_t* source, uint8_t* destination, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const uint16_t half = UintToHalf(LoadU32LE(source + 4 * static_cast<int64_t>(i)));
    destination[2 * static_cast<int64_t>(i)] = static_cast<uint8_t>(half);
    destination[2 * static_cast<int64_t>(i) + 1] = static_cast<uint8_t>(half >> 8);
  }
}

void FloatRowToHalfScalar(const uint8_t* source, uint8_t* destination, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const uint16_t half = FloatToHalf(LoadU32LE(source + 4 * static_cast<int64_t>(i)));
    destination[2 * static_cast<int64_t>(i)] = static_cast<uint8_t>(half);
    destination[2 * static_cast<int64_t>(i) + 1] = static_cast<uint8_t>(half >> 8);
  }
}

#ifdef MONDREL_X86_SIMD

void FloatRowToHalf(const uint8_t* source, uint8_t* destination, int32_t count) {
  static const bool useF16c = ProcessorHasF16c();
  static const bool useAvx2 = ProcessorHasAvx2();
  if (useF16c) {
    FloatRowToHalfF16c(source, destination, count);
  } else if (useAvx2) {
    FloatRowToHalfAvx2(source, destination, count);
  } else {
    FloatRowToHalfSse2(source, destination, count);
  }
}

#else

void FloatRowToHalf(const uint8_t* source, uint8_t* destination, int32_t count) {
  FloatRowToHalfScalar(source, destination, count);
}

#endif
