#include <gtest/gtest.h>

#include <fstream>

#include "exr/mondrel.h"
#include "support/decode_helpers.h"
#include "writer/exr_writer.h"
#include "support/test_files.h"

using namespace exrtest;

namespace {

size_t FrameBytes(const Image& image) { return static_cast<size_t>(image.width) * image.height * 8; }

// Decodes with the handle's scratch buffer, which takes back-to-back chunks
// several at a read, and with one exactly a chunk long, which takes one
// chunk a read. The two must agree byte for byte, on success and failure,
// and so must a second batched read of the same open file.
DecodeRun DecodeBothWays(const fs::path& path, GuardedFrame& frame, int32_t chunkBytes) {
  GuardedFrame oneChunkARead(frame.size, frame.bytes[0]);
  const DecodeRun single = DecodeFile(path, oneChunkARead, chunkBytes);
  const DecodeRun batched = DecodeFile(path, frame, kHandleScratchSize, true);
  EXPECT_TRUE(batched.sameOnRereading) << "a second read of the same open file";
  EXPECT_EQ(single.decodeResult, batched.decodeResult) << "one chunk a read against batched reads";
  EXPECT_TRUE(oneChunkARead.Frame() == frame.Frame()) << "one chunk a read against batched reads";
  EXPECT_TRUE(oneChunkARead.GuardIntact());
  return batched;
}

struct LayoutCase {
  const char* what;
  std::vector<Channel> channels;
  int32_t xMin;
  int32_t yMin;
  WriteOptions options;
};

TEST(DecodeFrame, LayoutsDecodeExactly) {
  WriteOptions decreasing;
  decreasing.lineOrder = 1;
  WriteOptions shuffled;
  shuffled.shuffleTable = true;
  WriteOptions lyingSize;
  lyingSize.pixelDataSizeOverride = 0;
  const LayoutCase cases[] = {
      {"RGBA HALF stored A,B,G,R", {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}}, 0, 0, {}},
      {"RGB HALF", {{"B", kHalf}, {"G", kHalf}, {"R", kHalf}}, 0, 0, {}},
      {"RGB FLOAT", {{"B", kFloat}, {"G", kFloat}, {"R", kFloat}}, 0, 0, {}},
      {"RGBA FLOAT", {{"A", kFloat}, {"B", kFloat}, {"G", kFloat}, {"R", kFloat}}, 0, 0, {}},
      {"V HALF", {{"V", kHalf}}, 0, 0, {}},
      {"V FLOAT", {{"V", kFloat}}, 0, 0, {}},
      {"UINT by value", {{"B", kUint}, {"G", kUint}, {"R", kUint}}, 0, 0, {}},
      // Every channel is read with its own sample size.
      {"R FLOAT, G B A HALF", {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kFloat}}, 0, 0, {}},
      {"B HALF, G R FLOAT", {{"B", kHalf}, {"G", kFloat}, {"R", kFloat}}, 0, 0, {}},
      {"A FLOAT, B G R HALF", {{"A", kFloat}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}}, 0, 0, shuffled},
      {"UINT between HALF", {{"B", kHalf}, {"G", kUint}, {"R", kHalf}}, 0, 0, decreasing},
      {"V HALF, a FLOAT after it unread", {{"V", kHalf}, {"R", kFloat}}, 0, 0, {}},
      {"origin 100,50", {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}}, 100, 50, {}},
      {"origin -20,-10", {{"B", kFloat}, {"G", kFloat}, {"R", kFloat}}, -20, -10, {}},
      {"decreasing line order", {{"B", kHalf}, {"G", kHalf}, {"R", kHalf}}, 0, 0, decreasing},
      {"shuffled table", {{"A", kFloat}, {"B", kFloat}, {"G", kFloat}, {"R", kFloat}}, 0, 0, shuffled},
      {"pixel data size of 0", {{"B", kHalf}, {"G", kHalf}, {"R", kHalf}}, 0, 0, lyingSize},
  };
  TempDir dir;
  uint32_t seed = 1;
  for (const LayoutCase& c : cases) {
    for (const auto& size : {std::pair<int32_t, int32_t>{37, 23}, {1, 1}, {8, 2}, {64, 5}}) {
      SCOPED_TRACE(std::string(c.what) + " " + std::to_string(size.first) + "x" + std::to_string(size.second));
      const Image image = MakeImage(size.first, size.second, c.channels, seed++, c.xMin, c.yMin);
      WriteBytes(dir / "image.exr", WriteExr(image, c.options).bytes);
      GuardedFrame frame(FrameBytes(image));
      const DecodeRun run = DecodeFile(dir / "image.exr", frame);
      EXPECT_EQ(run.parseStatus, c.channels[0].name == "V" ? 1 : static_cast<int32_t>(c.channels.size()));
      EXPECT_EQ(run.tableStatus, image.height);
      ASSERT_EQ(run.decodeResult, static_cast<int32_t>(FrameBytes(image)));
      EXPECT_TRUE(frame.Frame() == ExpectedFrame(image));
      EXPECT_TRUE(frame.GuardIntact());
    }
  }
}

