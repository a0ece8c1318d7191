// What the processor offers, asked once by the code that picks a path.
#pragma once

#include <cstdint>

#if defined(__x86_64__) || defined(_M_X64)
#define MONDREL_X86_SIMD 1
// AVX2 present and its registers saved by the system.
bool ProcessorHasAvx2();
#endif

// Bytes in the largest data or unified cache the processor reports through
// its cache-parameter leaves (Intel's leaf 4, AMD's 0x8000001D); 0 when it
// reports none or is not x86. Used to choose how a frame is written.
int64_t LastLevelCacheBytes();
