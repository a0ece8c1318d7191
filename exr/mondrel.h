// The parsed image record of one uncompressed scanline OpenEXR file, and the
// operations that fill it from the file and decode its frame.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

struct Box2i {
  int32_t xMin;
  int32_t yMin;
  int32_t xMax;
  int32_t yMax;
};

// Results of ParseHeader: a positive channel count, or one of these.
enum ParseStatus : int32_t {
  kParseBadMagic = -1,
  kParseNameTooLong = -2,
  kParseTypeNameTooLong = -3,
  kParseWrongAttributeType = -5,
  kParseTooFewChannels = -9,  // also a colour missing or repeated among three or four
  kParseChannelNameTooLong = -11,
  kParseUnknownChannel = -12,
  kParseCompressed = -13,
  kParseVNotFirst = -14,
  kParseNegativeAttributeSize = -15,
  kParseTooManyChannels = -16,
  kParseNotFlatScanline = -17,  // tiled, deep or multi-part, by the version word
};

// Bits of the version word that announce a layout other than one part of
// flat scanlines.
constexpr uint32_t kVersionTiled = 0x200;
constexpr uint32_t kVersionDeep = 0x800;
constexpr uint32_t kVersionMultiPart = 0x1000;

// Results of ReadLineOffsets other than the height.
enum LineOffsetStatus : int32_t {
  kLineOffsetsNoFile = -1,
  kLineOffsetsIncomplete = -2,
};

constexpr int32_t kHeaderBufferSize = 16384;
constexpr int32_t kMaxChannels = 4;
constexpr int32_t kVSlot = 4;  // channelSlot of a V channel during the parse
constexpr uint16_t kHalfOne = 0x3C00;

// The process-wide buffer that receives the first bytes of every file being
// opened or read; ParseHeader works on it in place.
extern uint8_t HeaderBuffer[kHeaderBufferSize];

class Mondrel {
 public:
  Mondrel();
  virtual ~Mondrel();

  // Parses the first `byteCount` bytes of HeaderBuffer. Returns the channel
  // count (1, 3 or 4) or a negative ParseStatus. Never reads past byteCount.
  int32_t ParseHeader(int32_t byteCount);

  // Loads `height` table entries from `headerEnd` of the open file. Returns
  // the height, or a negative LineOffsetStatus.
  int32_t ReadLineOffsets(platform::FileHandle file);

  // Decodes every chunk of the table into `frame` (width x height x 8 bytes
  // of half RGBA). Returns that byte count, or 0 on any failure.
  // `frameRefilled`: the caller's previous read filled this same buffer, so
  // much of it may still be cached; it changes only how rows are stored.
  int32_t DecodeFrame(platform::FileHandle file, uint8_t* frame, bool frameRefilled = false);

  Box2i dataWindow;
  Box2i displayWindow;
  std::vector<uint64_t> lineOffsets;
  int32_t width;
  int32_t height;
  int32_t compression;
  int32_t lineOrder;
  int32_t channelCount;
  int32_t pixelType[kMaxChannels];
  int32_t channelSlot[kMaxChannels];
  int32_t version;
  int32_t headerEnd;
  uint8_t* scratch;
  int32_t scratchSize;
  // True only once ReadLineOffsets has read all `height` entries; a table
  // that is partly read never decodes.
  bool lineOffsetsComplete;
  // Set when ReadLineOffsets could not obtain storage for the table.
  bool lineOffsetsOutOfMemory;

 private:
  Mondrel(const Mondrel&) = delete;
  Mondrel& operator=(const Mondrel&) = delete;
};

// Frame byte count width x height x 8 when it is a valid frame size (both
// sides at least 1, below 2^31 bytes), otherwise -1.
int64_t FrameByteCount(int32_t width, int32_t height);
