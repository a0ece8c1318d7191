// A small OpenEXR writer of our own, for the tool's samples, the tests, the
// benchmarks and the fuzz seeds: byte-exact headers (also
// malformed ones) and uncompressed scanline files whose every sample is
// known, with the frame the decoder must make of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace exrtest {

enum PixelType : int32_t { kUint = 0, kHalf = 1, kFloat = 2 };

struct Channel {
  std::string name;
  int32_t pixelType;
};

using Bytes = std::vector<uint8_t>;

void AppendU32(Bytes& out, uint32_t value);
void AppendU64(Bytes& out, uint64_t value);
void PutU32(Bytes& out, size_t offset, uint32_t value);
void PutU64(Bytes& out, size_t offset, uint64_t value);
uint32_t GetU32(const Bytes& in, size_t offset);
uint64_t GetU64(const Bytes& in, size_t offset);

Bytes BoxValue(int32_t xMin, int32_t yMin, int32_t xMax, int32_t yMax);
Bytes ChannelListValue(const std::vector<Channel>& channels);

// Builds a header attribute by attribute, exactly as asked.
class HeaderBuilder {
 public:
  HeaderBuilder();  // magic and version word 2
  HeaderBuilder& Version(uint32_t version);
  HeaderBuilder& Attribute(const std::string& name, const std::string& type, const Bytes& value);
  // An attribute whose size field says `size`, whatever the value holds.
  HeaderBuilder& AttributeWithSize(const std::string& name, const std::string& type, int32_t size,
                                   const Bytes& value);
  HeaderBuilder& Channels(const std::vector<Channel>& channels);
  HeaderBuilder& Compression(uint8_t compression);
  HeaderBuilder& DataWindow(int32_t xMin, int32_t yMin, int32_t xMax, int32_t yMax);
  HeaderBuilder& LineOrder(uint8_t order);
  HeaderBuilder& End();  // the empty name that closes the header
  Bytes bytes;
};

// A picture with known samples: samples[c][row * width + x], raw bits (a
// HALF sample in the low 16 bits).
struct Image {
  int32_t xMin = 0;
  int32_t yMin = 0;
  int32_t width = 0;
  int32_t height = 0;
  std::vector<Channel> channels;
  std::vector<std::vector<uint32_t>> samples;
};

// Samples from a seeded generator: HALF samples are finite halves, FLOAT
// samples a mix of ordinary values and every special class, UINT anything.
Image MakeImage(int32_t width, int32_t height, const std::vector<Channel>& channels, uint32_t seed,
                int32_t xMin = 0, int32_t yMin = 0);

struct WriteOptions {
  uint8_t lineOrder = 0;            // 1: chunks stored bottom row first
  uint8_t compression = 0;
  bool shuffleTable = false;        // table entries listed in a shuffled order
  int32_t pixelDataSizeOverride = -1;  // >= 0: this value in every chunk's size field
  Bytes extraAttribute;             // raw bytes inserted before the end of the header
};

struct WrittenFile {
  Bytes bytes;
  size_t headerEnd = 0;               // where the table starts
  std::vector<size_t> chunkOffsets;   // per row, top to bottom
};

WrittenFile WriteExr(const Image& image, const WriteOptions& options = {});

// The frame (width x height x 8 bytes) that decoding the image must give.
Bytes ExpectedFrame(const Image& image);

// Reference conversion for the expected frames, written from the rules
// independently of the decoder's.
uint16_t ReferenceFloatToHalf(uint32_t bits);

}  // namespace exrtest