// The widest pictures the handle's scratch buffer decodes, per layout.
TEST(DecodeFrame, WidthLimitsOfTheScratchBuffer) {
  struct Case {
    std::vector<Channel> channels;
    int32_t widest;
  };
  const Case cases[] = {
      {{{"V", kHalf}}, 65548},
      {{{"V", kFloat}}, 32774},
      {{{"B", kHalf}, {"G", kHalf}, {"R", kHalf}}, 21849},
      {{{"B", kFloat}, {"G", kFloat}, {"R", kFloat}}, 10924},
      {{{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}}, 16387},
      {{{"A", kFloat}, {"B", kFloat}, {"G", kFloat}, {"R", kFloat}}, 8193},
      {{{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kFloat}}, 13109},  // 8 + 10 bytes a pixel
  };
  TempDir dir;
  for (const Case& c : cases) {
    for (int32_t width : {c.widest, c.widest + 1}) {
      SCOPED_TRACE(std::to_string(c.channels.size()) + " channels, width " + std::to_string(width));
      const Image image = MakeImage(width, 2, c.channels, static_cast<uint32_t>(width));
      WriteBytes(dir / "wide.exr", WriteExr(image).bytes);
      GuardedFrame frame(FrameBytes(image));
      const DecodeRun run = DecodeFile(dir / "wide.exr", frame);
      if (width == c.widest) {
        EXPECT_EQ(run.decodeResult, static_cast<int32_t>(FrameBytes(image)));
        EXPECT_TRUE(frame.Frame() == ExpectedFrame(image));
      } else {
        EXPECT_EQ(run.decodeResult, 0);
        EXPECT_TRUE(frame.Frame() == Bytes(FrameBytes(image), 0));
      }
      EXPECT_TRUE(frame.GuardIntact());
    }
  }
}

