#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "plugin/plugin_table.h"
#include "sequence/sequence_name.h"
#include "support/decode_helpers.h"
#include "writer/exr_writer.h"
#include "support/test_files.h"

using namespace exrtest;

namespace {

const std::vector<Channel> kRgba = {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}};
const std::vector<Channel> kRgbFloat = {{"B", kFloat}, {"G", kFloat}, {"R", kFloat}};

class InputHandles : public ::testing::Test {
 protected:
  const PluginTable* table = GetInputPluginTable();
  TempDir dir;

  Image WriteImage(const std::string& name, int32_t width, int32_t height, const std::vector<Channel>& channels,
                   uint32_t seed) {
    Image image = MakeImage(width, height, channels, seed);
    WriteBytes(dir / Utf8Path(name), WriteExr(image).bytes);
    return image;
  }
  void* Open(const std::string& name) {
    const WideString path = WidePath(dir / Utf8Path(name));
    return table->open(path.c_str());
  }
  InputInfo Info(void* handle) {
    InputInfo info;
    std::memset(&info, 0xEE, sizeof info);
    EXPECT_TRUE(table->getInformation(handle, &info));
    return info;
  }
  // Reads a frame into a guarded buffer filled with 0xCD.
  int32_t Read(void* handle, int32_t frame, GuardedFrame& buffer) {
    const int32_t result = table->readFrame(handle, frame, buffer.data());
    EXPECT_TRUE(buffer.GuardIntact());
    return result;
  }
};

TEST_F(InputHandles, SingleImage) {
  const Image image = WriteImage("photo.exr", 40, 30, kRgba, 1);
  void* handle = Open("photo.exr");
  ASSERT_NE(handle, nullptr);
  const InputInfo info = Info(handle);
  EXPECT_EQ(info.flags, 0x11);
  EXPECT_EQ(info.rate, 30);
  EXPECT_EQ(info.scale, 1);
  EXPECT_EQ(info.frameCount, 120);
  EXPECT_EQ(info.formatSize, 40);
  const Bytes expected = ExpectedFrame(image);
  for (int32_t frame : {0, 119, 5000, -3}) {
    GuardedFrame buffer(expected.size());
    EXPECT_EQ(Read(handle, frame, buffer), static_cast<int32_t>(expected.size()));
    EXPECT_TRUE(buffer.Frame() == expected) << frame;
  }
  EXPECT_TRUE(table->close(handle));
}

TEST_F(InputHandles, InformationBytes) {
  HeaderBuilder header;
  header.Channels(kRgba).DataWindow(0, 0, 1919, 1079).End();
  WriteBytes(dir / "hd.exr", header.bytes);
  void* handle = Open("hd.exr");
  ASSERT_NE(handle, nullptr);
  uint8_t raw[64];
  std::memset(raw, 0xEE, sizeof raw);
  ASSERT_TRUE(table->getInformation(handle, reinterpret_cast<InputInfo*>(raw)));
  const InputInfo* info = reinterpret_cast<const InputInfo*>(raw);
  for (size_t i = 28; i < 32; ++i) EXPECT_EQ(raw[i], 0xEE) << "byte " << i << " belongs to the host";
  for (size_t i = 32; i < 44; ++i) EXPECT_EQ(raw[i], 0) << i;
  for (size_t i = 44; i < sizeof raw; ++i) EXPECT_EQ(raw[i], 0xEE) << i;
  uint32_t words[7];
  std::memcpy(words, raw, sizeof words);
  EXPECT_EQ(words[0], 0x11u);
  EXPECT_EQ(words[1], 30u);
  EXPECT_EQ(words[2], 1u);
  EXPECT_EQ(words[3], 120u);
  EXPECT_EQ(words[6], 40u);

  const uint8_t* bitmap = static_cast<const uint8_t*>(info->format);
  const uint8_t expectedBitmap[40] = {40, 0, 0, 0, 0x80, 0x07, 0, 0, 0x38, 0x04, 0, 0, 1, 0, 64, 0,
                                      'H', 'F', '6', '4', 0x00, 0x20, 0xFD, 0x00};  // 16,588,800
  EXPECT_EQ(std::memcmp(bitmap, expectedBitmap, 40), 0);
  // The same answer every time.
  InputInfo again = Info(handle);
  EXPECT_EQ(again.format, info->format);
  EXPECT_TRUE(table->close(handle));
}

