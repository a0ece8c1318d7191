// What the processor offers, asked once by the code that picks a path.
#pragma once

#include <cstdint>

#if defined(__x86_64__) || defined(_M_X64)
#define MONDREL_X86_SIMD 1
// AVX2 present and its registers saved by the system.
bool ProcessorHasAvx2();
// AVX2 and the half-float converter F16C.
bool ProcessorHasF16c();
#endif

// Bytes in the largest data or unified cache the processor reports through
// its cache-parameter leaves (Intel's leaf 4, AMD's 0x8000001D, else AMD's
// older 0x80000006); 0 when it reports none or is not x86. Used to choose
// how a frame is written.
int64_t LastLevelCacheBytes();

// The same from AMD's older leaf 0x80000006 (its ECX and EDX), read when
// the topology leaf is hidden: the larger of L2 and L3, with L3 taken as
// one core complex's share of the package.
int64_t CacheBytesOfAmdLegacyLeaf(uint32_t ecx, uint32_t edx);
