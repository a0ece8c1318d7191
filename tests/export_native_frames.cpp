// Writes files with the OpenEXR library into a folder, each with the frame
// the native build decodes from it (<name>.frame), so that the Windows DLL
// under Wine can be compared with the native decode byte for byte.
#include <cstdio>
#include <vector>

#include "plugin/plugin_table.h"
#include "support/openexr_files.h"

using namespace exrtest;
namespace OpenExr = OPENEXR_IMF_NAMESPACE;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: export_native_frames DIR\n");
    return 2;
  }
  const fs::path folder = fs::u8path(argv[1]);
  fs::remove_all(folder);
  fs::create_directories(folder);
  struct Fixture {
    const char* name;
    std::vector<Channel> channels;
    int32_t yMin;
    OpenExr::LineOrder order;
  };
  const std::vector<Channel> rgba = {{"R", kHalf}, {"G", kHalf}, {"B", kHalf}, {"A", kHalf}};
  const std::vector<Channel> rgbFloat = {{"R", kFloat}, {"G", kFloat}, {"B", kFloat}};
  const Fixture fixtures[] = {
      {"rgba_half.exr", rgba, 0, OpenExr::INCREASING_Y},
      {"rgb_float.exr", rgbFloat, 0, OpenExr::INCREASING_Y},
      {"v_half.exr", {{"V", kHalf}}, 0, OpenExr::INCREASING_Y},
      {"uint_b.exr", {{"B", kUint}, {"G", kFloat}, {"R", kFloat}}, 0, OpenExr::INCREASING_Y},
      {"r_float_gba_half.exr", {{"R", kFloat}, {"G", kHalf}, {"B", kHalf}, {"A", kHalf}}, 0, OpenExr::INCREASING_Y},
      {"a_float_rgb_half.exr", {{"R", kHalf}, {"G", kHalf}, {"B", kHalf}, {"A", kFloat}}, 0, OpenExr::DECREASING_Y},
      {"decreasing_origin.exr", rgba, -10, OpenExr::DECREASING_Y},
      {"夜景_0001.exr", rgbFloat, 50, OpenExr::INCREASING_Y},
      {"夜景_0002.exr", rgbFloat, 50, OpenExr::DECREASING_Y},
  };
  const PluginTable* table = GetInputPluginTable();
  for (const Fixture& f : fixtures) {
    OracleFile layout;
    layout.channels = f.channels;
    layout.yMin = f.yMin;
    layout.lineOrder = f.order;
    const fs::path path = folder / fs::u8path(f.name);
    WriteWithLibrary(path, layout);
    void* handle = table->open(WidePath(path).c_str());
    std::vector<uint8_t> frame(static_cast<size_t>(layout.width) * layout.height * 8);
    if (handle == nullptr || table->readFrame(handle, 0, frame.data()) != static_cast<int32_t>(frame.size())) {
      std::fprintf(stderr, "%s does not decode natively\n", f.name);
      return 1;
    }
    table->close(handle);
    fs::path framePath = path;
    framePath.replace_extension(".frame");
    WriteBytes(framePath, frame);
  }
  // Layouts refused at open, each marked by an empty <name>.refused.
  const struct {
    const char* name;
    int tileSide;
    bool mipmap;
    bool deep;
    bool twoParts;
  } refused[] = {
      {"tiled.exr", 32, false, false, false},
      {"mipmapped.exr", 16, true, false, false},
      {"deep.exr", 0, false, true, false},
      {"two_parts.exr", 0, false, false, true},
  };
  for (const auto& r : refused) {
    OracleFile layout;
    layout.channels = rgba;
    layout.tileSide = r.tileSide;
    layout.mipmap = r.mipmap;
    layout.deep = r.deep;
    layout.twoParts = r.twoParts;
    const fs::path path = folder / r.name;
    WriteWithLibrary(path, layout);
    if (table->open(WidePath(path).c_str()) != nullptr) {
      std::fprintf(stderr, "%s opens natively\n", r.name);
      return 1;
    }
    fs::path marker = path;
    marker.replace_extension(".refused");
    WriteBytes(marker, Bytes{});
  }
  std::printf("%zu files with their native frames in %s\n", sizeof fixtures / sizeof fixtures[0], argv[1]);
  return 0;
}
