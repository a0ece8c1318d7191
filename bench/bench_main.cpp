// Benchmarks of the plug-in against the OpenEXR library and against the
// limit of reading a file and writing its frame. Fixtures are generated
// here; every figure is a median of repeated runs in this one process.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfThreading.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_convert.h"
#include "bench/bench_report.h"
#include "bench/bench_timer.h"
#include "exr/float_to_half.h"
#include "exr/mondrel.h"
#include "platform/platform.h"
#include "platform/instrumentation.h"
#include "plugin/plugin_table.h"
#include "writer/exr_writer.h"
#include "support/test_files.h"

using namespace exrtest;
namespace OpenExr = OPENEXR_IMF_NAMESPACE;

namespace {

double gNativeRgbaHalf = 0;  // the 1920x1080 RGBA HALF read, for the Wine comparison

const PluginTable* Table() { return GetInputPluginTable(); }

// Our side and the limit, sampled in alternating rounds. Ours is a frame
// read from a handle already open, or open, read, close as a sequence frame
// costs. The limit is the file's bytes in one read into a buffer already
// touched, plus writing the frame; from a descriptor already open, or with
// the open and close counted.
OursAndLimit MeasureOursAndLimit(const fs::path& path, std::vector<uint8_t>& frame, int runs, bool alreadyOpen) {
  const WideString wide = WidePath(path);
  void* handle = alreadyOpen ? Table()->open(wide.c_str()) : nullptr;
  const auto ours = [&] {
    if (alreadyOpen) {
      Table()->readFrame(handle, 0, frame.data());
      return;
    }
    void* fresh = Table()->open(wide.c_str());
    Table()->readFrame(fresh, 0, frame.data());
    Table()->close(fresh);
  };
  std::vector<uint8_t> bytes(fs::file_size(path), 1);
  const platform::FileHandle open = alreadyOpen ? platform::OpenFileForReading(wide.c_str()) : platform::kInvalidFile;
  const auto limit = [&] {
    const platform::FileHandle file = alreadyOpen ? open : platform::OpenFileForReading(wide.c_str());
    uint32_t got = 0;
    platform::ReadFileAt(file, 0, bytes.data(), static_cast<uint32_t>(bytes.size()), &got);
    if (!alreadyOpen) platform::CloseFile(file);
    std::memset(frame.data(), static_cast<int>(got & 1), frame.size());
  };
  const OursAndLimit measured = MeasureAlternately(runs, ours, limit);
  platform::CloseFile(open);
  if (handle != nullptr) Table()->close(handle);
  return measured;
}

double OursAlreadyOpenMedian(const fs::path& path, std::vector<uint8_t>& frame, int runs) {
  return MeasureOursAndLimit(path, frame, runs, true).ours.median;
}

// The library's side: the same interleaved half RGBA frame, with V shown
// as grey and a missing alpha filled with 1.0.
void ReadPixelsInto(OpenExr::InputFile& file, std::vector<uint8_t>& frame) {
  const Imath::Box2i window = file.header().dataWindow();
  const int width = window.max.x - window.min.x + 1;
  char* origin = reinterpret_cast<char*>(frame.data()) -
                 (static_cast<ptrdiff_t>(window.min.y) * width + window.min.x) * 8;
  OpenExr::FrameBuffer buffer;
  const char* names[4] = {"R", "G", "B", "A"};
  const bool grey = file.header().channels().findChannel("V") != nullptr;
  for (int k = 0; k < 4; ++k) {
    const char* name = grey && k < 3 ? "V" : names[k];
    buffer.insert(name, OpenExr::Slice(OpenExr::HALF, origin + 2 * k, 8, 8 * static_cast<size_t>(width), 1, 1,
                                   k == 3 ? 1.0 : 0.0));
  }
  file.setFrameBuffer(buffer);
  file.readPixels(window.min.y, window.max.y);
}

Timing LibraryAlreadyOpen(const fs::path& path, std::vector<uint8_t>& frame, int runs) {
  OpenExr::InputFile file(path.string().c_str());
  return MeasureSeconds(runs, [&] { ReadPixelsInto(file, frame); });
}

Timing LibraryOpenReadClose(const fs::path& path, std::vector<uint8_t>& frame, int runs) {
  return MeasureSeconds(runs, [&] {
    OpenExr::InputFile file(path.string().c_str());
    ReadPixelsInto(file, frame);
  });
}

// Read calls the plug-in makes to open a file and decode one frame.
int64_t ReadsToOpenAndDecode(const fs::path& path, std::vector<uint8_t>& frame) {
  const WideString wide = WidePath(path);
  const int64_t before = platform::GetInstrumentation().reads;
  void* handle = Table()->open(wide.c_str());
  Table()->readFrame(handle, 0, frame.data());
  Table()->close(handle);
  return platform::GetInstrumentation().reads - before;
}

// FLOAT samples as a renderer writes them: a ramp from 0 to 1.5 across each
// row with a little grain, black in the left tenth.
Image GradientImage(int32_t width, int32_t height, const std::vector<Channel>& channels) {
  Image image;
  image.width = width;
  image.height = height;
  image.channels = channels;
  std::mt19937 generator(7);
  for (size_t c = 0; c < channels.size(); ++c) {
    std::vector<uint32_t> plane(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < plane.size(); ++i) {
      const int32_t x = static_cast<int32_t>(i % width);
      const float value = x < width / 10 ? 0.0f : 1.5f * x / width + 0.01f * c + 1e-5f * (generator() % 1000);
      std::memcpy(&plane[i], &value, 4);
    }
    image.samples.push_back(std::move(plane));
  }
  return image;
}

std::string gOnly;  // --only: run the frame cases whose name contains this

// A generated fixture: its name in the table, size and channels.
struct Case {
  const char* name;
  int32_t width;
  int32_t height;
  std::vector<Channel> channels;
  bool gradient = false;  // a rendered picture's values instead of every class of sample
};

void FrameCases(const fs::path& folder) {
  const Case cases[] = {
      {"1920x1080 RGBA HALF", 1920, 1080, {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}}},
      {"1920x1080 RGB HALF", 1920, 1080, {{"B", kHalf}, {"G", kHalf}, {"R", kHalf}}},
      {"1920x1080 RGB FLOAT", 1920, 1080, {{"B", kFloat}, {"G", kFloat}, {"R", kFloat}}},
      {"1920x1080 RGB FLOAT gradient", 1920, 1080, {{"B", kFloat}, {"G", kFloat}, {"R", kFloat}}, true},
      {"1920x1080 V HALF", 1920, 1080, {{"V", kHalf}}},
      {"3840x2160 RGBA HALF", 3840, 2160, {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}}},
      {"3840x2160 RGB FLOAT", 3840, 2160, {{"B", kFloat}, {"G", kFloat}, {"R", kFloat}}},
  };
  const std::string bottomUpRow = "1920x1080 RGBA HALF stored bottom row first (DECREASING_Y)";
  if (bottomUpRow.find(gOnly) != std::string::npos) {
    // Bottom-up files store their chunks back to back in descending order.
    const Image image = MakeImage(1920, 1080, cases[0].channels, 1);
    WriteOptions bottomUp;
    bottomUp.lineOrder = 1;
    const fs::path path = folder / "bottom-up.exr";
    WriteBytes(path, WriteExr(image, bottomUp).bytes);
    std::vector<uint8_t> frame(static_cast<size_t>(1920) * 1080 * 8);
    Report(bottomUpRow, "%lld reads to open and decode",
           static_cast<long long>(ReadsToOpenAndDecode(path, frame)));
  }
  for (const Case& c : cases) {
    if (!gOnly.empty() && std::string(c.name).find(gOnly) == std::string::npos) continue;
    const fs::path path = folder / (std::string(c.name) + ".exr");
    const Image image = c.gradient ? GradientImage(c.width, c.height, c.channels)
                                   : MakeImage(c.width, c.height, c.channels, 1);
    WriteBytes(path, WriteExr(image).bytes);
    std::vector<uint8_t> frame(static_cast<size_t>(c.width) * c.height * 8, 1);
    const bool large = c.width > 2000;
    const int runs = large ? 15 : 33;
    // The library converts FLOAT slowly; fewer runs keep the bench short.
    const int libraryRuns = (large || c.gradient) && c.channels[0].pixelType == kFloat ? 5 : runs;
    const int64_t reads = ReadsToOpenAndDecode(path, frame);
    for (const bool alreadyOpen : {true, false}) {
      Timing library[2];
      for (int threads = 0; threads < 2; ++threads) {
        OpenExr::setGlobalThreadCount(threads == 0 ? 0 : 2);
        library[threads] = alreadyOpen ? LibraryAlreadyOpen(path, frame, libraryRuns)
                                       : LibraryOpenReadClose(path, frame, libraryRuns);
      }
      OpenExr::setGlobalThreadCount(0);
      const OursAndLimit measured = MeasureOursAndLimit(path, frame, runs, alreadyOpen);
      const Timing& ours = measured.ours;
      const Timing& limit = measured.limit;
      if (alreadyOpen && std::string(c.name) == "1920x1080 RGBA HALF") gNativeRgbaHalf = ours.median;
      char readsText[64] = "";
      if (alreadyOpen) std::snprintf(readsText, sizeof readsText, "; %lld reads to open and decode", static_cast<long long>(reads));
      Report(std::string(c.name) + (alreadyOpen ? ", file already open" : ", open, read, close"),
             "ours %s (%.2f GB/s out); OpenEXR 1 thread %s (%.2fx ours), 2 threads %s (%.2fx); "
             "limit %s (ours at %.2f of it)%s",
             Spread(ours).c_str(), frame.size() / ours.median / 1e9, Spread(library[0]).c_str(),
             library[0].median / ours.median, Spread(library[1]).c_str(), library[1].median / ours.median,
             Spread(limit).c_str(), limit.median / ours.median, readsText);
    }
  }
}

