#include "tools/convert_picture.h"

#include <algorithm>
#include <new>

#include "exr/mondrel.h"
#include "reader/decompress.h"
#include "reader/part_pixels.h"
#include "tools/header_report.h"
#include "writer/exr_writer.h"

namespace {

using exrfile::Attribute;
using exrfile::Part;

// The channels that make the picture, in the order the copy stores them.
struct Choice {
  std::vector<int32_t> channels;
  std::vector<std::string> names;  // in the copy
  std::string none;                // why the part holds no picture
};

int32_t IndexOf(const Part& part, const std::string& name) {
  for (size_t c = 0; c < part.channels.size(); ++c) {
    if (part.channels[c].name == name) return static_cast<int32_t>(c);
  }
  return -1;
}

std::string ChannelNames(const Part& part) {
  std::string names;
  for (const exrfile::ChannelEntry& channel : part.channels) names += (names.empty() ? "" : ", ") + channel.name;
  return names.empty() ? "none" : names;
}

// Layers whose R, G and B are all there, for a hint.
std::string ColourLayers(const Part& part) {
  std::string layers;
  for (const exrfile::ChannelEntry& channel : part.channels) {
    const size_t dot = channel.name.rfind('.');
    if (dot == std::string::npos || channel.name.compare(dot, std::string::npos, ".R") != 0) continue;
    const std::string layer = channel.name.substr(0, dot);
    if (IndexOf(part, layer + ".G") >= 0 && IndexOf(part, layer + ".B") >= 0) {
      layers += (layers.empty() ? "" : ", ") + layer;
    }
  }
  return layers;
}

// With a layer: its R, G, B (and A). Otherwise the plain R, G, B (and A),
// failing those a V, or a Y standing alone, which the copy calls V.
bool ChoosePicture(const Part& part, const std::string& layer, Choice* choice) {
  *choice = Choice();
  const std::string prefix = layer.empty() ? "" : layer + ".";
  const int32_t red = IndexOf(part, prefix + "R");
  const int32_t green = IndexOf(part, prefix + "G");
  const int32_t blue = IndexOf(part, prefix + "B");
  const int32_t alpha = IndexOf(part, prefix + "A");
  if (red >= 0 && green >= 0 && blue >= 0) {
    if (alpha >= 0) {
      choice->channels.push_back(alpha);
      choice->names.push_back("A");
    }
    choice->channels.insert(choice->channels.end(), {blue, green, red});
    choice->names.insert(choice->names.end(), {"B", "G", "R"});
    return true;
  }
  if (!layer.empty()) {
    const bool some = red >= 0 || green >= 0 || blue >= 0;
    choice->none = some ? "layer \"" + layer + "\" lacks some of " + prefix + "R, " + prefix + "G and " + prefix + "B"
                        : "no layer \"" + layer + "\" (channels: " + ChannelNames(part) + ")";
    return false;
  }
  const int32_t grey = IndexOf(part, "V");
  const int32_t luminance = IndexOf(part, "Y");
  if (grey >= 0 || (luminance >= 0 && IndexOf(part, "RY") < 0 && IndexOf(part, "BY") < 0)) {
    choice->channels.push_back(grey >= 0 ? grey : luminance);
    choice->names.push_back("V");
    return true;
  }
  if (luminance >= 0) {
    choice->none = "a luminance-chroma image (Y with RY, BY), which convert does not turn into RGB; "
                   "save it again as an RGB image";
    return false;
  }
  const std::string layers = ColourLayers(part);
  choice->none = "no picture channels: neither R, G and B, nor V, nor Y alone (channels: " + ChannelNames(part) + ")" +
                 (layers.empty() ? "" : "; pick a layer with --layer (" + layers + ")");
  return false;
}

std::string PartLabel(const Part& part, size_t index) {
  return std::to_string(index) + (part.name.empty() ? "" : " \"" + part.name + "\"");
}

// The part to take: the one asked for, or the first holding a picture.
bool ChoosePart(const exrfile::File& file, const ConvertRequest& request, size_t* index, Choice* choice,
                std::string* refusal) {
  if (!request.part.empty()) {
    const bool number = request.part.find_first_not_of("0123456789") == std::string::npos && request.part.size() < 6;
    size_t found = file.parts.size();
    for (size_t p = 0; p < file.parts.size(); ++p) {
      if (number ? p == std::stoul(request.part) : file.parts[p].name == request.part) found = p;
    }
    if (found == file.parts.size()) {
      std::string names;
      for (size_t p = 0; p < file.parts.size(); ++p) names += (p ? ", " : "") + PartLabel(file.parts[p], p);
      *refusal = "no part " + request.part + " (the file has " + std::to_string(file.parts.size()) +
                 (file.parts.size() == 1 ? " part: " : " parts: ") + names + ")";
      return false;
    }
    *index = found;
    if (file.parts[found].deep) {
      *refusal = "part " + PartLabel(file.parts[found], found) + " holds deep data, which a flat picture cannot show";
      return false;
    }
    if (!ChoosePicture(file.parts[found], request.layer, choice)) {
      *refusal = (file.parts.size() > 1 ? "part " + PartLabel(file.parts[found], found) + ": " : "") + choice->none;
      return false;
    }
    return true;
  }
  std::string first;
  for (size_t p = 0; p < file.parts.size(); ++p) {
    if (file.parts[p].deep) continue;
    if (ChoosePicture(file.parts[p], request.layer, choice)) {
      *index = p;
      return true;
    }
    if (first.empty()) first = (file.parts.size() > 1 ? "part " + PartLabel(file.parts[p], p) + ": " : "") + choice->none;
  }
  *refusal = first.empty() ? "the file holds deep data only, which a flat picture cannot show; "
                             "flatten it in your compositor and save it again"
                           : (file.parts.size() > 1 ? "no part holds a picture; " : "") + first;
  return false;
}

// Attributes that describe the source's layout, not the picture: the copy
// writes its own.
bool DescribesLayout(const std::string& name) {
  static const char* const kNames[] = {"channels", "compression", "dataWindow", "displayWindow", "lineOrder",
                                       "pixelAspectRatio", "screenWindowCenter", "screenWindowWidth", "tiles",
                                       "chunkCount", "name", "type", "version"};
  for (const char* known : kNames) {
    if (name == known) return true;
  }
  return false;
}

int64_t AttributeBytes(const std::string& name, const std::string& type, size_t valueBytes) {
  return static_cast<int64_t>(name.size() + 1 + type.size() + 1 + 4 + valueBytes);
}

exrtest::Bytes ChannelList(const Part& part, const Choice& choice) {
  exrtest::Bytes value;
  for (size_t k = 0; k < choice.channels.size(); ++k) {
    const exrfile::ChannelEntry& channel = part.channels[static_cast<size_t>(choice.channels[k])];
    value.insert(value.end(), choice.names[k].begin(), choice.names[k].end());
    value.push_back(0);
    exrtest::AppendU32(value, static_cast<uint32_t>(channel.pixelType));
    value.insert(value.end(), {channel.linear, 0, 0, 0});
    exrtest::AppendU32(value, 1);
    exrtest::AppendU32(value, 1);
  }
  value.push_back(0);
  return value;
}

exrtest::Bytes ValueOr(const std::vector<Attribute>& attributes, const char* name, const char* type,
                       const exrtest::Bytes& fallback) {
  const Attribute* attribute = exrfile::FindAttribute(attributes, name);
  return attribute != nullptr && attribute->type == type ? attribute->value : fallback;
}

// The copy's header: its own layout first, then the source's other
// attributes in their order while the header still ends within the bytes
// the plug-in reads. The preview is left out.
exrtest::HeaderBuilder CopyHeader(const Part& part, const Choice& choice, PictureCopy* copy) {
  exrtest::HeaderBuilder header;
  const exrfile::Box& window = part.dataWindow;
  const exrtest::Bytes dataWindow = exrtest::BoxValue(window.xMin, window.yMin, window.xMax, window.yMax);
  const exrtest::Bytes one = {0x00, 0x00, 0x80, 0x3F};
  header.Attribute("channels", "chlist", ChannelList(part, choice))
      .Compression(0)
      .Attribute("dataWindow", "box2i", dataWindow)
      .Attribute("displayWindow", "box2i", ValueOr(part.attributes, "displayWindow", "box2i", dataWindow))
      .LineOrder(part.lineOrder == 1 ? 1 : 0)
      .Attribute("pixelAspectRatio", "float", ValueOr(part.attributes, "pixelAspectRatio", "float", one))
      .Attribute("screenWindowCenter", "v2f",
                 ValueOr(part.attributes, "screenWindowCenter", "v2f", exrtest::Bytes(8, 0)))
      .Attribute("screenWindowWidth", "float", ValueOr(part.attributes, "screenWindowWidth", "float", one));
  bool longNames = false;
  for (const Attribute& attribute : part.attributes) {
    if (DescribesLayout(attribute.name)) continue;
    const int64_t bytes = AttributeBytes(attribute.name, attribute.type, attribute.value.size());
    if (attribute.name == "preview" || static_cast<int64_t>(header.bytes.size()) + bytes + 1 > kPlugInHeaderBytes) {
      copy->droppedAttributes.push_back(attribute.name);
      continue;
    }
    header.Attribute(attribute.name, attribute.type, attribute.value);
    longNames = longNames || attribute.name.size() > 31 || attribute.type.size() > 31;
  }
  header.Version(2 | (longNames ? exrfile::kLongNamesFlag : 0));
  header.End();
  return header;
}

void StoreLittleEndian(uint8_t* at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

PictureCopy CopyPicture(const uint8_t* source, int64_t size, const ConvertRequest& request) try {
  PictureCopy copy;
  exrfile::File file;
  if (!exrfile::ReadFile(source, size, &file, &copy.refusal)) return copy;
  size_t index = 0;
  Choice choice;
  if (!ChoosePart(file, request, &index, &choice, &copy.refusal)) return copy;
  const Part& part = file.parts[index];
  if (file.parts.size() > 1) copy.part = PartLabel(part, index);
  for (size_t c = 0; c < part.channels.size(); ++c) {
    const bool taken = std::find(choice.channels.begin(), choice.channels.end(), static_cast<int32_t>(c)) !=
                       choice.channels.end();
    (taken ? copy.channels : copy.droppedChannels).push_back(part.channels[c].name);
  }
  if (!exrfile::ReadsCompression(part.compression)) {
    copy.refusal = std::string("compressed with ") + CompressionName(part.compression) +
                   ", which convert does not read; save it again as ZIP, PIZ or without compression (NONE)";
    return copy;
  }
  std::vector<int32_t> types;
  for (const int32_t channel : choice.channels) {
    const exrfile::ChannelEntry& entry = part.channels[static_cast<size_t>(channel)];
    if (entry.xSampling != 1 || entry.ySampling != 1) {
      copy.refusal = "channel \"" + entry.name + "\" is subsampled, which the plug-in cannot show";
      return copy;
    }
    types.push_back(entry.pixelType);
  }
  if (part.width > INT32_MAX || part.height > INT32_MAX ||
      FrameByteCount(static_cast<int32_t>(part.width), static_cast<int32_t>(part.height)) < 0) {
    copy.refusal = "the picture is too large: " + std::to_string(part.width) + " x " + std::to_string(part.height) +
                   " needs 2 GiB or more per frame in the plug-in";
    return copy;
  }
  copy.width = static_cast<int32_t>(part.width);
  copy.height = static_cast<int32_t>(part.height);
  const int32_t widest = WidestDecodableWidth(types, static_cast<int32_t>(types.size()));
  if (copy.width > widest) {
    copy.refusal = "too wide for the plug-in: at most " + std::to_string(widest) + " pixels for its channels";
    return copy;
  }

  if (!exrfile::ChunksLieInTheFile(source, file, index, &copy.refusal)) return copy;
  const exrtest::HeaderBuilder header = CopyHeader(part, choice, &copy);
  // The copy: header, table, then one chunk a row, each its y, its length
  // and the rows of its channels; stored bottom row first when the header
  // says so. The reader writes each channel's rows straight into place.
  int64_t rowBytes = 0;
  for (const int32_t type : types) rowBytes += exrfile::SampleBytes(type) * part.width;
  const int64_t tableStart = static_cast<int64_t>(header.bytes.size());
  const int64_t pixelStart = tableStart + 8 * part.height;
  const int64_t chunkBytes = 8 + rowBytes;
  copy.bytes.resize(static_cast<size_t>(pixelStart + chunkBytes * part.height));
  std::copy(header.bytes.begin(), header.bytes.end(), copy.bytes.begin());
  const bool bottomUp = part.lineOrder == 1;
  const auto chunkOf = [&](int64_t row) { return pixelStart + (bottomUp ? part.height - 1 - row : row) * chunkBytes; };
  for (int64_t row = 0; row < part.height; ++row) {
    const int64_t at = chunkOf(row);
    StoreLittleEndian(copy.bytes.data() + tableStart + 8 * row, static_cast<uint64_t>(at), 8);
    StoreLittleEndian(copy.bytes.data() + at, static_cast<uint32_t>(part.dataWindow.yMin + row), 4);
    StoreLittleEndian(copy.bytes.data() + at + 4, static_cast<uint32_t>(rowBytes), 4);
  }
  std::vector<exrfile::PlaneTarget> targets;
  int64_t offset = chunkOf(0) + 8;
  for (size_t k = 0; k < choice.channels.size(); ++k) {
    targets.push_back({choice.channels[k], copy.bytes.data() + offset, bottomUp ? -chunkBytes : chunkBytes});
    offset += exrfile::SampleBytes(types[k]) * part.width;
  }
  if (!exrfile::ReadPixels(source, file, index, targets, &copy.refusal)) {
    copy.bytes = FileBytes();
    return copy;
  }
  return copy;
} catch (const std::bad_alloc&) {
  PictureCopy copy;
  copy.refusal = "there is not enough memory to convert it";
  return copy;
}
