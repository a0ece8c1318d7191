// Converting ZIP files: ours (read, inflate, write the copy under a
// temporary name, read it back through the plug-in, rename) against the
// OpenEXR library reading each file with readPixels and writing it with
// compression NONE, in the same run.
#include "bench/bench_convert.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfThreading.h>
#include <Imath/half.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "bench/bench_report.h"
#include "bench/bench_timer.h"
#include "plugin/plugin_table.h"
#include "tools/convert_command.h"

namespace fs = std::filesystem;
namespace OpenExr = OPENEXR_IMF_NAMESPACE;

namespace {

const char* const kChannels[] = {"R", "G", "B", "A"};

// A rendered picture's kind of values: ramps with grain, which the
// compressions pack about as they pack real renders.
void WriteFile(const fs::path& path, int width, int height, int frame,
               OpenExr::Compression compression = OpenExr::ZIP_COMPRESSION) {
  std::vector<std::vector<Imath::half>> planes(4, std::vector<Imath::half>(static_cast<size_t>(width) * height));
  uint32_t grain = 12345u + static_cast<uint32_t>(frame);
  for (size_t i = 0; i < planes[0].size(); ++i) {
    const float x = static_cast<float>(i % width) / width;
    const float y = static_cast<float>(i / width) / height;
    grain = grain * 1664525u + 1013904223u;
    const float noise = static_cast<float>(grain >> 24) / 25600.0f;
    planes[0][i] = Imath::half(x + noise);
    planes[1][i] = Imath::half(y * 0.8f + noise);
    planes[2][i] = Imath::half(0.5f + 0.4f * std::sin(6.28f * (x + y + frame * 0.01f)));
    planes[3][i] = Imath::half(1.0f);
  }
  OpenExr::Header header(width, height);
  header.compression() = compression;
  OpenExr::FrameBuffer buffer;
  for (int c = 0; c < 4; ++c) {
    header.channels().insert(kChannels[c], OpenExr::Channel(OpenExr::HALF));
    buffer.insert(kChannels[c], OpenExr::Slice(OpenExr::HALF, reinterpret_cast<char*>(planes[c].data()), 2,
                                               2 * static_cast<size_t>(width)));
  }
  OpenExr::OutputFile file(path.string().c_str(), header);
  file.setFrameBuffer(buffer);
  file.writePixels(height);
}

// What the library does for the same copy.
void LibraryConverts(const fs::path& source, const fs::path& output) {
  OpenExr::InputFile in(source.string().c_str());
  const Imath::Box2i window = in.header().dataWindow();
  const size_t width = static_cast<size_t>(window.max.x - window.min.x + 1);
  const size_t height = static_cast<size_t>(window.max.y - window.min.y + 1);
  std::vector<Imath::half> pixels(width * height * 4);
  OpenExr::FrameBuffer buffer;
  for (int c = 0; c < 4; ++c) {
    char* origin = reinterpret_cast<char*>(pixels.data() + c) - (window.min.y * width + window.min.x) * 8;
    buffer.insert(kChannels[c], OpenExr::Slice(OpenExr::HALF, origin, 8, 8 * width));
  }
  in.setFrameBuffer(buffer);
  in.readPixels(window.min.y, window.max.y);
  OpenExr::Header header = in.header();
  header.compression() = OpenExr::NO_COMPRESSION;
  OpenExr::OutputFile out(output.string().c_str(), header);
  out.setFrameBuffer(buffer);
  out.writePixels(static_cast<int>(height));
}

// Our run, its report lines kept off the bench's table.
void WeConvert(const fs::path& source, const fs::path& folder, int threads) {
  ConvertOptions options;
  options.folder = folder.string();
  options.force = true;
  options.threads = threads;
  std::fflush(stdout);
  const int saved = dup(1);
  const int nowhere = open("/dev/null", O_WRONLY);
  dup2(nowhere, 1);
  const int status = RunConvert(GetInputPluginTable(), {source.string()}, options);
  std::fflush(stdout);
  dup2(saved, 1);
  close(nowhere);
  close(saved);
  if (status != 0) std::fprintf(stderr, "bench: convert of %s failed\n", source.string().c_str());
}

}  // namespace

void ConvertCases(const fs::path& folder) {
  const fs::path single = folder / "convert" / "1080p.exr";
  fs::create_directories(single.parent_path());
  WriteFile(single, 1920, 1080, 0);
  const fs::path out = folder / "convert" / "out";
  const fs::path libraryOut = folder / "convert" / "library";
  fs::create_directories(libraryOut);
  OpenExr::setGlobalThreadCount(0);
  const std::pair<const char*, OpenExr::Compression> methods[] = {
      {"ZIP", OpenExr::ZIP_COMPRESSION}, {"PIZ", OpenExr::PIZ_COMPRESSION}, {"B44", OpenExr::B44_COMPRESSION}};
  for (const auto& method : methods) {
    const fs::path source = folder / "convert" / (std::string("1080p ") + method.first + ".exr");
    if (method.second != OpenExr::ZIP_COMPRESSION) WriteFile(source, 1920, 1080, 0, method.second);
    const fs::path& path = method.second == OpenExr::ZIP_COMPRESSION ? single : source;
    const OursAndLimit one = MeasureAlternately(
        9, [&] { WeConvert(path, out, 1); }, [&] { LibraryConverts(path, libraryOut / path.filename()); });
    Report(std::string("convert 1920x1080 RGBA HALF ") + method.first + ", one thread", "ours %s; OpenEXR %s (%.2fx ours)",
           Spread(one.ours).c_str(), Spread(one.limit).c_str(), one.limit.median / one.ours.median);
  }

  const fs::path sequence = folder / "convert" / "sequence";
  fs::create_directories(sequence);
  std::vector<fs::path> frames;
  for (int frame = 1; frame <= 100; ++frame) {
    char name[32];
    std::snprintf(name, sizeof name, "shot_%04d.exr", frame);
    frames.push_back(sequence / name);
    WriteFile(frames.back(), 960, 540, frame);
  }
  const auto library = [&] {
    for (const fs::path& frame : frames) LibraryConverts(frame, libraryOut / frame.filename());
  };
  double ours[2];
  double theirs[2];
  for (int threads = 1; threads <= 2; ++threads) {
    OpenExr::setGlobalThreadCount(threads == 1 ? 0 : threads);
    const OursAndLimit both = MeasureAlternately(6, [&] { WeConvert(frames.front(), out, threads); }, library);
    ours[threads - 1] = both.ours.median;
    theirs[threads - 1] = both.limit.median;
  }
  OpenExr::setGlobalThreadCount(0);
  Report("convert 100 frames of 960x540 RGBA HALF ZIP",
         "ours 1 thread %.0f ms, 2 threads %.0f ms (%.2fx); OpenEXR 1 thread %.0f ms (%.2fx ours), "
         "2 threads %.0f ms (%.2fx ours with 2)",
         ours[0] * 1e3, ours[1] * 1e3, ours[0] / ours[1], theirs[0] * 1e3, theirs[0] / ours[0], theirs[1] * 1e3,
         theirs[1] / ours[1]);
}