// A batch of back-to-back chunks starts at the scratch buffer's first
// 64-byte boundary and must still end inside the buffer: here 48 bytes past
// an aligned start, and chunks of 6,556 bytes, of which 20 would run 64
// bytes past the buffer's end and 19 fit.
TEST(DecodeFrame, BatchEndsInsideTheScratchBuffer) {
  TempDir dir;
  const Image image = MakeImage(3274, 24, {{"V", kHalf}}, 4);
  WriteBytes(dir / "v.exr", WriteExr(image).bytes);
  const WideString path = WidePath(dir / "v.exr");
  platform::FileHandle file = platform::OpenFileForReading(path.c_str());
  ASSERT_NE(file, platform::kInvalidFile);
  Mondrel record;
  ASSERT_EQ(ParseBytesFromFile(record, file), 1);
  ASSERT_EQ(record.ReadLineOffsets(file), 24);
  std::vector<uint8_t> memory(kHandleScratchSize + 64 + kGuardBytes + 16);
  uint8_t* aligned = memory.data() + (64 - reinterpret_cast<uintptr_t>(memory.data()) % 64) % 64;
  record.scratch = aligned + 16;  // the first boundary 48 bytes on
  record.scratchSize = kHandleScratchSize;
  std::fill(record.scratch + kHandleScratchSize, record.scratch + kHandleScratchSize + kGuardBytes, kGuardByte);
  GuardedFrame frame(FrameBytes(image));
  EXPECT_EQ(record.DecodeFrame(file, frame.data()), static_cast<int32_t>(FrameBytes(image)));
  EXPECT_TRUE(frame.Frame() == ExpectedFrame(image));
  for (size_t i = 0; i < kGuardBytes; ++i) ASSERT_EQ(record.scratch[kHandleScratchSize + i], kGuardByte) << i;
  platform::CloseFile(file);
}

TEST(DecodeFrame, ScratchOneByteShortOfAChunkFails) {
  TempDir dir;
  const Image image = MakeImage(10, 3, {{"B", kFloat}, {"G", kFloat}, {"R", kFloat}}, 3);
  WriteBytes(dir / "a.exr", WriteExr(image).bytes);
  const int32_t chunkBytes = 4 * 10 * 3 + 8;
  GuardedFrame exact(FrameBytes(image));
  EXPECT_EQ(DecodeFile(dir / "a.exr", exact, chunkBytes).decodeResult, static_cast<int32_t>(FrameBytes(image)));
  GuardedFrame shortOne(FrameBytes(image));
  EXPECT_EQ(DecodeFile(dir / "a.exr", shortOne, chunkBytes - 1).decodeResult, 0);
  EXPECT_TRUE(shortOne.Frame() == Bytes(FrameBytes(image), 0));
  EXPECT_TRUE(shortOne.GuardIntact());
}

