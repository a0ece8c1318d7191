// The size of the processor's last-level cache, for choosing how a frame
// is written.
#pragma once

#include <cstdint>

// Bytes in the largest data or unified cache the processor reports through
// its cache-parameter leaves (Intel's leaf 4, AMD's 0x8000001D); 0 when it
// reports none or is not x86.
int64_t LastLevelCacheBytes();
