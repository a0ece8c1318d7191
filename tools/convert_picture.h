// One file of `mondrel convert`: the picture found in an OpenEXR file of
// any layout the reader takes, written again as an uncompressed single-part
// scanline file that the plug-in opens.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "reader/exr_file.h"

// Bytes that are not zeroed when the buffer grows: the copy writes every
// one of them, and zeroing a frame's worth first costs as much again.
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

struct ConvertRequest {
  std::string layer;  // empty: the plain R, G, B (A), else V or Y
  std::string part;   // empty: the first part holding a picture; else an index or a name
};

// What was made of one file, for the report.
struct PictureCopy {
  std::string refusal;  // empty when `bytes` holds the copy
  std::string part;     // which part was taken, when the file has several
  std::vector<std::string> channels;          // taken, by their names in the source
  std::vector<std::string> droppedChannels;   // of the part taken
  std::vector<std::string> droppedAttributes;
  int32_t width = 0;
  int32_t height = 0;
  FileBytes bytes;  // the whole output file
};

// Makes the copy of the file whose bytes are `source`.
PictureCopy CopyPicture(const uint8_t* source, int64_t size, const ConvertRequest& request);

// The output's header must end within the bytes the plug-in reads of it.
constexpr int64_t kPlugInHeaderBytes = 16384;