// Damaged chunk data and tables: the call fails with the rows converted
// before the damage kept and everything else zero, or decodes as stated.
TEST(DecodeFrame, DamagedChunksAndTables) {
  const Image image = MakeImage(12, 6, {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}}, 11, 0, 40);
  const WrittenFile written = WriteExr(image);
  const Bytes expected = ExpectedFrame(image);
  const size_t rowBytes = 12 * 8;
  auto tableEntry = [&](int32_t i) { return written.headerEnd + 8 * static_cast<size_t>(i); };

  struct Case {
    const char* what;
    Bytes file;
    int32_t result;         // 0 or the frame size
    int32_t rowsKept;       // rows of the expected frame present before failure
    int32_t zeroRow;        // with success: a row left all zero, or -1
  };
  std::vector<Case> cases;
  {
    Bytes file = written.bytes;
    PutU32(file, written.chunkOffsets[3], 40 + 6);  // y equal to the height, counted from the window
    cases.push_back({"chunk y at the height", file, 0, 3, -1});
  }
  {
    Bytes file = written.bytes;
    PutU32(file, written.chunkOffsets[2], 39);  // one above the window
    cases.push_back({"chunk y above the window", file, 0, 2, -1});
  }
  WriteOptions bottomUp;
  bottomUp.lineOrder = 1;
  const WrittenFile upward = WriteExr(image, bottomUp);  // table entries descend through the file
  for (int32_t damaged : {1, 3, 5}) {
    Bytes file = upward.bytes;
    PutU32(file, upward.chunkOffsets[damaged], 40 + 6);
    cases.push_back({"bottom-up, chunk y at the height", file, 0, damaged, -1});
  }
  {
    Bytes file = upward.bytes;
    file.resize(upward.chunkOffsets[0] + 9);  // the top row, stored last
    cases.push_back({"bottom-up, cut inside the last chunk", file, 0, 0, -1});
  }
  {
    Bytes file = written.bytes;
    PutU64(file, tableEntry(4), written.chunkOffsets[1]);  // row 1 twice, row 4 never
    cases.push_back({"one chunk twice, one row omitted", file, static_cast<int32_t>(expected.size()), 6, 4});
  }
  const size_t chunkBytes = 8 + 12 * 2 * 4;
  for (int32_t chunk = 0; chunk < 6; ++chunk) {
    for (const size_t into : {size_t{0}, size_t{1}, size_t{8}, chunkBytes - 1}) {
      Bytes file = written.bytes;
      file.resize(written.chunkOffsets[chunk] + into);
      cases.push_back({"cut inside a chunk", file, 0, chunk, -1});
    }
  }
  {
    Bytes file = written.bytes;
    PutU64(file, tableEntry(2), file.size() + 100);
    cases.push_back({"entry past the end of the file", file, 0, 2, -1});
  }
  {
    Bytes file = written.bytes;
    PutU64(file, tableEntry(0), 0x8000000000000000ull);
    cases.push_back({"entry at 2^63", file, 0, 0, -1});
  }
  {
    Bytes file = written.bytes;
    PutU64(file, tableEntry(0), 0);  // the magic number read as y
    cases.push_back({"entry at the start of the file", file, 0, 0, -1});
  }
  {
    Bytes file = written.bytes;
    PutU64(file, tableEntry(1), written.headerEnd);  // the table read as a chunk
    cases.push_back({"entry at the table itself", file, 0, 1, -1});
  }
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(c.file.size()) + " bytes");
    WriteBytes(dir / "damaged.exr", c.file);
    GuardedFrame frame(expected.size());
    const DecodeRun run = DecodeBothWays(dir / "damaged.exr", frame, static_cast<int32_t>(chunkBytes));
    EXPECT_EQ(run.decodeResult, c.result);
    EXPECT_TRUE(frame.GuardIntact());
    const Bytes result = frame.Frame();
    for (int32_t row = 0; row < 6; ++row) {
      const Bytes got(result.begin() + row * rowBytes, result.begin() + (row + 1) * rowBytes);
      const bool kept = row < c.rowsKept && row != c.zeroRow;
      const Bytes want = kept ? Bytes(expected.begin() + row * rowBytes, expected.begin() + (row + 1) * rowBytes)
                              : Bytes(rowBytes, 0);
      EXPECT_TRUE(got == want) << "row " << row;
    }
  }
}

// Chunk positions are 64-bit: pixel data beyond 4 GiB (a sparse file) is
// reached, not cut to 32 bits.
TEST(DecodeFrame, ChunksBeyondFourGiB) {
  const Image image = MakeImage(9, 3, {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kFloat}}, 21);
  WrittenFile written = WriteExr(image);
  const uint64_t pixelStart = written.headerEnd + 8 * 3;
  const uint64_t moved = (uint64_t{1} << 32) + 4096;
  for (int32_t i = 0; i < 3; ++i) {
    const size_t entry = written.headerEnd + 8 * static_cast<size_t>(i);
    PutU64(written.bytes, entry, GetU64(written.bytes, entry) - pixelStart + moved);
  }
  TempDir dir;
  {
    std::ofstream out(dir / "far.exr", std::ios::binary);
    out.write(reinterpret_cast<const char*>(written.bytes.data()), static_cast<std::streamsize>(pixelStart));
    out.seekp(static_cast<std::streamoff>(moved));
    out.write(reinterpret_cast<const char*>(written.bytes.data() + pixelStart),
              static_cast<std::streamsize>(written.bytes.size() - pixelStart));
    ASSERT_TRUE(out.good());
  }
  GuardedFrame frame(FrameBytes(image));
  EXPECT_EQ(DecodeFile(dir / "far.exr", frame).decodeResult, static_cast<int32_t>(FrameBytes(image)));
  EXPECT_TRUE(frame.Frame() == ExpectedFrame(image));
}

