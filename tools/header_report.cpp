#include "tools/header_report.h"

#include <cstring>

#include "exr/byte_reader.h"
#include "exr/mondrel.h"
#include "plugin/input_handle.h"

namespace {

std::string Text(const uint8_t* bytes, int32_t length) { return std::string(reinterpret_cast<const char*>(bytes), length); }

// Byte size of a value of the standard attribute types, or -1 when it varies.
int32_t ImpliedSize(const std::string& type) {
  struct Known {
    const char* type;
    int32_t size;
  };
  static const Known kKnown[] = {{"box2i", 16}, {"box2f", 16}, {"compression", 1}, {"lineOrder", 1}, {"float", 4},
                                 {"int", 4},    {"double", 8}, {"v2f", 8},          {"v2i", 8},       {"v3f", 12},
                                 {"v3i", 12},   {"m33f", 36},  {"m44f", 64},        {"chromaticities", 32},
                                 {"timecode", 8}, {"rational", 8}, {"keycode", 28}, {"tiledesc", 9}, {"envmap", 1}};
  for (const Known& known : kKnown) {
    if (type == known.type) return known.size;
  }
  return -1;
}

// The attributes whose values the parser stores: its windows, compression
// and line order.
bool ParserStoresValue(const HeaderAttribute& attribute) {
  return (attribute.name == "compression" && attribute.type == "compression") ||
         (attribute.name == "lineOrder" && attribute.type == "lineOrder") ||
         ((attribute.name == "dataWindow" || attribute.name == "displayWindow") && attribute.type == "box2i");
}

// Walks the attributes as the parser's loop does, and keeps the names and
// types of the first channel list and how the walk ended.
void WalkHeader(const uint8_t* bytes, int32_t byteCount, HeaderReport& report) {
  ByteReader reader{bytes, byteCount, 8};
  const auto end = [&](HeaderWalkEnd how, int64_t offset) {
    report.walkEnd = how;
    report.walkEndOffset = offset;
  };
  while (true) {
    const int64_t start = reader.position;
    if (BytesLeft(reader) == 0) return end(HeaderWalkEnd::kBytesEnded, start);
    const uint8_t* name = nullptr;
    const uint8_t* type = nullptr;
    int32_t nameLength = 0;
    int32_t typeLength = 0;
    NameResult result = ReadName(reader, &name, &nameLength);
    if (result != NameResult::kRead) {
      return end(result == NameResult::kTooLong ? HeaderWalkEnd::kNameTooLong : HeaderWalkEnd::kCutOff, start);
    }
    if (nameLength == 0) return end(HeaderWalkEnd::kHeaderEnd, reader.position);
    const int64_t typeStart = reader.position;
    result = ReadName(reader, &type, &typeLength);
    if (result != NameResult::kRead) {
      return end(result == NameResult::kTooLong ? HeaderWalkEnd::kNameTooLong : HeaderWalkEnd::kCutOff, typeStart);
    }
    HeaderAttribute attribute;
    attribute.name = Text(name, nameLength);
    attribute.type = Text(type, typeLength);
    attribute.offset = start;
    if (!ReadInt32(reader, &attribute.size)) {
      report.attributes.push_back(attribute);
      return end(HeaderWalkEnd::kCutOff, reader.position);
    }
    report.attributes.push_back(attribute);
    if (attribute.name == "channels" && attribute.type == "chlist") {
      // The list finds its own end, whatever the size says.
      const bool first = !report.channelsSeen;
      report.channelsSeen = true;
      while (true) {
        const int64_t entry = reader.position;
        const uint8_t* channel = nullptr;
        int32_t channelLength = 0;
        int32_t pixelType = 0;
        result = ReadName(reader, &channel, &channelLength);
        if (result == NameResult::kTooLong) return end(HeaderWalkEnd::kNameTooLong, entry);
        if (result == NameResult::kCutOff) return end(HeaderWalkEnd::kCutOffInList, entry);
        if (channelLength == 0) break;
        if (!ReadInt32(reader, &pixelType) || !Skip(reader, 12)) return end(HeaderWalkEnd::kCutOffInList, entry);
        if (first) {
          report.channelNames.push_back(Text(channel, channelLength));
          report.channelTypes.push_back(pixelType);
        }
      }
      continue;
    }
    // The parser takes the values it stores from their first bytes, whatever
    // the size says, and stops where those bytes are not all there.
    const int32_t implied = ImpliedSize(attribute.type);
    if (ParserStoresValue(attribute) && BytesLeft(reader) < implied) {
      return end(HeaderWalkEnd::kCutOff, reader.position);
    }
    if (attribute.size < 0) return end(HeaderWalkEnd::kNegativeSize, start);
    if (implied >= 0 && attribute.size != implied) {
      report.sizeMismatches.push_back("\"" + attribute.name + "\" is a " + attribute.type + " of " +
                                      std::to_string(implied) + " bytes but declares " +
                                      std::to_string(attribute.size));
    }
    if (!Skip(reader, attribute.size)) return end(HeaderWalkEnd::kSizeRunsPast, start);
  }
}

std::string JoinedNames(const HeaderReport& report) {
  std::string joined;
  for (const std::string& name : report.channelNames) joined += (joined.empty() ? "" : ", ") + name;
  return joined.empty() ? "none" : joined;
}

// What keeps three or four colour channels from being one whole set.
std::string IncompleteColourSet(const HeaderReport& report) {
  const size_t count = report.channelNames.size() < 4 ? report.channelNames.size() : 4;
  std::string missing;
  std::string repeated;
  for (const char* colour : {"R", "G", "B", "A"}) {
    size_t seen = 0;
    for (size_t c = 0; c < count; ++c) seen += report.channelNames[c] == colour ? 1 : 0;
    if (seen == 0 && (colour[0] != 'A' || count == 4)) missing += (missing.empty() ? "" : ", ") + std::string(colour);
    if (seen > 1) repeated += (repeated.empty() ? "" : ", ") + std::string(colour);
  }
  std::string what;
  if (!missing.empty()) what += missing + " missing";
  if (!repeated.empty()) what += (what.empty() ? "" : ", ") + repeated + " repeated";
  return what;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The bytes read ended before the header did: a short read is the file's
// end, a full one the plug-in's 16 KiB.
std::string HeaderCutReason(const HeaderReport& report) {
  if (report.bytesRead >= kHeaderBufferSize) {
    return "the header is longer than the 16 KiB the plug-in reads (a long channel list or metadata); "
           "save the file with shorter metadata";
  }
  return "the file ends inside its header (after " + std::to_string(report.bytesRead) + " bytes)";
}

// Why the walk over the attributes stopped before the header's end, from
// the facts it met there; empty when it reached the end.
std::string DamageReason(const HeaderReport& report) {
  const HeaderAttribute* last = report.attributes.empty() ? nullptr : &report.attributes.back();
  const bool readAll = report.bytesRead >= kHeaderBufferSize;
  switch (report.walkEnd) {
    case HeaderWalkEnd::kSizeRunsPast: {
      const int64_t valueEnd = last->offset + static_cast<int64_t>(last->name.size()) + 1 +
                               static_cast<int64_t>(last->type.size()) + 1 + 4 + last->size;
      const std::string what = "attribute " + Quoted(last->name) + " (" + last->type + ") at byte " +
                               std::to_string(last->offset) + " declares " + std::to_string(last->size) + " bytes";
      if (report.fileSize >= 0 && valueEnd > report.fileSize) {
        return "damaged header: " + what + ", past the end of the file (" + std::to_string(report.fileSize) + " bytes)";
      }
      if (readAll) {
        return "the header is longer than the 16 KiB the plug-in reads: " + what +
               (report.channelsSeen ? "" : ", and the channel list comes after it") +
               "; save the file without its preview or with shorter metadata";
      }
      return "damaged header: " + what + ", more than the file holds";
    }
    case HeaderWalkEnd::kNameTooLong: {
      const std::string where = "no name ends within 255 bytes at byte " + std::to_string(report.walkEndOffset);
      if (last == nullptr) return "damaged header: " + where;
      for (const std::string& mismatch : report.sizeMismatches) {
        if (mismatch.compare(0, last->name.size() + 2, Quoted(last->name)) == 0) {
          return "damaged header: " + where + ", after attribute " + Quoted(last->name) + ", which is wrong: " + mismatch;
        }
      }
      return "damaged header: " + where + ", after attribute " + Quoted(last->name) + " of " +
             std::to_string(last->size) + " declared bytes; that size is probably wrong";
    }
    case HeaderWalkEnd::kNegativeSize:
      return "damaged header: attribute " + Quoted(last->name) + " declares a negative size (" +
             std::to_string(last->size) + ")";
    case HeaderWalkEnd::kCutOff:
    case HeaderWalkEnd::kCutOffInList:
      return HeaderCutReason(report);
    case HeaderWalkEnd::kHeaderEnd:
    case HeaderWalkEnd::kBytesEnded:
      break;
  }
  // A standard attribute with a wrong size moves the reading into its own
  // value, where anything may look like the header's end.
  if (!report.channelsSeen && !report.sizeMismatches.empty()) {
    return "damaged header: " + report.sizeMismatches.front() + ", so what follows it is misread";
  }
  // Bytes that end between two attributes end before the header does.
  return report.walkEnd == HeaderWalkEnd::kBytesEnded ? HeaderCutReason(report) : "";
}

// Which of the layouts the plug-in does not read the version word names.
std::string LayoutRefusal(uint32_t version) {
  std::vector<std::string> what;
  if (version & kVersionTiled) what.push_back("is tiled");
  if (version & kVersionDeep) what.push_back("holds deep data");
  if (version & kVersionMultiPart) what.push_back("has several parts");
  std::string joined;
  for (size_t i = 0; i < what.size(); ++i) joined += (i == 0 ? "" : i + 1 == what.size() ? " and " : ", ") + what[i];
  return "the file " + joined +
         "; the plug-in reads flat single-part scanline files only; save the picture again as one";
}

std::string FirstUnknownChannel(const HeaderReport& report) {
  for (const std::string& name : report.channelNames) {
    if (name != "R" && name != "G" && name != "B" && name != "A" && name != "V") return name;
  }
  return "?";
}

}  // namespace

const char* CompressionName(int32_t compression) {
  static const char* const kNames[] = {"NONE", "RLE",  "ZIPS", "ZIP",   "PIZ",
                                       "PXR24", "B44", "B44A", "DWAA", "DWAB"};
  return compression >= 0 && compression < 10 ? kNames[compression] : "an unknown method";
}

const char* PixelTypeName(int32_t type) {
  return type == 0 ? "UINT" : type == 1 ? "HALF" : type == 2 ? "FLOAT" : "unknown";
}

int32_t WidestDecodableWidth(const std::vector<int32_t>& channelTypes, int32_t channelCount) {
  int32_t pixelBytes = 0;
  for (int32_t c = 0; c < channelCount && c < static_cast<int32_t>(channelTypes.size()); ++c) {
    pixelBytes += channelTypes[c] == 1 ? 2 : 4;
  }
  return pixelBytes > 0 ? (kScratchSize - 8) / pixelBytes : 0;
}

HeaderReport InspectHeader(const uint8_t* bytes, int32_t byteCount, int64_t fileSize) {
  HeaderReport report;
  if (byteCount > kHeaderBufferSize) byteCount = kHeaderBufferSize;
  if (byteCount < 0) byteCount = 0;
  std::memcpy(HeaderBuffer, bytes, static_cast<size_t>(byteCount));
  Mondrel image;
  report.status = image.ParseHeader(byteCount);
  report.width = image.width;
  report.height = image.height;
  report.compression = image.compression;
  report.version = static_cast<uint32_t>(image.version);
  report.headerEnds = image.headerEnd >= 0;
  report.bytesRead = byteCount;
  report.fileSize = fileSize;
  if (report.status != kParseBadMagic) WalkHeader(bytes, byteCount, report);
  return report;
}

std::string ExplainRefusal(const HeaderReport& report) {
  switch (report.status) {
    case kParseBadMagic:
      return "not an OpenEXR file (it does not start with the EXR magic number)";
    case kParseNameTooLong:
    case kParseTypeNameTooLong:
    case kParseChannelNameTooLong: {
      const std::string damage = DamageReason(report);
      return damage.empty() ? "damaged header: a name is longer than 255 characters" : damage;
    }
    case kParseWrongAttributeType:
      return "damaged header: a standard attribute has the wrong type";
    case kParseNegativeAttributeSize: {
      const std::string damage = DamageReason(report);
      return damage.empty() ? "damaged header: an attribute has a negative size" : damage;
    }
    case kParseTooManyChannels:
      return "more than four channels (" + JoinedNames(report) +
             "); save only R, G, B and A, or a single V channel";
    case kParseUnknownChannel:
      return "channel \"" + FirstUnknownChannel(report) +
             "\" is not R, G, B, A or V; save the image with plain R, G, B (and A) channels, "
             "or a single V channel";
    case kParseTooFewChannels:
      // A walk that stopped early may never have reached the channels the
      // file declares: then the damage, not the channels, is the reason.
      if ((!report.channelsSeen || report.walkEnd == HeaderWalkEnd::kCutOffInList) && !DamageReason(report).empty()) {
        return DamageReason(report);
      }
      if (report.channelNames.size() >= 3) {
        return "the channels (" + JoinedNames(report) + ") are not one each of R, G and B (and A): " +
               IncompleteColourSet(report) + "; save it with R, G and B (and A), or a single V channel";
      }
      return "fewer than three colour channels (" + JoinedNames(report) +
             "); save it with R, G and B (and A), or a single V channel";
    case kParseVNotFirst:
      return "a V channel stands after other channels (" + JoinedNames(report) +
             "); a grey image must hold V alone";
    case kParseCompressed:
      return std::string("compressed with ") + CompressionName(report.compression) +
             "; save it without compression (NONE) to open it";
    case kParseNotFlatScanline:
      return LayoutRefusal(report.version);
    default:
      break;
  }
  if (report.status <= 0) return "refused by the header parser (status " + std::to_string(report.status) + ")";
  if (report.width < 1 || report.height < 1) {
    return "the data window holds no pixels (" + std::to_string(report.width) + " x " +
           std::to_string(report.height) + ")";
  }
  if (FrameByteCount(report.width, report.height) < 0) {
    return "the picture is too large: " + std::to_string(report.width) + " x " + std::to_string(report.height) +
           " needs 2 GiB or more per frame";
  }
  return "";
}

std::vector<std::string> Warnings(const HeaderReport& report) {
  std::vector<std::string> warnings;
  if (report.status <= 0) return warnings;
  if (!report.headerEnds) {
    const std::string damage = DamageReason(report);
    warnings.push_back((damage.empty() ? std::string("the header does not end within the 16 KiB the plug-in reads")
                                       : damage) +
                       "; frames will not decode");
  }
  if (!report.channelTypes.empty()) {
    const int32_t widest = WidestDecodableWidth(report.channelTypes, report.status);
    if (report.width > widest) {
      std::string layout;
      for (int32_t c = 0; c < report.status && c < static_cast<int32_t>(report.channelTypes.size()); ++c) {
        layout += (layout.empty() ? "" : ", ") + report.channelNames[c] + " " + PixelTypeName(report.channelTypes[c]);
      }
      warnings.push_back("too wide for its layout: at most " + std::to_string(widest) + " pixels for " + layout);
    }
  }
  return warnings;
}
