#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "exr/float_to_half.h"
#include "writer/exr_writer.h"

#ifdef MONDREL_X86_SIMD
#include <xmmintrin.h>
#endif

namespace {

uint32_t Bits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  return bits;
}

TEST(FloatToHalf, ConversionTable) {
  struct Case {
    const char* what;
    uint32_t input;
    uint16_t half;
  };
  const Case cases[] = {
      {"1.0", Bits(1.0f), 0x3C00},
      {"-2.0", Bits(-2.0f), 0xC000},
      {"0.1 truncates", Bits(0.1f), 0x2E66},
      {"largest float below 1 + 2^-10", 0x3F801FFFu, 0x3C00},
      {"65504", Bits(65504.0f), 0x7BFF},
      {"65520 is not infinity", Bits(65520.0f), 0x7BFF},
      {"65536", Bits(65536.0f), 0x7BFF},
      {"1e6", Bits(1.0e6f), 0x7BFF},
      {"-1e6", Bits(-1.0e6f), 0xFBFF},
      {"largest finite float", 0x7F7FFFFFu, 0x7BFF},
      {"+infinity", 0x7F800000u, 0x7C00},
      {"-infinity", 0xFF800000u, 0xFC00},
      {"NaN, fraction 0x400000", 0x7FC00000u, 0x7E00},
      {"NaN, fraction 1", 0x7F800001u, 0x7C01},
      {"-NaN, fraction 0x1FFF", 0xFF801FFFu, 0xFC01},
      {"NaN, all fraction bits", 0x7FFFFFFFu, 0x7FFF},
      {"2^-14", Bits(0.00006103515625f), 0x0400},
      {"2^-15", Bits(0.000030517578125f), 0x0200},
      {"2^-24", 0x33800000u, 0x0001},
      {"2^-25", 0x33000000u, 0x0001},
      {"just below 2^-14", 0x387FFFFFu, 0x03FF},
      {"1e-20", Bits(1.0e-20f), 0x0001},
      {"-1e-20", Bits(-1.0e-20f), 0x8001},
      {"smallest float subnormal", 0x00000001u, 0x0001},
      {"largest float subnormal", 0x007FFFFFu, 0x0001},
      {"+0.0 stays zero", 0x00000000u, 0x0000},
      {"-0.0 stays negative zero", 0x80000000u, 0x8000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FloatToHalf(c.input), c.half) << c.what;
    EXPECT_EQ(exrtest::ReferenceFloatToHalf(c.input), c.half) << c.what << " (reference)";
  }
  // UINT samples count by their value, through the nearest FLOAT.
  const Case uints[] = {
      {"0", 0, 0x0000},          {"1", 1, 0x3C00},          {"37", 37, 0x50A0},
      {"2049 truncates", 2049, 0x6800}, {"65503", 65503, 0x7BFE}, {"65504", 65504, 0x7BFF},
      {"65520", 65520, 0x7BFF},  {"2^24 + 1", 16777217u, 0x7BFF}, {"largest", 0xFFFFFFFFu, 0x7BFF},
  };
  for (const Case& c : uints) EXPECT_EQ(UintToHalf(c.input), c.half) << "UINT " << c.what;
}

// The integer conversion against the reference written with floating-point
// arithmetic, over a spread of inputs covering every exponent.
TEST(FloatToHalf, AgreesWithReferenceAcrossTheRange) {
  for (uint64_t bits = 0; bits <= 0xFFFFFFFFull; bits += 997) {
    const uint32_t input = static_cast<uint32_t>(bits);
    ASSERT_EQ(FloatToHalf(input), exrtest::ReferenceFloatToHalf(input)) << std::hex << input;
    ASSERT_EQ(UintToHalf(input), exrtest::ReferenceFloatToHalf(Bits(static_cast<float>(input)))) << input;
  }
  for (uint32_t value = 0; value <= 70000; ++value) {
    ASSERT_EQ(UintToHalf(value), exrtest::ReferenceFloatToHalf(Bits(static_cast<float>(value)))) << value;
  }
}

using RowConversion = void (*)(const uint8_t*, uint8_t*, int32_t);

// Converts every 32-bit pattern with `convert` and compares with the scalar
// function, a block at a time.
void ExpectIdenticalForAllInputs(RowConversion convert) {
  constexpr int32_t kBlock = 1 << 16;
  std::vector<uint8_t> source(4 * kBlock);
  std::vector<uint8_t> converted(2 * kBlock);
  for (uint64_t base = 0; base <= 0xFFFFFFFFull; base += kBlock) {
    for (int32_t i = 0; i < kBlock; ++i) {
      const uint32_t value = static_cast<uint32_t>(base + i);
      std::memcpy(&source[4 * i], &value, 4);
    }
    convert(source.data(), converted.data(), kBlock);
    for (int32_t i = 0; i < kBlock; ++i) {
      const uint16_t half = static_cast<uint16_t>(converted[2 * i] | converted[2 * i + 1] << 8);
      const uint32_t value = static_cast<uint32_t>(base + i);
      if (half != FloatToHalf(value)) {
        FAIL() << "input 0x" << std::hex << value << " gave 0x" << half << ", scalar 0x" << FloatToHalf(value);
      }
    }
  }
}