TEST(ReadLineOffsets, TablesThatCannotBeReadWhole) {
  const Image image = MakeImage(4, 50, {{"B", kHalf}, {"G", kHalf}, {"R", kHalf}}, 5);
  const WrittenFile written = WriteExr(image);
  TempDir dir;

  Bytes cutTable(written.bytes.begin(), written.bytes.begin() + static_cast<std::ptrdiff_t>(written.headerEnd + 8 * 20));
  WriteBytes(dir / "cut.exr", cutTable);
  GuardedFrame frame(FrameBytes(image), 0x77);
  const DecodeRun run = DecodeFile(dir / "cut.exr", frame);
  EXPECT_EQ(run.tableStatus, kLineOffsetsIncomplete);
  EXPECT_EQ(run.decodeResult, 0);
  EXPECT_TRUE(frame.Frame() == Bytes(FrameBytes(image), 0));  // zeroed, never reported as a frame

  // A height of millions in a tiny file: refused before any table is sized.
  HeaderBuilder huge;
  huge.Channels({{"V", kHalf}}).DataWindow(0, 0, 0, 200000000 - 1).End();
  WriteBytes(dir / "huge.exr", huge.bytes);
  const WideString path = WidePath(dir / "huge.exr");
  platform::FileHandle file = platform::OpenFileForReading(path.c_str());
  ASSERT_NE(file, platform::kInvalidFile);
  Mondrel record;
  ASSERT_EQ(ParseBytesFromFile(record, file), 1);
  EXPECT_EQ(record.ReadLineOffsets(file), kLineOffsetsIncomplete);
  EXPECT_EQ(record.lineOffsets.capacity(), 0u);
  platform::CloseFile(file);

  Mondrel noFile;
  EXPECT_EQ(noFile.ReadLineOffsets(platform::kInvalidFile), kLineOffsetsNoFile);
}

TEST(ReadLineOffsets, RecordsWithoutATablePosition) {
  TempDir dir;
  const Image image = MakeImage(4, 4, {{"V", kHalf}}, 9);
  WriteBytes(dir / "v.exr", WriteExr(image).bytes);
  const WideString path = WidePath(dir / "v.exr");
  platform::FileHandle file = platform::OpenFileForReading(path.c_str());
  ASSERT_NE(file, platform::kInvalidFile);
  struct Case {
    const char* what;
    int32_t headerEnd;
    int32_t width;
    int32_t height;
  };
  const Case cases[] = {
      {"header end unknown", -1, 4, 4},
      {"width 0", 100, 0, 4},
      {"negative height", 100, 4, -3},
      {"frame of 2^31 bytes", 100, 16384, 16384},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Mondrel record;
    record.headerEnd = c.headerEnd;
    record.width = c.width;
    record.height = c.height;
    record.channelCount = 1;
    EXPECT_EQ(record.ReadLineOffsets(file), kLineOffsetsIncomplete);
    GuardedFrame frame(4 * 4 * 8);  // the only valid size among these; the others write nothing
    EXPECT_EQ(record.DecodeFrame(file, frame.data()), 0);
    EXPECT_TRUE(frame.GuardIntact());
  }
  platform::CloseFile(file);
}

TEST(DecodeFrame, RecordsOutsideTheParsersLayoutsWriteNothingOutsideThePixel) {
  TempDir dir;
  const Image image = MakeImage(3, 2, {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}}, 2);
  WriteBytes(dir / "x.exr", WriteExr(image).bytes);
  const WideString path = WidePath(dir / "x.exr");
  platform::FileHandle file = platform::OpenFileForReading(path.c_str());
  ASSERT_NE(file, platform::kInvalidFile);
  std::vector<uint8_t> scratch(kHandleScratchSize);
  for (int variant = 0; variant < 4; ++variant) {
    Mondrel record;
    ASSERT_EQ(ParseBytesFromFile(record, file), 4);
    ASSERT_EQ(record.ReadLineOffsets(file), 2);
    record.scratch = scratch.data();
    record.scratchSize = kHandleScratchSize;
    if (variant == 0) record.channelCount = 2;
    if (variant == 1) record.channelCount = 5;
    if (variant == 2) record.channelSlot[1] = 4;
    if (variant == 3) record.channelSlot[3] = -1;
    GuardedFrame frame(3 * 2 * 8);
    EXPECT_EQ(record.DecodeFrame(file, frame.data()), 0) << variant;
    EXPECT_TRUE(frame.GuardIntact());
  }
  platform::CloseFile(file);
}

}  // namespace

