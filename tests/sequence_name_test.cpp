#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "sequence/sequence_name.h"
#include "support/test_files.h"

#ifndef _WIN32
#include "platform/instrumentation.h"
#endif

using namespace exrtest;

namespace {

WideString W(const std::string& utf8) { return WidePath(Utf8Path(utf8)); }
WideString Str(const WideChar* text) { return WideString(text); }

struct SplitCase {
  const char* name;
  const char* prefix;
  int32_t number;
  int32_t digitCount;
  const char* suffix;
  const char* frameOne;
};

TEST(SequenceName, SplitTable) {
  const SplitCase cases[] = {
      {"C:/seq/shot_0009.exr", "C:/seq/shot_", 9, 4, ".exr", "C:/seq/shot_0010.exr"},
      {"shot_9.exr", "shot_", 9, 1, ".exr", "shot_10.exr"},
      {"frame.0001.exr", "frame.", 1, 4, ".exr", "frame.0002.exr"},
      {"shot0001a.exr", "shot", 1, 4, "a.exr", "shot0002a.exr"},
      {"shot_0012.final.exr", "shot_", 12, 4, ".final.exr", "shot_0013.final.exr"},
      {"shot_0001_v2.exr", "shot_0001_v", 2, 1, ".exr", "shot_0001_v3.exr"},
      {"0001.exr", "", 1, 4, ".exr", "0002.exr"},
      {"shot_0001.", "shot_", 1, 4, ".", "shot_0002."},
      {"clip_1000000000042.exr", "clip_1000", 42, 9, ".exr", "clip_1000000000043.exr"},
      {"shot_999.exr", "shot_", 999, 3, ".exr", "shot_1000.exr"},
      {"n_999999999.exr", "n_", 999999999, 9, ".exr", "n_1000000000.exr"},
      // Nine digits make the number whole; a tenth joins the prefix.
      {"m_123456789.exr", "m_", 123456789, 9, ".exr", "m_123456790.exr"},
      {"m_1234567890.exr", "m_1", 234567890, 9, ".exr", "m_1234567891.exr"},
      {"C:\\take 2\\v003\\plate_0100.EXR", "C:\\take 2\\v003\\plate_", 100, 4, ".EXR",
       "C:\\take 2\\v003\\plate_0101.EXR"},
      {"ショット_0001.exr", "ショット_", 1, 4, ".exr", "ショット_0002.exr"},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.name);
    const WideString name = W(c.name);
    AcceptSequenceName(name.c_str());
    EXPECT_EQ(Str(PrefixBuffer), W(c.prefix));
    EXPECT_EQ(CurrentSequenceName.number, c.number);
    EXPECT_EQ(CurrentSequenceName.digitCount, c.digitCount);
    EXPECT_EQ(Str(SuffixBuffer), W(c.suffix));
    FormatFramePath(CurrentSequenceName.number);
    EXPECT_EQ(Str(PathBuffer), name) << "the opened name rebuilds unit for unit";
    FormatFramePath(CurrentSequenceName.number + 1);
    EXPECT_EQ(Str(PathBuffer), W(c.frameOne));
  }
}

TEST(SequenceName, NamesWithoutARun) {
  const char* const names[] = {"take2/shot.exr", "shot0001", "C:\\seq12\\plate",
                               "ｓｈｏｔ０００１.exr" /* fullwidth digits */, "shot_.exr", ".exr"};
  for (const char* text : names) {
    SCOPED_TRACE(text);
    const WideString earlier = W("keep_0001.earlier");
    AcceptSequenceName(earlier.c_str());
    const WideString name = W(text);
    AcceptSequenceName(name.c_str());
    EXPECT_EQ(CurrentSequenceName.digitCount, 0);
    EXPECT_EQ(CurrentSequenceName.digitFirst, -1);
    EXPECT_EQ(Str(PrefixBuffer), name);
    EXPECT_EQ(Str(SuffixBuffer), W(".earlier")) << "the suffix keeps what it had";
    EXPECT_EQ(CountSequenceFrames(), 0);
  }
}

