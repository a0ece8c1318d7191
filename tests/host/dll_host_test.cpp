// A host of our own: loads the built mondrel_input.aui2 with LoadLibraryW
// and drives it only through its exports and its table, reading every
// value at its raw byte offset, as a video editor does.
#include <windows.h>

#include "host/plugin_beside.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "writer/exr_writer.h"
#include "support/malformed_cases.h"
#include "support/test_files.h"

using namespace exrtest;

namespace {

using GetTableFunction = const uint8_t* (*)();
using InitializeFunction = uint8_t (*)(uint32_t);
using UninitializeFunction = void (*)();
using OpenFunction = void* (*)(const wchar_t*);
using CloseFunction = uint8_t (*)(void*);
using InfoFunction = uint8_t (*)(void*, void*);
using ReadFunction = int32_t (*)(void*, int32_t, void*);
using TwelfthFunction = int32_t (*)(void*, double);

template <typename T>
T Slot(const uint8_t* table, size_t offset) {
  T value;
  std::memcpy(&value, table + offset, sizeof value);
  return value;
}

class LoadedPlugin : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = LoadPluginBesideProgram();
  }
  static void TearDownTestSuite() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(module_, nullptr) << "mondrel_input.aui2 did not load";
    auto getTable = reinterpret_cast<GetTableFunction>(reinterpret_cast<void*>(GetProcAddress(module_, "GetInputPluginTable")));
    ASSERT_NE(getTable, nullptr);
    table_ = getTable();
    ASSERT_NE(table_, nullptr);
    open_ = Slot<OpenFunction>(table_, 32);
    close_ = Slot<CloseFunction>(table_, 40);
    info_ = Slot<InfoFunction>(table_, 48);
    read_ = Slot<ReadFunction>(table_, 56);
  }

  void* Open(const fs::path& path) { return open_(path.wstring().c_str()); }
  // The host's InputInfo, prefilled so that unwritten bytes show.
  std::vector<uint8_t> Info(void* handle) {
    std::vector<uint8_t> info(64, 0xEE);
    EXPECT_EQ(info_(handle, info.data()), 1);
    return info;
  }
  Image Write(const fs::path& path, int32_t width, int32_t height, const std::vector<Channel>& channels,
              uint32_t seed, int32_t xMin = 0, int32_t yMin = 0) {
    Image image = MakeImage(width, height, channels, seed, xMin, yMin);
    WriteBytes(path, WriteExr(image).bytes);
    return image;
  }

  static HMODULE module_;
  const uint8_t* table_ = nullptr;
  OpenFunction open_ = nullptr;
  CloseFunction close_ = nullptr;
  InfoFunction info_ = nullptr;
  ReadFunction read_ = nullptr;
  TempDir dir_;
};

HMODULE LoadedPlugin::module_ = nullptr;

uint32_t U32(const std::vector<uint8_t>& bytes, size_t offset) { return Slot<uint32_t>(bytes.data(), offset); }