namespace {

// Whatever order the table lists the chunks in and wherever a damaged
// chunk stops the decode, the frame equals one zero-filled first and then
// given the rows converted before the damage.
TEST(DecodeFrame, UnconvertedRowsAreZeroWhateverTheOrder) {
  const int32_t height = 7;
  const Image image = MakeImage(9, height, {{"B", kHalf}, {"G", kHalf}, {"R", kHalf}}, 31);
  const WrittenFile written = WriteExr(image);
  const Bytes expected = ExpectedFrame(image);
  const size_t rowBytes = 9 * 8;
  const std::vector<std::vector<int32_t>> orders = {
      {0, 1, 2, 3, 4, 5, 6}, {6, 5, 4, 3, 2, 1, 0}, {3, 4, 2, 5, 1, 6, 0},
      {3, 3, 4, 2, 2, 5, 6}, {0, 2, 4, 6, 1, 3, 5}, {6, 0, 5, 1, 4, 2, 3},
      {1, 2, 3, 4, 5, 6, 0},  // the last read ends where the first starts
  };
  TempDir dir;
  for (const std::vector<int32_t>& order : orders) {
    for (int32_t damagedEntry = 0; damagedEntry <= height; ++damagedEntry) {
      Bytes file = written.bytes;
      for (int32_t i = 0; i < height; ++i) {
        PutU64(file, written.headerEnd + 8 * static_cast<size_t>(i), written.chunkOffsets[order[i]]);
      }
      if (damagedEntry < height) PutU64(file, written.headerEnd + 8 * static_cast<size_t>(damagedEntry), 1u << 30);
      WriteBytes(dir / "ordered.exr", file);
      Bytes want(expected.size(), 0);
      for (int32_t i = 0; i < std::min(damagedEntry, height); ++i) {
        std::copy(expected.begin() + order[i] * rowBytes, expected.begin() + (order[i] + 1) * rowBytes,
                  want.begin() + order[i] * rowBytes);
      }
      GuardedFrame frame(expected.size(), 0xCD);
      const DecodeRun run = DecodeBothWays(dir / "ordered.exr", frame, 8 + 9 * 2 * 3);
      const std::string label = "order " + std::to_string(order[0]) + std::to_string(order[1]) +
                                std::to_string(order[2]) + ".., damaged entry " + std::to_string(damagedEntry);
      if (damagedEntry < height) {
        EXPECT_EQ(run.decodeResult, 0) << label;
      } else {
        EXPECT_EQ(run.decodeResult, static_cast<int32_t>(expected.size())) << label;
      }
      EXPECT_TRUE(frame.Frame() == want) << label;
      EXPECT_TRUE(frame.GuardIntact()) << label;
    }
  }
}

}  // namespace

#include "exr/processor.h"
#include "exr/interleave.h"

