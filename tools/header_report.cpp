#include "tools/header_report.h"

#include <cstring>

#include "exr/byte_reader.h"
#include "exr/mondrel.h"

namespace {

constexpr uint32_t kTiledFlag = 0x200;
constexpr uint32_t kDeepFlag = 0x800;
constexpr uint32_t kMultiPartFlag = 0x1000;
constexpr int32_t kScratchBytes = 131104;

// Collects the names and types of the first "channels" list.
void CollectChannels(const uint8_t* bytes, int32_t byteCount, HeaderReport& report) {
  ByteReader reader{bytes, byteCount, 8};
  while (BytesLeft(reader) > 0) {
    const uint8_t* name = nullptr;
    const uint8_t* type = nullptr;
    int32_t nameLength = 0;
    int32_t typeLength = 0;
    int32_t size = 0;
    if (ReadName(reader, &name, &nameLength) != NameResult::kRead || nameLength == 0) return;
    if (ReadName(reader, &type, &typeLength) != NameResult::kRead || !ReadInt32(reader, &size)) return;
    if (NameIs(name, nameLength, "channels") && NameIs(type, typeLength, "chlist")) {
      ByteReader list = reader;
      while (true) {
        const uint8_t* channel = nullptr;
        int32_t channelLength = 0;
        int32_t pixelType = 0;
        if (ReadName(list, &channel, &channelLength) != NameResult::kRead || channelLength == 0) return;
        if (!ReadInt32(list, &pixelType) || !Skip(list, 12)) return;
        report.channelNames.emplace_back(reinterpret_cast<const char*>(channel), channelLength);
        report.channelTypes.push_back(pixelType);
      }
    }
    if (size < 0) return;
    reader.position += size;
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
  return pixelBytes > 0 ? (kScratchBytes - 8) / pixelBytes : 0;
}

HeaderReport InspectHeader(const uint8_t* bytes, int32_t byteCount) {
  HeaderReport report;
  if (byteCount > kHeaderBufferSize) byteCount = kHeaderBufferSize;
  std::memcpy(HeaderBuffer, bytes, static_cast<size_t>(byteCount > 0 ? byteCount : 0));
  Mondrel image;
  report.status = image.ParseHeader(byteCount);
  report.width = image.width;
  report.height = image.height;
  report.compression = image.compression;
  report.version = static_cast<uint32_t>(image.version);
  report.headerEnds = image.headerEnd >= 0;
  if (report.status != kParseBadMagic) CollectChannels(bytes, byteCount, report);
  return report;
}

std::string ExplainRefusal(const HeaderReport& report) {
  switch (report.status) {
    case kParseBadMagic:
      return "not an OpenEXR file (it does not start with the EXR magic number)";
    case kParseNameTooLong:
    case kParseTypeNameTooLong:
    case kParseChannelNameTooLong:
      return "damaged header: a name is longer than 255 characters";
    case kParseWrongAttributeType:
      return "damaged header: a standard attribute has the wrong type";
    case kParseNegativeAttributeSize:
      return "damaged header: an attribute has a negative size";
    case kParseTooManyChannels:
      return "more than four channels (" + JoinedNames(report) +
             "); save only R, G, B and A, or a single V channel";
    case kParseUnknownChannel:
      return "channel \"" + FirstUnknownChannel(report) +
             "\" is not R, G, B, A or V; save the image with plain R, G, B (and A) channels, "
             "or a single V channel";
    case kParseTooFewChannels:
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
    default:
      break;
  }
  if (report.status <= 0) return "refused by the header parser (status " + std::to_string(report.status) + ")";
  const int64_t frameBytes = static_cast<int64_t>(report.width) * report.height * 8;
  if (report.width < 1 || report.height < 1) {
    return "the data window holds no pixels (" + std::to_string(report.width) + " x " +
           std::to_string(report.height) + ")";
  }
  if (frameBytes >= (int64_t{1} << 31)) {
    return "the picture is too large: " + std::to_string(report.width) + " x " + std::to_string(report.height) +
           " needs 2 GiB or more per frame";
  }
  return "";
}

std::vector<std::string> Warnings(const HeaderReport& report) {
  std::vector<std::string> warnings;
  if (report.status <= 0) return warnings;
  if (report.version & kTiledFlag) {
    warnings.push_back("the file is tiled; only scanline files decode, so its frames will not decode");
  }
  if (report.version & kMultiPartFlag) {
    warnings.push_back("the file has several parts; only single-part files decode, so its frames will not decode");
  }
  if (report.version & kDeepFlag) {
    warnings.push_back("the file holds deep data; only flat images decode, so its frames will not decode");
  }
  if (!report.headerEnds) {
    warnings.push_back("the header does not end within the first 16 KiB (a large preview or comment?); "
                       "frames will not decode");
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
