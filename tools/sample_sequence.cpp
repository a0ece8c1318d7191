#include "tools/sample_sequence.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "exr/float_to_half.h"
#include "writer/exr_writer.h"
#include "tools/digit_font.h"

namespace {

uint32_t Half(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  return FloatToHalf(bits);
}

}  // namespace

bool WriteSampleSequence(const std::string& folder, int frames, int width, int height, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ignored;
  fs::create_directories(fs::u8path(folder), ignored);
  const std::vector<exrtest::Channel> channels = {
      {"A", exrtest::kHalf}, {"B", exrtest::kHalf}, {"G", exrtest::kHalf}, {"R", exrtest::kHalf}};
  const int scale = height / 12 > 1 ? height / 12 : 1;
  for (int frame = 1; frame <= frames; ++frame) {
    exrtest::Image image;
    image.width = width;
    image.height = height;
    image.channels = channels;
    image.samples.assign(4, std::vector<uint32_t>(static_cast<size_t>(width) * height));
    const float phase = static_cast<float>(frame) / static_cast<float>(frames);
    const int ballX = static_cast<int>(phase * width);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const size_t index = static_cast<size_t>(y) * width + x;
        float r = static_cast<float>(x) / width;
        float g = static_cast<float>(y) / height;
        float b = 0.5f + 0.5f * std::sin(6.2831853f * (phase + static_cast<float>(x + y) / (width + height)));
        const int dx = x - ballX;
        const int dy = y - height / 2;
        if (dx * dx + dy * dy < (height / 6) * (height / 6)) r = g = b = 2.0f;  // brighter than white
        if (DigitTextCovers(std::to_string(frame), x - scale, y - scale, scale)) r = g = b = 1.0f;
        image.samples[0][index] = Half(1.0f);
        image.samples[1][index] = Half(b);
        image.samples[2][index] = Half(g);
        image.samples[3][index] = Half(r);
      }
    }
    char name[32];
    std::snprintf(name, sizeof name, "sample_%04d.exr", frame);
    const fs::path path = fs::u8path(folder) / name;
    const exrtest::Bytes bytes = exrtest::WriteExr(image).bytes;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      *error = "cannot write " + path.u8string();
      return false;
    }
  }
  return true;
}