TEST_F(LoadedPlugin, ExportsAndTable) {
  auto getTable = reinterpret_cast<GetTableFunction>(reinterpret_cast<void*>(GetProcAddress(module_, "GetInputPluginTable")));
  EXPECT_EQ(getTable(), table_) << "the same table every time";
  auto initialize = reinterpret_cast<InitializeFunction>(reinterpret_cast<void*>(GetProcAddress(module_, "InitializePlugin")));
  auto uninitialize = reinterpret_cast<UninitializeFunction>(reinterpret_cast<void*>(GetProcAddress(module_, "UninitializePlugin")));
  ASSERT_NE(initialize, nullptr);
  ASSERT_NE(uninitialize, nullptr);
  EXPECT_EQ(initialize(2000), 1);
  EXPECT_EQ(initialize(0), 1);
  uninitialize();
  EXPECT_EQ(GetProcAddress(module_, MAKEINTRESOURCEA(1)), reinterpret_cast<FARPROC>(reinterpret_cast<void*>(getTable)));
  EXPECT_EQ(GetProcAddress(module_, MAKEINTRESOURCEA(2)), reinterpret_cast<FARPROC>(reinterpret_cast<void*>(initialize)));
  EXPECT_EQ(GetProcAddress(module_, MAKEINTRESOURCEA(3)), reinterpret_cast<FARPROC>(reinterpret_cast<void*>(uninitialize)));

  EXPECT_EQ(Slot<uint32_t>(table_, 0), 1u);
  EXPECT_EQ(Slot<uint32_t>(table_, 4), 0u);
  EXPECT_EQ(std::wstring(Slot<const wchar_t*>(table_, 8)), L"Mondrel");
  EXPECT_EQ(std::wstring(Slot<const wchar_t*>(table_, 24)), L"Mondrel v0.4.0");
  const wchar_t expectedFilter[] = L"EXR File (*.exr)\0*.exr\0AllFile (*.*)\0*.*\0";
  EXPECT_EQ(std::memcmp(Slot<const wchar_t*>(table_, 16), expectedFilter, sizeof expectedFilter), 0);
  for (size_t offset : {32, 40, 48, 56, 72, 88}) EXPECT_NE(Slot<void*>(table_, offset), nullptr) << offset;
  EXPECT_EQ(Slot<void*>(table_, 64), nullptr);
  EXPECT_EQ(Slot<void*>(table_, 80), nullptr);
  EXPECT_EQ(Slot<TwelfthFunction>(table_, 88)(nullptr, 12.5), 0);
  EXPECT_EQ(Slot<TwelfthFunction>(table_, 88)(reinterpret_cast<void*>(1), -1.0), 0);

  // Devices, consoles and pipes are no files: refused at once, never read
  // (a read of one waits for input that does not come).
  HANDLE pipe = CreateNamedPipeW(L"\\\\.\\pipe\\mondrel-test", PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096, 4096, 0,
                                 nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  const struct {
    const wchar_t* path;
    const char* what;
  } devices[] = {{L"NUL", "NUL"}, {L"CON", "CON"}, {L"\\\\.\\pipe\\mondrel-test", "a named pipe"}};
  for (const auto& device : devices) EXPECT_EQ(open_(device.path), nullptr) << device.what;
  CloseHandle(pipe);

  EXPECT_EQ(close_(nullptr), 1);
  std::vector<uint8_t> info(64, 0xEE);
  EXPECT_EQ(info_(nullptr, info.data()), 0);
  EXPECT_EQ(info, std::vector<uint8_t>(64, 0xEE));
  uint8_t buffer[8];
  EXPECT_EQ(read_(nullptr, 0, buffer), 0);
}

TEST_F(LoadedPlugin, SingleImagesEndToEnd) {
  struct Case {
    const char* name;
    std::vector<Channel> channels;
    int32_t yMin;
  };
  const Case cases[] = {
      {"rgba.exr", {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}}, 0},
      {"rgb float.exr", {{"B", kFloat}, {"G", kFloat}, {"R", kFloat}}, 0},
      {"grey.exr", {{"V", kFloat}}, 0},
      {"origin.exr", {{"B", kHalf}, {"G", kHalf}, {"R", kHalf}}, -10},
      {"写真.exr", {{"A", kFloat}, {"B", kFloat}, {"G", kFloat}, {"R", kFloat}}, 0},
      {"mixed.exr", {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kFloat}}, 0},
  };
  uint32_t seed = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = dir_ / Utf8Path(c.name);
    const Image image = Write(path, 45, 17, c.channels, seed++, 3, c.yMin);
    void* handle = Open(path);
    ASSERT_NE(handle, nullptr);
    const std::vector<uint8_t> info = Info(handle);
    EXPECT_EQ(U32(info, 0), 0x11u);
    EXPECT_EQ(U32(info, 4), 30u);
    EXPECT_EQ(U32(info, 8), 1u);
    EXPECT_EQ(U32(info, 12), 120u);
    EXPECT_EQ(U32(info, 24), 40u);
    for (size_t i = 28; i < 32; ++i) EXPECT_EQ(info[i], 0xEE) << i;
    for (size_t i = 32; i < 44; ++i) EXPECT_EQ(info[i], 0) << i;
    for (size_t i = 44; i < 64; ++i) EXPECT_EQ(info[i], 0xEE) << i;
    const uint8_t* bitmap = Slot<const uint8_t*>(info.data(), 16);
    const uint32_t expectedBitmap[10] = {40, 45, 17, 64u << 16 | 1, 0x34364648u, 45 * 17 * 8, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(bitmap, expectedBitmap, 40), 0);

    const Bytes expected = ExpectedFrame(image);
    for (int32_t frame : {0, 1, 119, 120, 5000}) {
      std::vector<uint8_t> buffer(expected.size() + 64, 0xCD);
      EXPECT_EQ(read_(handle, frame, buffer.data()), static_cast<int32_t>(expected.size()));
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin())) << frame;
      for (size_t i = expected.size(); i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xCD) << "guard";
    }
    EXPECT_EQ(close_(handle), 1);
    // A closed handle answers as a null one; closing it again is harmless.
    std::vector<uint8_t> closedInfo(64, 0xEE);
    EXPECT_EQ(info_(handle, closedInfo.data()), 0);
    EXPECT_EQ(closedInfo, std::vector<uint8_t>(64, 0xEE));
    std::vector<uint8_t> untouched(expected.size(), 0x5A);
    EXPECT_EQ(read_(handle, 0, untouched.data()), 0);
    EXPECT_EQ(untouched, std::vector<uint8_t>(expected.size(), 0x5A));
    EXPECT_EQ(close_(handle), 1);
  }
}

