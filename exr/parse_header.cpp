// Reads the single-part OpenEXR header from HeaderBuffer into a Mondrel
// record and decides whether the file can be decoded: uncompressed, with
// R, G, B (and A) channels, or a lone V channel.
#include "exr/byte_reader.h"
#include "exr/mondrel.h"

namespace {

const uint8_t kMagic[4] = {0x76, 0x2F, 0x31, 0x01};

// What one step of the attribute loop decided.
enum class Step { kContinue, kEndOfBytes, kEndOfHeader };

struct Attribute {
  const uint8_t* name;
  int32_t nameLength;
  const uint8_t* type;
  int32_t typeLength;
};

// A value of `length` bytes from the value's start, or null when the bytes
// delivered end first (which ends the loop as reaching the byte count does).
const uint8_t* ValueBytes(const ByteReader& reader, int64_t length) {
  return BytesLeft(reader) >= length ? reader.bytes + reader.position : nullptr;
}

Box2i LoadBox(const uint8_t* value) {
  return Box2i{static_cast<int32_t>(LoadU32LE(value)), static_cast<int32_t>(LoadU32LE(value + 4)),
               static_cast<int32_t>(LoadU32LE(value + 8)), static_cast<int32_t>(LoadU32LE(value + 12))};
}

int32_t ChannelSlotOf(const uint8_t* name, int32_t length) {
  if (length != 1) return -1;
  switch (name[0]) {
    case 'R': return 0;
    case 'G': return 1;
    case 'B': return 2;
    case 'A': return 3;
    case 'V': return kVSlot;
    default: return -1;
  }
}

// The value of "channels": entries in file order up to the empty name.
// Returns a negative status, or 0 with `step` telling how the list ended.
int32_t ParseChannelList(Mondrel& image, ByteReader& reader, Step* step) {
  int32_t index = 0;
  *step = Step::kEndOfBytes;
  while (BytesLeft(reader) > 0) {
    const uint8_t* name = nullptr;
    int32_t nameLength = 0;
    const NameResult result = ReadName(reader, &name, &nameLength);
    if (result == NameResult::kTooLong) return kParseChannelNameTooLong;
    if (result == NameResult::kCutOff) return 0;
    if (nameLength == 0) {
      *step = Step::kContinue;
      return 0;
    }
    int32_t type = 0;
    // Pixel type, then the linear flag, three reserved bytes and the two
    // sampling rates, none of which matter here.
    if (!ReadInt32(reader, &type) || !Skip(reader, 12)) return 0;
    const int32_t slot = ChannelSlotOf(name, nameLength);
    if (slot < 0) return kParseUnknownChannel;
    if (index >= kMaxChannels) return kParseTooManyChannels;
    image.pixelType[index] = type;
    image.channelSlot[index] = slot;
    ++index;
  }
  return 0;
}

// Applies one recognised attribute. Returns a negative status, or 0 with
// `step` set.
int32_t ApplyAttribute(Mondrel& image, const Attribute& attribute, ByteReader& reader, Step* step) {
  struct Known {
    const char* name;
    const char* type;
  };
  static const Known kKnown[] = {
      {"compression", "compression"},     {"dataWindow", "box2i"},
      {"displayWindow", "box2i"},         {"lineOrder", "lineOrder"},
      {"pixelAspectRatio", "float"},      {"screenWindowCenter", "v2f"},
      {"screenWindowWidth", "float"},     {"channels", "chlist"},
  };
  *step = Step::kContinue;
  const Known* known = nullptr;
  for (const Known& candidate : kKnown) {
    if (NameIs(attribute.name, attribute.nameLength, candidate.name)) known = &candidate;
  }
  if (known == nullptr) return 0;
  if (!NameIs(attribute.type, attribute.typeLength, known->type)) return kParseWrongAttributeType;

  if (NameIs(attribute.name, attribute.nameLength, "channels")) {
    return ParseChannelList(image, reader, step);
  }
  const bool isByte = NameIs(attribute.name, attribute.nameLength, "compression") ||
                      NameIs(attribute.name, attribute.nameLength, "lineOrder");
  const bool isBox = NameIs(attribute.name, attribute.nameLength, "dataWindow") ||
                     NameIs(attribute.name, attribute.nameLength, "displayWindow");
  if (!isByte && !isBox) return 0;  // type name checked, nothing stored
  const uint8_t* value = ValueBytes(reader, isByte ? 1 : 16);
  if (value == nullptr) {
    *step = Step::kEndOfBytes;
    return 0;
  }
  if (NameIs(attribute.name, attribute.nameLength, "compression")) image.compression = value[0];
  if (NameIs(attribute.name, attribute.nameLength, "lineOrder")) image.lineOrder = value[0];
  if (NameIs(attribute.name, attribute.nameLength, "dataWindow")) image.dataWindow = LoadBox(value);
  if (NameIs(attribute.name, attribute.nameLength, "displayWindow")) image.displayWindow = LoadBox(value);
  return 0;
}

// One pass of the attribute loop.
int32_t ParseAttribute(Mondrel& image, ByteReader& reader, Step* step) {
  Attribute attribute{};
  *step = Step::kEndOfBytes;
  NameResult result = ReadName(reader, &attribute.name, &attribute.nameLength);
  if (result == NameResult::kTooLong) return kParseNameTooLong;
  if (result == NameResult::kCutOff) return 0;
  if (attribute.nameLength == 0) {
    image.headerEnd = static_cast<int32_t>(reader.position);
    *step = Step::kEndOfHeader;
    return 0;
  }
  result = ReadName(reader, &attribute.type, &attribute.typeLength);
  if (result == NameResult::kTooLong) return kParseTypeNameTooLong;
  if (result == NameResult::kCutOff) return 0;
  int32_t size = 0;
  if (!ReadInt32(reader, &size)) return 0;

  const int64_t valueStart = reader.position;
  const int32_t status = ApplyAttribute(image, attribute, reader, step);
  if (status < 0 || *step != Step::kContinue) return status;
  if (!NameIs(attribute.name, attribute.nameLength, "channels")) {
    // The list finds its own end; every other value is skipped by its size,
    // which must not move the cursor backwards.
    if (size < 0) return kParseNegativeAttributeSize;
    reader.position = valueStart + size;
  }
  if (BytesLeft(reader) == 0) *step = Step::kEndOfBytes;
  return 0;
}

// Derives the channel count from the stored slots: a V first stands alone;
// otherwise the entries must be exactly R, G and B, or R, G, B and A, in any
// order. A colour missing or repeated would decode as a wrong picture.
int32_t CountChannels(Mondrel& image) {
  int32_t count = kMaxChannels;
  for (int32_t k = 0; k < kMaxChannels; ++k) {
    if (image.channelSlot[k] == kVSlot) {
      if (k > 0) return kParseVNotFirst;
      image.channelSlot[0] = 0;
      return 1;
    }
    if (image.channelSlot[k] < 0) {
      if (k != 3) return kParseTooFewChannels;
      count = 3;
      break;
    }
  }
  uint32_t seen = 0;
  for (int32_t k = 0; k < count; ++k) seen |= 1u << image.channelSlot[k];
  return seen == (1u << count) - 1 ? count : kParseTooFewChannels;
}

}  // namespace