#ifdef MONDREL_X86_SIMD
TEST(FloatRowToHalf, Sse2MatchesScalarForEveryInput) { ExpectIdenticalForAllInputs(FloatRowToHalfSse2); }

TEST(FloatRowToHalf, Avx2MatchesScalarForEveryInput) {
  if (!ProcessorHasAvx2()) GTEST_SKIP() << "processor without AVX2";
  ExpectIdenticalForAllInputs(FloatRowToHalfAvx2);
}

// Under a host that unmasked every floating-point exception and flushes
// denormals: nothing traps, the output is the same, and the host's MXCSR
// comes back as it was, under that host and under the usual all-masked one,
// its sticky exception flags included.
TEST(FloatRowToHalf, F16cMatchesScalarForEveryInput) {
  if (!ProcessorHasF16c()) GTEST_SKIP() << "processor without F16C";
  const unsigned testControl = _mm_getcsr();
  const unsigned hostControl = (testControl & ~0x1F80u) | 0x8040u;
  _mm_setcsr(hostControl);
  ExpectIdenticalForAllInputs(FloatRowToHalfF16c);
  // The edges of the patched classes, one lane at a time in a row of three
  // blocks of ordinary values with a zero elsewhere, so that a patch
  // landing in the wrong lane, or a row turning to the patch too late,
  // shows.
  constexpr int32_t kRow = 48;
  for (const uint32_t edge : {0x00000000u, 0x33800000u, 0x7F800000u, 0x7F800001u, 0x477FF000u}) {
    for (uint32_t sign : {0u, 0x80000000u}) {
      for (uint32_t value = edge - 2; value != edge + 3; ++value) {
        for (int32_t lane = 0; lane < kRow; ++lane) {
          uint32_t row[kRow];
          for (uint32_t& sample : row) sample = 0x3F800000u;
          row[(lane + 20) % kRow] = 0;
          row[lane] = (value & 0x7FFFFFFFu) | sign;
          uint16_t halves[kRow];
          FloatRowToHalfF16c(reinterpret_cast<const uint8_t*>(row), reinterpret_cast<uint8_t*>(halves), kRow);
          for (int32_t i = 0; i < kRow; ++i) {
            ASSERT_EQ(halves[i], FloatToHalf(row[i])) << std::hex << row[lane] << " in lane " << lane << ", lane " << i;
          }
        }
      }
    }
  }
  const unsigned controlAfter = _mm_getcsr();
  // Inexact, overflow, invalid (a signalling NaN) and a denormal input.
  const uint32_t raising[16] = {0x3F800001u, 0x47800000u, 0x7F800001u, 0x00000001u};
  uint16_t halves[16];
  _mm_setcsr(0x1F80u);
  FloatRowToHalfF16c(reinterpret_cast<const uint8_t*>(raising), reinterpret_cast<uint8_t*>(halves), 16);
  const unsigned maskedAfter = _mm_getcsr();
  _mm_setcsr(testControl);
  EXPECT_EQ(controlAfter, hostControl);
  EXPECT_EQ(maskedAfter, 0x1F80u);
}
#endif

// Rows of every length up to a few vectors, converted in place: the tails
// and the overlap of source and destination must come out right.
TEST(FloatRowToHalf, InPlaceRowsOfEveryLength) {
  const uint32_t pattern[] = {0x3F800000u, 0x80000000u, 0x7F800001u, 0x33000000u, 0x47800000u,
                              0x38000000u, 0x00000000u, 0xC0000000u, 0x477FE000u};
  std::vector<RowConversion> conversions = {FloatRowToHalf, FloatRowToHalfScalar};
#ifdef MONDREL_X86_SIMD
  conversions.push_back(FloatRowToHalfSse2);
  if (ProcessorHasAvx2()) conversions.push_back(FloatRowToHalfAvx2);
  if (ProcessorHasF16c()) conversions.push_back(FloatRowToHalfF16c);
#endif
  for (RowConversion convert : conversions) {
    for (int32_t count = 0; count <= 70; ++count) {
      std::vector<uint8_t> row(4 * count + 4, 0xEE);
      for (int32_t i = 0; i < count; ++i) std::memcpy(&row[4 * i], &pattern[i % 9], 4);
      convert(row.data(), row.data(), count);
      for (int32_t i = 0; i < count; ++i) {
        const uint16_t half = static_cast<uint16_t>(row[2 * i] | row[2 * i + 1] << 8);
        ASSERT_EQ(half, FloatToHalf(pattern[i % 9])) << "count " << count << " index " << i;
      }
      for (size_t i = 4 * count; i < row.size(); ++i) ASSERT_EQ(row[i], 0xEE) << "wrote past the row";
    }
  }
}

}  // namespace