// A host's cycle: read a frame, then read the frame itself as the host
// converts or shows it; into one buffer handed back every time, or four in
// turn. The limit does the same with the file's bytes in one read and a
// memset of the frame.
void HostCycleCases(const fs::path& folder) {
  const Case cases[] = {
      {"1280x720 RGBA HALF", 1280, 720, {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}}},
      {"1600x900 V HALF", 1600, 900, {{"V", kHalf}}},
  };
  for (const Case& c : cases) {
    const std::string label = std::string(c.name) + ", host reads each frame, ";
    if (!gOnly.empty() && label.find(gOnly) == std::string::npos) continue;
    const fs::path path = folder / (std::string(c.name) + ".exr");
    WriteBytes(path, WriteExr(MakeImage(c.width, c.height, c.channels, 1)).bytes);
    const WideString wide = WidePath(path);
    std::vector<uint8_t> bytes(fs::file_size(path), 1);
    for (const size_t buffers : {size_t{1}, size_t{4}}) {
      const size_t frameBytes = static_cast<size_t>(c.width) * c.height * 8;
      std::vector<std::vector<uint8_t>> frames(buffers, std::vector<uint8_t>(frameBytes, 1));
      volatile uint32_t sink = 0;
      const auto readBack = [&](const std::vector<uint8_t>& frame) {
        uint32_t sum = 0;
        for (size_t i = 0; i < frame.size(); i += 64) sum += frame[i];
        sink = sum;
      };
      void* handle = Table()->open(wide.c_str());
      const platform::FileHandle file = platform::OpenFileForReading(wide.c_str());
      size_t oursNext = 0;
      size_t limitNext = 0;
      const auto ours = [&] {
        std::vector<uint8_t>& frame = frames[oursNext++ % buffers];
        Table()->readFrame(handle, 0, frame.data());
        readBack(frame);
      };
      const auto limit = [&] {
        std::vector<uint8_t>& frame = frames[limitNext++ % buffers];
        uint32_t got = 0;
        platform::ReadFileAt(file, 0, bytes.data(), static_cast<uint32_t>(bytes.size()), &got);
        std::memset(frame.data(), static_cast<int>(got & 1), frame.size());
        readBack(frame);
      };
      const OursAndLimit measured = MeasureAlternately(33, ours, limit);
      platform::CloseFile(file);
      Table()->close(handle);
      Report(label + (buffers == 1 ? "one buffer" : "four buffers in turn"),
             "ours %s; limit %s (ours at %.2f of it)", Spread(measured.ours).c_str(), Spread(measured.limit).c_str(),
             measured.limit.median / measured.ours.median);
    }
  }
}

