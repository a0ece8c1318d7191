// Headers of OpenEXR files as the tool reads them: every attribute with its
// name, type, declared size, place and value bytes, walked either as the
// format says (each value as long as its size) or as the plug-in's parser
// reads (a channel list runs to its own end), and the values the tool needs
// decoded from those bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace exrfile {

// How a walk over the attributes ended.
enum class WalkEnd {
  kHeaderEnd,        // the empty name that closes the header
  kBytesEnded,       // the bytes ended between two attributes
  kCutOff,           // the bytes ended inside an attribute's name, type or size
  kCutOffInList,     // ... inside the channel list
  kSizeRunsPast,     // an attribute's declared size runs past the bytes
  kNameTooLong,      // no zero byte within 256 bytes where a name should be
  kNameTooLongInList,  // ... where a channel's name should be
  kNegativeSize,
};

enum class WalkRule {
  kAsTheFormatSays,   // every value, a channel list's too, is as long as its size
  kAsThePlugInReads,  // a channel list runs to its own end; a stored value needs all its bytes
};

struct ChannelEntry {
  std::string name;
  int32_t pixelType = 0;  // 0 UINT, 1 HALF, 2 FLOAT
  uint8_t linear = 0;
  int32_t xSampling = 1;
  int32_t ySampling = 1;
};

struct Attribute {
  std::string name;
  std::string type;
  int32_t size = 0;          // as declared
  int64_t offset = 0;        // of its name
  std::vector<uint8_t> value;  // the declared bytes, as far as they were there
  std::vector<ChannelEntry> channels;  // for a "chlist": its entries in order
};

struct HeaderWalk {
  std::vector<Attribute> attributes;  // in file order, the last one where the walk ended
  WalkEnd end = WalkEnd::kBytesEnded;
  int64_t endOffset = 0;  // past the terminating zero for kHeaderEnd, else where the fault begins
};

// Walks attributes from `start` within the first `count` bytes.
HeaderWalk WalkHeader(const uint8_t* bytes, int64_t count, int64_t start, WalkRule rule);

// Byte size of a value of the standard fixed-size types, or -1.
int32_t ImpliedSize(const std::string& type);

struct Box {
  int32_t xMin = 0;
  int32_t yMin = 0;
  int32_t xMax = -1;
  int32_t yMax = -1;
};

// Values decoded from an attribute's bytes; false when the bytes do not hold
// one (too few, or a channel list that does not end within them).
bool DecodeBox(const Attribute& attribute, Box* box);
bool DecodeByte(const Attribute& attribute, uint8_t* value);
bool DecodeInt(const Attribute& attribute, int32_t* value);
bool DecodeString(const Attribute& attribute, std::string* value);
bool DecodeChannels(const uint8_t* bytes, int64_t count, std::vector<ChannelEntry>* channels, int64_t* end);

// The last attribute of that name, or null.
const Attribute* FindAttribute(const std::vector<Attribute>& attributes, const std::string& name);

}  // namespace exrfile
