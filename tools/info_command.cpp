#include "tools/info_command.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>

#include "tools/clip.h"
#include "tools/header_report.h"
#include "tools/tool_platform.h"

namespace {

struct FileInfo {
  std::string path;
  bool readable = false;
  HeaderReport report;
  std::string refusal;
  std::vector<std::string> warnings;
  bool opened = false;
  bool sequence = false;
  int32_t width = 0;
  int32_t height = 0;
  int32_t rate = 0;
  int32_t scale = 0;
  int32_t frameCount = 0;
  std::string formatCode;
  std::string firstFrame;
  std::string lastFrame;
  bool firstFrameDecodes = false;
};

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

FileInfo Inspect(const PluginTable* table, const std::string& path) {
  FileInfo info;
  info.path = path;
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  if (!in) return info;
  std::vector<uint8_t> head(16384);
  in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  info.readable = true;
  info.report = InspectHeader(head.data(), static_cast<int32_t>(in.gcount()));
  info.refusal = ExplainRefusal(info.report);
  info.warnings = Warnings(info.report);
  if (!info.refusal.empty()) return info;

  const WideString wide = ToWide(path);
  void* handle = table->open(wide.c_str());
  if (handle == nullptr) {
    info.refusal = "the plug-in could not open it (is it readable?)";
    return info;
  }
  info.opened = true;
  InputInfo host;
  std::memset(&host, 0, sizeof host);
  table->getInformation(handle, &host);
  const uint8_t* bitmap = static_cast<const uint8_t*>(host.format);
  std::memcpy(&info.width, bitmap + 4, 4);
  std::memcpy(&info.height, bitmap + 8, 4);
  info.formatCode.assign(reinterpret_cast<const char*>(bitmap + 16), 4);
  info.sequence = host.flags == 1;
  info.rate = host.rate;
  info.scale = host.scale;
  info.frameCount = host.frameCount;
  if (info.sequence) {
    info.firstFrame = FrameSourceName(path, 0);
    info.lastFrame = FrameSourceName(path, host.frameCount - 1);
  }
  std::vector<uint8_t>* frame = new (std::nothrow) std::vector<uint8_t>();
  try {
    frame->resize(static_cast<size_t>(info.width) * info.height * 8);
    info.firstFrameDecodes = table->readFrame(handle, 0, frame->data()) > 0;
  } catch (const std::bad_alloc&) {
    info.warnings.push_back("not enough memory to try decoding the first frame");
  }
  delete frame;
  table->close(handle);
  if (!info.firstFrameDecodes) info.warnings.push_back("the first frame does not decode (damaged pixel data?)");
  return info;
}

void PrintText(const FileInfo& info) {
  if (!info.readable) {
    std::fprintf(stderr, "%s: cannot read the file\n", info.path.c_str());
    return;
  }
  if (!info.refusal.empty()) {
    std::fprintf(stderr, "%s: refused: %s\n", info.path.c_str(), info.refusal.c_str());
    return;
  }
  std::printf("%s\n", info.path.c_str());
  if (info.sequence) {
    std::printf("  kind:         sequence of %d frames\n", info.frameCount);
    std::printf("  first frame:  %s\n", info.firstFrame.c_str());
    std::printf("  last frame:   %s\n", info.lastFrame.c_str());
  } else {
    std::printf("  kind:         single image (the host sees %d identical frames)\n", info.frameCount);
  }
  std::printf("  size:         %d x %d\n", info.width, info.height);
  std::printf("  frame rate:   %d/%d\n", info.rate, info.scale);
  std::printf("  frame count:  %d\n", info.frameCount);
  std::printf("  pixel format: %s (half-float RGBA, 64 bits per pixel)\n", info.formatCode.c_str());
  std::string channels;
  for (size_t i = 0; i < info.report.channelNames.size(); ++i) {
    channels += (i ? ", " : "") + info.report.channelNames[i] + " " + PixelTypeName(info.report.channelTypes[i]);
  }
  std::printf("  channels:     %s\n", channels.c_str());
  for (const std::string& warning : info.warnings) std::fprintf(stderr, "%s: warning: %s\n", info.path.c_str(), warning.c_str());
}

void PrintJson(const FileInfo& info) {
  std::string out = "{\"path\":" + JsonString(info.path);
  out += ",\"accepted\":" + std::string(info.readable && info.refusal.empty() ? "true" : "false");
  if (!info.readable) out += ",\"reason\":" + JsonString("cannot read the file");
  if (info.readable && !info.refusal.empty()) out += ",\"reason\":" + JsonString(info.refusal);
  if (info.opened) {
    out += ",\"kind\":" + JsonString(info.sequence ? "sequence" : "single image");
    out += ",\"width\":" + std::to_string(info.width) + ",\"height\":" + std::to_string(info.height);
    out += ",\"rate\":" + std::to_string(info.rate) + ",\"scale\":" + std::to_string(info.scale);
    out += ",\"frameCount\":" + std::to_string(info.frameCount);
    out += ",\"pixelFormat\":" + JsonString(info.formatCode);
    if (info.sequence) {
      out += ",\"firstFrame\":" + JsonString(info.firstFrame) + ",\"lastFrame\":" + JsonString(info.lastFrame);
    }
    out += ",\"firstFrameDecodes\":" + std::string(info.firstFrameDecodes ? "true" : "false");
  }
  if (info.readable) {
    out += ",\"channels\":[";
    for (size_t i = 0; i < info.report.channelNames.size(); ++i) {
      out += (i ? "," : "") + std::string("{\"name\":") + JsonString(info.report.channelNames[i]) +
             ",\"type\":" + JsonString(PixelTypeName(info.report.channelTypes[i])) + "}";
    }
    out += "]";
  }
  out += ",\"warnings\":[";
  for (size_t i = 0; i < info.warnings.size(); ++i) out += (i ? "," : "") + JsonString(info.warnings[i]);
  out += "]}";
  std::printf("%s\n", out.c_str());
  if (!info.readable || !info.refusal.empty()) {
    std::fprintf(stderr, "%s: %s\n", info.path.c_str(), info.readable ? info.refusal.c_str() : "cannot read the file");
  }
}

}  // namespace

int RunInfo(const PluginTable* table, const std::vector<std::string>& paths, bool json) {
  int status = 0;
  for (const std::string& path : paths) {
    const FileInfo info = Inspect(table, path);
    if (json) {
      PrintJson(info);
    } else {
      PrintText(info);
    }
    if (!info.readable || !info.refusal.empty() || (info.opened && !info.firstFrameDecodes)) status = 1;
  }
  return status;
}