void ConversionCases() {
  const int32_t count = 1 << 20;
  std::vector<uint8_t> realistic(4 * static_cast<size_t>(count));
  std::vector<uint8_t> random(4 * static_cast<size_t>(count));
  std::vector<uint8_t> out(2 * static_cast<size_t>(count));
  std::mt19937 generator(5);
  std::uniform_real_distribution<float> zeroToTwo(0.0f, 2.0f);
  for (int32_t i = 0; i < count; ++i) {
    const float value = zeroToTwo(generator);
    std::memcpy(&realistic[4 * static_cast<size_t>(i)], &value, 4);
    const uint32_t bits = generator();
    std::memcpy(&random[4 * static_cast<size_t>(i)], &bits, 4);
  }
  for (const auto& input : {std::make_pair("values 0 to 2", &realistic), std::make_pair("random bits", &random)}) {
    const double scalar = MedianSeconds(11, [&] { FloatRowToHalfScalar(input.second->data(), out.data(), count); });
    const double vector = MedianSeconds(11, [&] { FloatRowToHalf(input.second->data(), out.data(), count); });
    Report(std::string("FloatToHalf rows, ") + input.first,
           "scalar %.0f M samples/s; vectorised (%s) %.0f M samples/s; %.1fx", count / scalar / 1e6,
           ProcessorHasF16c() ? "F16C" : ProcessorHasAvx2() ? "AVX2" : "SSE2", count / vector / 1e6, scalar / vector);
  }
}

