#include "reader/exr_header.h"

#include "exr/byte_reader.h"

namespace exrfile {

namespace {

std::string Text(const uint8_t* bytes, int32_t length) { return std::string(reinterpret_cast<const char*>(bytes), length); }

// The parser takes its windows, compression and line order from their first
// bytes, whatever the size says, and stops where those are not all there.
bool PlugInStoresValue(const Attribute& attribute) {
  return (attribute.name == "compression" && attribute.type == "compression") ||
         (attribute.name == "lineOrder" && attribute.type == "lineOrder") ||
         ((attribute.name == "dataWindow" || attribute.name == "displayWindow") && attribute.type == "box2i");
}

enum class ListEnd { kEnded, kCutOff, kNameTooLong };

// Channel entries up to the empty name; `fault` is where a bad entry starts.
ListEnd ReadChannelList(ByteReader& reader, std::vector<ChannelEntry>* channels, int64_t* fault) {
  while (true) {
    *fault = reader.position;
    const uint8_t* name = nullptr;
    int32_t length = 0;
    const NameResult result = ReadName(reader, &name, &length);
    if (result == NameResult::kTooLong) return ListEnd::kNameTooLong;
    if (result == NameResult::kCutOff) return ListEnd::kCutOff;
    if (length == 0) return ListEnd::kEnded;
    ChannelEntry entry;
    entry.name = Text(name, length);
    if (!ReadInt32(reader, &entry.pixelType) || BytesLeft(reader) < 12) return ListEnd::kCutOff;
    entry.linear = reader.bytes[reader.position];
    reader.position += 4;  // the linear flag and three reserved bytes
    ReadInt32(reader, &entry.xSampling);
    ReadInt32(reader, &entry.ySampling);
    channels->push_back(entry);
  }
}

}  // namespace

HeaderWalk WalkHeader(const uint8_t* bytes, int64_t count, int64_t start, WalkRule rule) {
  HeaderWalk walk;
  ByteReader reader{bytes, count, start};
  const auto end = [&](WalkEnd how, int64_t offset) {
    walk.end = how;
    walk.endOffset = offset;
    return walk;
  };
  while (true) {
    const int64_t attributeStart = reader.position;
    if (BytesLeft(reader) == 0) return end(WalkEnd::kBytesEnded, attributeStart);
    const uint8_t* name = nullptr;
    const uint8_t* type = nullptr;
    int32_t nameLength = 0;
    int32_t typeLength = 0;
    NameResult result = ReadName(reader, &name, &nameLength);
    if (result != NameResult::kRead) {
      return end(result == NameResult::kTooLong ? WalkEnd::kNameTooLong : WalkEnd::kCutOff, attributeStart);
    }
    if (nameLength == 0) return end(WalkEnd::kHeaderEnd, reader.position);
    const int64_t typeStart = reader.position;
    result = ReadName(reader, &type, &typeLength);
    if (result != NameResult::kRead) {
      return end(result == NameResult::kTooLong ? WalkEnd::kNameTooLong : WalkEnd::kCutOff, typeStart);
    }
    walk.attributes.emplace_back();
    Attribute& attribute = walk.attributes.back();
    attribute.name = Text(name, nameLength);
    attribute.type = Text(type, typeLength);
    attribute.offset = attributeStart;
    if (!ReadInt32(reader, &attribute.size)) return end(WalkEnd::kCutOff, reader.position);
    const int64_t valueStart = reader.position;
    const int64_t available = BytesLeft(reader) < attribute.size ? BytesLeft(reader) : attribute.size;
    if (available > 0) attribute.value.assign(bytes + valueStart, bytes + valueStart + available);

    if (rule == WalkRule::kAsThePlugInReads) {
      if (attribute.name == "channels" && attribute.type == "chlist") {
        int64_t fault = 0;
        const ListEnd list = ReadChannelList(reader, &attribute.channels, &fault);
        if (list == ListEnd::kNameTooLong) return end(WalkEnd::kNameTooLongInList, fault);
        if (list == ListEnd::kCutOff) return end(WalkEnd::kCutOffInList, fault);
        continue;  // on after the list's own end, whatever the size says
      }
      if (PlugInStoresValue(attribute) && BytesLeft(reader) < ImpliedSize(attribute.type)) {
        return end(WalkEnd::kCutOff, reader.position);
      }
    }
    if (attribute.size < 0) return end(WalkEnd::kNegativeSize, attributeStart);
    if (!Skip(reader, attribute.size)) return end(WalkEnd::kSizeRunsPast, attributeStart);
    if (rule == WalkRule::kAsTheFormatSays && attribute.type == "chlist") {
      int64_t listEnd = 0;
      if (!DecodeChannels(attribute.value.data(), static_cast<int64_t>(attribute.value.size()), &attribute.channels,
                          &listEnd)) {
        attribute.channels.clear();
      }
    }
  }
}

int32_t ImpliedSize(const std::string& type) {
  struct Known {
    const char* type;
    int32_t size;
  };
  static const Known kKnown[] = {{"box2i", 16}, {"box2f", 16}, {"compression", 1}, {"lineOrder", 1}, {"float", 4},
                                 {"int", 4},    {"double", 8}, {"v2f", 8},          {"v2i", 8},       {"v3f", 12},
                                 {"v3i", 12},   {"m33f", 36},  {"m44f", 64},        {"chromaticities", 32},
                                 {"timecode", 8}, {"rational", 8}, {"keycode", 28}, {"tiledesc", 9}, {"envmap", 1},
                                 {"v2d", 16},   {"v3d", 24},   {"box2d", 32},       {"m33d", 72},     {"m44d", 128}};
  for (const Known& known : kKnown) {
    if (type == known.type) return known.size;
  }
  return -1;
}

bool DecodeBox(const Attribute& attribute, Box* box) {
  if (attribute.value.size() < 16) return false;
  const uint8_t* v = attribute.value.data();
  box->xMin = static_cast<int32_t>(LoadU32LE(v));
  box->yMin = static_cast<int32_t>(LoadU32LE(v + 4));
  box->xMax = static_cast<int32_t>(LoadU32LE(v + 8));
  box->yMax = static_cast<int32_t>(LoadU32LE(v + 12));
  return true;
}

bool DecodeByte(const Attribute& attribute, uint8_t* value) {
  if (attribute.value.empty()) return false;
  *value = attribute.value[0];
  return true;
}

bool DecodeInt(const Attribute& attribute, int32_t* value) {
  if (attribute.value.size() < 4) return false;
  *value = static_cast<int32_t>(LoadU32LE(attribute.value.data()));
  return true;
}

bool DecodeString(const Attribute& attribute, std::string* value) {
  value->assign(attribute.value.begin(), attribute.value.end());
  return true;
}

bool DecodeChannels(const uint8_t* bytes, int64_t count, std::vector<ChannelEntry>* channels, int64_t* end) {
  ByteReader reader{bytes, count, 0};
  int64_t fault = 0;
  channels->clear();
  if (ReadChannelList(reader, channels, &fault) != ListEnd::kEnded) return false;
  *end = reader.position;
  return true;
}

const Attribute* FindAttribute(const std::vector<Attribute>& attributes, const std::string& name) {
  const Attribute* found = nullptr;
  for (const Attribute& attribute : attributes) {
    if (attribute.name == name) found = &attribute;
  }
  return found;
}

}  // namespace exrfile