TEST_F(LoadedPlugin, SequencesEndToEnd) {
  const std::vector<Channel> channels = {{"B", kHalf}, {"G", kHalf}, {"R", kHalf}};
  std::vector<Image> frames;
  for (int i = 0; i < 3; ++i) {
    frames.push_back(Write(dir_ / Utf8Path("ショット_000" + std::to_string(7 + i) + ".exr"), 20, 10, channels, 7 + i));
  }
  Write(dir_ / "other_01.exr", 20, 10, channels, 50);
  const Image other2 = Write(dir_ / "other_02.exr", 20, 10, channels, 51);

  void* sequence = Open(dir_ / Utf8Path("ショット_0007.exr"));
  ASSERT_NE(sequence, nullptr);
  std::vector<uint8_t> info = Info(sequence);
  EXPECT_EQ(U32(info, 0), 1u);
  EXPECT_EQ(U32(info, 12), 3u);

  // Another sequence opened later, and a refused open, change nothing for it.
  void* other = Open(dir_ / "other_01.exr");
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(Open(dir_ / "missing_0001.exr"), nullptr);
  for (int32_t n = 0; n < 3; ++n) {
    const Bytes expected = ExpectedFrame(frames[n]);
    std::vector<uint8_t> buffer(expected.size() + 64, 0xCD);
    EXPECT_EQ(read_(sequence, n, buffer.data()), static_cast<int32_t>(expected.size())) << n;
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin())) << n;
    for (size_t i = expected.size(); i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xCD) << "guard";
  }
  std::vector<uint8_t> past(20 * 10 * 8, 0x5A);
  EXPECT_EQ(read_(sequence, 3, past.data()), 0);
  EXPECT_EQ(past, std::vector<uint8_t>(20 * 10 * 8, 0x5A));
  const Bytes expectedOther = ExpectedFrame(other2);
  std::vector<uint8_t> buffer(expectedOther.size());
  EXPECT_EQ(read_(other, 1, buffer.data()), static_cast<int32_t>(buffer.size()));
  EXPECT_TRUE(buffer == expectedOther);
  close_(other);
  close_(sequence);
}

// The opened file stays readable by others but cannot be written or
// deleted while a handle holds it; closing releases it.
TEST_F(LoadedPlugin, OpenFileSharing) {
  const fs::path path = dir_ / "held.exr";
  Write(path, 4, 4, {{"V", kHalf}}, 1);
  void* handle = Open(path);
  ASSERT_NE(handle, nullptr);
  HANDLE reader = CreateFileW(path.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  HANDLE writer = CreateFileW(path.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_FALSE(DeleteFileW(path.wstring().c_str()));
  close_(handle);
  EXPECT_TRUE(DeleteFileW(path.wstring().c_str()));
}

TEST_F(LoadedPlugin, ThousandHandlesAtOnce) {
  const std::vector<Channel> channels = {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}};
  Write(dir_ / "still.exr", 8, 8, channels, 1);
  Write(dir_ / "run_1.exr", 8, 8, channels, 2);
  Write(dir_ / "run_2.exr", 8, 8, channels, 3);
  std::vector<void*> handles;
  for (int i = 0; i < 1000; ++i) {
    handles.push_back(Open(dir_ / (i % 2 == 0 ? "still.exr" : "run_1.exr")));
    ASSERT_NE(handles.back(), nullptr) << i;
  }
  std::vector<uint8_t> buffer(8 * 8 * 8);
  for (size_t i = 0; i < handles.size(); i += 97) EXPECT_EQ(read_(handles[i], 1, buffer.data()), 8 * 8 * 8);
  for (void* handle : handles) EXPECT_EQ(close_(handle), 1);
  EXPECT_TRUE(DeleteFileW((dir_ / "still.exr").wstring().c_str())) << "every handle let go of its file";
}

}  // namespace