void SequenceCases(const fs::path& folder) {
  const fs::path sequence = folder / "sequence";
  fs::create_directories(sequence);
  WriteBytes(sequence / "shot_00000.exr",
             WriteExr(MakeImage(1920, 1080, {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}}, 3)).bytes);
  for (int i = 1; i < 10000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "shot_%05d.exr", i);
    fs::create_hard_link(sequence / "shot_00000.exr", sequence / name);
  }
  const WideString first = WidePath(sequence / "shot_00000.exr");
  const double open = MedianSeconds(11, [&] { Table()->close(Table()->open(first.c_str())); });
  std::vector<uint8_t> frame(1920 * 1080 * 8);
  void* handle = Table()->open(first.c_str());
  int32_t n = 0;
  const double sequenceRead = MedianSeconds(21, [&] { Table()->readFrame(handle, (n++ * 37) % 10000, frame.data()); });
  Table()->close(handle);
  fs::copy_file(sequence / "shot_00000.exr", folder / "alone.exr");
  const double singleRead = OursAlreadyOpenMedian(folder / "alone.exr", frame, 21);
  Report("sequence of 10,000 frames", "open (probing) %.1f ms; sequence frame read %.2f ms vs single image %.2f ms (%.2fx)",
         open * 1e3, sequenceRead * 1e3, singleRead * 1e3, sequenceRead / singleRead);
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// Run in a fresh process: resident memory that one open handle adds, after
// the open and after reading one frame (the host's frame buffer is touched
// before the first figure, so it is not counted).
int MeasureOneHandle(const std::string& path) {
  std::vector<uint8_t> frame(1920 * 1080 * 8, 1);
  const WideString wide = WidePath(fs::u8path(path));
  const long before = ResidentKiB();
  void* handle = Table()->open(wide.c_str());
  if (handle == nullptr) return 1;
  const long opened = ResidentKiB();
  Table()->readFrame(handle, 1, frame.data());
  const long afterRead = ResidentKiB();
  std::printf("%ld %ld\n", opened - before, afterRead - before);
  Table()->close(handle);
  return 0;
}