namespace {

// Rows of every width up to a few vector blocks, at every alignment of the
// host's buffer, with either kind of store, for colour, colour with alpha
// and grey sources: the vector and scalar parts join up exactly.
TEST(InterleaveHalfRow, EveryWidthAndAlignment) {
  std::vector<uint8_t> planes(4 * 2 * 80);
  for (size_t i = 0; i < planes.size(); ++i) planes[i] = static_cast<uint8_t>(i * 7 + 1);
  const uint8_t* r = planes.data();
  const uint8_t* g = planes.data() + 160;
  const uint8_t* b = planes.data() + 320;
  const uint8_t* a = planes.data() + 480;
  const ComponentSource sourceSets[][4] = {
      {{r, 1}, {g, 1}, {b, 1}, {kOneHalves, 0}},
      {{r, 1}, {g, 1}, {b, 1}, {a, 1}},
      {{g, 1}, {g, 1}, {g, 1}, {kOneHalves, 0}},
      {{g, 1}, {g, 1}, {g, 1}, {kZeroHalves, 0}},
  };
  for (const auto& sources : sourceSets) {
    for (int32_t width = 0; width <= 80; ++width) {
      for (size_t misalignment = 0; misalignment < 32; misalignment += 2) {
        for (const RowStores stores : {RowStores::kCached, RowStores::kStreaming}) {
          std::vector<uint8_t> buffer(8 * 80 + 64 + 32, 0xEE);
          uint8_t* base = buffer.data() + (32 - reinterpret_cast<uintptr_t>(buffer.data()) % 32) % 32;
          uint8_t* row = base + misalignment;
          InterleaveHalfRow(sources, row, width, stores);
          FinishRowStores();
          for (int32_t x = 0; x < width; ++x) {
            for (int component = 0; component < 4; ++component) {
              const uint8_t* expected = sources[component].samples + 2 * x * sources[component].stride;
              ASSERT_EQ(std::memcmp(row + 8 * x + 2 * component, expected, 2), 0)
                  << width << "/" << misalignment << " x " << x << " component " << component;
            }
          }
          for (uint8_t* p = buffer.data(); p < row; ++p) ASSERT_EQ(*p, 0xEE) << "before the row";
          for (uint8_t* p = row + 8 * width; p < buffer.data() + buffer.size(); ++p) {
            ASSERT_EQ(*p, 0xEE) << "after the row";
          }
        }
      }
    }
  }
}

// Half the cache takes ordinary stores only for the buffer just filled.
TEST(RowStoresFor, HalfTheCacheForTheBufferJustFilled) {
  const int64_t cache = 32 << 20;
  EXPECT_EQ(RowStoresFor(cache / 2, cache, true), RowStores::kCached);
  EXPECT_EQ(RowStoresFor(cache / 2 + 1, cache, true), RowStores::kStreaming);
  EXPECT_EQ(RowStoresFor(cache / 3 + 1, cache, false), RowStores::kStreaming);
}

// The store choice rests on the cache size read from the processor; the
// system's own account of its caches must agree.
TEST(LastLevelCacheBytes, AgreesWithTheSystem) {
  int64_t largest = 0;
  for (int index = 0;; ++index) {
    const std::string folder = "/sys/devices/system/cpu/cpu0/cache/index" + std::to_string(index) + "/";
    std::ifstream typeFile(folder + "type");
    std::ifstream sizeFile(folder + "size");
    std::string type;
    int64_t kib = 0;
    if (!(typeFile >> type) || !(sizeFile >> kib)) break;
    if (type != "Instruction") largest = std::max(largest, kib * 1024);
  }
  if (largest == 0) GTEST_SKIP() << "no cache sizes from the system here";
  EXPECT_EQ(LastLevelCacheBytes(), largest);
}

// Registers of AMD's older leaf as machines here reported them.
TEST(LastLevelCacheBytes, FromAmdsOlderLeaf) {
  const struct {
    uint32_t ecx, edx;
    int64_t bytes;
  } cases[] = {
      {0x04006140, 0x0FE09140, int64_t{32} << 20},  // 508 MiB for the package: one complex's 32
      {0x02006140, 0x00000000, int64_t{512} << 10}, // no L3: the 512 KiB L2
  };
  for (const auto& c : cases) EXPECT_EQ(CacheBytesOfAmdLegacyLeaf(c.ecx, c.edx), c.bytes) << std::hex << c.edx;
}

}  // namespace
