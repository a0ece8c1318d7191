// Files written by the OpenEXR library itself (tests and tools only), and
// what the library reads back from them.
#pragma once

#include <ImfCompression.h>
#include <ImfLineOrder.h>
#include <ImfTileDescription.h>

#include <map>
#include <string>
#include <vector>

#include "writer/exr_writer.h"
#include "test_files.h"

namespace exrtest {

struct OracleFile {
  std::vector<Channel> channels;
  int32_t xMin = 0;
  int32_t yMin = 0;
  int32_t width = 33;
  int32_t height = 21;
  OPENEXR_IMF_NAMESPACE::LineOrder lineOrder = OPENEXR_IMF_NAMESPACE::INCREASING_Y;
  OPENEXR_IMF_NAMESPACE::Compression compression = OPENEXR_IMF_NAMESPACE::NO_COMPRESSION;
  int previewSide = 0;  // a preview attribute of side x side pixels
  bool smooth = false;  // ramps that the compressions pack, not every class of sample
  bool perceptuallyLinear = false;  // every channel's pLinear flag, which B44 packs differently
  // Layouts the plug-in refuses: tiles of tileSide pixels (0: scanlines),
  // with every level of a mipmap or ripmap; deep scanlines of one sample a
  // pixel; and a second part, "extra", after the picture's own.
  int tileSide = 0;
  OPENEXR_IMF_NAMESPACE::LevelMode levels = OPENEXR_IMF_NAMESPACE::ONE_LEVEL;
  bool roundUp = false;
  bool deep = false;
  bool twoParts = false;
};

// Writes the file with the library; the samples come from our generator.
Image WriteWithLibrary(const fs::path& path, const OracleFile& layout);

// What the library reads back: per channel, the 32-bit words of each sample
// (HALF in the low 16 bits), keyed by channel name.
std::map<std::string, std::vector<uint32_t>> ReadWithLibrary(const fs::path& path);

// A 1024 x 1024 B44A file of one perceptually linear HALF channel V whose
// 65,536 flat blocks hold every stored 16-bit value in turn.
Bytes EveryFlatB44Value();

}  // namespace exrtest