TEST(SequenceName, SplitRecordFields) {
  SequenceName record{};
  EXPECT_EQ(SplitSequenceName(nullptr, &record), -1);
  const WideString name = W("a/b12.c3d.exr");
  EXPECT_EQ(SplitSequenceName(name.c_str(), nullptr), -1);
  ASSERT_EQ(SplitSequenceName(name.c_str(), &record), 1);
  EXPECT_EQ(record.name, name.c_str());
  EXPECT_EQ(record.dot, 9);
  EXPECT_EQ(record.digitFirst, 7);  // the 3 of c3d; the 12 lies beyond the d
  EXPECT_EQ(record.digitLast, 7);
  EXPECT_EQ(record.number, 3);
  const WideString noRun = W("plain");
  ASSERT_EQ(SplitSequenceName(noRun.c_str(), &record), 1);
  EXPECT_EQ(record.dot, -1);
  EXPECT_EQ(record.digitLast, -1);
  EXPECT_EQ(record.number, 0);
}

TEST(SequenceName, LongNames) {
  // 4095 units with the run just before the extension: split normally.
  WideString longName(4095 - 8, u'a');
  longName += W("0009.exr");
  ASSERT_EQ(longName.size(), 4095u);
  AcceptSequenceName(longName.c_str());
  EXPECT_EQ(CurrentSequenceName.number, 9);
  EXPECT_EQ(CurrentSequenceName.digitCount, 4);
  FormatFramePath(9);
  EXPECT_EQ(Str(PathBuffer), longName);

  // 4095 units ending in a run of nines: the next number gains a digit
  // and the path is cut to 4095 units.
  WideString nines(4095 - 5, u'b');
  nines += W("9.exr");
  AcceptSequenceName(nines.c_str());
  FormatFramePath(10);
  const WideString built = Str(PathBuffer);
  EXPECT_EQ(built.size(), 4095u);
  EXPECT_EQ(built.substr(4088), W("bb10.ex"));

  // The bounded formatter: a cut is reported, an exact fit is not, and a
  // missing or empty store is refused without a write.
  WideChar store[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_FALSE(platform::FormatWide(store, 4, W("%s").c_str(), W("abcd").c_str()));
  EXPECT_EQ(Str(store), W("abc"));
  EXPECT_TRUE(platform::FormatWide(store, 4, W("%03d").c_str(), 7));
  EXPECT_EQ(Str(store), W("007"));
  EXPECT_FALSE(platform::FormatWide(store, 4, W("%04d").c_str(), 7));
  store[0] = u'q';
  EXPECT_FALSE(platform::FormatWide(store, 0, W("a").c_str()));
  EXPECT_EQ(store[0], u'q') << "no room, no write";
  EXPECT_FALSE(platform::FormatWide(nullptr, 4, W("a").c_str()));

  // 4096 units or more: no run, the prefix cut to 4095.
  for (const size_t length : {4096, 4097, 5000, 8192}) {
    SCOPED_TRACE(length);
    WideString tooLong(length - 8, u'c');
    tooLong += W("0001.exr");
    AcceptSequenceName(tooLong.c_str());
    EXPECT_EQ(CurrentSequenceName.digitCount, 0);
    EXPECT_EQ(CountSequenceFrames(), 0);
    EXPECT_EQ(Str(PrefixBuffer), tooLong.substr(0, 4095));
  }
}

TEST(SequenceName, HandleCopyKeepsItsOwnNaming) {
  const WideString first = W("one_0005.exr");
  AcceptSequenceName(first.c_str());
  FrameNaming naming;
  CaptureFrameNaming(&naming);
  const WideString second = W("other/two_000123.tif");
  AcceptSequenceName(second.c_str());
  FormatFramePath(naming, naming.number + 2);
  EXPECT_EQ(Str(PathBuffer), W("one_0007.exr"));
  FormatFramePath(naming, naming.number - 6);
  EXPECT_EQ(Str(PathBuffer), W("one_-001.exr"));
  FormatFramePath(CurrentSequenceName.number + 1);
  EXPECT_EQ(Str(PathBuffer), W("other/two_000124.tif"));
}

// Probing against real folders.
class SequenceProbe : public ::testing::Test {
 protected:
  void Touch(const std::string& name) { WriteBytes(dir_ / Utf8Path(name), Bytes{1}); }
  int32_t Probe(const std::string& name) {
    const WideString path = WidePath(dir_ / Utf8Path(name));
    AcceptSequenceName(path.c_str());
    return CountSequenceFrames();
  }
  WideString FramePath(int32_t frame) {
    FormatFramePath(CurrentSequenceName.number + frame);
    return Str(PathBuffer);
  }
  TempDir dir_;
};

TEST_F(SequenceProbe, ConsecutiveFilesFromTheOpenedOne) {
  for (const char* name : {"shot_0009.exr", "shot_0010.exr", "shot_0011.exr", "shot_0012.exr"}) Touch(name);
  EXPECT_EQ(Probe("shot_0009.exr"), 4);
  EXPECT_EQ(FramePath(3), WidePath(dir_ / "shot_0012.exr"));
  EXPECT_EQ(Probe("shot_0011.exr"), 2);
  EXPECT_EQ(FramePath(0), WidePath(dir_ / "shot_0011.exr"));
  EXPECT_EQ(Probe("shot_0012.exr"), 1);
  EXPECT_EQ(Probe("shot_0013.exr"), 0) << "the opened name itself is the first test";
}

TEST_F(SequenceProbe, GapsFoldersAndWidths) {
  for (const char* name : {"gap_0001.exr", "gap_0002.exr", "gap_0004.exr"}) Touch(name);
  EXPECT_EQ(Probe("gap_0001.exr"), 2);

  Touch("dir_0001.exr");
  fs::create_directory(dir_ / "dir_0002.exr");
  EXPECT_EQ(Probe("dir_0001.exr"), 2) << "a folder bearing the name counts";

  Touch("w_9.exr");
  Touch("w_10.exr");
  EXPECT_EQ(Probe("w_9.exr"), 2);

  Touch("n_999999999.exr");
  Touch("n_1000000000.exr");
  EXPECT_EQ(Probe("n_999999999.exr"), 2);

  Touch("ショット_0001.exr");
  Touch("ショット_0002.exr");
  EXPECT_EQ(Probe("ショット_0001.exr"), 2);

  Touch("\xF0\x9D\x92\x9C_07.exr");  // U+1D49C, outside the Basic Multilingual Plane
  Touch("\xF0\x9D\x92\x9C_08.exr");
  Touch("\xF0\x9D\x92\x9C_09.exr");
  EXPECT_EQ(Probe("\xF0\x9D\x92\x9C_07.exr"), 3);
}

TEST_F(SequenceProbe, StopsAtTenThousandFrames) {
  Touch("many_00000.exr");
  for (int32_t i = 1; i <= 10000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "many_%05d.exr", i);
    fs::create_hard_link(dir_ / "many_00000.exr", dir_ / name);
  }
#ifndef _WIN32
  platform::ResetInstrumentation();
#endif
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Probe("many_00000.exr"), 10000);
  const auto elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start);
  std::printf("probing 10000 existing frames took %.1f ms\n", elapsed.count());
#ifndef _WIN32
  EXPECT_EQ(platform::GetInstrumentation().existenceTests, 10000) << "the 10001st name is never tested";
#endif
  EXPECT_EQ(Probe("many_00001.exr"), 10000);
  EXPECT_EQ(Probe("many_00002.exr"), 9999);
}

}  // namespace
