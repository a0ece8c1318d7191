#include "writer/exr_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace exrtest {

void AppendU32(Bytes& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void AppendU64(Bytes& out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutU32(Bytes& out, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutU64(Bytes& out, size_t offset, uint64_t value) {
  for (int i = 0; i < 8; ++i) out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetU32(const Bytes& in, size_t offset) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | in[offset + i];
  return value;
}

uint64_t GetU64(const Bytes& in, size_t offset) {
  return GetU32(in, offset) | static_cast<uint64_t>(GetU32(in, offset + 4)) << 32;
}

Bytes BoxValue(int32_t xMin, int32_t yMin, int32_t xMax, int32_t yMax) {
  Bytes value;
  for (int32_t v : {xMin, yMin, xMax, yMax}) AppendU32(value, static_cast<uint32_t>(v));
  return value;
}

Bytes ChannelListValue(const std::vector<Channel>& channels) {
  Bytes value;
  for (const Channel& channel : channels) {
    value.insert(value.end(), channel.name.begin(), channel.name.end());
    value.push_back(0);
    AppendU32(value, static_cast<uint32_t>(channel.pixelType));
    for (int i = 0; i < 4; ++i) value.push_back(0);  // linear flag, reserved
    AppendU32(value, 1);
    AppendU32(value, 1);
  }
  value.push_back(0);
  return value;
}

HeaderBuilder::HeaderBuilder() {
  bytes = {0x76, 0x2F, 0x31, 0x01};
  AppendU32(bytes, 2);
}

HeaderBuilder& HeaderBuilder::Version(uint32_t version) {
  PutU32(bytes, 4, version);
  return *this;
}

HeaderBuilder& HeaderBuilder::Attribute(const std::string& name, const std::string& type, const Bytes& value) {
  return AttributeWithSize(name, type, static_cast<int32_t>(value.size()), value);
}

HeaderBuilder& HeaderBuilder::AttributeWithSize(const std::string& name, const std::string& type, int32_t size,
                                                const Bytes& value) {
  bytes.insert(bytes.end(), name.begin(), name.end());
  bytes.push_back(0);
  bytes.insert(bytes.end(), type.begin(), type.end());
  bytes.push_back(0);
  AppendU32(bytes, static_cast<uint32_t>(size));
  bytes.insert(bytes.end(), value.begin(), value.end());
  return *this;
}

HeaderBuilder& HeaderBuilder::Channels(const std::vector<Channel>& channels) {
  return Attribute("channels", "chlist", ChannelListValue(channels));
}

HeaderBuilder& HeaderBuilder::Compression(uint8_t compression) {
  return Attribute("compression", "compression", Bytes{compression});
}

HeaderBuilder& HeaderBuilder::DataWindow(int32_t xMin, int32_t yMin, int32_t xMax, int32_t yMax) {
  return Attribute("dataWindow", "box2i", BoxValue(xMin, yMin, xMax, yMax));
}

HeaderBuilder& HeaderBuilder::LineOrder(uint8_t order) {
  return Attribute("lineOrder", "lineOrder", Bytes{order});
}

HeaderBuilder& HeaderBuilder::End() {
  bytes.push_back(0);
  return *this;
}

namespace {

struct Random {
  uint64_t state;
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<uint32_t>(state >> 16);
  }
};

uint32_t FloatBits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  return bits;
}

uint32_t RandomFloatSample(Random& random) {
  static const uint32_t kSpecials[] = {
      0x00000000u, 0x80000000u, 0x7F800000u, 0xFF800000u, 0x7FC00000u, 0x7F800001u,
      0x00000001u, 0x80400000u, 0x477FE000u, 0x477FF000u, 0x47800000u, 0x33800000u,
      0x33000000u, 0x38800000u, 0x387FFFFFu, 0x3F800000u, 0x3F801FFFu, 0xC0000000u};
  const uint32_t pick = random.Next() % 8;
  if (pick == 0) return kSpecials[random.Next() % (sizeof kSpecials / sizeof kSpecials[0])];
  if (pick == 1) return random.Next();  // any bit pattern at all
  return FloatBits(static_cast<float>(random.Next() % 200000) / 100000.0f);  // 0 to 2
}

// UINT samples: the edges of the half range and of exact FLOATs, small
// counts, and any value at all.
uint32_t RandomUintSample(Random& random) {
  static const uint32_t kEdges[] = {0u,     1u,     37u,    2049u,   65503u,     65504u,     65519u,
                                    65520u, 65535u, 65536u, 16777217u, 0x7FFFFFFFu, 0xFFFFFFFFu};
  const uint32_t pick = random.Next() % 4;
  if (pick == 0) return kEdges[random.Next() % (sizeof kEdges / sizeof kEdges[0])];
  if (pick == 1) return random.Next();
  return random.Next() % 70000;
}

}  // namespace

Image MakeImage(int32_t width, int32_t height, const std::vector<Channel>& channels, uint32_t seed,
                int32_t xMin, int32_t yMin) {
  Image image;
  image.xMin = xMin;
  image.yMin = yMin;
  image.width = width;
  image.height = height;
  image.channels = channels;
  Random random{0x9E3779B97F4A7C15ull ^ seed};
  for (const Channel& channel : channels) {
    std::vector<uint32_t> plane(static_cast<size_t>(width) * height);
    for (uint32_t& sample : plane) {
      sample = channel.pixelType == kHalf ? (random.Next() & 0xFFFF)
               : channel.pixelType == kFloat ? RandomFloatSample(random)
                                             : RandomUintSample(random);
    }
    image.samples.push_back(std::move(plane));
  }
  return image;
}

namespace {

int32_t SampleBytes(int32_t pixelType) { return pixelType == kHalf ? 2 : 4; }

}  // namespace

WrittenFile WriteExr(const Image& image, const WriteOptions& options) {
  HeaderBuilder header;
  header.Channels(image.channels)
      .Compression(options.compression)
      .DataWindow(image.xMin, image.yMin, image.xMin + image.width - 1, image.yMin + image.height - 1)
      .Attribute("displayWindow", "box2i",
                 BoxValue(image.xMin, image.yMin, image.xMin + image.width - 1, image.yMin + image.height - 1))
      .LineOrder(options.lineOrder)
      .Attribute("pixelAspectRatio", "float", [] { Bytes b; AppendU32(b, 0x3F800000u); return b; }())
      .Attribute("screenWindowCenter", "v2f", Bytes(8, 0))
      .Attribute("screenWindowWidth", "float", [] { Bytes b; AppendU32(b, 0x3F800000u); return b; }());
  header.bytes.insert(header.bytes.end(), options.extraAttribute.begin(), options.extraAttribute.end());
  header.End();

  WrittenFile file;
  file.bytes = header.bytes;
  file.headerEnd = file.bytes.size();
  file.bytes.resize(file.bytes.size() + 8 * static_cast<size_t>(image.height));
  file.chunkOffsets.assign(image.height, 0);

  int64_t sampleBytes = 0;
  for (const Channel& channel : image.channels) sampleBytes += SampleBytes(channel.pixelType) * int64_t{image.width};
  for (int32_t step = 0; step < image.height; ++step) {
    const int32_t row = options.lineOrder == 1 ? image.height - 1 - step : step;
    file.chunkOffsets[row] = file.bytes.size();
    AppendU32(file.bytes, static_cast<uint32_t>(image.yMin + row));
    AppendU32(file.bytes, options.pixelDataSizeOverride >= 0 ? static_cast<uint32_t>(options.pixelDataSizeOverride)
                                                             : static_cast<uint32_t>(sampleBytes));
    for (size_t c = 0; c < image.channels.size(); ++c) {
      const int32_t bytes = SampleBytes(image.channels[c].pixelType);
      for (int32_t x = 0; x < image.width; ++x) {
        const uint32_t sample = image.samples[c][static_cast<size_t>(row) * image.width + x];
        for (int32_t i = 0; i < bytes; ++i) file.bytes.push_back(static_cast<uint8_t>(sample >> (8 * i)));
      }
    }
  }

  std::vector<size_t> tableOrder(image.height);
  for (int32_t i = 0; i < image.height; ++i) tableOrder[i] = static_cast<size_t>(i);
  if (options.shuffleTable) {
    Random random{12345};
    for (size_t i = tableOrder.size(); i > 1; --i) std::swap(tableOrder[i - 1], tableOrder[random.Next() % i]);
  }
  for (int32_t i = 0; i < image.height; ++i) {
    PutU64(file.bytes, file.headerEnd + 8 * static_cast<size_t>(i), file.chunkOffsets[tableOrder[i]]);
  }
  return file;
}

uint16_t ReferenceFloatToHalf(uint32_t bits) {
  const uint16_t sign = static_cast<uint16_t>((bits >> 16) & 0x8000);
  const uint32_t magnitudeBits = bits & 0x7FFFFFFF;
  if (magnitudeBits == 0x7F800000) return sign | 0x7C00;
  if (magnitudeBits > 0x7F800000) {
    const uint32_t kept = (bits & 0x7FFFFF) >> 13;
    return static_cast<uint16_t>(sign | 0x7C00 | (kept != 0 ? kept : 1));
  }
  float asFloat;
  std::memcpy(&asFloat, &magnitudeBits, 4);
  const double value = asFloat;
  if (value == 0) return sign;
  if (value >= 65504.0) return sign | 0x7BFF;
  if (value >= std::ldexp(1.0, -14)) {
    int exponent = 0;
    const double fraction = std::frexp(value, &exponent);  // value = fraction * 2^exponent, fraction in [0.5, 1)
    const int unbiased = exponent - 1;
    const double mantissa = std::floor((fraction * 2.0 - 1.0) * 1024.0);
    return static_cast<uint16_t>(sign | ((unbiased + 15) << 10) | static_cast<uint16_t>(mantissa));
  }
  if (value >= std::ldexp(1.0, -24)) return static_cast<uint16_t>(sign | static_cast<uint16_t>(std::floor(value / std::ldexp(1.0, -24))));
  return sign | 1;
}

Bytes ExpectedFrame(const Image& image) {
  Bytes frame(static_cast<size_t>(image.width) * image.height * 8, 0);
  int32_t slots[4] = {-1, -1, -1, -1};
  const size_t count = std::min<size_t>(image.channels.size(), 4);
  bool grey = false;
  for (size_t c = 0; c < count; ++c) {
    const std::string& name = image.channels[c].name;
    slots[c] = name == "R" ? 0 : name == "G" ? 1 : name == "B" ? 2 : name == "A" ? 3 : 4;
    if (c == 0 && slots[c] == 4) grey = true;
  }
  auto half = [&](size_t c, size_t index) {
    const uint32_t sample = image.samples[c][index];
    if (image.channels[c].pixelType == kHalf) return static_cast<uint16_t>(sample);
    if (image.channels[c].pixelType != kUint) return ReferenceFloatToHalf(sample);
    // A UINT counts by its value, through the FLOAT nearest to it.
    const float value = static_cast<float>(sample);
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return ReferenceFloatToHalf(bits);
  };
  auto store = [&](size_t pixel, int component, uint16_t value) {
    frame[pixel * 8 + 2 * component] = static_cast<uint8_t>(value);
    frame[pixel * 8 + 2 * component + 1] = static_cast<uint8_t>(value >> 8);
  };
  for (size_t index = 0; index < frame.size() / 8; ++index) {
    if (grey) {
      for (int k = 0; k < 3; ++k) store(index, k, half(0, index));
      store(index, 3, 0x3C00);
      continue;
    }
    for (size_t c = 0; c < count; ++c) store(index, slots[c], half(c, index));
    if (count == 3) store(index, 3, 0x3C00);
  }
  return frame;
}

}  // namespace exrtest
