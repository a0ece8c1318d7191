#include "tools/info_command.h"

#include <new>

#include "tools/clip.h"
#include "tools/clip_survey.h"
#include "tools/text_output.h"

namespace {

struct FileInfo {
  std::string path;
  std::string refusal;  // empty when the plug-in opened it
  Clip clip;
  std::string firstFrame;
  std::string lastFrame;
  bool firstFrameDecodes = false;
  std::vector<std::string> warnings;
  std::string hint;
};

FileInfo Inspect(const PluginTable* table, const std::string& path) {
  FileInfo info;
  info.path = path;
  if (!OpenClip(table, path, &info.clip, &info.refusal)) return info;
  const Clip& clip = info.clip;
  info.warnings = Warnings(clip.header);
  if (clip.sequence) {
    info.firstFrame = FrameSourceName(path, 0);
    info.lastFrame = FrameSourceName(path, clip.frameCount - 1);
  }
  std::vector<uint8_t> frame;
  info.firstFrameDecodes = ReadClipFrame(clip, 0, frame);
  // Each header warning already says why no frame decodes; the guess is
  // for the rest.
  if (!info.firstFrameDecodes && info.warnings.empty()) {
    info.warnings.push_back("the first frame does not decode (damaged pixel data?)");
  }
  info.hint = CheckHint(clip);
  CloseClip(info.clip);
  return info;
}

std::string ChannelList(const HeaderReport& header) {
  std::string channels;
  for (size_t i = 0; i < header.channelNames.size(); ++i) {
    channels += (i ? ", " : "") + header.channelNames[i] + " " + PixelTypeName(header.channelTypes[i]);
  }
  return channels;
}

void PrintText(const FileInfo& info) {
  const std::string path = Printable(info.path);
  if (!info.refusal.empty()) {
    Out(path + (info.clip.readable ? ": refused: " : ": ") + Printable(info.refusal) + "\n");
    return;
  }
  const Clip& clip = info.clip;
  std::string out = path + "\n";
  if (clip.sequence) {
    out += Format("  kind:         sequence of %d frames\n", clip.frameCount);
    out += "  first frame:  " + Printable(info.firstFrame) + "\n";
    out += "  last frame:   " + Printable(info.lastFrame) + "\n";
  } else {
    out += Format("  kind:         single image (the host sees %d identical frames)\n", clip.frameCount);
  }
  out += Format("  size:         %d x %d\n", clip.width, clip.height);
  out += Format("  frame rate:   %d/%d\n", clip.rate, clip.scale);
  out += Format("  frame count:  %d\n", clip.frameCount);
  out += "  pixel format: " + Printable(clip.formatCode) + " (half-float RGBA, 64 bits per pixel)\n";
  out += "  channels:     " + Printable(ChannelList(clip.header)) + "\n";
  if (!info.hint.empty()) out += "  see also:     mondrel check: " + Printable(info.hint) + "\n";
  Out(out);
  for (const std::string& warning : info.warnings) Err(path + ": warning: " + Printable(warning) + "\n");
}

std::string JsonObject(const FileInfo& info) {
  std::string out = "{\"path\":" + Json(info.path);
  out += ",\"accepted\":" + std::string(info.refusal.empty() ? "true" : "false");
  if (!info.refusal.empty()) return out + ",\"reason\":" + Json(info.refusal) + "}";
  const Clip& clip = info.clip;
  out += ",\"kind\":" + Json(clip.sequence ? "sequence" : "single image");
  out += Format(",\"width\":%d,\"height\":%d,\"rate\":%d,\"scale\":%d,\"frameCount\":%d", clip.width, clip.height,
                clip.rate, clip.scale, clip.frameCount);
  out += ",\"pixelFormat\":" + Json(clip.formatCode);
  if (clip.sequence) out += ",\"firstFrame\":" + Json(info.firstFrame) + ",\"lastFrame\":" + Json(info.lastFrame);
  out += ",\"firstFrameDecodes\":" + std::string(info.firstFrameDecodes ? "true" : "false");
  out += ",\"channels\":[";
  for (size_t i = 0; i < clip.header.channelNames.size(); ++i) {
    out += (i ? "," : "") + std::string("{\"name\":") + Json(clip.header.channelNames[i]) +
           ",\"type\":" + Json(PixelTypeName(clip.header.channelTypes[i])) + "}";
  }
  out += "],\"warnings\":[";
  for (size_t i = 0; i < info.warnings.size(); ++i) out += (i ? "," : "") + Json(info.warnings[i]);
  out += "]";
  if (!info.hint.empty()) out += ",\"checkHint\":" + Json(info.hint);
  return out + "}";
}

}  // namespace

int RunInfo(const PluginTable* table, const std::vector<std::string>& paths, bool json) {
  int status = 0;
  std::string document = "{\"command\":\"info\",\"files\":[";
  for (size_t i = 0; i < paths.size(); ++i) {
    const FileInfo info = Inspect(table, paths[i]);
    if (json) {
      document += (i ? "," : "") + JsonObject(info);
    } else {
      PrintText(info);
    }
    if (!info.refusal.empty() || !info.firstFrameDecodes) status = 1;
  }
  if (json) Out(document + "]}\n");
  return status;
}
