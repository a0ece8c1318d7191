#include "tools/png_preview.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

float HalfToFloat(uint16_t half) {
  const int exponent = (half >> 10) & 0x1F;
  const int fraction = half & 0x3FF;
  float magnitude;
  if (exponent == 0) {
    magnitude = std::ldexp(static_cast<float>(fraction), -24);
  } else if (exponent == 31) {
    magnitude = fraction == 0 ? INFINITY : NAN;
  } else {
    magnitude = std::ldexp(static_cast<float>(fraction | 0x400), exponent - 25);
  }
  return (half & 0x8000) ? -magnitude : magnitude;
}

uint8_t ToSrgb8(float linear) {
  if (!(linear > 0.0f)) return 0;  // negative, zero and NaN
  if (linear >= 1.0f) return 255;
  const float encoded = linear <= 0.0031308f ? 12.92f * linear : 1.055f * std::pow(linear, 1.0f / 2.4f) - 0.055f;
  return static_cast<uint8_t>(std::lround(encoded * 255.0f));
}

Rgba8 PreviewOf(const uint8_t* frame, int width, int height) {
  Rgba8 picture;
  picture.width = width;
  picture.height = height;
  picture.pixels.resize(static_cast<size_t>(width) * height * 4);
  for (size_t i = 0; i < picture.pixels.size(); ++i) {
    const uint16_t half = static_cast<uint16_t>(frame[2 * i] | frame[2 * i + 1] << 8);
    const float value = HalfToFloat(half);
    if (i % 4 == 3) {
      const float alpha = value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f;
      picture.pixels[i] = static_cast<uint8_t>(std::lround(alpha * 255.0f));
    } else {
      picture.pixels[i] = ToSrgb8(value);
    }
  }
  return picture;
}

namespace {

void AppendToVector(void* context, void* data, int size) {
  auto* bytes = static_cast<std::vector<uint8_t>*>(context);
  bytes->insert(bytes->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
}

}  // namespace

bool WritePng(const std::string& path, const Rgba8& picture, std::string* error) {
  std::vector<uint8_t> encoded;
  if (!stbi_write_png_to_func(AppendToVector, &encoded, picture.width, picture.height, 4, picture.pixels.data(),
                              picture.width * 4)) {
    *error = "cannot encode " + path;
    return false;
  }
  errno = 0;
  std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(encoded.data()), static_cast<std::streamsize>(encoded.size()));
  out.close();
  if (!out) {
    *error = std::string("cannot write the file: ") + (errno != 0 ? std::strerror(errno) : "write failed");
    return false;
  }
  return true;
}