int32_t Mondrel::ParseHeader(int32_t byteCount) {
  const int64_t count = byteCount < 0 ? 0 : (byteCount > kHeaderBufferSize ? kHeaderBufferSize : byteCount);
  if (count < 4 || std::memcmp(HeaderBuffer, kMagic, sizeof kMagic) != 0) return kParseBadMagic;
  if (count >= 8) version = static_cast<int32_t>(LoadU32LE(HeaderBuffer + 4));

  ByteReader reader{HeaderBuffer, count, 8};
  Step step = BytesLeft(reader) > 0 ? Step::kContinue : Step::kEndOfBytes;
  while (step == Step::kContinue) {
    const int32_t status = ParseAttribute(*this, reader, &step);
    if (status < 0) return status;
  }

  const int32_t channels = CountChannels(*this);
  if (channels < 0) return channels;
  channelCount = channels;
  // Unchecked 32-bit window arithmetic, wrapping as the format's int32 does;
  // callers refuse sizes below 1 and frames of 2^31 bytes or more.
  width = static_cast<int32_t>(static_cast<uint32_t>(dataWindow.xMax) -
                               static_cast<uint32_t>(dataWindow.xMin) + 1u);
  height = static_cast<int32_t>(static_cast<uint32_t>(dataWindow.yMax) -
                                static_cast<uint32_t>(dataWindow.yMin) + 1u);
  if (compression != 0) return kParseCompressed;
  // Tiles, deep samples and several parts keep their pixels in chunks that
  // are not scanlines of this one image: read as scanlines they would give
  // a wrong picture reported as a frame.
  const uint32_t layoutFlags = kVersionTiled | kVersionDeep | kVersionMultiPart;
  if (count >= 8 && (static_cast<uint32_t>(version) & layoutFlags) != 0) return kParseNotFlatScanline;
  return channelCount;
}
