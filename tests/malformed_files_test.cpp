// The malformed-file table through the plug-in's table entries, in
// process: each case ends as it must, writes nothing past the frame,
// leaves nothing allocated and leaves the next open working.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "plugin/live_handles.h"
#include "plugin/plugin_table.h"
#include "support/malformed_cases.h"

#ifndef _WIN32
#include "platform/instrumentation.h"
#endif

using namespace exrtest;

namespace {

HostEntries InProcess() {
  const PluginTable* table = GetInputPluginTable();
  HostEntries host;
  host.open = [table](const WideString& path) { return table->open(path.c_str()); };
  host.information = [table](void* handle, int32_t* width, int32_t* height) {
    InputInfo info;
    if (!table->getInformation(handle, &info)) return false;
    std::memcpy(width, static_cast<const uint8_t*>(info.format) + 4, 4);
    std::memcpy(height, static_cast<const uint8_t*>(info.format) + 8, 4);
    return true;
  };
  host.read = [table](void* handle, int32_t frame, uint8_t* buffer) { return table->readFrame(handle, frame, buffer); };
  host.close = [table](void* handle) { table->close(handle); };
  return host;
}

TEST(MalformedFiles, EveryCaseEndsAsItMust) {
  const HostEntries host = InProcess();
  const std::vector<MalformedCase> cases = MalformedCases();
  const MalformedCase& valid = cases.front();
  TempDir dir;
  std::ofstream report;
  if (const char* path = std::getenv("MONDREL_ROBUSTNESS_REPORT")) {
    report.open(path);
    report << "| case | expected | observed |\n|---|---|---|\n";
  }
  size_t truncations = 0;
  size_t truncationFailures = 0;
  // Closed records are held for a while before they are freed; once that
  // many closes have passed, every close frees as much as it holds.
  for (int32_t i = 0; i < kClosedHandlesKept; ++i) {
    std::string ignored;
    RunMalformedCase(valid, dir.path(), host, &ignored);
  }
  for (const MalformedCase& c : cases) {
#ifndef _WIN32
    const int64_t liveBefore = platform::GetInstrumentation().liveBlocks;
#endif
    std::string failure;
    const std::string observed = RunMalformedCase(c, dir.path(), host, &failure);
    EXPECT_EQ(failure, "") << c.name << ": " << observed;
#ifndef _WIN32
    EXPECT_EQ(platform::GetInstrumentation().liveBlocks, liveBefore) << c.name;
    EXPECT_EQ(platform::GetInstrumentation().openFiles, 0) << c.name;
#endif
    std::string next;
    RunMalformedCase(valid, dir.path(), host, &next);
    EXPECT_EQ(next, "") << "the next open after " << c.name;
    if (c.name.rfind("truncated", 0) == 0) {
      ++truncations;
      truncationFailures += failure.empty() ? 0 : 1;
      continue;
    }
    if (report.is_open()) report << "| " << c.name << " | " << c.expected << " | " << observed << " |\n";
  }
  if (report.is_open()) {
    report << "| every truncation of the valid file (" << truncations << " lengths) | refused, or no frame | "
           << (truncationFailures == 0 ? "refused, or no frame, at every length" : "FAILED at some lengths")
           << " |\n";
  }
}

}  // namespace

namespace {

// Files that change after the open: a sequence frame replaced by a shorter
// file or by one of another size, and the single image truncated in place
// (possible here; on Windows the open handle's sharing forbids it).
TEST(MalformedFiles, FilesThatChangeAfterTheOpen) {
  const PluginTable* table = GetInputPluginTable();
  const std::vector<Channel> rgba = {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}};
  TempDir dir;
  const Image image = MakeImage(6, 4, rgba, 1);
  const Bytes bytes = WriteExr(image).bytes;
  for (int i = 1; i <= 3; ++i) WriteBytes(dir / ("seq_" + std::to_string(i) + ".exr"), bytes);
  WriteBytes(dir / "still.exr", bytes);
  void* sequence = table->open(WidePath(dir / "seq_1.exr").c_str());
  void* still = table->open(WidePath(dir / "still.exr").c_str());
  ASSERT_NE(sequence, nullptr);
  ASSERT_NE(still, nullptr);

  WriteBytes(dir / "seq_2.exr", Bytes(bytes.begin(), bytes.end() - 10));
  WriteBytes(dir / "seq_3.exr", WriteExr(MakeImage(7, 4, rgba, 2)).bytes);
  std::vector<uint8_t> frame(6 * 4 * 8, 0x77);
  EXPECT_EQ(table->readFrame(sequence, 1, frame.data()), 0) << "replaced by a shorter file";
  std::fill(frame.begin(), frame.end(), 0x77);
  EXPECT_EQ(table->readFrame(sequence, 2, frame.data()), 0) << "replaced by a picture of another size";
  EXPECT_EQ(frame, std::vector<uint8_t>(6 * 4 * 8, 0x77)) << "left untouched";
  EXPECT_EQ(table->readFrame(sequence, 0, frame.data()), 6 * 4 * 8);

#ifndef _WIN32
  fs::resize_file(dir / "still.exr", bytes.size() - 30);
  EXPECT_EQ(table->readFrame(still, 0, frame.data()), 0) << "truncated under the open handle";
  fs::resize_file(dir / "still.exr", 0);
  WriteBytes(dir / "still.exr", bytes);
  EXPECT_EQ(table->readFrame(still, 0, frame.data()), 6 * 4 * 8) << "whole again";
#endif
  table->close(sequence);
  table->close(still);
}

}  // namespace
