// The handles this module has given out and not yet taken back. A host that
// closes a handle twice, or passes a pointer it never got from open, must
// find the entry answering as for a null handle, not a freed record; so the
// entries look a pointer up here, by address only, before touching it.
#pragma once

#include <cstdint>

// At most this many handles are open at once; an open past it is refused.
constexpr int32_t kMaxLiveHandles = 16384;

// Enters a fully built handle. False when the registry is full.
bool RegisterHandle(const void* handle);

// True for a handle that is registered. Never dereferences `handle`.
bool IsLiveHandle(const void* handle);

// Takes a handle out. True only for the one call that removed it, so that
// of two closes of the same handle only one releases it.
bool UnregisterHandle(const void* handle);

// Closed records are kept, their contents released, for this many later
// closes before they go back to the heap: otherwise the next open may get
// a closed handle's address, and a host's stale close or read of the old
// handle would reach the new one.
constexpr int32_t kClosedHandlesKept = 64;

// Keeps `record` and hands back the one it displaces (null while the ring
// fills up), which the caller then frees.
void* KeepClosedRecord(void* record);
