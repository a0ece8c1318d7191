// Failures injected through the POSIX platform twin and the heap, with the
// books of every allocation kept: each failing open releases everything,
// and many open/close cycles leave nothing behind.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/instrumentation.h"
#include "plugin/live_handles.h"
#include "plugin/plugin_table.h"
#include "sequence/sequence_name.h"
#include "writer/exr_writer.h"
#include "support/test_files.h"

using namespace exrtest;

namespace {

// Heap books for the whole test program; a failure is armed only around
// the call under test.
std::atomic<int64_t> gHeapLive{0};
std::atomic<int64_t> gHeapFailAt{0};  // countdown: the allocation that reaches 1 fails

void* CountedAllocate(std::size_t size) {
  if (gHeapFailAt.load() > 0 && gHeapFailAt.fetch_sub(1) == 1) throw std::bad_alloc();
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  ++gHeapLive;
  return block;
}

void CountedFree(void* block) {
  if (block == nullptr) return;
  --gHeapLive;
  std::free(block);
}

}  // namespace

void* operator new(std::size_t size) { return CountedAllocate(size); }
void* operator new[](std::size_t size) { return CountedAllocate(size); }
void operator delete(void* block) noexcept { CountedFree(block); }
void operator delete[](void* block) noexcept { CountedFree(block); }
void operator delete(void* block, std::size_t) noexcept { CountedFree(block); }
void operator delete[](void* block, std::size_t) noexcept { CountedFree(block); }

namespace {

const std::vector<Channel> kRgba = {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}};

class InjectedFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(dir / "still.exr", WriteExr(MakeImage(8, 8, kRgba, 1)).bytes);
    WriteBytes(dir / "seq_01.exr", WriteExr(MakeImage(8, 8, kRgba, 2)).bytes);
    WriteBytes(dir / "seq_02.exr", WriteExr(MakeImage(8, 8, kRgba, 3)).bytes);
    const WideString earlier = WidePath(dir / "earlier_0001.exr");
    // Closed records are held for a while before they are freed; once that
    // many closes have passed, every close frees as much as it holds.
    const WideString still = WidePath(dir / "still.exr");
    for (int32_t i = 0; i < kClosedHandlesKept; ++i) table->close(table->open(still.c_str()));
    AcceptSequenceName(earlier.c_str());
    platform::ResetInstrumentation();
  }
  // Opens with the given heap allocation failing (0: none); the path is
  // made before the failure is armed.
  void* Open(const char* name, int64_t failHeapAt = 0) {
    const WideString path = WidePath(dir / name);
    gHeapFailAt = failHeapAt;
    void* handle = table->open(path.c_str());
    lastFailureReached = failHeapAt > 0 && gHeapFailAt.load() == 0;
    gHeapFailAt = 0;
    return handle;
  }
  bool lastFailureReached = false;
  const PluginTable* table = GetInputPluginTable();
  TempDir dir;
};

TEST_F(InjectedFaults, EveryFailingStepOfOpenReleasesEverything) {
  struct Case {
    const char* what;
    int64_t failAllocation;
    int64_t failOpen;
    int64_t failRead;
  };
  const Case cases[] = {
      {"handle record", 1, 0, 0},
      {"scratch buffer", 2, 0, 0},
      {"bitmap header", 3, 0, 0},
      {"frame naming", 4, 0, 0},
      {"CreateFileW", 0, 1, 0},
      {"ReadFile of the header", 0, 0, 1},
  };
  for (const char* name : {"still.exr", "seq_01.exr"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(name) + ": " + c.what);
      const WideString prefixBefore = PrefixBuffer;
      const int64_t liveBefore = platform::GetInstrumentation().liveBlocks;
      const int64_t heapBefore = gHeapLive.load();
      platform::ResetInstrumentation();
      platform::GetInstrumentation().failAllocation = c.failAllocation;
      platform::GetInstrumentation().failOpen = c.failOpen;
      platform::GetInstrumentation().failRead = c.failRead;
      EXPECT_EQ(Open(name), nullptr);
      EXPECT_EQ(platform::GetInstrumentation().injectedFailures, 1) << "the armed step was reached";
      platform::ResetInstrumentation();
      EXPECT_EQ(platform::GetInstrumentation().liveBlocks, liveBefore);
      EXPECT_EQ(platform::GetInstrumentation().openFiles, 0);
      EXPECT_EQ(gHeapLive.load(), heapBefore);
      EXPECT_EQ(WideString(PrefixBuffer), prefixBefore) << "naming untouched by a failed open";
    }
  }
}

