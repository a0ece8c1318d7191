// Files from the OpenEXR library's own writer, parsed and decoded by the
// plug-in and compared with what the library itself reads back.
#include <gtest/gtest.h>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfPreviewImage.h>
#include <Imath/half.h>

#include <cstring>
#include <map>

#include "exr/float_to_half.h"
#include "exr/mondrel.h"
#include "support/decode_helpers.h"
#include "support/exr_writer.h"
#include "support/parse_helpers.h"
#include "support/test_files.h"

using namespace exrtest;
namespace Imf = OPENEXR_IMF_NAMESPACE;

namespace {

struct OracleFile {
  std::vector<Channel> channels;
  int32_t xMin = 0;
  int32_t yMin = 0;
  int32_t width = 33;
  int32_t height = 21;
  Imf::LineOrder lineOrder = Imf::INCREASING_Y;
  Imf::Compression compression = Imf::NO_COMPRESSION;
  int previewSide = 0;  // a preview attribute of side x side pixels
};

Imf::PixelType ToImf(int32_t type) {
  return type == kHalf ? Imf::HALF : type == kFloat ? Imf::FLOAT : Imf::UINT;
}

// Writes the file with the library; the samples come from our generator,
// planar per channel as 32-bit words.
Image WriteWithLibrary(const fs::path& path, const OracleFile& spec) {
  Image image = MakeImage(spec.width, spec.height, spec.channels, 77, spec.xMin, spec.yMin);
  Imf::Header header(Imath::Box2i(Imath::V2i(spec.xMin, spec.yMin),
                                  Imath::V2i(spec.xMin + spec.width - 1, spec.yMin + spec.height - 1)),
                     Imath::Box2i(Imath::V2i(spec.xMin, spec.yMin),
                                  Imath::V2i(spec.xMin + spec.width - 1, spec.yMin + spec.height - 1)));
  header.lineOrder() = spec.lineOrder;
  header.compression() = spec.compression;
  if (spec.previewSide > 0) {
    Imf::PreviewImage preview(spec.previewSide, spec.previewSide);
    header.setPreviewImage(preview);
  }
  Imf::FrameBuffer buffer;
  std::vector<std::vector<uint8_t>> storage;
  for (size_t c = 0; c < spec.channels.size(); ++c) {
    const int32_t type = spec.channels[c].pixelType;
    header.channels().insert(spec.channels[c].name, Imf::Channel(ToImf(type)));
    const size_t bytes = type == kHalf ? 2 : 4;
    std::vector<uint8_t> plane(bytes * image.samples[c].size());
    for (size_t i = 0; i < image.samples[c].size(); ++i) std::memcpy(&plane[bytes * i], &image.samples[c][i], bytes);
    storage.push_back(std::move(plane));
    char* origin = reinterpret_cast<char*>(storage.back().data()) -
                   (static_cast<ptrdiff_t>(spec.yMin) * spec.width + spec.xMin) * static_cast<ptrdiff_t>(bytes);
    buffer.insert(spec.channels[c].name,
                  Imf::Slice(ToImf(type), origin, bytes, bytes * static_cast<size_t>(spec.width)));
  }
  Imf::OutputFile file(path.string().c_str(), header);
  file.setFrameBuffer(buffer);
  file.writePixels(spec.height);
  return image;
}

// What the library reads back: per channel, the 32-bit words of each sample
// (HALF in the low 16 bits), keyed by channel name.
std::map<std::string, std::vector<uint32_t>> ReadWithLibrary(const fs::path& path) {
  Imf::InputFile file(path.string().c_str());
  const Imath::Box2i window = file.header().dataWindow();
  const int width = window.max.x - window.min.x + 1;
  const int height = window.max.y - window.min.y + 1;
  std::map<std::string, std::vector<uint32_t>> planes;
  Imf::FrameBuffer buffer;
  for (auto it = file.header().channels().begin(); it != file.header().channels().end(); ++it) {
    std::vector<uint32_t>& plane = planes[it.name()];
    plane.assign(static_cast<size_t>(width) * height, 0);
    char* origin = reinterpret_cast<char*>(plane.data()) -
                   (static_cast<ptrdiff_t>(window.min.y) * width + window.min.x) * 4;
    buffer.insert(it.name(), Imf::Slice(it.channel().type, origin, 4, 4 * static_cast<size_t>(width)));
  }
  file.setFrameBuffer(buffer);
  file.readPixels(window.min.y, window.max.y);
  return planes;
}

size_t ChunkBytes(const OracleFile& spec) {
  size_t bytes = 8;
  for (const Channel& c : spec.channels) bytes += (c.pixelType == kHalf ? 2 : 4) * static_cast<size_t>(spec.width);
  return bytes;
}

class LibraryFiles : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST_F(LibraryFiles, HeadersParse) {
  OracleFile rgba;
  rgba.channels = {{"R", kHalf}, {"G", kHalf}, {"B", kHalf}, {"A", kHalf}};
  WriteWithLibrary(dir / "rgba.exr", rgba);
  const Bytes bytes = ReadBytes(dir / "rgba.exr");
  Mondrel image;
  ASSERT_EQ(ParseBytes(image, bytes), 4);
  EXPECT_EQ(image.channelSlot[0], 3) << "the library stores A, B, G, R";
  EXPECT_EQ(image.channelSlot[1], 2);
  EXPECT_EQ(image.channelSlot[2], 1);
  EXPECT_EQ(image.channelSlot[3], 0);
  EXPECT_EQ(image.width, 33);
  EXPECT_EQ(image.height, 21);
  const size_t pixelBytes = ChunkBytes(rgba) * 21;
  EXPECT_EQ(static_cast<size_t>(image.headerEnd), bytes.size() - pixelBytes - 8 * 21);

