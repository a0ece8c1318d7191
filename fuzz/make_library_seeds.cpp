// Writes the seed corpus of the EXR reader's fuzz target with the OpenEXR
// library: small files of every layout and compression the converter
// reads, and some it refuses. Run once; the output is committed under
// fuzz/corpus/exr_reader.
#include <cstdio>
#include <string>

#include "support/openexr_files.h"

using namespace exrtest;
namespace OpenExr = OPENEXR_IMF_NAMESPACE;

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const fs::path folder = fs::path(argv[1]) / "exr_reader";
  fs::create_directories(folder);
  const std::vector<Channel> rgba = {{"R", kHalf}, {"G", kHalf}, {"B", kHalf}, {"A", kHalf}};
  struct Layout {
    const char* name;
    std::vector<Channel> channels;
    int tileSide;
    OpenExr::LevelMode levels;
    bool twoParts;
    bool deep;
  };
  const Layout layouts[] = {
      {"rgba", rgba, 0, OpenExr::ONE_LEVEL, false, false},
      {"mixed", {{"R", kFloat}, {"G", kHalf}, {"B", kUint}, {"Z", kFloat}}, 0, OpenExr::ONE_LEVEL, false, false},
      {"grey", {{"Y", kFloat}}, 0, OpenExr::ONE_LEVEL, false, false},
      {"layer", {{"d.R", kHalf}, {"d.G", kHalf}, {"d.B", kHalf}, {"V", kHalf}}, 0, OpenExr::ONE_LEVEL, false, false},
      {"tiles", rgba, 4, OpenExr::ONE_LEVEL, false, false},
      {"mipmap", rgba, 4, OpenExr::MIPMAP_LEVELS, false, false},
      {"ripmap", {{"R", kHalf}, {"G", kFloat}, {"B", kHalf}}, 4, OpenExr::RIPMAP_LEVELS, false, false},
      {"parts", rgba, 0, OpenExr::ONE_LEVEL, true, false},
      {"deep", rgba, 0, OpenExr::ONE_LEVEL, false, true},
  };
  const std::pair<const char*, OpenExr::Compression> compressions[] = {
      {"none", OpenExr::NO_COMPRESSION}, {"rle", OpenExr::RLE_COMPRESSION}, {"zips", OpenExr::ZIPS_COMPRESSION},
      {"zip", OpenExr::ZIP_COMPRESSION}, {"piz", OpenExr::PIZ_COMPRESSION}, {"pxr24", OpenExr::PXR24_COMPRESSION},
      {"b44", OpenExr::B44_COMPRESSION}, {"b44a", OpenExr::B44A_COMPRESSION}, {"dwaa", OpenExr::DWAA_COMPRESSION}};
  int written = 0;
  for (const Layout& layout : layouts) {
    for (const auto& compression : compressions) {
      OracleFile file;
      file.channels = layout.channels;
      file.width = 9;
      file.height = 7;
      file.xMin = -2;
      file.smooth = written % 2 == 0;
      file.tileSide = layout.tileSide;
      file.levels = layout.levels;
      file.twoParts = layout.twoParts;
      file.deep = layout.deep;
      file.compression = compression.second;
      file.lineOrder = written % 3 == 0 && layout.tileSide == 0 ? OpenExr::DECREASING_Y : OpenExr::INCREASING_Y;
      WriteWithLibrary(folder / (std::string(layout.name) + "_" + compression.first + ".exr"), file);
      ++written;
    }
  }
  std::printf("%d seeds written to %s\n", written, folder.string().c_str());
  return 0;
}
