// Whole files held in memory: bytes that are not zeroed when the buffer
// grows, since whoever fills it writes every one of them, and zeroing a
// frame's worth first costs as much again.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

template <typename T>
struct UninitializedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  UninitializedAllocator() = default;
  template <typename U>
  UninitializedAllocator(const UninitializedAllocator<U>&) {}
  template <typename U>
  void construct(U* place) noexcept {
    ::new (static_cast<void*>(place)) U;
  }
  template <typename U, typename... Arguments>
  void construct(U* place, Arguments&&... arguments) {
    ::new (static_cast<void*>(place)) U(std::forward<Arguments>(arguments)...);
  }
};
using FileBytes = std::vector<uint8_t, UninitializedAllocator<uint8_t>>;
