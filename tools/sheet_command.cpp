#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/clip.h"
#include "tools/digit_font.h"
#include "tools/picture_commands.h"
#include "tools/png_preview.h"
#include "tools/progress.h"
#include "tools/text_output.h"

namespace {

constexpr int kThumbnailWidth = 160;  // thumbnails fit a square of this side
constexpr int kSmallestThumbnail = 16;
constexpr int64_t kLargestSheetSide = 16384;
constexpr int kGap = 6;
constexpr int kLabelScale = 2;
constexpr int kLabelHeight = 5 * kLabelScale + 6;
constexpr float kBackground = 0.02f;  // linear grey behind transparent pixels

void Fill(Rgba8& sheet, int left, int top, int width, int height, uint8_t r, uint8_t g, uint8_t b) {
  for (int y = top; y < top + height && y < sheet.height; ++y) {
    for (int x = left; x < left + width && x < sheet.width; ++x) {
      uint8_t* pixel = &sheet.pixels[(static_cast<size_t>(y) * sheet.width + x) * 4];
      pixel[0] = r;
      pixel[1] = g;
      pixel[2] = b;
      pixel[3] = 255;
    }
  }
}

// Box-filters the frame down to the thumbnail in linear light, over the
// background where it is transparent.
void DrawThumbnail(Rgba8& sheet, int left, int top, int width, int height, const std::vector<uint8_t>& frame,
                   int frameWidth, int frameHeight) {
  for (int ty = 0; ty < height; ++ty) {
    const int y0 = static_cast<int>(static_cast<int64_t>(ty) * frameHeight / height);
    const int y1 = std::max(y0 + 1, static_cast<int>(static_cast<int64_t>(ty + 1) * frameHeight / height));
    for (int tx = 0; tx < width; ++tx) {
      const int x0 = static_cast<int>(static_cast<int64_t>(tx) * frameWidth / width);
      const int x1 = std::max(x0 + 1, static_cast<int>(static_cast<int64_t>(tx + 1) * frameWidth / width));
      float sum[3] = {0, 0, 0};
      for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
          const uint8_t* pixel = &frame[(static_cast<size_t>(y) * frameWidth + x) * 8];
          float alpha = HalfToFloat(static_cast<uint16_t>(pixel[6] | pixel[7] << 8));
          alpha = alpha > 0 ? std::min(alpha, 1.0f) : 0.0f;
          for (int k = 0; k < 3; ++k) {
            float value = HalfToFloat(static_cast<uint16_t>(pixel[2 * k] | pixel[2 * k + 1] << 8));
            value = value > 0 ? std::min(value, 1.0f) : 0.0f;
            sum[k] += value * alpha + kBackground * (1 - alpha);
          }
        }
      }
      const float count = static_cast<float>((y1 - y0) * (x1 - x0));
      uint8_t* out = &sheet.pixels[(static_cast<size_t>(top + ty) * sheet.width + left + tx) * 4];
      for (int k = 0; k < 3; ++k) out[k] = ToSrgb8(sum[k] / count);
      out[3] = 255;
    }
  }
}

void DrawLabel(Rgba8& sheet, int left, int top, const std::string& text) {
  for (int y = 0; y < 5 * kLabelScale; ++y) {
    for (int x = 0; x < DigitTextWidth(text, kLabelScale); ++x) {
      if (DigitTextCovers(text, x, y, kLabelScale)) Fill(sheet, left + x, top + y, 1, 1, 235, 235, 235);
    }
  }
}

}  // namespace

int RunSheet(const PluginTable* table, const std::string& path, const std::string& output, int columns, int every) {
  Clip clip;
  std::string error;
  if (!OpenClip(table, path, &clip, &error)) {
    Out(Printable(path) + (clip.readable ? ": refused: " : ": ") + Printable(error) + "\n");
    return 1;
  }
  std::vector<int32_t> frames;
  const int32_t count = clip.sequence ? clip.frameCount : 1;
  for (int32_t n = 0; n < count; n += every) frames.push_back(n);
  const int shown = static_cast<int>(frames.size());
  columns = std::max(1, std::min(columns, shown));
  const int64_t rows = (shown + columns - 1) / columns;
  // Thumbnails shrink until the sheet fits its bound; past the smallest,
  // the sheet is refused rather than made huge.
  int64_t thumbWidth = 0;
  int64_t thumbHeight = 0;
  int64_t sheetWidth = 0;
  int64_t sheetHeight = 0;
  for (int64_t side = kThumbnailWidth;; side /= 2) {
    const int64_t longer = std::max(clip.width, clip.height);
    thumbWidth = std::max<int64_t>(1, std::min<int64_t>(clip.width, side * clip.width / longer));
    thumbHeight = std::max<int64_t>(1, std::min<int64_t>(side, clip.height * thumbWidth / clip.width));
    sheetWidth = kGap + columns * (thumbWidth + kGap);
    sheetHeight = kGap + rows * (thumbHeight + kLabelHeight + kGap);
    if (sheetWidth <= kLargestSheetSide && sheetHeight <= kLargestSheetSide) break;
    if (side / 2 < kSmallestThumbnail) {
      CloseClip(clip);
      Out(Printable(path) + Format(": a sheet of %d frames in %d columns would be larger than %lld pixels a side; "
                                   "show fewer frames with --every, or choose other --columns\n",
                                   shown, columns, static_cast<long long>(kLargestSheetSide)));
      return 1;
    }
  }
  Rgba8 sheet;
  sheet.width = static_cast<int>(sheetWidth);
  sheet.height = static_cast<int>(sheetHeight);
  sheet.pixels.assign(static_cast<size_t>(sheet.width) * static_cast<size_t>(sheet.height) * 4, 0);
  Fill(sheet, 0, 0, sheet.width, sheet.height, 24, 24, 24);

  ProgressBar bar = StartProgress("sheet", shown);
  std::vector<uint8_t> frame;
  int status = 0;
  for (int i = 0; i < shown; ++i) {
    const int left = static_cast<int>(kGap + (i % columns) * (thumbWidth + kGap));
    const int top = static_cast<int>(kGap + (i / columns) * (thumbHeight + kLabelHeight + kGap));
    const int32_t n = frames[i];
    if (ReadClipFrame(clip, n, frame)) {
      DrawThumbnail(sheet, left, top, static_cast<int>(thumbWidth), static_cast<int>(thumbHeight), frame, clip.width,
                    clip.height);
    } else {
      Fill(sheet, left, top, static_cast<int>(thumbWidth), static_cast<int>(thumbHeight), 120, 20, 20);
      Err(Printable(FrameSourceName(path, clip.sequence ? n : 0)) + Format(": frame %d does not decode\n", n));
      status = 1;
    }
    DrawLabel(sheet, left, top + static_cast<int>(thumbHeight) + 4, std::to_string(FrameSourceNumber(path, clip.sequence ? n : 0)));
    AdvanceProgress(bar, i + 1);
  }
  FinishProgress(bar);
  CloseClip(clip);
  if (!WritePng(output, sheet, &error)) {
    Err(Printable(output) + ": " + Printable(error) + "\n");
    return 1;
  }
  Out(Printable(output) + "\n");
  return status;
}
