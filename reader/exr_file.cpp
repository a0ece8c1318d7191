#include "reader/exr_file.h"

#include "exr/byte_reader.h"

namespace exrfile {

namespace {

const uint8_t kMagic[4] = {0x76, 0x2F, 0x31, 0x01};
constexpr int32_t kMaxParts = 10000;
// Far more than any renderer writes, and few enough that no chunk's
// channels can keep the reader busy for long.
constexpr size_t kMaxChannels = 4096;

int32_t RoundedLog2(int64_t value, bool up) {
  int32_t log = 0;
  while ((int64_t{1} << (log + 1)) <= value) ++log;
  if (up && (int64_t{1} << log) < value) ++log;
  return log;
}

int64_t TilesAlong(int64_t size, int32_t level, bool roundUp, uint32_t tile) {
  return (LevelSize(size, level, roundUp) + tile - 1) / tile;
}

// Counts of tiles saturate here, far beyond any table a file can hold.
constexpr int64_t kChunkCountBound = int64_t{1} << 48;

int64_t TilesOfLevel(int64_t across, int64_t down) {
  return across != 0 && down > kChunkCountBound / across ? kChunkCountBound : across * down;
}

int64_t SaturatingSum(int64_t a, int64_t b) { return a > kChunkCountBound - b ? kChunkCountBound : a + b; }

// Chunks in the part's table, from its layout.
int64_t ChunksOf(const Part& part) {
  if (!part.tiled) {
    const int32_t lines = LinesPerChunk(part.compression);
    return lines > 0 ? (part.height + lines - 1) / lines : -1;
  }
  const int32_t xLevels = RoundedLog2(part.width, part.roundUp) + 1;
  const int32_t yLevels = RoundedLog2(part.height, part.roundUp) + 1;
  int64_t chunks = 0;
  if (part.levelMode == kOneLevel) {
    chunks = TilesOfLevel(TilesAlong(part.width, 0, false, part.tileWidth), TilesAlong(part.height, 0, false, part.tileHeight));
  } else if (part.levelMode == kMipmap) {
    const int32_t levels = xLevels > yLevels ? xLevels : yLevels;
    for (int32_t l = 0; l < levels; ++l) {
      chunks = SaturatingSum(chunks, TilesOfLevel(TilesAlong(part.width, l, part.roundUp, part.tileWidth),
                                                  TilesAlong(part.height, l, part.roundUp, part.tileHeight)));
    }
  } else if (part.levelMode == kRipmap) {
    for (int32_t ly = 0; ly < yLevels; ++ly) {
      for (int32_t lx = 0; lx < xLevels; ++lx) {
        chunks = SaturatingSum(chunks, TilesOfLevel(TilesAlong(part.width, lx, part.roundUp, part.tileWidth),
                                                    TilesAlong(part.height, ly, part.roundUp, part.tileHeight)));
      }
    }
  } else {
    return -1;
  }
  return chunks;
}

bool Fail(std::string* error, const std::string& what) {
  *error = what;
  return false;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// What the header's attributes say of the part's layout.
bool InterpretPart(uint32_t version, bool multiPart, Part* part, std::string* error) {
  const std::vector<Attribute>& attributes = part->attributes;
  for (const Attribute& attribute : attributes) {
    const int32_t implied = ImpliedSize(attribute.type);
    if (implied >= 0 && attribute.size != implied) {
      return Fail(error, "damaged header: " + Quoted(attribute.name) + " is a " + attribute.type + " of " +
                             std::to_string(implied) + " bytes but declares " + std::to_string(attribute.size));
    }
  }
  const Attribute* channels = FindAttribute(attributes, "channels");
  const Attribute* compression = FindAttribute(attributes, "compression");
  const Attribute* dataWindow = FindAttribute(attributes, "dataWindow");
  for (const auto& required : {std::make_pair(channels, "channels"), std::make_pair(compression, "compression"),
                               std::make_pair(dataWindow, "dataWindow")}) {
    if (required.first == nullptr) return Fail(error, std::string("damaged header: no \"") + required.second + "\" attribute");
  }
  int64_t listEnd = 0;
  if (channels->type != "chlist" ||
      !DecodeChannels(channels->value.data(), static_cast<int64_t>(channels->value.size()), &part->channels,
                      &listEnd) ||
      listEnd != channels->size) {
    return Fail(error, "damaged header: the channel list does not end where its size says");
  }
  uint8_t byte = 0;
  DecodeByte(*compression, &byte);
  part->compression = byte;
  if (const Attribute* lineOrder = FindAttribute(attributes, "lineOrder")) {
    DecodeByte(*lineOrder, &byte);
    part->lineOrder = byte;
  }
  DecodeBox(*dataWindow, &part->dataWindow);
  part->width = int64_t{part->dataWindow.xMax} - part->dataWindow.xMin + 1;
  part->height = int64_t{part->dataWindow.yMax} - part->dataWindow.yMin + 1;
  if (part->width < 1 || part->height < 1) return Fail(error, "the data window holds no pixels");
  if (const Attribute* name = FindAttribute(attributes, "name")) DecodeString(*name, &part->name);
  std::string type;
  if (const Attribute* typeAttribute = FindAttribute(attributes, "type")) DecodeString(*typeAttribute, &type);
  part->deep = type == "deepscanline" || type == "deeptile" || (!multiPart && (version & kDeepFlag) != 0);
  part->tiled = type == "tiledimage" || type == "deeptile" || (!multiPart && (version & kTiledFlag) != 0);
  if (part->channels.size() > kMaxChannels) {
    return Fail(error, "more than " + std::to_string(kMaxChannels) + " channels in a part");
  }
  for (const ChannelEntry& channel : part->channels) {
    if (channel.pixelType < 0 || channel.pixelType > 2) {
      return Fail(error, "damaged header: channel " + Quoted(channel.name) + " has pixel type " +
                             std::to_string(channel.pixelType) + ", not UINT, HALF or FLOAT");
    }
    if (channel.xSampling < 1 || channel.ySampling < 1) {
      return Fail(error, "damaged header: channel " + Quoted(channel.name) + " has a sampling rate below 1");
    }
  }
  if (part->tiled) {
    const Attribute* tiles = FindAttribute(attributes, "tiles");
    if (tiles == nullptr || tiles->value.size() < 9) return Fail(error, "damaged header: a tiled part without \"tiles\"");
    part->tileWidth = LoadU32LE(tiles->value.data());
    part->tileHeight = LoadU32LE(tiles->value.data() + 4);
    part->levelMode = tiles->value[8] & 0x0F;
    part->roundUp = (tiles->value[8] >> 4) != 0;
    if (part->tileWidth < 1 || part->tileHeight < 1 || part->tileWidth > (1u << 30) || part->tileHeight > (1u << 30) ||
        part->levelMode > kRipmap) {
      return Fail(error, "damaged header: the tile description is not one the format allows");
    }
  }
  return true;
}

}  // namespace

int32_t LinesPerChunk(int32_t compression) {
  static const int32_t kLines[] = {1, 1, 1, 16, 32, 16, 32, 32, 32, 256};
  return compression >= 0 && compression < 10 ? kLines[compression] : 0;
}

int64_t LevelSize(int64_t size, int32_t level, bool roundUp) {
  const int64_t scaled = roundUp ? (size + (int64_t{1} << level) - 1) >> level : size >> level;
  return scaled < 1 ? 1 : scaled;
}

int64_t TilesAcross(const Part& part) { return TilesAlong(part.width, 0, false, part.tileWidth); }
int64_t TilesDown(const Part& part) { return TilesAlong(part.height, 0, false, part.tileHeight); }

int64_t LevelZeroChunks(const Part& part) {
  if (part.tiled) return TilesOfLevel(TilesAcross(part), TilesDown(part));
  const int32_t lines = LinesPerChunk(part.compression);
  return lines > 0 ? (part.height + lines - 1) / lines : 0;
}

bool ReadFile(const uint8_t* bytes, int64_t size, File* file, std::string* error) {
  *file = File();
  file->size = size;
  if (size < 8 || std::memcmp(bytes, kMagic, 4) != 0) return Fail(error, "not an OpenEXR file");
  file->version = LoadU32LE(bytes + 4);
  if ((file->version & 0xFF) != 2) return Fail(error, "OpenEXR version " + std::to_string(file->version & 0xFF) + ", not 2");
  const bool multiPart = (file->version & kMultiPartFlag) != 0;
  int64_t position = 8;
  while (true) {
    if (multiPart && position < size && bytes[position] == 0) {
      ++position;  // the empty header that ends the list
      break;
    }
    const HeaderWalk walk = WalkHeader(bytes, size, position, WalkRule::kAsTheFormatSays);
    if (walk.end != WalkEnd::kHeaderEnd) {
      const int64_t at = walk.end == WalkEnd::kSizeRunsPast || walk.end == WalkEnd::kNegativeSize
                             ? walk.attributes.back().offset
                             : walk.endOffset;
      std::string what = walk.end == WalkEnd::kNameTooLong ? "a name longer than 255 characters"
                         : walk.end == WalkEnd::kNegativeSize ? "an attribute of negative size"
                         : walk.end == WalkEnd::kSizeRunsPast ? "attribute " + Quoted(walk.attributes.back().name) +
                                                                    " runs past the end of the file"
                                                              : "the file ends inside its header";
      return Fail(error, "damaged header: " + what + " (at byte " + std::to_string(at) + ")");
    }
    Part part;
    part.attributes = walk.attributes;
    if (!InterpretPart(file->version, multiPart, &part, error)) {
      if (multiPart) *error += " (part " + std::to_string(file->parts.size()) + ")";
      return false;
    }
    file->parts.push_back(std::move(part));
    position = walk.endOffset;
    if (!multiPart) break;
    if (file->parts.size() >= static_cast<size_t>(kMaxParts)) return Fail(error, "damaged header: too many parts");
  }
  if (file->parts.empty()) return Fail(error, "damaged header: a multi-part file without parts");
  for (size_t p = 0; p < file->parts.size(); ++p) {
    Part& part = file->parts[p];
    int64_t chunks = ChunksOf(part);
    if (const Attribute* chunkCount = FindAttribute(part.attributes, "chunkCount")) {
      int32_t declared = -1;
      DecodeInt(*chunkCount, &declared);
      if (declared < 0 || (chunks >= 0 && declared != chunks && !part.deep)) {
        return Fail(error, "damaged header: \"chunkCount\" is " + std::to_string(declared) + " where the layout has " +
                               std::to_string(chunks) + " chunks");
      }
      chunks = declared;
    } else if (multiPart) {
      return Fail(error, "damaged header: part " + std::to_string(p) + " has no \"chunkCount\"");
    }
    if (chunks < 0) {
      // An unknown compression still tells nothing of its chunks; later
      // parts cannot be found, but this one is refused for its method.
      if (file->parts.size() == 1) break;
      return Fail(error, "compression " + std::to_string(part.compression) + " unknown: the chunk table cannot be read");
    }
    if (chunks > (size - position) / 8) {
      return Fail(error, "the file ends inside the chunk table" +
                             (file->parts.size() > 1 ? " of part " + std::to_string(p) : std::string()));
    }
    part.offsets.resize(static_cast<size_t>(chunks));
    for (int64_t i = 0; i < chunks; ++i) part.offsets[static_cast<size_t>(i)] = LoadU64LE(bytes + position + 8 * i);
    position += 8 * chunks;
  }
  file->tablesEnd = position;
  return true;
}

}  // namespace exrfile
