#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exr/mondrel.h"
#include "writer/exr_writer.h"
#include "support/parse_helpers.h"

using namespace exrtest;

namespace {

HeaderBuilder ValidHeader(const std::vector<Channel>& channels) {
  HeaderBuilder header;
  header.Channels(channels).Compression(0).DataWindow(0, 0, 1919, 1079).LineOrder(0);
  return header;
}

std::vector<Channel> Named(const std::vector<std::string>& names) {
  std::vector<Channel> channels;
  for (const std::string& name : names) channels.push_back({name, kHalf});
  return channels;
}

TEST(ParseHeader, MinimalBgrFile) {
  HeaderBuilder header = ValidHeader(Named({"B", "G", "R"}));
  header.End();
  Mondrel image;
  EXPECT_EQ(ParseBytes(image, header.bytes), 3);
  EXPECT_EQ(image.width, 1920);
  EXPECT_EQ(image.height, 1080);
  EXPECT_EQ(image.channelCount, 3);
  EXPECT_EQ(image.channelSlot[0], 2);
  EXPECT_EQ(image.channelSlot[1], 1);
  EXPECT_EQ(image.channelSlot[2], 0);
  EXPECT_EQ(image.channelSlot[3], -1);
  EXPECT_EQ(image.pixelType[0], kHalf);
  EXPECT_EQ(image.headerEnd, static_cast<int32_t>(header.bytes.size()));
  EXPECT_EQ(image.version, 2);
  EXPECT_EQ(image.lineOrder, 0);
  EXPECT_EQ(image.compression, 0);
}

struct LayoutCase {
  std::vector<std::string> names;
  int32_t status;
  std::vector<int32_t> slots;  // expected channelSlot entries when status > 0
};

TEST(ParseHeader, ChannelLayouts) {
  const LayoutCase cases[] = {
      {{"A", "B", "G", "R"}, 4, {3, 2, 1, 0}},
      {{"B", "G", "R"}, 3, {2, 1, 0, -1}},
      {{"R", "G", "B"}, 3, {0, 1, 2, -1}},
      {{"G", "R", "A", "B"}, 4, {1, 0, 3, 2}},
      {{"A", "B", "G"}, kParseTooFewChannels, {}},  // no R
      {{"A", "B", "R"}, kParseTooFewChannels, {}},  // no G
      {{"R", "R", "G"}, kParseTooFewChannels, {}},
      {{"R", "G", "B", "B"}, kParseTooFewChannels, {}},
      {{"A", "A", "G", "R"}, kParseTooFewChannels, {}},
      {{"V"}, 1, {0, -1, -1, -1}},
      {{"V", "R", "G"}, 1, {0, 0, 1, -1}},
      {{"R", "G"}, kParseTooFewChannels, {}},
      {{"A"}, kParseTooFewChannels, {}},
      {{}, kParseTooFewChannels, {}},
      {{"A", "V"}, kParseVNotFirst, {}},
      {{"R", "G", "V"}, kParseVNotFirst, {}},
      {{"R", "G", "B", "V"}, kParseVNotFirst, {}},
      {{"X", "G", "B"}, kParseUnknownChannel, {}},
      {{"R", "g", "B"}, kParseUnknownChannel, {}},
      {{"diffuse.R", "diffuse.G", "diffuse.B"}, kParseUnknownChannel, {}},
      {{"Y"}, kParseUnknownChannel, {}},
      {{"RR", "G", "B"}, kParseUnknownChannel, {}},
      {{"A", "B", "G", "R", "R"}, kParseTooManyChannels, {}},
  };
  for (const LayoutCase& c : cases) {
    std::string label;
    for (const std::string& name : c.names) label += name + ",";
    SCOPED_TRACE(label);
    HeaderBuilder header = ValidHeader(Named(c.names));
    header.End();
    Mondrel image;
    EXPECT_EQ(ParseBytes(image, header.bytes), c.status);
    if (c.status > 0) {
      EXPECT_EQ(image.channelCount, c.status);
      for (size_t k = 0; k < c.slots.size(); ++k) EXPECT_EQ(image.channelSlot[k], c.slots[k]) << k;
    } else {
      EXPECT_EQ(image.channelCount, 0);
      EXPECT_EQ(image.width, 0);
    }
  }
}

TEST(ParseHeader, NoChannelsAttributeIsTooFew) {
  HeaderBuilder header;
  header.Compression(0).DataWindow(0, 0, 9, 9).End();
  Mondrel image;
  EXPECT_EQ(ParseBytes(image, header.bytes), kParseTooFewChannels);
}

TEST(ParseHeader, CompressedFileKeepsItsSize) {
  HeaderBuilder header;
  header.Channels(Named({"B", "G", "R"})).Compression(3).DataWindow(0, 0, 639, 479).End();
  Mondrel image;
  EXPECT_EQ(ParseBytes(image, header.bytes), kParseCompressed);
  EXPECT_EQ(image.compression, 3);
  EXPECT_EQ(image.channelCount, 3);
  EXPECT_EQ(image.width, 640);
  EXPECT_EQ(image.height, 480);
}

TEST(ParseHeader, NameLengthBounds) {
  struct Case {
    std::string what;
    HeaderBuilder header;
    int32_t status;
  };
  const std::string n255(255, 'n');
  const std::string n256(256, 'n');
  std::vector<Case> cases;
  {
    HeaderBuilder h = ValidHeader(Named({"B", "G", "R"}));
    h.Attribute(n255, "string", Bytes{'x'}).End();
    cases.push_back({"attribute name of 255", h, 3});
  }
  {
    HeaderBuilder h = ValidHeader(Named({"B", "G", "R"}));
    h.Attribute(n256, "string", Bytes{'x'}).End();
    cases.push_back({"attribute name of 256", h, kParseNameTooLong});
  }
  {
    HeaderBuilder h = ValidHeader(Named({"B", "G", "R"}));
    h.Attribute("comment", n255, Bytes{'x'}).End();
    cases.push_back({"type name of 255", h, 3});
  }
  {
    HeaderBuilder h = ValidHeader(Named({"B", "G", "R"}));
    h.Attribute("comment", n256, Bytes{'x'}).End();
    cases.push_back({"type name of 256", h, kParseTypeNameTooLong});
  }
  {
    HeaderBuilder h = ValidHeader(Named({"B", "G", n255}));
    h.End();
    cases.push_back({"channel name of 255", h, kParseUnknownChannel});
  }
  {
    HeaderBuilder h = ValidHeader(Named({"B", "G", n256}));
    h.End();
    cases.push_back({"channel name of 256", h, kParseChannelNameTooLong});
  }
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    Mondrel image;
    EXPECT_EQ(ParseBytes(image, c.header.bytes), c.status);
  }
}

