// PNG previews of half-float RGBA frames: values clamped to 0..1, colour
// encoded to 8-bit sRGB, alpha kept (linear, 8-bit).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

float HalfToFloat(uint16_t half);
uint8_t ToSrgb8(float linear);

// An 8-bit RGBA picture.
struct Rgba8 {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // width x height x 4
};

// Converts a frame of width x height half RGBA pixels.
Rgba8 PreviewOf(const uint8_t* frame, int width, int height);

// Writes a PNG with a maintained encoder; false with `error` set on failure.
bool WritePng(const std::string& path, const Rgba8& picture, std::string* error);
