#include "tools/header_report.h"

#include <cstring>

#include "exr/byte_reader.h"
#include "exr/mondrel.h"
#include "plugin/input_handle.h"
#include "reader/decompress.h"

namespace {

using exrfile::WalkEnd;

// The parser's view of the same bytes: the attributes, how the walk ended,
// and the channel entries as it stores them (a second list writes its
// entries from the first slot again, and entries beyond it keep theirs).
void WalkHeader(const uint8_t* bytes, int32_t byteCount, HeaderReport& report) {
  exrfile::HeaderWalk walk = exrfile::WalkHeader(bytes, byteCount, 8, exrfile::WalkRule::kAsThePlugInReads);
  report.walkEnd = walk.end;
  report.walkEndOffset = walk.endOffset;
  for (const exrfile::Attribute& attribute : walk.attributes) {
    if (attribute.name == "channels" && attribute.type == "chlist") {
      report.channelsSeen = true;
      for (size_t i = 0; i < attribute.channels.size(); ++i) {
        if (i < report.channelNames.size()) {
          report.channelNames[i] = attribute.channels[i].name;
          report.channelTypes[i] = attribute.channels[i].pixelType;
        } else {
          report.channelNames.push_back(attribute.channels[i].name);
          report.channelTypes.push_back(attribute.channels[i].pixelType);
        }
      }
      continue;
    }
    const int32_t implied = exrfile::ImpliedSize(attribute.type);
    const bool last = &attribute == &walk.attributes.back();
    const bool sizeRead = !(last && walk.end == WalkEnd::kCutOff);
    if (sizeRead && attribute.size >= 0 && implied >= 0 && attribute.size != implied) {
      report.sizeMismatches.push_back("\"" + attribute.name + "\" is a " + attribute.type + " of " +
                                      std::to_string(implied) + " bytes but declares " +
                                      std::to_string(attribute.size));
    }
  }
  report.attributes = std::move(walk.attributes);
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

constexpr char kShorterHeaderRemedy[] =
    "mondrel convert makes a copy without the preview and what else passes 16 KiB, "
    "or save the file with shorter metadata";

// The bytes read ended before the header did: a short read is the file's
// end, a full one the plug-in's 16 KiB.
std::string HeaderCutReason(const HeaderReport& report) {
  if (report.bytesRead >= kHeaderBufferSize) {
    return "the header is longer than the 16 KiB the plug-in reads (a long channel list or metadata); " +
           std::string(kShorterHeaderRemedy);
  }
  return "the file ends inside its header (after " + std::to_string(report.bytesRead) + " bytes)";
}

// Why the walk over the attributes stopped before the header's end, from
// the facts it met there; empty when it reached the end.
std::string DamageReason(const HeaderReport& report) {
  const exrfile::Attribute* last = report.attributes.empty() ? nullptr : &report.attributes.back();
  const bool readAll = report.bytesRead >= kHeaderBufferSize;
  switch (report.walkEnd) {
    case WalkEnd::kSizeRunsPast: {
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
               "; " + kShorterHeaderRemedy;
      }
      return "damaged header: " + what + ", more than the file holds";
    }
    case WalkEnd::kNameTooLong: {
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
    case WalkEnd::kNameTooLongInList:
      return "damaged header: the channel name at byte " + std::to_string(report.walkEndOffset) +
             " is longer than 255 characters";
    case WalkEnd::kNegativeSize:
      return "damaged header: attribute " + Quoted(last->name) + " declares a negative size (" +
             std::to_string(last->size) + ")";
    case WalkEnd::kCutOff:
    case WalkEnd::kCutOffInList:
      return HeaderCutReason(report);
    case WalkEnd::kHeaderEnd:
    case WalkEnd::kBytesEnded:
      break;
  }
  // A standard attribute with a wrong size moves the reading into its own
  // value, where anything may look like the header's end.
  if (!report.channelsSeen && !report.sizeMismatches.empty()) {
    return "damaged header: " + report.sizeMismatches.front() + ", so what follows it is misread";
  }
  // Bytes that end between two attributes end before the header does.
  return report.walkEnd == WalkEnd::kBytesEnded ? HeaderCutReason(report) : "";
}

// Which of the layouts the plug-in does not read the version word names.
std::string LayoutRefusal(uint32_t version) {
  std::vector<std::string> what;
  if (version & kVersionTiled) what.push_back("is tiled");
  if (version & kVersionDeep) what.push_back("holds deep data");
  if (version & kVersionMultiPart) what.push_back("has several parts");
  std::string joined;
  for (size_t i = 0; i < what.size(); ++i) joined += (i == 0 ? "" : i + 1 == what.size() ? " and " : ", ") + what[i];
  return "the file " + joined + "; the plug-in reads flat single-part scanline files only; " +
         ((version & kVersionDeep) != 0 ? "flatten it in your compositor and save it again"
                                        : "mondrel convert makes a scanline copy that opens");
}

// What `mondrel convert` would take from these channels, as the first of
// the remedies ("..., or "), or nothing.
std::string ChannelRemedy(const HeaderReport& report) {
  const auto has = [&](const std::string& name) {
    for (const std::string& channel : report.channelNames) {
      if (channel == name) return true;
    }
    return false;
  };
  if (has("R") && has("G") && has("B")) {
    return std::string("mondrel convert copies R, G, B") + (has("A") ? " and A" : "") + " alone, or ";
  }
  std::vector<std::string> layers;
  for (const std::string& channel : report.channelNames) {
    const size_t dot = channel.rfind('.');
    if (dot == std::string::npos || channel.compare(dot, std::string::npos, ".R") != 0) continue;
    const std::string layer = channel.substr(0, dot);
    if (has(layer + ".G") && has(layer + ".B")) layers.push_back(layer);
  }
  if (!layers.empty()) {
    std::string names;
    for (const std::string& layer : layers) names += (names.empty() ? "" : ", ") + layer;
    return "mondrel convert --layer " + layers.front() + " copies that layer (layers: " + names + "), or ";
  }
  if (has("V")) return "mondrel convert copies V alone, or ";
  if (has("Y") && !has("RY") && !has("BY")) return "mondrel convert copies Y alone as V, or ";
  return "";
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
      return "more than four channels (" + JoinedNames(report) + "); " + ChannelRemedy(report) +
             "save only R, G, B and A, or a single V channel";
    case kParseUnknownChannel:
      return "channel \"" + FirstUnknownChannel(report) + "\" is not R, G, B, A or V; " + ChannelRemedy(report) +
             "save the image with plain R, G, B (and A) channels, or a single V channel";
    case kParseTooFewChannels:
      // A walk that stopped early may never have reached the channels the
      // file declares: then the damage, not the channels, is the reason.
      if ((!report.channelsSeen || report.walkEnd == WalkEnd::kCutOffInList) && !DamageReason(report).empty()) {
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
             "); a grey image must hold V alone: " + ChannelRemedy(report) + "save V alone";
    case kParseCompressed:
      if (exrfile::ReadsCompression(report.compression)) {
        return std::string("compressed with ") + CompressionName(report.compression) +
               "; mondrel convert makes an uncompressed copy that opens, or save it without compression (NONE)";
      }
      return std::string("compressed with ") + CompressionName(report.compression) +
             "; save it again as ZIP, PIZ or without compression (NONE): mondrel convert reads every method but "
             "DWAA and DWAB";
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