  for (Imf::Compression compression : {Imf::ZIP_COMPRESSION, Imf::PIZ_COMPRESSION, Imf::RLE_COMPRESSION}) {
    SCOPED_TRACE(compression);
    OracleFile packed = rgba;
    packed.compression = compression;
    WriteWithLibrary(dir / "packed.exr", packed);
    Mondrel record;
    EXPECT_EQ(ParseBytes(record, ReadBytes(dir / "packed.exr")), kParseCompressed);
    EXPECT_EQ(record.compression, static_cast<int32_t>(compression));
    EXPECT_EQ(record.width, 33);
    EXPECT_EQ(record.height, 21);
    EXPECT_EQ(record.channelCount, 4);
  }

  OracleFile preview = rgba;
  preview.previewSide = 100;  // 40,000 bytes of preview in the header
  WriteWithLibrary(dir / "preview.exr", preview);
  const Bytes previewBytes = ReadBytes(dir / "preview.exr");
  ASSERT_GT(previewBytes.size() - ChunkBytes(preview) * 21 - 8 * 21, 16384u) << "the header passes 16 KiB";
  Mondrel withPreview;
  EXPECT_EQ(ParseBytes(withPreview, previewBytes), 4);
  EXPECT_EQ(withPreview.headerEnd, -1);
}

TEST_F(LibraryFiles, FramesMatchWhatTheLibraryReads) {
  struct Case {
    const char* what;
    OracleFile spec;
  };
  auto make = [](std::vector<Channel> channels, int32_t xMin = 0, int32_t yMin = 0,
                 Imf::LineOrder order = Imf::INCREASING_Y) {
    OracleFile spec;
    spec.channels = std::move(channels);
    spec.xMin = xMin;
    spec.yMin = yMin;
    spec.lineOrder = order;
    return spec;
  };
  const std::vector<Channel> rgbaHalf = {{"R", kHalf}, {"G", kHalf}, {"B", kHalf}, {"A", kHalf}};
  const std::vector<Channel> rgbHalf = {{"R", kHalf}, {"G", kHalf}, {"B", kHalf}};
  const std::vector<Channel> rgbFloat = {{"R", kFloat}, {"G", kFloat}, {"B", kFloat}};
  const Case cases[] = {
      {"RGBA HALF", make(rgbaHalf)},
      {"RGB HALF", make(rgbHalf)},
      {"RGB FLOAT", make(rgbFloat)},
      {"RGBA FLOAT", make({{"R", kFloat}, {"G", kFloat}, {"B", kFloat}, {"A", kFloat}})},
      {"V HALF", make({{"V", kHalf}})},
      {"V FLOAT", make({{"V", kFloat}})},
      {"UINT channel 0", make({{"B", kUint}, {"G", kFloat}, {"R", kFloat}})},
      {"DECREASING", make(rgbaHalf, 0, 0, Imf::DECREASING_Y)},
      {"DECREASING FLOAT", make(rgbFloat, 0, 0, Imf::DECREASING_Y)},
      {"origin 100,50", make(rgbaHalf, 100, 50)},
      {"origin -20,-10", make(rgbFloat, -20, -10)},
      {"origin -20,-10 DECREASING", make(rgbHalf, -20, -10, Imf::DECREASING_Y)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteWithLibrary(dir / "oracle.exr", c.spec);
    const auto planes = ReadWithLibrary(dir / "oracle.exr");
    GuardedFrame frame(static_cast<size_t>(c.spec.width) * c.spec.height * 8);
    const DecodeRun run = DecodeFile(dir / "oracle.exr", frame);
    ASSERT_GT(run.parseStatus, 0);
    ASSERT_EQ(run.decodeResult, static_cast<int32_t>(frame.size));
    ASSERT_TRUE(frame.GuardIntact());
    const Bytes result = frame.Frame();
    const bool floatSamples = c.spec.channels[0].pixelType != kHalf;
    const bool grey = c.spec.channels[0].name == "V";
    auto expectedComponent = [&](const std::string& name, size_t index) -> uint16_t {
      const auto found = planes.find(name);
      if (found == planes.end()) return name == "A" ? 0x3C00 : 0;
      const uint32_t word = found->second[index];
      return floatSamples ? FloatToHalf(word) : static_cast<uint16_t>(word);
    };
    for (size_t index = 0; index < result.size() / 8; ++index) {
      const char* names[4] = {"R", "G", "B", "A"};
      for (int k = 0; k < 4; ++k) {
        const uint16_t got = static_cast<uint16_t>(result[8 * index + 2 * k] | result[8 * index + 2 * k + 1] << 8);
        const uint16_t want = grey ? (k == 3 ? 0x3C00 : expectedComponent("V", index)) : expectedComponent(names[k], index);
        ASSERT_EQ(got, want) << "pixel " << index << " component " << k;
      }
    }
  }
}

// Channel 0 HALF with FLOAT channels after it: every channel is read as
// 2-byte samples, so only channel 0 comes out as the library reads it.
TEST_F(LibraryFiles, ChannelZeroHalfWithFloatOthers) {
  OracleFile spec;
  spec.channels = {{"B", kHalf}, {"G", kFloat}, {"R", kFloat}};
  WriteWithLibrary(dir / "mixed.exr", spec);
  const auto planes = ReadWithLibrary(dir / "mixed.exr");
  GuardedFrame frame(static_cast<size_t>(spec.width) * spec.height * 8);
  const DecodeRun run = DecodeFile(dir / "mixed.exr", frame);
  ASSERT_EQ(run.decodeResult, static_cast<int32_t>(frame.size));
  const Bytes result = frame.Frame();
  for (size_t index = 0; index < result.size() / 8; ++index) {
    EXPECT_EQ(result[8 * index + 4] | result[8 * index + 5] << 8, static_cast<int>(planes.at("B")[index] & 0xFFFF));
  }
}

}  // namespace