TEST(ParseHeader, RecognisedAttributesNeedTheirExactType) {
  struct Case {
    std::string name;
    std::string type;
    Bytes value;
    int32_t status;
  };
  const Case cases[] = {
      {"compression", "compressio", Bytes{0}, kParseWrongAttributeType},
      {"compression", "compressionX", Bytes{0}, kParseWrongAttributeType},
      {"dataWindow", "box2f", BoxValue(0, 0, 1, 1), kParseWrongAttributeType},
      {"displayWindow", "box2", BoxValue(0, 0, 1, 1), kParseWrongAttributeType},
      {"lineOrder", "int", Bytes{0, 0, 0, 0}, kParseWrongAttributeType},
      {"pixelAspectRatio", "double", Bytes(8, 0), kParseWrongAttributeType},
      {"screenWindowCenter", "v2i", Bytes(8, 0), kParseWrongAttributeType},
      {"screenWindowWidth", "", Bytes(4, 0), kParseWrongAttributeType},
      {"pixelAspectRatio", "float", Bytes(4, 0), 3},
      {"screenWindowCenter", "v2f", Bytes(8, 0), 3},
      {"Compression", "int", Bytes(4, 0), 3},   // names are case-sensitive: unknown, skipped
      {"owner", "", Bytes{'a', 'b'}, 3},        // unknown with an empty type name
      {"comments", "string", Bytes(300, 'c'), 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + "/" + c.type);
    HeaderBuilder header = ValidHeader(Named({"B", "G", "R"}));
    header.Attribute(c.name, c.type, c.value).End();
    Mondrel image;
    EXPECT_EQ(ParseBytes(image, header.bytes), c.status);
  }
  HeaderBuilder header;
  header.Channels(Named({"B", "G", "R"})).Attribute("channels", "chlst", ChannelListValue(Named({"V"}))).End();
  Mondrel image;
  EXPECT_EQ(ParseBytes(image, header.bytes), kParseWrongAttributeType);
}

TEST(ParseHeader, StoresWindowsAndLineOrder) {
  HeaderBuilder header;
  header.Channels(Named({"V"}))
      .DataWindow(-20, -10, 79, 39)
      .Attribute("displayWindow", "box2i", BoxValue(1, 2, 3, 4))
      .LineOrder(1)
      .End();
  Mondrel image;
  ASSERT_EQ(ParseBytes(image, header.bytes), 1);
  EXPECT_EQ(image.dataWindow.xMin, -20);
  EXPECT_EQ(image.dataWindow.yMin, -10);
  EXPECT_EQ(image.width, 100);
  EXPECT_EQ(image.height, 50);
  EXPECT_EQ(image.displayWindow.xMin, 1);
  EXPECT_EQ(image.displayWindow.yMax, 4);
  EXPECT_EQ(image.lineOrder, 1);
}

