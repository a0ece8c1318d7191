// Counters and injected failures of the POSIX platform twin. The native
// tests use them to prove what the core asks of the system (how many
// existence tests a probe makes, that every block is released) and to make
// a chosen allocation, open or read fail. The Win32 layer has none of this.
// Counters are atomic: reads of different handles, and the tool's workers,
// may run side by side.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

struct Instrumentation {
  std::atomic<int64_t> liveBlocks{0};        // AllocateZeroed minus FreeZeroed
  std::atomic<int64_t> allocations{0};       // AllocateZeroed calls so far
  std::atomic<int64_t> opens{0};             // OpenFileForReading calls so far
  std::atomic<int64_t> openFiles{0};         // opened minus closed
  std::atomic<int64_t> reads{0};             // ReadFromFile calls so far
  std::atomic<int64_t> existenceTests{0};    // PathExists calls so far
  std::atomic<int64_t> systemReads{0};       // read and pread calls the read loop made
  std::atomic<int64_t> injectedFailures{0};  // armed failures that fired
  // 1-based index of the call to fail, counted from the last reset; 0: never.
  std::atomic<int64_t> failAllocation{0};
  std::atomic<int64_t> failOpen{0};
  std::atomic<int64_t> failRead{0};
  // 1-based index of the system read to deliver fewer bytes than asked, or
  // to be interrupted (EINTR) before delivering any; 0: never.
  std::atomic<int64_t> shortSystemRead{0};
  std::atomic<int64_t> interruptSystemRead{0};
};

Instrumentation& GetInstrumentation();
void ResetInstrumentation();

}  // namespace platform