void MemoryCases(const fs::path& folder, const char* self) {
  const fs::path single = folder / "alone.exr";
  const fs::path sequence = folder / "sequence" / "shot_00000.exr";
  for (const auto& which : {std::make_pair("single image", single), std::make_pair("sequence", sequence)}) {
    const std::string command = std::string(self) + " --memory '" + which.second.string() + "'";
    std::FILE* child = popen(command.c_str(), "r");
    long opened = -1;
    long afterRead = -1;
    if (child == nullptr || std::fscanf(child, "%ld %ld", &opened, &afterRead) != 2) opened = afterRead = -1;
    if (child != nullptr) pclose(child);
    Report(std::string("memory, one open ") + which.first + " (1920x1080)",
           "+%ld KiB resident after open, +%ld KiB after reading a frame (frame buffer excluded)", opened, afterRead);
  }
}

// The same frame read through the Windows DLL under Wine, by the bench
// program of the Windows build, with the limit of that same Wine.
void WineCase(const fs::path& folder, const std::string& wineBench, double nativeSeconds) {
  const fs::path path = folder / "1920x1080 RGBA HALF.exr";
  const std::string command = "wine '" + wineBench + "' 'Z:" + path.string() + "' 2>/dev/null";
  std::FILE* child = popen(command.c_str(), "r");
  double ours[2] = {-1, -1};
  double limit[2] = {-1, -1};
  if (child == nullptr || std::fscanf(child, "%lf %lf %lf %lf", &ours[0], &limit[0], &ours[1], &limit[1]) != 4) {
    ours[0] = ours[1] = limit[0] = limit[1] = -1;
  }
  if (child != nullptr) pclose(child);
  Report("1920x1080 RGBA HALF through the DLL under Wine, file already open",
         "%.2f ms; %.2fx native (%.2f ms); Wine limit %.2f ms (ours at %.2f of it)", ours[0],
         ours[0] / (nativeSeconds * 1e3), nativeSeconds * 1e3, limit[0], limit[0] / ours[0]);
  Report("1920x1080 RGBA HALF through the DLL under Wine, open, read, close",
         "%.2f ms; Wine limit %.2f ms (ours at %.2f of it)", ours[1], limit[1], limit[1] / ours[1]);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--memory") return MeasureOneHandle(argv[2]);
  std::string wineBench;
  if (argc == 3 && std::string(argv[1]) == "--wine-bench") wineBench = argv[2];
  if (argc == 3 && std::string(argv[1]) == "--only") {
    gOnly = argv[2];
    TempDir folder;
    if (std::string("convert").find(gOnly) != std::string::npos) {
      ConvertCases(folder.path());
      return 0;
    }
    FrameCases(folder.path());
    HostCycleCases(folder.path());
    return 0;
  }
  TempDir folder;
  std::printf("| case | measured (medians) |\n|---|---|\n");
  ConversionCases();
  FrameCases(folder.path());
  HostCycleCases(folder.path());
  SequenceCases(folder.path());
  MemoryCases(folder.path(), argv[0]);
  ConvertCases(folder.path());
  if (!wineBench.empty()) WineCase(folder.path(), wineBench, gNativeRgbaHalf);
  return 0;
}