TEST(ParseHeader, WithoutDataWindowThePictureIsOnePixel) {
  HeaderBuilder header;
  header.Channels(Named({"B", "G", "R"})).End();
  Mondrel image;
  EXPECT_EQ(ParseBytes(image, header.bytes), 3);
  EXPECT_EQ(image.width, 1);
  EXPECT_EQ(image.height, 1);
}

TEST(ParseHeader, WindowArithmeticWrapsWithoutChecks) {
  HeaderBuilder header;
  header.Channels(Named({"B", "G", "R"})).DataWindow(INT32_MIN, 10, INT32_MAX, 0).End();
  Mondrel image;
  EXPECT_EQ(ParseBytes(image, header.bytes), 3);
  EXPECT_EQ(image.width, 0);    // 2^32 wraps to 0
  EXPECT_EQ(image.height, -9);  // inverted
}

TEST(ParseHeader, ChannelListEndsAtItsTerminatorWhateverItsSize) {
  for (int32_t declared : {0, 1, 5, 1000, 100000}) {
    SCOPED_TRACE(declared);
    HeaderBuilder header;
    header.AttributeWithSize("channels", "chlist", declared, ChannelListValue(Named({"B", "G", "R"})))
        .DataWindow(0, 0, 7, 3)
        .End();
    Mondrel image;
    EXPECT_EQ(ParseBytes(image, header.bytes), 3);
    EXPECT_EQ(image.width, 8);
    EXPECT_EQ(image.headerEnd, static_cast<int32_t>(header.bytes.size()));
  }
}

TEST(ParseHeader, ValuesAreReadFromTheirFirstBytesWhateverTheSize) {
  HeaderBuilder header;
  header.Channels(Named({"B", "G", "R"}))
      .AttributeWithSize("dataWindow", "box2i", 16, BoxValue(0, 0, 3, 3))
      .AttributeWithSize("compression", "compression", 4, Bytes{0, 9, 9, 9})
      .End();
  Mondrel image;
  EXPECT_EQ(ParseBytes(image, header.bytes), 3);
  EXPECT_EQ(image.width, 4);
}

TEST(ParseHeader, RepeatedAttributesOverwrite) {
  HeaderBuilder header;
  header.Channels(Named({"R", "G", "B", "A"}))
      .DataWindow(0, 0, 9, 9)
      .Channels(Named({"B", "G", "R"}))
      .DataWindow(0, 0, 19, 4)
      .End();
  Mondrel image;
  // The second list writes entries 0 to 2 again; entry 3 keeps the first list's A.
  EXPECT_EQ(ParseBytes(image, header.bytes), 4);
  EXPECT_EQ(image.channelSlot[0], 2);
  EXPECT_EQ(image.channelSlot[1], 1);
  EXPECT_EQ(image.channelSlot[2], 0);
  EXPECT_EQ(image.channelSlot[3], 3);
  EXPECT_EQ(image.width, 20);
  EXPECT_EQ(image.height, 5);
}

TEST(ParseHeader, AttributeSizes) {
  struct Case {
    int32_t size;
    int32_t status;
    bool headerEnds;
    bool sizeIsTheLastByteRead;  // the header's end is cut off
  };
  const Case cases[] = {
      {-1, kParseNegativeAttributeSize, false, false},
      {INT32_MIN, kParseNegativeAttributeSize, false, false},
      {-1, kParseNegativeAttributeSize, false, true},
      {INT32_MAX, 3, false, false},  // runs past the bytes: the loop ends there
      {20000, 3, false, false},
      {0, 3, true, false},
      {0, 3, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + (c.sizeIsTheLastByteRead ? ", size last" : ""));
    HeaderBuilder header = ValidHeader(Named({"B", "G", "R"}));
    header.AttributeWithSize("comment", "string", c.size, Bytes{}).End();
    if (c.sizeIsTheLastByteRead) header.bytes.pop_back();
    Mondrel image;
    EXPECT_EQ(ParseBytes(image, header.bytes), c.status);
    EXPECT_EQ(image.headerEnd >= 0, c.headerEnds);
  }
}

TEST(ParseHeader, ShortAndForeignFiles) {
  Mondrel a;
  EXPECT_EQ(ParseBytes(a, Bytes{}), kParseBadMagic);
  Mondrel b;
  EXPECT_EQ(ParseBytes(b, Bytes{0x76, 0x2F, 0x31}), kParseBadMagic);
  Mondrel c;
  EXPECT_EQ(ParseBytes(c, Bytes{'P', 'N', 'G', 0, 2, 0, 0, 0, 0}), kParseBadMagic);
  EXPECT_EQ(c.version, -1);
  for (size_t length = 4; length <= 8; ++length) {
    SCOPED_TRACE(length);
    HeaderBuilder header;
    header.bytes.resize(length);
    Mondrel image;
    EXPECT_EQ(ParseBytes(image, header.bytes), kParseTooFewChannels);
  }
}