namespace {

// The malformed-file table through the DLL: each case ends as it must,
// nothing is written past the frame, and the next open still works.
TEST_F(LoadedPlugin, MalformedFiles) {
  HostEntries host;
  host.open = [this](const WideString& path) { return open_(path.c_str()); };
  host.information = [this](void* handle, int32_t* width, int32_t* height) {
    std::vector<uint8_t> info = Info(handle);
    const uint8_t* bitmap = Slot<const uint8_t*>(info.data(), 16);
    std::memcpy(width, bitmap + 4, 4);
    std::memcpy(height, bitmap + 8, 4);
    return true;
  };
  host.read = [this](void* handle, int32_t frame, uint8_t* buffer) { return read_(handle, frame, buffer); };
  host.close = [this](void* handle) { close_(handle); };
  const std::vector<MalformedCase> cases = MalformedCases();
  for (const MalformedCase& c : cases) {
    std::string failure;
    const std::string observed = RunMalformedCase(c, dir_.path(), host, &failure);
    EXPECT_EQ(failure, "") << c.name << ": " << observed;
    std::string next;
    RunMalformedCase(cases.front(), dir_.path(), host, &next);
    EXPECT_EQ(next, "") << "the next open after " << c.name;
  }
}

// The single image's file cannot be truncated or replaced while open, so
// its frames go on decoding; a sequence frame replaced by a picture of
// another size reads as nothing and leaves the buffer alone.
TEST_F(LoadedPlugin, FilesThatChangeAfterTheOpen) {
  const std::vector<Channel> rgba = {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}};
  const Image image = Write(dir_ / "still.exr", 6, 4, rgba, 1);
  Write(dir_ / "seq_1.exr", 6, 4, rgba, 1);
  Write(dir_ / "seq_2.exr", 6, 4, rgba, 2);
  void* still = Open(dir_ / "still.exr");
  void* sequence = Open(dir_ / "seq_1.exr");
  ASSERT_NE(still, nullptr);
  ASSERT_NE(sequence, nullptr);
  HANDLE writer = CreateFileW((dir_ / "still.exr").wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "the open image cannot be truncated";
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  std::vector<uint8_t> frame(6 * 4 * 8, 0x77);
  EXPECT_EQ(read_(still, 0, frame.data()), 6 * 4 * 8);
  EXPECT_TRUE(frame == ExpectedFrame(image));
  Write(dir_ / "seq_2.exr", 7, 4, rgba, 3);
  std::fill(frame.begin(), frame.end(), 0x77);
  EXPECT_EQ(read_(sequence, 1, frame.data()), 0);
  EXPECT_EQ(frame, std::vector<uint8_t>(6 * 4 * 8, 0x77));
  close_(still);
  close_(sequence);
}

}  // namespace

namespace {

// Files written by the OpenEXR library, decoded by the DLL under Wine,
// against the frames the native build decoded from the same files.
TEST_F(LoadedPlugin, FramesMatchTheNativeDecode) {
  const char* folder = std::getenv("MONDREL_NATIVE_FRAMES");
  if (folder == nullptr || !fs::is_directory(fs::path(folder))) {
    GTEST_SKIP() << "no native frames exported (scripts/test exports them)";
  }
  int compared = 0;
  int refused = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(folder))) {
    if (entry.path().extension() != ".exr") continue;
    fs::path framePath = entry.path();
    fs::path refusedMarker = entry.path();
    refusedMarker.replace_extension(".refused");
    if (fs::exists(refusedMarker)) {
      EXPECT_EQ(Open(entry.path()), nullptr) << entry.path().u8string();
      ++refused;
      continue;
    }
    framePath.replace_extension(".frame");
    const Bytes native = ReadBytes(framePath);
    void* handle = Open(entry.path());
    ASSERT_NE(handle, nullptr) << entry.path().u8string();
    std::vector<uint8_t> frame(native.size() + 64, 0xCD);
    EXPECT_EQ(read_(handle, 0, frame.data()), static_cast<int32_t>(native.size())) << entry.path().u8string();
    EXPECT_TRUE(std::equal(native.begin(), native.end(), frame.begin())) << entry.path().u8string();
    for (size_t i = native.size(); i < frame.size(); ++i) ASSERT_EQ(frame[i], 0xCD) << "guard";
    close_(handle);
    ++compared;
  }
  EXPECT_GE(compared, 7);
  EXPECT_GE(refused, 4) << "tiled, mipmapped, deep and multi-part files from the library";
}

}  // namespace
