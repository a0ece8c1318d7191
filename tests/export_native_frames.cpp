// Writes files with the OpenEXR library into a folder, each with the frame
// the native build decodes from it (<name>.frame), so that the Windows DLL
// under Wine can be compared with the native decode byte for byte.
#include <cstdio>
#include <vector>

#include "plugin/plugin_table.h"
#include "support/openexr_files.h"
#include "tools/convert_picture.h"

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
    OpenExr::LevelMode levels;
    bool deep;
    bool twoParts;
  } refused[] = {
      {"tiled.exr", 32, OpenExr::ONE_LEVEL, false, false},
      {"mipmapped.exr", 16, OpenExr::MIPMAP_LEVELS, false, false},
      {"deep.exr", 0, OpenExr::ONE_LEVEL, true, false},
      {"two_parts.exr", 0, OpenExr::ONE_LEVEL, false, true},
  };
  for (const auto& r : refused) {
    OracleFile layout;
    layout.channels = rgba;
    layout.tileSide = r.tileSide;
    layout.levels = r.levels;
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
  // Files for mondrel.exe convert under Wine, each with the copy the native
  // build makes of it (<name>.copy), to be matched byte for byte.
  fs::create_directories(folder / "convert");
  const struct {
    const char* name;
    std::vector<Channel> channels;
    OpenExr::Compression compression;
    int tileSide;
    bool twoParts;
  } sources[] = {
      {"zip.exr", rgba, OpenExr::ZIP_COMPRESSION, 0, false},
      {"rle_mixed.exr", {{"R", kFloat}, {"G", kHalf}, {"B", kUint}, {"Z", kFloat}}, OpenExr::RLE_COMPRESSION, 0, false},
      {"zips_tiled.exr", rgba, OpenExr::ZIPS_COMPRESSION, 16, false},
      {"zip_parts.exr", {{"Y", kFloat}}, OpenExr::ZIP_COMPRESSION, 0, true},
      {"piz.exr", rgba, OpenExr::PIZ_COMPRESSION, 0, false},
      {"pxr24_tiled.exr", {{"R", kFloat}, {"G", kHalf}, {"B", kUint}}, OpenExr::PXR24_COMPRESSION, 32, false},
      {"b44.exr", rgba, OpenExr::B44_COMPRESSION, 0, false},
      {"b44a_tiled.exr", {{"R", kHalf}, {"G", kHalf}, {"B", kFloat}}, OpenExr::B44A_COMPRESSION, 16, false},
  };
  for (const auto& source : sources) {
    OracleFile layout;
    layout.channels = source.channels;
    layout.compression = source.compression;
    layout.tileSide = source.tileSide;
    layout.twoParts = source.twoParts;
    layout.smooth = true;
    const fs::path path = folder / "convert" / source.name;
    WriteWithLibrary(path, layout);
    const Bytes bytes = ReadBytes(path);
    const PictureCopy copy = CopyPicture(bytes.data(), static_cast<int64_t>(bytes.size()), ConvertRequest());
    if (!copy.refusal.empty()) {
      std::fprintf(stderr, "%s does not convert natively: %s\n", source.name, copy.refusal.c_str());
      return 1;
    }
    fs::path copyPath = path;
    copyPath.replace_extension(".copy");
    WriteBytes(copyPath, Bytes(copy.bytes.begin(), copy.bytes.end()));
  }
  // B44's table for perceptually linear channels, every entry of it.
  const Bytes every = EveryFlatB44Value();
  WriteBytes(folder / "convert" / "b44_linear.exr", every);
  const PictureCopy everyCopy = CopyPicture(every.data(), static_cast<int64_t>(every.size()), ConvertRequest());
  WriteBytes(folder / "convert" / "b44_linear.copy", Bytes(everyCopy.bytes.begin(), everyCopy.bytes.end()));
  std::printf("%zu files with their native frames in %s\n", sizeof fixtures / sizeof fixtures[0], argv[1]);
  return 0;
}
