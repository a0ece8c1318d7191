#include "tools/clip_survey.h"

#include <filesystem>

#include "platform/platform.h"
#include "tools/tool_platform.h"

namespace {

// Frames the clip is made of: one file for a single image.
int32_t FilesInClip(const Clip& clip) { return clip.sequence ? clip.frameCount : 1; }

}  // namespace

FilesAfterGap FindFilesAfterGap(const Clip& clip, int32_t window) {
  FilesAfterGap found;
  if (!HasFrameNumber(clip.path)) return found;
  const int32_t missing = FilesInClip(clip);
  const WideString next = ToWide(FrameSourceName(clip.path, missing));
  found.nextExists = platform::PathExists(next.c_str());
  for (int32_t n = missing + 1; n <= missing + window; ++n) {
    const std::string name = FrameSourceName(clip.path, n);
    const WideString wide = ToWide(name);
    if (!platform::PathExists(wide.c_str())) continue;
    if (found.count == 0) found.first = name;
    ++found.count;
  }
  return found;
}

bool FrameSize(const Clip& clip, int32_t n, int32_t* width, int32_t* height) {
  HeaderReport report;
  std::string ignored;
  if (!InspectFile(FrameSourceName(clip.path, clip.sequence ? n : 0), &report, &ignored) || report.status <= 0) {
    return false;
  }
  *width = report.width;
  *height = report.height;
  return true;
}

std::string CheckHint(const Clip& clip) {
  std::string hint;
  const FilesAfterGap after = FindFilesAfterGap(clip, 100);
  if (after.nextExists) {
    hint = "the clip stops at the plug-in's limit of 10,000 frames; numbered files go on from " +
           FrameSourceName(clip.path, FilesInClip(clip));
  } else if (after.count > 0) {
    hint = "numbered files continue after the gap that ends the clip (from " + after.first + ")";
  }
  int32_t width = 0;
  int32_t height = 0;
  if (clip.sequence && FrameSize(clip, clip.frameCount - 1, &width, &height) &&
      (width != clip.width || height != clip.height)) {
    hint += std::string(hint.empty() ? "" : "; ") + "the last frame is " + std::to_string(width) + " x " +
            std::to_string(height) + ", not " + std::to_string(clip.width) + " x " + std::to_string(clip.height);
  }
  return hint;
}
