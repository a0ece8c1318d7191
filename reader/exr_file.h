// Whole OpenEXR files as the tool reads them: the version word, the header
// of every part with its layout, and every part's chunk table. Nothing here
// reads past the bytes it is given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reader/exr_header.h"

namespace exrfile {

constexpr uint32_t kTiledFlag = 0x200;
constexpr uint32_t kLongNamesFlag = 0x400;
constexpr uint32_t kDeepFlag = 0x800;
constexpr uint32_t kMultiPartFlag = 0x1000;

enum Compression : int32_t {
  kNone = 0, kRle = 1, kZips = 2, kZip = 3, kPiz = 4, kPxr24 = 5, kB44 = 6, kB44a = 7, kDwaa = 8, kDwab = 9,
};

enum LevelMode : int32_t { kOneLevel = 0, kMipmap = 1, kRipmap = 2 };

struct Part {
  std::vector<Attribute> attributes;  // in file order
  std::string name;                   // the "name" attribute, empty in a single-part file
  Box dataWindow;
  int32_t compression = 0;
  int32_t lineOrder = 0;
  std::vector<ChannelEntry> channels;
  bool tiled = false;
  bool deep = false;
  uint32_t tileWidth = 0;
  uint32_t tileHeight = 0;
  int32_t levelMode = kOneLevel;
  bool roundUp = false;
  int64_t width = 0;   // of the data window
  int64_t height = 0;
  std::vector<uint64_t> offsets;  // the chunk table
};

struct File {
  uint32_t version = 0;
  std::vector<Part> parts;
  int64_t size = 0;         // bytes in the file
  int64_t tablesEnd = 0;    // where the chunks may begin
};

// Reads the headers and chunk tables of a file held whole in `bytes`. False
// with `error` saying what is wrong, in words for a person.
bool ReadFile(const uint8_t* bytes, int64_t size, File* file, std::string* error);

// Lines per scanline chunk for a compression; 0 for a value unknown.
int32_t LinesPerChunk(int32_t compression);

// Size of a dimension at a level: rounded down or up, at least 1.
int64_t LevelSize(int64_t size, int32_t level, bool roundUp);

// Tiles across and down level 0 of a tiled part.
int64_t TilesAcross(const Part& part);
int64_t TilesDown(const Part& part);

// The chunks of the full-resolution level: its scanline chunks, or its
// tiles; a count beyond any table a file can hold is cut to 2^48.
int64_t LevelZeroChunks(const Part& part);

}  // namespace exrfile
