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
#include "plugin/plugin_table.h"
#include "support/decode_helpers.h"
#include "writer/exr_writer.h"
#include "support/parse_helpers.h"
#include "support/openexr_files.h"
#include "support/test_files.h"
#include "tools/convert_picture.h"

using namespace exrtest;
namespace OpenExr = OPENEXR_IMF_NAMESPACE;

namespace {

size_t ChunkBytes(const OracleFile& layout) {
  size_t bytes = 8;
  for (const Channel& c : layout.channels) bytes += (c.pixelType == kHalf ? 2 : 4) * static_cast<size_t>(layout.width);
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

  for (OpenExr::Compression compression : {OpenExr::ZIP_COMPRESSION, OpenExr::PIZ_COMPRESSION, OpenExr::RLE_COMPRESSION}) {
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

  // Tiles, deep samples and a second part: refused at open, never read as
  // scanlines into a wrong picture.
  struct Refused {
    const char* what;
    int tileSide;
    OpenExr::LevelMode levels;
    bool deep;
    bool twoParts;
  };
  const Refused refused[] = {
      {"16-pixel tiles", 16, OpenExr::ONE_LEVEL, false, false}, {"32-pixel tiles", 32, OpenExr::ONE_LEVEL, false, false},
      {"mipmapped tiles", 16, OpenExr::MIPMAP_LEVELS, false, false},
      {"deep scanlines", 0, OpenExr::ONE_LEVEL, true, false},
      {"two parts", 0, OpenExr::ONE_LEVEL, false, true},
  };
  const PluginTable* table = GetInputPluginTable();
  for (const Refused& r : refused) {
    SCOPED_TRACE(r.what);
    OracleFile layout = rgba;
    layout.tileSide = r.tileSide;
    layout.levels = r.levels;
    layout.deep = r.deep;
    layout.twoParts = r.twoParts;
    WriteWithLibrary(dir / "layout.exr", layout);
    Mondrel record;
    EXPECT_EQ(ParseBytes(record, ReadBytes(dir / "layout.exr")), kParseNotFlatScanline);
    EXPECT_EQ(table->open(WidePath(dir / "layout.exr").c_str()), nullptr);
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
    OracleFile layout;
  };
  auto make = [](std::vector<Channel> channels, int32_t xMin = 0, int32_t yMin = 0,
                 OpenExr::LineOrder order = OpenExr::INCREASING_Y) {
    OracleFile layout;
    layout.channels = std::move(channels);
    layout.xMin = xMin;
    layout.yMin = yMin;
    layout.lineOrder = order;
    return layout;
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
      {"UINT between HALF", make({{"R", kHalf}, {"G", kUint}, {"B", kHalf}, {"A", kUint}})},
      // Channels of different sample types, as renderers write them.
      {"R FLOAT, G B A HALF", make({{"R", kFloat}, {"G", kHalf}, {"B", kHalf}, {"A", kHalf}})},
      {"B HALF, G R FLOAT", make({{"B", kHalf}, {"G", kFloat}, {"R", kFloat}})},
      {"A FLOAT, R G B HALF", make({{"R", kHalf}, {"G", kHalf}, {"B", kHalf}, {"A", kFloat}})},
      {"R G B FLOAT, A HALF DECREASING", make({{"R", kFloat}, {"G", kFloat}, {"B", kFloat}, {"A", kHalf}}, -20,
                                             -10, OpenExr::DECREASING_Y)},
      {"DECREASING", make(rgbaHalf, 0, 0, OpenExr::DECREASING_Y)},
      {"DECREASING FLOAT", make(rgbFloat, 0, 0, OpenExr::DECREASING_Y)},
      {"origin 100,50", make(rgbaHalf, 100, 50)},
      {"origin -20,-10", make(rgbFloat, -20, -10)},
      {"origin -20,-10 DECREASING", make(rgbHalf, -20, -10, OpenExr::DECREASING_Y)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteWithLibrary(dir / "oracle.exr", c.layout);
    const auto planes = ReadWithLibrary(dir / "oracle.exr");
    GuardedFrame frame(static_cast<size_t>(c.layout.width) * c.layout.height * 8);
    const DecodeRun run = DecodeFile(dir / "oracle.exr", frame);
    ASSERT_GT(run.parseStatus, 0);
    ASSERT_EQ(run.decodeResult, static_cast<int32_t>(frame.size));
    ASSERT_TRUE(frame.GuardIntact());
    const Bytes result = frame.Frame();
    std::map<std::string, int32_t> types;
    for (const Channel& channel : c.layout.channels) types[channel.name] = channel.pixelType;
    const bool grey = c.layout.channels[0].name == "V";
    auto expectedComponent = [&](const std::string& name, size_t index) -> uint16_t {
      const auto found = planes.find(name);
      if (found == planes.end()) return name == "A" ? 0x3C00 : 0;
      const uint32_t word = found->second[index];
      return types[name] == kHalf ? static_cast<uint16_t>(word) : types[name] == kUint ? UintToHalf(word) : FloatToHalf(word);
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

}  // namespace

namespace {

// The OpenEXR library writes each layout and compression the converter
// reads; the copy decodes through the plug-in exactly as the library reads
// the source (the lossy PXR24 and B44 included), and the library reads the
// copy back with the same samples.
TEST_F(LibraryFiles, ConvertedCopiesMatchTheLibrary) {
  struct Case {
    const char* what;
    OracleFile layout;
    std::string layer;
    std::string refusal;  // a part of the reason, for the files it must refuse
  };
  auto make = [](std::vector<Channel> channels, int32_t width = 33, int32_t height = 21) {
    OracleFile layout;
    layout.channels = std::move(channels);
    layout.width = width;
    layout.height = height;
    layout.smooth = true;
    return layout;
  };
  const std::vector<Channel> rgba = {{"R", kHalf}, {"G", kHalf}, {"B", kHalf}, {"A", kHalf}};
  std::vector<Case> cases = {
      {"RGBA HALF", make(rgba), "", ""},
      {"RGBA HALF, every class of sample", make(rgba), "", ""},
      {"RGB FLOAT 64x48", make({{"R", kFloat}, {"G", kFloat}, {"B", kFloat}}, 64, 48), "", ""},
      {"RGBA UINT", make({{"R", kUint}, {"G", kUint}, {"B", kUint}, {"A", kUint}}), "", ""},
      {"mixed types", make({{"R", kFloat}, {"G", kHalf}, {"B", kUint}, {"A", kHalf}}), "", ""},
      {"V HALF", make({{"V", kHalf}}), "", ""},
      {"Y FLOAT alone", make({{"Y", kFloat}}), "", ""},
      {"extra channels dropped", make({{"R", kHalf}, {"G", kHalf}, {"B", kHalf}, {"Z", kFloat}, {"N.x", kHalf}}), "", ""},
      {"a layer", make({{"diffuse.R", kHalf}, {"diffuse.G", kHalf}, {"diffuse.B", kFloat}, {"diffuse.A", kHalf},
                        {"Z", kFloat}}), "diffuse", ""},
      {"DWAA", make(rgba), "", "DWAA"},
      {"deep", make(rgba), "", "deep"},
      {"luminance-chroma", make({{"Y", kHalf}, {"RY", kHalf}, {"BY", kHalf}}), "", "luminance-chroma"},
  };
  cases[1].layout.smooth = false;
  cases[10].layout.deep = true;
  cases[9].layout.compression = OpenExr::DWAA_COMPRESSION;
  cases.push_back({"RGBA HALF 40x64, whole blocks and chunks", make(rgba, 40, 64), "", ""});
  cases.push_back({"RGB HALF perceptually linear", make({{"R", kHalf}, {"G", kHalf}, {"B", kHalf}}, 19, 13), "", ""});
  cases.back().layout.perceptuallyLinear = true;
  cases.push_back({"RGB HALF perceptually linear, every class", cases.back().layout, "", ""});
  cases.back().layout.smooth = false;
  for (const auto& variant : {std::make_pair("decreasing", 0), std::make_pair("origin -20,-10", 1),
                              std::make_pair("16-pixel tiles", 2), std::make_pair("mipmapped 32-pixel tiles", 3),
                              std::make_pair("ripmapped, rounded up", 4), std::make_pair("two parts", 5)}) {
    Case c{variant.first, make({{"R", kHalf}, {"G", kFloat}, {"B", kHalf}, {"A", kUint}}, 37, 35), "", ""};
    if (variant.second == 0) c.layout.lineOrder = OpenExr::DECREASING_Y;
    if (variant.second == 1) c.layout.xMin = -20, c.layout.yMin = -10;
    if (variant.second >= 2 && variant.second <= 4) c.layout.tileSide = variant.second == 2 ? 16 : 32;
    if (variant.second == 3) c.layout.levels = OpenExr::MIPMAP_LEVELS;
    if (variant.second == 4) c.layout.levels = OpenExr::RIPMAP_LEVELS, c.layout.roundUp = true;
    if (variant.second == 5) c.layout.twoParts = true;
    cases.push_back(c);
  }
  const PluginTable* table = GetInputPluginTable();
  for (const OpenExr::Compression compression :
       {OpenExr::NO_COMPRESSION, OpenExr::RLE_COMPRESSION, OpenExr::ZIPS_COMPRESSION, OpenExr::ZIP_COMPRESSION,
        OpenExr::PIZ_COMPRESSION, OpenExr::PXR24_COMPRESSION, OpenExr::B44_COMPRESSION, OpenExr::B44A_COMPRESSION}) {
    for (Case c : cases) {
      SCOPED_TRACE(std::string(c.what) + ", compression " + std::to_string(compression));
      if (c.layout.compression == OpenExr::NO_COMPRESSION) c.layout.compression = compression;
      WriteWithLibrary(dir / "source.exr", c.layout);
      const Bytes source = ReadBytes(dir / "source.exr");
      ConvertRequest request;
      request.layer = c.layer;
      const PictureCopy copy = CopyPicture(source.data(), static_cast<int64_t>(source.size()), request);
      if (!c.refusal.empty()) {
        EXPECT_NE(copy.refusal.find(c.refusal), std::string::npos) << copy.refusal;
        EXPECT_TRUE(copy.bytes.empty());
        continue;
      }
      ASSERT_EQ(copy.refusal, "");
      WriteBytes(dir / "copy.exr", Bytes(copy.bytes.begin(), copy.bytes.end()));

      const auto planes = ReadWithLibrary(dir / "source.exr");
      const std::string prefix = c.layer.empty() ? "" : c.layer + ".";
      std::map<std::string, int32_t> types;
      for (const Channel& channel : c.layout.channels) types[channel.name] = channel.pixelType;
      const bool grey = planes.count("R") == 0 && c.layer.empty();
      const std::string greyName = planes.count("V") ? "V" : "Y";
      auto sourceOf = [&](const std::string& component) { return grey ? greyName : prefix + component; };
      const auto copyPlanes = ReadWithLibrary(dir / "copy.exr");
      EXPECT_EQ(copyPlanes.size(), grey ? 1u : planes.count(prefix + "A") + 3) << "only the picture is kept";
      for (const auto& plane : copyPlanes) {
        EXPECT_TRUE(plane.second == planes.at(sourceOf(plane.first))) << "the library's read of " << plane.first;
      }

      GuardedFrame frame(static_cast<size_t>(c.layout.width) * c.layout.height * 8);
      const DecodeRun run = DecodeFile(dir / "copy.exr", frame);
      ASSERT_EQ(run.decodeResult, static_cast<int32_t>(frame.size));
      const Bytes result = frame.Frame();
      const char* names[4] = {"R", "G", "B", "A"};
      for (size_t index = 0; index < result.size() / 8; ++index) {
        for (int k = 0; k < 4; ++k) {
          const std::string name = sourceOf(names[k]);
          uint16_t want = k == 3 ? 0x3C00 : 0;
          if ((!grey || k < 3) && planes.count(name)) {
            const uint32_t word = planes.at(name)[index];
            want = types[name] == kHalf ? static_cast<uint16_t>(word) : types[name] == kUint ? UintToHalf(word)
                                                                                           : FloatToHalf(word);
          }
          const uint16_t got = static_cast<uint16_t>(result[8 * index + 2 * k] | result[8 * index + 2 * k + 1] << 8);
          ASSERT_EQ(got, want) << "pixel " << index << " component " << k;
        }
      }
      void* handle = table->open(WidePath(dir / "copy.exr").c_str());
      EXPECT_NE(handle, nullptr) << "the plug-in opens the copy";
      table->close(handle);
    }
  }

  // Every value a perceptually linear B44 block can hold, as the library
  // maps it back.
  const Bytes every = EveryFlatB44Value();
  WriteBytes(dir / "every.exr", every);
  const PictureCopy copy = CopyPicture(every.data(), static_cast<int64_t>(every.size()), ConvertRequest());
  ASSERT_EQ(copy.refusal, "");
  WriteBytes(dir / "copy.exr", Bytes(copy.bytes.begin(), copy.bytes.end()));
  EXPECT_TRUE(ReadWithLibrary(dir / "copy.exr").at("V") == ReadWithLibrary(dir / "every.exr").at("V"));
}

}  // namespace