// Fails each heap allocation an open makes in turn (the line-offset table
// among them) until an open needs fewer than that.
TEST_F(InjectedFaults, EveryHeapAllocationOfOpenMayFail) {
  for (const char* name : {"still.exr", "seq_01.exr"}) {
    bool reachedTheEnd = false;
    for (int64_t failAt = 1; failAt < 200 && !reachedTheEnd; ++failAt) {
      SCOPED_TRACE(std::string(name) + ", heap allocation " + std::to_string(failAt));
      const int64_t liveBefore = platform::GetInstrumentation().liveBlocks;
      const WideString prefixBefore = PrefixBuffer;
      const int32_t numberBefore = CurrentSequenceName.number;
      const int64_t heapBefore = gHeapLive.load();
      void* handle = Open(name, failAt);
      reachedTheEnd = !lastFailureReached;
      // A failure inside the probe's existence test only shortens the
      // count; every other one refuses the open, and a refused open (the
      // line-offset table's among them) leaves the naming as it was.
      if (reachedTheEnd) {
        EXPECT_NE(handle, nullptr);
      }
      if (handle == nullptr) {
        EXPECT_EQ(WideString(PrefixBuffer), prefixBefore);
        EXPECT_EQ(CurrentSequenceName.number, numberBefore);
      }
      table->close(handle);
      EXPECT_EQ(platform::GetInstrumentation().liveBlocks, liveBefore);
      EXPECT_EQ(platform::GetInstrumentation().openFiles, 0);
      EXPECT_EQ(gHeapLive.load(), heapBefore);
    }
    EXPECT_TRUE(reachedTheEnd);
  }
}

TEST_F(InjectedFaults, SequenceFrameReadWithoutStorage) {
  std::vector<uint8_t> frame(8 * 8 * 8);
  const int64_t heapBefore = gHeapLive.load();
  void* sequence = Open("seq_01.exr");
  ASSERT_NE(sequence, nullptr);
  for (int64_t failAt = 1; failAt <= 3; ++failAt) {
    gHeapFailAt = failAt;
    const int32_t result = table->readFrame(sequence, 1, frame.data());
    const bool failed = gHeapFailAt.load() == 0;
    gHeapFailAt = 0;
    EXPECT_EQ(result, failed ? 0 : 8 * 8 * 8) << failAt;
    EXPECT_EQ(platform::GetInstrumentation().openFiles, 1) << "only the handle's own file stays open";
  }
  EXPECT_EQ(table->readFrame(sequence, 1, frame.data()), 8 * 8 * 8) << "the next read starts afresh";
  table->close(sequence);
  EXPECT_EQ(gHeapLive.load(), heapBefore);
}

// A read that the system cuts short or interrupts is taken up again by the
// read loop: whichever system read of an open and a frame it strikes, the
// frame comes out the same.
TEST_F(InjectedFaults, ShortAndInterruptedSystemReadsChangeNothing) {
  std::vector<uint8_t> expected(8 * 8 * 8);
  void* clean = Open("still.exr");
  ASSERT_EQ(table->readFrame(clean, 0, expected.data()), 8 * 8 * 8);
  table->close(clean);
  const int64_t systemReads = platform::GetInstrumentation().systemReads;
  ASSERT_GE(systemReads, 3) << "header, table, chunks";
  for (const bool interrupt : {false, true}) {
    for (int64_t at = 1; at <= systemReads; ++at) {
      SCOPED_TRACE(std::string(interrupt ? "interrupted" : "short") + " system read " + std::to_string(at));
      platform::ResetInstrumentation();
      (interrupt ? platform::GetInstrumentation().interruptSystemRead : platform::GetInstrumentation().shortSystemRead) = at;
      std::vector<uint8_t> frame(8 * 8 * 8);
      void* handle = Open("still.exr");
      ASSERT_NE(handle, nullptr);
      EXPECT_EQ(table->readFrame(handle, 0, frame.data()), 8 * 8 * 8);
      table->close(handle);
      EXPECT_EQ(platform::GetInstrumentation().injectedFailures, 1);
      EXPECT_TRUE(frame == expected);
    }
  }
}

