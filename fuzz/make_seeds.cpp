// Writes the seed corpora of the fuzz targets from our own EXR writer:
// small files of every layout, with a few damaged ones. Run once; the
// output is committed under fuzz/corpus.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "writer/exr_writer.h"
#include "support/test_files.h"

using namespace exrtest;

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const fs::path root = argv[1];
  for (const char* target : {"parse_header", "open_read", "sequence_files", "sequence_name"}) {
    fs::create_directories(root / target);
  }
  struct Layout {
    const char* name;
    std::vector<Channel> channels;
  };
  const Layout layouts[] = {
      {"rgba_half", {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}}},
      {"rgb_half", {{"B", kHalf}, {"G", kHalf}, {"R", kHalf}}},
      {"rgb_float", {{"B", kFloat}, {"G", kFloat}, {"R", kFloat}}},
      {"v_half", {{"V", kHalf}}},
      {"uint_mixed", {{"B", kUint}, {"G", kFloat}, {"R", kHalf}}},
  };
  std::vector<Bytes> files;
  for (const Layout& layout : layouts) {
    for (int origin : {0, -3}) {
      WriteOptions options;
      options.lineOrder = origin == 0 ? 0 : 1;
      const Bytes bytes = WriteExr(MakeImage(6, 4, layout.channels, 1, origin, origin), options).bytes;
      files.push_back(bytes);
      const std::string name = std::string(layout.name) + (origin == 0 ? "" : "_origin") + ".exr";
      WriteBytes(root / "parse_header" / name, bytes);
      WriteBytes(root / "open_read" / name, bytes);
    }
  }
  HeaderBuilder compressed;
  compressed.Channels({{"R", kHalf}, {"G", kHalf}, {"B", kHalf}}).Compression(3).DataWindow(0, 0, 3, 3).End();
  WriteBytes(root / "parse_header" / "compressed.exr", compressed.bytes);
  HeaderBuilder layered;
  layered.Channels({{"diffuse.R", kHalf}}).Attribute("comments", "string", Bytes{'h', 'i'}).End();
  WriteBytes(root / "parse_header" / "layered.exr", layered.bytes);

  // Sequence inputs: a selector byte, two cut points, then the files.
  for (size_t i = 0; i + 1 < files.size(); i += 2) {
    Bytes input = {1, 0, 0};
    const size_t total = files[i].size() + files[i + 1].size() + files[0].size();
    input[1] = static_cast<uint8_t>(files[i].size() * 255 / total);
    input[2] = static_cast<uint8_t>((files[i].size() + files[i + 1].size()) * 255 / total);
    for (const Bytes* part : {&files[i], &files[i + 1], &files[0]}) input.insert(input.end(), part->begin(), part->end());
    WriteBytes(root / "sequence_files" / ("three_" + std::to_string(i) + ".bin"), input);
  }

  const char* names[] = {"C:/seq/shot_0009.exr", "shot_9.exr", "frame.0001.exr", "shot0001a.exr",
                         "shot_0012.final.exr", "clip_1000000000042.exr", "take2/shot.exr", "n_999999999.exr"};
  int index = 0;
  for (const char* name : names) {
    const WideString wide = WidePath(Utf8Path(name));
    Bytes bytes;
    for (WideChar unit : wide) {
      bytes.push_back(static_cast<uint8_t>(unit));
      bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(unit) >> 8));
    }
    WriteBytes(root / "sequence_name" / ("name_" + std::to_string(index++) + ".bin"), bytes);
  }
  std::printf("seeds written to %s\n", root.string().c_str());
  return 0;
}