TEST_F(InputHandles, RefusedFiles) {
  HeaderBuilder compressed;
  compressed.Channels(kRgba).Compression(3).DataWindow(0, 0, 9, 9).End();
  WriteBytes(dir / "zip.exr", compressed.bytes);
  WriteBytes(dir / "text.exr", Bytes{'h', 'e', 'l', 'l', 'o'});
  WriteBytes(dir / "empty.exr", Bytes{});
  HeaderBuilder inverted;
  inverted.Channels(kRgba).DataWindow(0, 10, 9, 0).End();
  WriteBytes(dir / "inverted.exr", inverted.bytes);
  HeaderBuilder tooLarge;  // 16384 x 16384 x 8 = 2^31 bytes
  tooLarge.Channels(kRgba).DataWindow(0, 0, 16383, 16383).End();
  WriteBytes(dir / "large.exr", tooLarge.bytes);
  HeaderBuilder justBelow;  // 2^31 - 8 bytes
  justBelow.Channels(kRgba).DataWindow(0, 0, 268435455 - 1, 0).End();
  WriteBytes(dir / "below.exr", justBelow.bytes);
  HeaderBuilder extremes;
  extremes.Channels(kRgba).DataWindow(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX).End();
  WriteBytes(dir / "extremes.exr", extremes.bytes);
  HeaderBuilder widest;  // both sides 2^31 - 1: the byte count must not overflow either
  widest.Channels(kRgba).DataWindow(0, 0, INT32_MAX - 1, INT32_MAX - 1).End();
  WriteBytes(dir / "widest.exr", widest.bytes);
  fs::create_directory(dir / "folder.exr");
  std::vector<std::string> refused = {"missing.exr", "zip.exr", "text.exr", "empty.exr", "inverted.exr",
                                      "large.exr", "extremes.exr", "widest.exr", "folder.exr"};
#ifndef _WIN32
  ASSERT_EQ(mkfifo((dir / "pipe.exr").c_str(), 0600), 0);  // opening it for reading waits for a writer
  refused.push_back("pipe.exr");
#endif

  // An open sequence must go on reading its frames after every refusal.
  WriteImage("seq_0001.exr", 4, 4, kRgba, 1);
  const Image second = WriteImage("seq_0002.exr", 4, 4, kRgba, 2);
  void* sequence = Open("seq_0001.exr");
  ASSERT_NE(sequence, nullptr);
  const WideString prefixBefore = PrefixBuffer;

  for (const std::string& name : refused) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Open(name), nullptr);
    EXPECT_EQ(WideString(PrefixBuffer), prefixBefore) << "naming state unchanged";
    GuardedFrame buffer(4 * 4 * 8);
    EXPECT_EQ(Read(sequence, 1, buffer), 4 * 4 * 8);
    EXPECT_TRUE(buffer.Frame() == ExpectedFrame(second));
  }
  void* below = Open("below.exr");
  EXPECT_NE(below, nullptr) << "a frame just below 2^31 bytes opens";
  table->close(below);
  table->close(sequence);
}

// Pointers that are not live handles answer as a null handle does, and
// touch nothing: closed ones (also closed twice), and ones never opened.
TEST_F(InputHandles, MisusedHandlesAnswerAsNull) {
  const Image image = WriteImage("live.exr", 4, 4, kRgba, 1);
  WriteImage("pair_1.exr", 4, 4, kRgba, 2);
  WriteImage("pair_2.exr", 4, 4, kRgba, 3);
  void* live = Open("live.exr");
  void* closedSingle = Open("live.exr");
  void* closedSequence = Open("pair_1.exr");
  ASSERT_NE(live, nullptr);
  ASSERT_NE(closedSingle, nullptr);
  ASSERT_NE(closedSequence, nullptr);
  EXPECT_TRUE(table->close(closedSingle));
  EXPECT_TRUE(table->close(closedSequence));
  std::vector<uint8_t> hostRecord(4096, 0);
  int onTheStack = 0;
  struct Case {
    const char* what;
    void* pointer;
  };
  const Case cases[] = {
      {"closed single image", closedSingle},
      {"closed sequence", closedSequence},
      {"host memory", hostRecord.data()},
      {"a stack address", &onTheStack},
      {"inside a live handle", static_cast<uint8_t*>(live) + 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InputInfo info;
    std::memset(&info, 0xEE, sizeof info);
    EXPECT_FALSE(table->getInformation(c.pointer, &info));
    EXPECT_EQ(info.flags, static_cast<int32_t>(0xEEEEEEEE)) << "nothing written";
    GuardedFrame buffer(4 * 4 * 8, 0x5A);
    EXPECT_EQ(Read(c.pointer, 0, buffer), 0);
    EXPECT_TRUE(buffer.Frame() == Bytes(4 * 4 * 8, 0x5A));
    EXPECT_TRUE(table->close(c.pointer));
    EXPECT_TRUE(table->close(c.pointer));
  }
  EXPECT_TRUE(hostRecord == std::vector<uint8_t>(4096, 0));
  // A closed handle's address is not the next open's: a stale close of A
  // must not close B.
  void* a = Open("live.exr");
  ASSERT_TRUE(table->close(a));
  void* b = Open("pair_1.exr");
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b) << a << " " << b;
  EXPECT_TRUE(table->close(a));
  GuardedFrame ofB(4 * 4 * 8);
  EXPECT_EQ(Read(b, 1, ofB), 4 * 4 * 8);
  EXPECT_TRUE(table->close(b));
  GuardedFrame buffer(4 * 4 * 8);
  EXPECT_EQ(Read(live, 0, buffer), 4 * 4 * 8) << "the live handle is untouched";
  EXPECT_TRUE(buffer.Frame() == ExpectedFrame(image));
  EXPECT_TRUE(table->close(live));
  EXPECT_EQ(Read(live, 0, buffer), 0);
}

