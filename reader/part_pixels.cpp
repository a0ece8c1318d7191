#include "reader/part_pixels.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "exr/byte_reader.h"
#include "reader/decompress.h"

namespace exrfile {

namespace {

int64_t FloorDivide(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

}  // namespace

int64_t SamplesIn(int64_t first, int64_t last, int32_t sampling) {
  return FloorDivide(last, sampling) - FloorDivide(first - 1, sampling);
}

bool HoldsLine(int64_t y, int32_t sampling) { return FloorDivide(y, sampling) * sampling == y; }

namespace {

using Region = ChunkRegion;

int64_t PackedBytes(const Part& part, const Region& region) {
  int64_t bytes = 0;
  for (const ChannelEntry& channel : part.channels) {
    bytes += SamplesIn(region.y0, region.y1, channel.ySampling) * SamplesIn(region.x0, region.x1, channel.xSampling) *
             SampleBytes(channel.pixelType);
  }
  return bytes;
}

bool Refuse(std::string* error, const std::string& text) {
  *error = text;
  return false;
}

// Copies the chunk's lines of the wanted channels to their targets.
void Scatter(const Part& part, const Region& region, const uint8_t* data, const std::vector<int32_t>& targetOf,
             const std::vector<PlaneTarget>& targets) {
  for (int64_t y = region.y0; y <= region.y1; ++y) {
    for (size_t c = 0; c < part.channels.size(); ++c) {
      const ChannelEntry& channel = part.channels[c];
      if (!HoldsLine(y, channel.ySampling)) continue;
      const int32_t bytes = SampleBytes(channel.pixelType);
      const int64_t length = SamplesIn(region.x0, region.x1, channel.xSampling) * bytes;
      if (targetOf[c] >= 0) {
        const PlaneTarget& target = targets[static_cast<size_t>(targetOf[c])];
        uint8_t* row = target.origin + (y - part.dataWindow.yMin) * target.stride;
        std::memcpy(row + (region.x0 - part.dataWindow.xMin) * bytes, data, static_cast<size_t>(length));
      }
      data += length;
    }
  }
}


// Where chunk `i` of the part lies and what it covers; false with `error`
// when its table entry, its header or its length do not fit the file.
struct Chunk {
  Region region;
  std::string name;
  const uint8_t* data = nullptr;
  int32_t dataSize = 0;
};

// How the chunks of one part are found and what they cover.
struct ChunkLayout {
  const uint8_t* bytes;
  const File* file;
  const Part* part;
  size_t partIndex;
  bool numbered;    // chunks start with their part's number
  int64_t prefix;   // bytes before the data
  int64_t lines;    // of a scanline chunk
  int64_t across;   // tiles across level 0
  int64_t chunks;   // of level 0
};

ChunkLayout LayoutOf(const uint8_t* bytes, const File& file, size_t partIndex) {
  const Part& part = file.parts[partIndex];
  ChunkLayout layout{bytes, &file, &part, partIndex, (file.version & kMultiPartFlag) != 0, 0, 0, 0, 0};
  layout.prefix = (layout.numbered ? 4 : 0) + (part.tiled ? 16 : 4) + 4;
  layout.lines = LinesPerChunk(part.compression);
  layout.across = part.tiled ? TilesAcross(part) : 1;
  layout.chunks = LevelZeroChunks(part);
  return layout;
}

// Where chunk `i` lies and what it covers; false with `error` when its table
// entry, its header or its length do not fit the file.
bool LocateChunk(const ChunkLayout& layout, int64_t i, Chunk* chunk, std::string* error) {
  const Part& part = *layout.part;
  const Box& window = part.dataWindow;
  Region& region = chunk->region;
  if (part.tiled) {
    region.x0 = window.xMin + (i % layout.across) * part.tileWidth;
    region.y0 = window.yMin + (i / layout.across) * part.tileHeight;
    region.x1 = std::min<int64_t>(region.x0 + part.tileWidth - 1, window.xMax);
    region.y1 = std::min<int64_t>(region.y0 + part.tileHeight - 1, window.yMax);
    chunk->name = "tile (" + std::to_string(i % layout.across) + ", " + std::to_string(i / layout.across) + ")";
  } else {
    region.x0 = window.xMin;
    region.x1 = window.xMax;
    region.y0 = window.yMin + i * layout.lines;
    region.y1 = std::min<int64_t>(region.y0 + layout.lines - 1, window.yMax);
    chunk->name = "chunk " + std::to_string(i) + " (line" +
                  (region.y0 == region.y1 ? " " + std::to_string(region.y0)
                                          : "s " + std::to_string(region.y0) + " to " + std::to_string(region.y1)) +
                  ")";
  }
  const std::string& name = chunk->name;
  const int64_t size = layout.file->size;
  const uint64_t offset = part.offsets[static_cast<size_t>(i)];
  if (offset == 0) return Refuse(error, name + " is missing: its table entry is 0 (the file was not written to its end)");
  if (offset < static_cast<uint64_t>(layout.file->tablesEnd) || offset > static_cast<uint64_t>(size - layout.prefix)) {
    return Refuse(error, name + " lies outside the file: its table entry is " + std::to_string(offset));
  }
  ByteReader reader{layout.bytes, size, static_cast<int64_t>(offset)};
  int32_t fields[6] = {0, 0, 0, 0, 0, 0};
  for (int64_t f = 0; f < layout.prefix / 4; ++f) ReadInt32(reader, &fields[f]);
  const int32_t* field = fields;
  if (layout.numbered && *field++ != static_cast<int32_t>(layout.partIndex)) {
    return Refuse(error, name + " belongs to another part");
  }
  const bool placed = part.tiled ? field[0] == i % layout.across && field[1] == i / layout.across && field[2] == 0 &&
                                       field[3] == 0
                                 : field[0] == region.y0;
  if (!placed) return Refuse(error, name + " names another place in the picture");
  chunk->dataSize = field[part.tiled ? 4 : 1];
  if (chunk->dataSize < 0 || chunk->dataSize > BytesLeft(reader)) {
    return Refuse(error, name + " is cut off: it declares " + std::to_string(chunk->dataSize) +
                             " bytes, the file holds " + std::to_string(BytesLeft(reader)) + " after it");
  }
  chunk->data = layout.bytes + reader.position;
  return true;
}

}  // namespace

int32_t SampleBytes(int32_t pixelType) { return pixelType == 1 ? 2 : 4; }

bool ChunksLieInTheFile(const uint8_t* bytes, const File& file, size_t partIndex, std::string* error) {
  const ChunkLayout layout = LayoutOf(bytes, file, partIndex);
  if (static_cast<int64_t>(file.parts[partIndex].offsets.size()) < layout.chunks) {
    return Refuse(error, "the chunk table is too short");
  }
  Chunk chunk;
  for (int64_t i = 0; i < layout.chunks; ++i) {
    if (!LocateChunk(layout, i, &chunk, error)) return false;
  }
  return true;
}

bool ReadPixels(const uint8_t* bytes, const File& file, size_t partIndex, const std::vector<PlaneTarget>& targets,
                std::string* error) try {
  const Part& part = file.parts[partIndex];
  if (!ReadsCompression(part.compression)) return Refuse(error, "its compression is not one read here");
  const ChunkLayout layout = LayoutOf(bytes, file, partIndex);
  if (static_cast<int64_t>(part.offsets.size()) < layout.chunks) return Refuse(error, "the chunk table is too short");
  std::vector<int32_t> targetOf(part.channels.size(), -1);
  for (size_t t = 0; t < targets.size(); ++t) {
    const ChannelEntry& entry = part.channels[static_cast<size_t>(targets[t].channel)];
    if (entry.xSampling != 1 || entry.ySampling != 1) return Refuse(error, "channel \"" + entry.name + "\" is subsampled");
    targetOf[static_cast<size_t>(targets[t].channel)] = static_cast<int32_t>(t);
  }
  Chunk chunk;
  std::vector<uint8_t> restored;
  for (int64_t i = 0; i < layout.chunks; ++i) {
    if (!LocateChunk(layout, i, &chunk, error)) return false;
    const int64_t expected = PackedBytes(part, chunk.region);
    const uint8_t* data = chunk.data;
    // A chunk that would not pack smaller is stored as it is.
    if (chunk.dataSize != expected) {
      std::string why = "it holds " + std::to_string(chunk.dataSize) + " bytes where its pixels take " +
                        std::to_string(expected);
      if (chunk.dataSize > expected || part.compression == kNone) return Refuse(error, chunk.name + " is damaged: " + why);
      restored.resize(static_cast<size_t>(expected));
      if (!Decompress(part.compression, part.channels, chunk.region, data, chunk.dataSize, restored.data(), expected,
                      &why)) {
        return Refuse(error, chunk.name + " is damaged: " + why);
      }
      data = restored.data();
    }
    Scatter(part, chunk.region, data, targetOf, targets);
  }
  return true;
} catch (const std::bad_alloc&) {
  return Refuse(error, "there is not enough memory for its pixels");
}

}  // namespace exrfile