TEST_F(InjectedFaults, FailedReadsOfSequenceFrames) {
  void* sequence = Open("seq_01.exr");
  ASSERT_NE(sequence, nullptr);
  std::vector<uint8_t> frame(8 * 8 * 8);
  platform::ResetInstrumentation();
  platform::GetInstrumentation().failOpen = 1;
  EXPECT_EQ(table->readFrame(sequence, 1, frame.data()), 0);
  platform::ResetInstrumentation();
  platform::GetInstrumentation().failRead = 1;
  EXPECT_EQ(table->readFrame(sequence, 1, frame.data()), 0);
  platform::ResetInstrumentation();
  EXPECT_EQ(platform::GetInstrumentation().openFiles, 1);
  EXPECT_EQ(table->readFrame(sequence, 1, frame.data()), 8 * 8 * 8);
  EXPECT_EQ(platform::GetInstrumentation().reads, 3) << "header, table, and the eight back-to-back chunks at once";
  table->close(sequence);
  WriteOptions bottomUp;
  bottomUp.lineOrder = 1;
  WriteBytes(dir / "up_1.exr", WriteExr(MakeImage(8, 8, kRgba, 4), bottomUp).bytes);
  const Image second = MakeImage(8, 8, kRgba, 5);
  WriteBytes(dir / "up_2.exr", WriteExr(second, bottomUp).bytes);
  sequence = Open("up_1.exr");
  platform::ResetInstrumentation();
  EXPECT_EQ(table->readFrame(sequence, 1, frame.data()), 8 * 8 * 8);
  EXPECT_EQ(platform::GetInstrumentation().reads, 3) << "bottom-up chunks are read together too";
  EXPECT_TRUE(frame == ExpectedFrame(second));
  table->close(sequence);
  EXPECT_EQ(platform::GetInstrumentation().openFiles, 0);
}

TEST_F(InjectedFaults, TenThousandOpenCloseCyclesLeaveNothing) {
  std::vector<uint8_t> warmUp(8 * 8 * 8);
  void* first = Open("still.exr");
  table->readFrame(first, 0, warmUp.data());
  table->close(first);
  const int64_t liveBefore = platform::GetInstrumentation().liveBlocks;
  std::vector<uint8_t> frame(8 * 8 * 8);
  const int64_t heapBefore = gHeapLive.load();
  for (int cycle = 0; cycle < 10000; ++cycle) {
    void* still = Open("still.exr");
    void* sequence = Open("seq_01.exr");
    ASSERT_NE(still, nullptr);
    ASSERT_NE(sequence, nullptr);
    if (cycle % 1000 == 0) {
      EXPECT_EQ(table->readFrame(still, 0, frame.data()), 8 * 8 * 8);
      EXPECT_EQ(table->readFrame(sequence, 1, frame.data()), 8 * 8 * 8);
    }
    table->close(still);
    table->close(sequence);
  }
  EXPECT_EQ(platform::GetInstrumentation().liveBlocks, liveBefore);
  EXPECT_EQ(platform::GetInstrumentation().openFiles, 0);
  EXPECT_EQ(gHeapLive.load(), heapBefore);
}

}  // namespace

namespace {

TEST_F(InjectedFaults, ThousandHandlesOpenAtOnce) {
  std::vector<uint8_t> frame(8 * 8 * 8);
  std::vector<void*> handles;
  handles.reserve(1000);
  const int64_t liveBefore = platform::GetInstrumentation().liveBlocks;
  const int64_t heapBefore = gHeapLive.load();
  for (int i = 0; i < 1000; ++i) {
    handles.push_back(Open(i % 2 == 0 ? "still.exr" : "seq_01.exr"));
    ASSERT_NE(handles.back(), nullptr) << i;
  }
  EXPECT_EQ(platform::GetInstrumentation().openFiles, 1000);
  EXPECT_EQ(platform::GetInstrumentation().liveBlocks - liveBefore, 3500)
      << "record, scratch, bitmap header each, and a sequence's naming";
  for (size_t i = 0; i < handles.size(); i += 99) EXPECT_EQ(table->readFrame(handles[i], 1, frame.data()), 8 * 8 * 8);
  // The registry holds 16,384 live handles: fill it with stand-ins, and the
  // next open is refused until one leaves.
  {
  std::vector<char> standIns(20000);
  size_t registered = 0;
  while (registered < standIns.size() && RegisterHandle(&standIns[registered])) ++registered;
  EXPECT_EQ(registered + handles.size(), 16384u);
  EXPECT_TRUE(IsLiveHandle(&standIns[0]));
  EXPECT_TRUE(IsLiveHandle(&standIns[registered - 1]));
  EXPECT_EQ(Open("still.exr"), nullptr) << "past the cap";
  ASSERT_TRUE(UnregisterHandle(&standIns[registered - 1]));
  void* last = Open("still.exr");
  EXPECT_NE(last, nullptr);
  EXPECT_TRUE(table->close(last));
  for (size_t i = 0; i + 1 < registered; ++i) ASSERT_TRUE(UnregisterHandle(&standIns[i]));
  }
  for (void* handle : handles) EXPECT_TRUE(table->close(handle));
  EXPECT_EQ(platform::GetInstrumentation().openFiles, 0);
  EXPECT_EQ(platform::GetInstrumentation().liveBlocks, liveBefore);
  EXPECT_EQ(gHeapLive.load(), heapBefore);
}

}  // namespace