// Tiled, deep and multi-part files are refused after the compression
// check, with the windows and channels stored as for a compressed file; no
// other bit of the version word matters.
TEST(ParseHeader, VersionFlags) {
  const struct {
    uint32_t version;
    uint8_t compression;
    int32_t status;
  } cases[] = {
      {2u, 0, 3},
      {0x402u /* long names */, 0, 3},
      {0xFFFFE1FFu /* every other bit */, 0, 3},
      {0x202u /* tiled */, 0, kParseNotFlatScanline},
      {0x802u /* deep */, 0, kParseNotFlatScanline},
      {0x1002u /* multi-part */, 0, kParseNotFlatScanline},
      {0xFFFFFFFFu, 0, kParseNotFlatScanline},
      {0x202u, 3 /* ZIP */, kParseCompressed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.version));
    HeaderBuilder header = ValidHeader(Named({"B", "G", "R"}));
    header.Compression(c.compression).Version(c.version).End();
    Mondrel image;
    EXPECT_EQ(ParseBytes(image, header.bytes), c.status);
    EXPECT_EQ(static_cast<uint32_t>(image.version), c.version);
    EXPECT_EQ(image.channelCount, 3);
    EXPECT_GT(image.width, 0);
  }
}

// Only the first 16,384 bytes are examined: a header whose end lies within
// them has its end found, one that ends a byte later still parses but has
// no end, and so no table.
TEST(ParseHeader, HeaderLongerThanTheBufferStillParses) {
  const size_t before = ValidHeader(Named({"A", "B", "G", "R"})).bytes.size();
  const size_t overhead = std::string("preview").size() * 2 + 2 + 4 + 1;  // names, size, end of header
  struct Case {
    size_t headerBytes;
    int32_t headerEnd;
  };
  const Case cases[] = {
      {16383, 16383},
      {16384, 16384},
      {16385, -1},
      {before + overhead + 20000, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.headerBytes);
    HeaderBuilder header = ValidHeader(Named({"A", "B", "G", "R"}));
    header.Attribute("preview", "preview", Bytes(c.headerBytes - before - overhead, 0x55)).End();
    ASSERT_EQ(header.bytes.size(), c.headerBytes);
    Mondrel image;
    EXPECT_EQ(ParseBytes(image, header.bytes), 4);
    EXPECT_EQ(image.headerEnd, c.headerEnd);
  }
}

TEST(ParseHeader, FifthChannelIsNeverStored) {
  HeaderBuilder header = ValidHeader(Named({"A", "B", "G", "R", "V", "V"}));
  header.End();
  Mondrel image;
  EXPECT_EQ(ParseBytes(image, header.bytes), kParseTooManyChannels);
  EXPECT_EQ(image.channelSlot[3], 0);
}

// Every truncation of a valid header: the parser sees only the bytes given,
// so whatever lies beyond them in the buffer cannot change the outcome.
TEST(ParseHeader, EveryTruncationReadsOnlyTheBytesGiven) {
  HeaderBuilder header = ValidHeader(Named({"A", "B", "G", "R"}));
  header.Attribute("comment", "string", Bytes{'h', 'i'}).End();
  // Magic and version, "channels", "chlist", the size, then entries of a
  // name, its zero and 16 bytes each.
  const size_t kFourthEntryEnd = 8 + 9 + 7 + 4 + 4 * 18;
  ASSERT_EQ(header.bytes[8 + 9 + 7 + 4 + 3 * 18], 'R');
  for (size_t length = 0; length <= header.bytes.size(); ++length) {
    SCOPED_TRACE(length);
    const Bytes cut(header.bytes.begin(), header.bytes.begin() + static_cast<std::ptrdiff_t>(length));
    Mondrel zeroFilled;
    Mondrel oneFilled;
    const int32_t first = ParseBytes(zeroFilled, cut, 0x00);
    const int32_t second = ParseBytes(oneFilled, cut, 0xFF);
    EXPECT_EQ(first, second);
    EXPECT_EQ(zeroFilled.headerEnd, oneFilled.headerEnd);
    EXPECT_EQ(zeroFilled.width, oneFilled.width);
    EXPECT_EQ(zeroFilled.compression, oneFilled.compression);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(zeroFilled.channelSlot[k], oneFilled.channelSlot[k]);
    // A channel entry counts only once all its 18 bytes were read, so the
    // status turns from -9 to 4 where the fourth entry ends.
    const int32_t expected = length < 4 ? kParseBadMagic : length < kFourthEntryEnd ? kParseTooFewChannels : 4;
    EXPECT_EQ(first, expected);
    if (length < header.bytes.size()) {
      EXPECT_EQ(zeroFilled.headerEnd, -1);
    }
  }
}

}  // namespace