TEST_F(InputHandles, TwoFrameSequence) {
  const Image first = WriteImage("shot_0007.exr", 16, 9, kRgbFloat, 7);
  const Image second = WriteImage("shot_0008.exr", 16, 9, kRgbFloat, 8);
  // Numbered files before the clip and after its gap belong to other shots.
  WriteImage("shot_0006.exr", 16, 9, kRgbFloat, 6);
  WriteImage("shot_0010.exr", 16, 9, kRgbFloat, 10);
  void* handle = Open("shot_0007.exr");
  ASSERT_NE(handle, nullptr);
  const InputInfo info = Info(handle);
  EXPECT_EQ(info.flags, 1);
  EXPECT_EQ(info.frameCount, 2);
  const size_t bytes = 16 * 9 * 8;
  GuardedFrame zero(bytes), one(bytes), two(bytes, 0x5A);
  EXPECT_EQ(Read(handle, 0, zero), static_cast<int32_t>(bytes));
  EXPECT_TRUE(zero.Frame() == ExpectedFrame(first));
  EXPECT_EQ(Read(handle, 1, one), static_cast<int32_t>(bytes));
  EXPECT_TRUE(one.Frame() == ExpectedFrame(second));
  for (int32_t outside : {2, -1, 3, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(Read(handle, outside, two), 0) << outside;
    EXPECT_TRUE(two.Frame() == Bytes(bytes, 0x5A)) << "a frame outside the clip leaves the buffer alone";
  }
  table->close(handle);
}

TEST_F(InputHandles, SequenceFramesOfAnotherSizeOrDeleted) {
  WriteImage("s_01.exr", 8, 8, kRgba, 1);
  WriteImage("s_02.exr", 8, 7, kRgba, 2);  // another height
  const Image third = WriteImage("s_03.exr", 8, 8, kRgba, 3);
  WriteImage("s_04.exr", 8, 8, kRgba, 4);
  void* handle = Open("s_01.exr");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(Info(handle).frameCount, 4);
  GuardedFrame other(8 * 8 * 8, 0x11);
  EXPECT_EQ(Read(handle, 1, other), 0);
  EXPECT_TRUE(other.Frame() == Bytes(8 * 8 * 8, 0x11)) << "untouched";
  fs::remove(dir / "s_04.exr");
  GuardedFrame deleted(8 * 8 * 8, 0x22);
  EXPECT_EQ(Read(handle, 3, deleted), 0);
  GuardedFrame still(8 * 8 * 8);
  EXPECT_EQ(Read(handle, 2, still), 8 * 8 * 8);
  EXPECT_TRUE(still.Frame() == ExpectedFrame(third));
  table->close(handle);
}

TEST_F(InputHandles, TwoSequencesOpenAtOnceReadTheirOwnFiles) {
  const Image a1 = WriteImage("a_0001.exr", 6, 5, kRgba, 11);
  const Image a2 = WriteImage("a_0002.exr", 6, 5, kRgba, 12);
  const Image b1 = WriteImage("b_01.exr", 6, 5, kRgba, 21);
  const Image b2 = WriteImage("b_02.exr", 6, 5, kRgba, 22);
  WriteImage("b_03.exr", 6, 5, kRgba, 23);
  void* a = Open("a_0001.exr");
  void* b = Open("b_01.exr");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(Info(a).frameCount, 2);
  EXPECT_EQ(Info(b).frameCount, 3);
  GuardedFrame buffer(6 * 5 * 8);
  ASSERT_EQ(Read(a, 1, buffer), 6 * 5 * 8);
  EXPECT_TRUE(buffer.Frame() == ExpectedFrame(a2));
  ASSERT_EQ(Read(b, 1, buffer), 6 * 5 * 8);
  EXPECT_TRUE(buffer.Frame() == ExpectedFrame(b2));
  ASSERT_EQ(Read(a, 0, buffer), 6 * 5 * 8);
  EXPECT_TRUE(buffer.Frame() == ExpectedFrame(a1));
  ASSERT_EQ(Read(b, 0, buffer), 6 * 5 * 8);
  EXPECT_TRUE(buffer.Frame() == ExpectedFrame(b1));
  table->close(a);
  table->close(b);
}

TEST_F(InputHandles, RgbImageDecodesAlikeAsSingleImageAndAsSequenceFrame) {
  const Image image = WriteImage("alone.exr", 10, 4, kRgbFloat, 5);
  WriteBytes(dir / "frame_1.exr", ReadBytes(dir / "alone.exr"));
  WriteBytes(dir / "frame_2.exr", ReadBytes(dir / "alone.exr"));
  void* single = Open("alone.exr");
  void* sequence = Open("frame_1.exr");
  ASSERT_NE(single, nullptr);
  ASSERT_NE(sequence, nullptr);
  GuardedFrame fromSingle(10 * 4 * 8), fromSequence(10 * 4 * 8);
  EXPECT_EQ(Read(single, 0, fromSingle), 10 * 4 * 8);
  EXPECT_EQ(Read(sequence, 1, fromSequence), 10 * 4 * 8);
  EXPECT_TRUE(fromSingle.Frame() == fromSequence.Frame());
  EXPECT_TRUE(fromSingle.Frame() == ExpectedFrame(image));
  table->close(single);
  table->close(sequence);
}

TEST_F(InputHandles, SingleImageWithDamagedTableNeverReportsAFrame) {
  const Image image = MakeImage(5, 40, kRgba, 3);
  WrittenFile written = WriteExr(image);
  written.bytes.resize(written.headerEnd + 8 * 10);  // ends inside the table
  WriteBytes(dir / "cut.exr", written.bytes);
  void* handle = Open("cut.exr");
  ASSERT_NE(handle, nullptr) << "the header is fine; the frames fail";
  GuardedFrame buffer(5 * 40 * 8);
  EXPECT_EQ(Read(handle, 0, buffer), 0);
  table->close(handle);
}

TEST_F(InputHandles, MoreThanTenThousandFiles) {
  WriteImage("long_00000.exr", 2, 2, kRgba, 1);
  for (int32_t i = 1; i <= 10001; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "long_%05d.exr", i);
    fs::create_hard_link(dir / "long_00000.exr", dir / name);
  }
  void* handle = Open("long_00000.exr");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(Info(handle).frameCount, 10000);
  GuardedFrame buffer(2 * 2 * 8);
  EXPECT_EQ(Read(handle, 9999, buffer), 2 * 2 * 8);
  EXPECT_EQ(Read(handle, 10000, buffer), 0) << "past the clip, though its file exists";
  table->close(handle);
}

TEST_F(InputHandles, NonAsciiNames) {
  const Image first = WriteImage("ショット_0001.exr", 3, 3, kRgba, 1);
  const Image second = WriteImage("ショット_0002.exr", 3, 3, kRgba, 2);
  void* handle = Open("ショット_0001.exr");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(Info(handle).frameCount, 2);
  GuardedFrame buffer(3 * 3 * 8);
  EXPECT_EQ(Read(handle, 1, buffer), 3 * 3 * 8);
  EXPECT_TRUE(buffer.Frame() == ExpectedFrame(second));
  table->close(handle);
  const Image astral = WriteImage("\xF0\x9D\x92\x9C.exr", 3, 3, kRgba, 9);
  handle = Open("\xF0\x9D\x92\x9C.exr");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(Read(handle, 0, buffer), 3 * 3 * 8);
  EXPECT_TRUE(buffer.Frame() == ExpectedFrame(astral));
  table->close(handle);
}

}  // namespace
