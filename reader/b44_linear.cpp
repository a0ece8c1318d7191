#include "reader/b44_linear.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace exrfile {

namespace {

float FloatFromHalf(uint16_t half) {
  const uint32_t sign = static_cast<uint32_t>(half & 0x8000) << 16;
  const uint32_t exponent = (half >> 10) & 0x1F;
  uint32_t fraction = half & 0x3FF;
  uint32_t bits = 0;
  if (exponent == 0x1F) {
    bits = sign | 0x7F800000u | (fraction << 13);
  } else if (exponent != 0) {
    bits = sign | ((exponent + 112) << 23) | (fraction << 13);
  } else if (fraction != 0) {
    int shift = 0;
    while ((fraction & 0x400) == 0) {
      fraction <<= 1;
      ++shift;
    }
    bits = sign | (static_cast<uint32_t>(113 - shift) << 23) | ((fraction & 0x3FF) << 13);
  } else {
    bits = sign;
  }
  float value;
  std::memcpy(&value, &bits, 4);
  return value;
}

// The natural logarithm of a positive finite value, in double arithmetic
// alone so that every build gives the same table: ln(m 2^e) = e ln 2 +
// 2 atanh((m - 1) / (m + 1)) with m in [sqrt(1/2), sqrt(2)).
double NaturalLog(double x) {
  int exponent = 0;
  double m = std::frexp(x, &exponent);  // x = m 2^exponent, m in [0.5, 1)
  if (m < 0.70710678118654752440) {
    m *= 2;
    --exponent;
  }
  const double z = (m - 1) / (m + 1);
  const double z2 = z * z;
  double term = z;
  double sum = 0;
  for (int k = 1; k < 60; k += 2) {
    sum += term / k;
    term *= z2;
  }
  return exponent * 0.69314718055994530942 + 2 * sum;
}

const std::vector<uint16_t>& LogTable() {
  static const std::vector<uint16_t> table = [] {
    std::vector<uint16_t> values(1 << 16);
    for (uint32_t i = 0; i < values.size(); ++i) {
      const float x = FloatFromHalf(static_cast<uint16_t>(i));
      if (!std::isfinite(x) || x < 0) {
        values[i] = 0;
      } else if (x == 0) {
        values[i] = 0xFC00;  // the log of zero, of either sign: minus infinity
      } else {
        values[i] = HalfFromFloat(static_cast<float>(8 * NaturalLog(x)));
      }
    }
    return values;
  }();
  return table;
}

}  // namespace

uint16_t HalfFromFloat(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  const uint16_t sign = static_cast<uint16_t>((bits >> 16) & 0x8000);
  const uint32_t magnitude = bits & 0x7FFFFFFF;
  if (magnitude >= 0x7F800000) return static_cast<uint16_t>(sign | 0x7C00 | (magnitude > 0x7F800000 ? 0x200 : 0));
  if (magnitude >= 0x477FF000) return static_cast<uint16_t>(sign | 0x7C00);  // rounds past the largest half
  if (magnitude >= 0x38800000) {
    // Normal halves: drop 13 fraction bits, rounding to nearest, ties to even.
    const uint32_t rounded = magnitude + 0x0FFF + ((magnitude >> 13) & 1);
    return static_cast<uint16_t>(sign | ((rounded - 0x38000000) >> 13));
  }
  if (magnitude < 0x33000000) return sign;  // below half the smallest subnormal
  const uint32_t exponent = magnitude >> 23;
  const uint32_t fraction = (magnitude & 0x7FFFFF) | 0x800000;
  const uint32_t shift = 126 - exponent;  // 14 to 24
  const uint32_t half = fraction >> shift;
  const uint32_t rest = fraction & ((1u << shift) - 1);
  const uint32_t middle = 1u << (shift - 1);
  const uint32_t up = rest > middle || (rest == middle && (half & 1) != 0) ? 1 : 0;
  return static_cast<uint16_t>(sign | (half + up));
}

void LinearFromB44(uint16_t s[16]) {
  const std::vector<uint16_t>& table = LogTable();
  for (int i = 0; i < 16; ++i) s[i] = table[s[i]];
}

}  // namespace exrfile
