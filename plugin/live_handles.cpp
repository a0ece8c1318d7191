#include "plugin/live_handles.h"

#include <atomic>

namespace {

// A flat table of slots, scanned up to the highest slot ever used. Lookups
// only load; opens claim a free slot and closes release theirs with one
// compare-and-swap each, so no lock and no allocation is ever needed.
std::atomic<const void*> Slots[kMaxLiveHandles];
std::atomic<int32_t> SlotsInUse{0};  // slots below this may hold a handle

std::atomic<void*> ClosedRecords[kClosedHandlesKept];
std::atomic<uint32_t> ClosedCount{0};

}  // namespace

bool RegisterHandle(const void* handle) {
  if (handle == nullptr) return false;
  for (int32_t i = 0; i < kMaxLiveHandles; ++i) {
    const void* expected = nullptr;
    if (Slots[i].load(std::memory_order_relaxed) != nullptr) continue;
    if (!Slots[i].compare_exchange_strong(expected, handle, std::memory_order_acq_rel)) continue;
    int32_t inUse = SlotsInUse.load(std::memory_order_relaxed);
    while (inUse <= i && !SlotsInUse.compare_exchange_weak(inUse, i + 1, std::memory_order_release)) {
    }
    return true;
  }
  return false;
}

bool IsLiveHandle(const void* handle) {
  if (handle == nullptr) return false;
  const int32_t inUse = SlotsInUse.load(std::memory_order_acquire);
  for (int32_t i = 0; i < inUse; ++i) {
    if (Slots[i].load(std::memory_order_acquire) == handle) return true;
  }
  return false;
}

bool UnregisterHandle(const void* handle) {
  if (handle == nullptr) return false;
  const int32_t inUse = SlotsInUse.load(std::memory_order_acquire);
  for (int32_t i = 0; i < inUse; ++i) {
    const void* expected = handle;
    if (Slots[i].compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel)) return true;
  }
  return false;
}

void* KeepClosedRecord(void* record) {
  const uint32_t slot = ClosedCount.fetch_add(1, std::memory_order_relaxed) % kClosedHandlesKept;
  return ClosedRecords[slot].exchange(record, std::memory_order_acq_rel);
}
