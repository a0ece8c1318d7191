#include "exr/processor.h"

#ifdef MONDREL_X86_SIMD
#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif
#endif

namespace {

#ifdef MONDREL_X86_SIMD

struct Registers {
  uint32_t a, b, c, d;
};

Registers Cpuid(uint32_t leaf, uint32_t subleaf) {
#if defined(_MSC_VER)
  int values[4];
  __cpuidex(values, static_cast<int>(leaf), static_cast<int>(subleaf));
  return Registers{static_cast<uint32_t>(values[0]), static_cast<uint32_t>(values[1]),
                   static_cast<uint32_t>(values[2]), static_cast<uint32_t>(values[3])};
#else
  Registers r{0, 0, 0, 0};
  __cpuid_count(leaf, subleaf, r.a, r.b, r.c, r.d);
  return r;
#endif
}

// Both vendors describe one cache per subleaf in the same layout, until a
// subleaf whose type is 0.
int64_t LargestCacheOfLeaf(uint32_t leaf) {
  int64_t largest = 0;
  for (uint32_t subleaf = 0; subleaf < 16; ++subleaf) {
    const Registers r = Cpuid(leaf, subleaf);
    const uint32_t type = r.a & 0x1F;  // 1 data, 2 instruction, 3 unified
    if (type == 0) break;
    if (type == 2) continue;
    const int64_t ways = ((r.b >> 22) & 0x3FF) + 1;
    const int64_t partitions = ((r.b >> 12) & 0x3FF) + 1;
    const int64_t lineBytes = (r.b & 0xFFF) + 1;
    const int64_t sets = static_cast<int64_t>(r.c) + 1;
    const int64_t bytes = ways * partitions * lineBytes * sets;
    if (bytes > largest) largest = bytes;
  }
  return largest;
}

#endif

}  // namespace

#ifdef MONDREL_X86_SIMD
bool ProcessorHasAvx2() {
#if defined(_MSC_VER)
  if (Cpuid(0, 0).a < 7) return false;
  const bool osSavesYmm = (Cpuid(1, 0).c & (1u << 27)) != 0 && (_xgetbv(0) & 6) == 6;
  return osSavesYmm && (Cpuid(7, 0).b & (1u << 5)) != 0;
#else
  return __builtin_cpu_supports("avx2");
#endif
}

bool ProcessorHasF16c() { return ProcessorHasAvx2() && (Cpuid(1, 0).c & (1u << 29)) != 0; }
#endif

int64_t LastLevelCacheBytes() {
#ifdef MONDREL_X86_SIMD
  const uint32_t maxBasic = Cpuid(0, 0).a;
  if (maxBasic >= 4) {
    const int64_t bytes = LargestCacheOfLeaf(4);
    if (bytes > 0) return bytes;
  }
  // AMD leaves leaf 4 empty; its leaf needs the topology extensions.
  const uint32_t maxExtended = Cpuid(0x80000000u, 0).a;
  const bool topologyExtensions = maxExtended >= 0x80000001u && (Cpuid(0x80000001u, 0).c & (1u << 22)) != 0;
  if (maxExtended >= 0x8000001Du && topologyExtensions) {
    const int64_t bytes = LargestCacheOfLeaf(0x8000001Du);
    if (bytes > 0) return bytes;
  }
  // Hypervisors may hide the topology extensions; AMD's older leaf remains.
  if (maxExtended >= 0x80000006u) {
    const Registers r = Cpuid(0x80000006u, 0);
    return CacheBytesOfAmdLegacyLeaf(r.c, r.d);
  }
#endif
  return 0;
}

int64_t CacheBytesOfAmdLegacyLeaf(uint32_t ecx, uint32_t edx) {
  // L2 in KiB in ECX bits 16-31; L3 in 512 KiB units in EDX bits 18-31.
  // That L3 is the whole package's: on a part of several core complexes
  // (508 MiB seen on a 2-core guest of a large EPYC) one core's rows share
  // only their complex's. 32 MiB is the most one complex holds without
  // stacked cache, whose parts do report the topology leaf.
  constexpr int64_t kLargestComplexLevel3 = int64_t{32} << 20;
  const int64_t level2 = static_cast<int64_t>(ecx >> 16) * 1024;
  int64_t level3 = static_cast<int64_t>(edx >> 18) * 512 * 1024;
  if (level3 > kLargestComplexLevel3) level3 = kLargestComplexLevel3;
  return level3 > level2 ? level3 : level2;
}
