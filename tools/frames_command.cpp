#include <cstdio>
#include <filesystem>
#include <vector>

#include "tools/clip.h"
#include "tools/picture_commands.h"
#include "tools/png_preview.h"
#include "tools/progress.h"
#include "tools/text_output.h"

namespace fs = std::filesystem;

int RunFrames(const PluginTable* table, const std::string& path, const std::string& folder, FrameRange range) {
  Clip clip;
  std::string error;
  if (!OpenClip(table, path, &clip, &error)) {
    Out(Printable(path) + (clip.readable ? ": refused: " : ": ") + Printable(error) + "\n");
    return 1;
  }
  if (!range.given) {
    // A single image shows the same picture in every frame: one is enough.
    range.first = 0;
    range.last = clip.sequence ? clip.frameCount - 1 : 0;
  } else if (range.last >= clip.frameCount) {
    // The host never asks past the clip's end; a read there would only
    // blame a frame file that is not part of the clip.
    Out(Printable(path) + Format(": --range %d:%d goes past the clip's end: it has %d frames, 0 to %d\n", range.first,
                                 range.last, clip.frameCount, clip.frameCount - 1));
    CloseClip(clip);
    return 1;
  }
  std::error_code ignored;
  fs::create_directories(fs::u8path(folder), ignored);
  const int total = range.last - range.first + 1;
  ProgressBar bar = StartProgress("frames", total);
  std::vector<uint8_t> frame;
  int status = 0;
  for (int32_t n = range.first; n <= range.last; ++n) {
    const std::string source = FrameSourceName(path, clip.sequence ? n : 0);
    std::string stem = fs::u8path(source).stem().u8string();
    if (!clip.sequence && total > 1) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, "_%04d", n);
      stem += suffix;
    }
    const std::string output = (fs::u8path(folder) / fs::u8path(stem + ".png")).u8string();
    if (!ReadClipFrame(clip, n, frame)) {
      Err(Printable(source) + Format(": frame %d does not decode\n", n));
      status = 1;
    } else if (!WritePng(output, PreviewOf(frame.data(), clip.width, clip.height), &error)) {
      Err(Printable(output) + ": " + Printable(error) + "\n");
      status = 1;
    } else {
      Out(Printable(output) + "\n");
    }
    AdvanceProgress(bar, n - range.first + 1);
  }
  FinishProgress(bar);
  CloseClip(clip);
  return status;
}
