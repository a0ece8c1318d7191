#include "tools/check_command.h"

#include <chrono>
#include <filesystem>

#include "platform/platform.h"
#include "tools/clip.h"
#include "tools/clip_survey.h"
#include "tools/progress.h"
#include "tools/text_output.h"
#include "tools/tool_platform.h"

namespace {

// Numbered files after the gap are looked for this far.
constexpr int32_t kGapWindow = 10000;

struct FrameNote {
  int32_t frame = 0;
  std::string file;
  std::string what;
};

struct CheckResult {
  std::string path;
  std::string refusal;
  Clip clip;
  int32_t framesRead = 0;
  int32_t framesDecoded = 0;
  std::vector<FrameNote> failures;
  std::vector<FrameNote> otherLayouts;  // decode or not, their layout is not frame 0's
  FilesAfterGap afterGap;
  double framesPerSecond = 0;
};

std::string Layout(const HeaderReport& header) {
  std::string layout;
  for (size_t i = 0; i < header.channelNames.size(); ++i) {
    layout += (i ? ", " : "") + header.channelNames[i] + " " + PixelTypeName(header.channelTypes[i]);
  }
  if (header.compression != 0) layout += std::string(", ") + CompressionName(header.compression);
  return layout;
}

// Why frame `n`, read from `file`, did not decode.
std::string WhyFrameFails(const Clip& clip, const std::string& file) {
  const WideString wide = ToWide(file);
  if (!platform::PathExists(wide.c_str())) return "the file is missing (removed after the clip was opened?)";
  HeaderReport header;
  std::string error;
  if (!InspectFile(file, &header, &error)) return "cannot read the file: " + error;
  const std::string refusal = ExplainRefusal(header);
  if (!refusal.empty()) return refusal;
  if (header.width != clip.width || header.height != clip.height) {
    return Format("another size than frame 0: %d x %d, not %d x %d", header.width, header.height, clip.width,
                  clip.height);
  }
  const std::vector<std::string> warnings = Warnings(header);
  if (!warnings.empty()) return warnings.front();
  return "damaged pixel data (a chunk is cut short, or names a row outside the picture)";
}

CheckResult Check(const PluginTable* table, const std::string& path) {
  CheckResult result;
  result.path = path;
  if (!OpenClip(table, path, &result.clip, &result.refusal)) return result;
  const Clip& clip = result.clip;
  const std::string firstLayout = Layout(clip.header);
  ProgressBar bar = StartProgress("check", clip.frameCount);
  std::vector<uint8_t> frame;
  const auto start = std::chrono::steady_clock::now();
  for (int32_t n = 0; n < clip.frameCount; ++n) {
    const std::string file = FrameSourceName(path, clip.sequence ? n : 0);
    const bool decoded = ReadClipFrame(clip, n, frame);
    ++result.framesRead;
    if (decoded) ++result.framesDecoded;
    // A single image reads the same file for every frame: one note says it.
    if (!decoded && (clip.sequence || result.failures.empty())) {
      result.failures.push_back({n, file, WhyFrameFails(clip, file) + (clip.sequence ? "" : " (every frame)")});
    }
    if (clip.sequence && n > 0) {
      HeaderReport header;
      std::string ignored;
      if (InspectFile(file, &header, &ignored) && header.status > 0 && Layout(header) != firstLayout) {
        result.otherLayouts.push_back({n, file, Layout(header)});
      }
    }
    AdvanceProgress(bar, n + 1);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  FinishProgress(bar);
  result.framesPerSecond = seconds > 0 ? result.framesRead / seconds : 0;
  result.afterGap = FindFilesAfterGap(clip, kGapWindow);
  CloseClip(result.clip);
  return result;
}

bool Passed(const CheckResult& result) { return result.refusal.empty() && result.failures.empty(); }

std::string Summary(const CheckResult& result) {
  const Clip& clip = result.clip;
  std::string summary = Format("%d of %d frames decode", result.framesDecoded, result.framesRead);
  if (result.framesDecoded < result.framesRead) summary += Format(", %d fail", result.framesRead - result.framesDecoded);
  if (!clip.sequence) summary += " (a single image: every frame reads the same file)";
  return summary + Format("; %.1f frames per second", result.framesPerSecond);
}

void PrintText(const CheckResult& result) {
  const std::string path = Printable(result.path);
  if (!result.refusal.empty()) {
    Out(path + (result.clip.readable ? ": refused: " : ": ") + Printable(result.refusal) + "\n");
    return;
  }
  const Clip& clip = result.clip;
  std::string out = path + "\n";
  out += clip.sequence ? Format("  sequence of %d frames, %d x %d\n", clip.frameCount, clip.width, clip.height)
                       : Format("  single image, %d x %d\n", clip.width, clip.height);
  for (const FrameNote& failure : result.failures) {
    out += Format("  frame %d fails: ", failure.frame) + Printable(failure.file) + ": " + Printable(failure.what) + "\n";
  }
  for (const FrameNote& other : result.otherLayouts) {
    out += Format("  frame %d has another layout: ", other.frame) + Printable(other.file) + ": " +
           Printable(other.what) + "\n";
  }
  if (HasFrameNumber(result.path) && result.afterGap.nextExists) {
    out += "  the clip stops at the plug-in's limit of 10,000 frames; " +
           Printable(FrameSourceName(result.path, clip.frameCount)) + " exists but is not part of it\n";
  } else if (HasFrameNumber(result.path)) {
    out += "  the clip ends before " + Printable(FrameSourceName(result.path, clip.sequence ? clip.frameCount : 1));
    out += result.afterGap.count > 0
               ? Format(result.afterGap.count == 1 ? ", which is missing; %d more numbered file follows the gap, from "
                                                   : ", which is missing; %d more numbered files follow the gap, from ",
                        result.afterGap.count) +
                     Printable(result.afterGap.first) + "\n"
               : ", which is missing; no numbered file follows\n";
  }
  out += "  " + Summary(result) + "\n";
  Out(out);
}

std::string JsonNotes(const std::vector<FrameNote>& notes, const char* key) {
  std::string out = "[";
  for (size_t i = 0; i < notes.size(); ++i) {
    out += (i ? "," : "") + Format("{\"frame\":%d,\"file\":", notes[i].frame) + Json(notes[i].file) + ",\"" + key +
           "\":" + Json(notes[i].what) + "}";
  }
  return out + "]";
}

std::string JsonObject(const CheckResult& result) {
  std::string out = "{\"path\":" + Json(result.path) + ",\"passed\":" + (Passed(result) ? "true" : "false");
  if (!result.refusal.empty()) return out + ",\"reason\":" + Json(result.refusal) + "}";
  const Clip& clip = result.clip;
  out += ",\"kind\":" + Json(clip.sequence ? "sequence" : "single image");
  out += Format(",\"width\":%d,\"height\":%d,\"framesRead\":%d,\"framesDecoded\":%d,\"framesPerSecond\":%.1f",
                clip.width, clip.height, result.framesRead, result.framesDecoded, result.framesPerSecond);
  out += ",\"failures\":" + JsonNotes(result.failures, "reason");
  out += ",\"otherLayouts\":" + JsonNotes(result.otherLayouts, "layout");
  if (HasFrameNumber(result.path)) {
    out += ",\"endsBefore\":" + Json(FrameSourceName(result.path, clip.sequence ? clip.frameCount : 1));
    out += Format(",\"filesAfterGap\":%d,\"nextExists\":%s", result.afterGap.count,
                  result.afterGap.nextExists ? "true" : "false");
    if (result.afterGap.count > 0) out += ",\"firstAfterGap\":" + Json(result.afterGap.first);
  }
  return out + ",\"summary\":" + Json(Summary(result)) + "}";
}

}  // namespace

int RunCheck(const PluginTable* table, const std::vector<std::string>& paths, bool json) {
  int status = 0;
  std::string document = "{\"command\":\"check\",\"files\":[";
  for (size_t i = 0; i < paths.size(); ++i) {
    const CheckResult result = Check(table, paths[i]);
    if (json) {
      document += (i ? "," : "") + JsonObject(result);
    } else {
      PrintText(result);
    }
    if (!Passed(result)) status = 1;
  }
  if (json) Out(document + "]}\n");
  return status;
}
