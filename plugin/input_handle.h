// The record behind every handle the host holds.
#pragma once

#include <cstdint>

#include "exr/mondrel.h"
#include "platform/platform.h"
#include "sequence/sequence_name.h"

constexpr int32_t kBitmapHeaderSize = 40;
constexpr int32_t kScratchSize = 0x20020;  // 131,104 bytes: the whole chunks of one read
constexpr int32_t kSingleImageFrameCount = 120;

struct InputHandle {
  int32_t frameCount;  // below 2: a single image
  int32_t bitmapHeaderSize;
  uint8_t* bitmapHeader;
  int32_t scratchSize;
  uint8_t* scratch;
  platform::FileHandle file;
  Mondrel image;
  FrameNaming* naming;  // a sequence's own naming, taken at open; null for a single image
  const void* lastFrame;  // the buffer the previous read filled
};
