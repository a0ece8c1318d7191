#include "openexr_files.h"

#include <ImfChannelList.h>
#include <ImfDeepFrameBuffer.h>
#include <ImfDeepScanLineOutputFile.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfPartType.h>
#include <ImfTiledOutputFile.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfPreviewImage.h>
#include <Imath/half.h>

#include <cstring>

namespace exrtest {

namespace OpenExr = OPENEXR_IMF_NAMESPACE;

namespace {

OpenExr::PixelType ToImf(int32_t type) {
  return type == kHalf ? OpenExr::HALF : type == kFloat ? OpenExr::FLOAT : OpenExr::UINT;
}

// One sample a pixel, taken from the flat planes.
void WriteDeep(const fs::path& path, OpenExr::Header header, const OracleFile& layout,
               const OpenExr::FrameBuffer& flat) {
  header.setType(OpenExr::DEEPSCANLINE);
  if (header.compression() != OpenExr::NO_COMPRESSION && header.compression() != OpenExr::RLE_COMPRESSION &&
      header.compression() != OpenExr::ZIPS_COMPRESSION) {
    header.compression() = OpenExr::ZIPS_COMPRESSION;  // deep files take only one-line codecs
  }
  const size_t pixels = static_cast<size_t>(layout.width) * layout.height;
  const ptrdiff_t origin = static_cast<ptrdiff_t>(layout.yMin) * layout.width + layout.xMin;
  std::vector<unsigned int> counts(pixels, 1);
  std::vector<std::vector<char*>> pointers;
  OpenExr::DeepFrameBuffer buffer;
  buffer.insertSampleCountSlice(OpenExr::Slice(OpenExr::UINT, reinterpret_cast<char*>(counts.data() - origin),
                                               sizeof(unsigned int), sizeof(unsigned int) * layout.width));
  for (auto it = flat.begin(); it != flat.end(); ++it) {
    const size_t bytes = it.slice().type == OpenExr::HALF ? 2 : 4;
    std::vector<char*> perPixel(pixels);
    char* first = it.slice().base + origin * static_cast<ptrdiff_t>(bytes);
    for (size_t i = 0; i < pixels; ++i) perPixel[i] = first + i * bytes;
    pointers.push_back(std::move(perPixel));
    buffer.insert(it.name(), OpenExr::DeepSlice(it.slice().type, reinterpret_cast<char*>(pointers.back().data() - origin),
                                                sizeof(char*), sizeof(char*) * layout.width, bytes));
  }
  OpenExr::DeepScanLineOutputFile file(path.string().c_str(), header);
  file.setFrameBuffer(buffer);
  file.writePixels(layout.height);
}

// Ramps across and down each channel with a little grain, in its own type.
void SmoothSamples(Image& image) {
  for (size_t c = 0; c < image.channels.size(); ++c) {
    for (size_t i = 0; i < image.samples[c].size(); ++i) {
      const int32_t x = static_cast<int32_t>(i % image.width);
      const int32_t y = static_cast<int32_t>(i / image.width);
      const float value = 0.02f * x + 0.01f * y + 0.1f * c + ((x * 7 + y * 3) % 5 == 0 ? 0.003f : 0.0f);
      uint32_t& sample = image.samples[c][i];
      if (image.channels[c].pixelType == kHalf) {
        sample = static_cast<uint16_t>(Imath::half(value).bits());
      } else if (image.channels[c].pixelType == kFloat) {
        std::memcpy(&sample, &value, 4);
      } else {
        sample = static_cast<uint32_t>(x / 4 + y * 3 + 1000 * c);
      }
    }
  }
}

}  // namespace

Image WriteWithLibrary(const fs::path& path, const OracleFile& layout) {
  Image image = MakeImage(layout.width, layout.height, layout.channels, 77, layout.xMin, layout.yMin);
  if (layout.smooth) SmoothSamples(image);
  OpenExr::Header header(Imath::Box2i(Imath::V2i(layout.xMin, layout.yMin),
                                  Imath::V2i(layout.xMin + layout.width - 1, layout.yMin + layout.height - 1)),
                     Imath::Box2i(Imath::V2i(layout.xMin, layout.yMin),
                                  Imath::V2i(layout.xMin + layout.width - 1, layout.yMin + layout.height - 1)));
  header.lineOrder() = layout.lineOrder;
  header.compression() = layout.compression;
  if (layout.previewSide > 0) {
    OpenExr::PreviewImage preview(layout.previewSide, layout.previewSide);
    header.setPreviewImage(preview);
  }
  OpenExr::FrameBuffer buffer;
  std::vector<std::vector<uint8_t>> storage;
  for (size_t c = 0; c < layout.channels.size(); ++c) {
    const int32_t type = layout.channels[c].pixelType;
    header.channels().insert(layout.channels[c].name, OpenExr::Channel(ToImf(type), 1, 1, layout.perceptuallyLinear));
    const size_t bytes = type == kHalf ? 2 : 4;
    std::vector<uint8_t> plane(bytes * image.samples[c].size());
    for (size_t i = 0; i < image.samples[c].size(); ++i) std::memcpy(&plane[bytes * i], &image.samples[c][i], bytes);
    storage.push_back(std::move(plane));
    char* origin = reinterpret_cast<char*>(storage.back().data()) -
                   (static_cast<ptrdiff_t>(layout.yMin) * layout.width + layout.xMin) * static_cast<ptrdiff_t>(bytes);
    buffer.insert(layout.channels[c].name,
                  OpenExr::Slice(ToImf(type), origin, bytes, bytes * static_cast<size_t>(layout.width)));
  }
  if (layout.deep) {
    WriteDeep(path, header, layout, buffer);
  } else if (layout.tileSide > 0) {
    header.setTileDescription(OpenExr::TileDescription(layout.tileSide, layout.tileSide, layout.levels,
                                                       layout.roundUp ? OpenExr::ROUND_UP : OpenExr::ROUND_DOWN));
    OpenExr::TiledOutputFile file(path.string().c_str(), header);
    file.setFrameBuffer(buffer);  // every level fits in level 0 and starts at its corner
    const bool ripmap = layout.levels == OpenExr::RIPMAP_LEVELS;
    for (int ly = 0; ly < (ripmap ? file.numYLevels() : 1); ++ly) {
      for (int lx = 0; lx < (ripmap ? file.numXLevels() : file.numLevels()); ++lx) {
        const int y = ripmap ? ly : lx;
        file.writeTiles(0, file.numXTiles(lx) - 1, 0, file.numYTiles(y) - 1, lx, y);
      }
    }
  } else if (layout.twoParts) {
    header.setName("picture");
    header.setType(OpenExr::SCANLINEIMAGE);
    OpenExr::Header extra = header;
    extra.setName("extra");
    const OpenExr::Header headers[2] = {header, extra};
    OpenExr::MultiPartOutputFile file(path.string().c_str(), headers, 2);
    for (int part = 0; part < 2; ++part) {
      OpenExr::OutputPart output(file, part);
      output.setFrameBuffer(buffer);
      output.writePixels(layout.height);
    }
  } else {
    OpenExr::OutputFile file(path.string().c_str(), header);
    file.setFrameBuffer(buffer);
    file.writePixels(layout.height);
  }
  return image;
}

std::map<std::string, std::vector<uint32_t>> ReadWithLibrary(const fs::path& path) {
  OpenExr::InputFile file(path.string().c_str());
  const Imath::Box2i window = file.header().dataWindow();
  const int width = window.max.x - window.min.x + 1;
  const int height = window.max.y - window.min.y + 1;
  std::map<std::string, std::vector<uint32_t>> planes;
  OpenExr::FrameBuffer buffer;
  for (auto it = file.header().channels().begin(); it != file.header().channels().end(); ++it) {
    std::vector<uint32_t>& plane = planes[it.name()];
    plane.assign(static_cast<size_t>(width) * height, 0);
    char* origin = reinterpret_cast<char*>(plane.data()) -
                   (static_cast<ptrdiff_t>(window.min.y) * width + window.min.x) * 4;
    buffer.insert(it.name(), OpenExr::Slice(it.channel().type, origin, 4, 4 * static_cast<size_t>(width)));
  }
  file.setFrameBuffer(buffer);
  file.readPixels(window.min.y, window.max.y);
  return planes;
}

Bytes EveryFlatB44Value() {
  const int side = 1024;
  Bytes channel = {'V', 0};
  AppendU32(channel, kHalf);
  channel.insert(channel.end(), {1, 0, 0, 0});  // perceptually linear
  AppendU32(channel, 1);
  AppendU32(channel, 1);
  channel.push_back(0);
  const Bytes one = {0x00, 0x00, 0x80, 0x3F};
  HeaderBuilder header;
  header.Attribute("channels", "chlist", channel)
      .Compression(7)
      .DataWindow(0, 0, side - 1, side - 1)
      .Attribute("displayWindow", "box2i", BoxValue(0, 0, side - 1, side - 1))
      .LineOrder(0)
      .Attribute("pixelAspectRatio", "float", one)
      .Attribute("screenWindowCenter", "v2f", Bytes(8, 0))
      .Attribute("screenWindowWidth", "float", one)
      .End();
  Bytes file = header.bytes;
  const size_t table = file.size();
  file.resize(table + 8 * 32);
  uint32_t value = 0;
  for (int chunk = 0; chunk < 32; ++chunk) {  // 32 lines a chunk: 8 rows of 256 blocks
    PutU64(file, table + 8 * static_cast<size_t>(chunk), file.size());
    AppendU32(file, static_cast<uint32_t>(chunk * 32));
    AppendU32(file, 256 * 8 * 3);
    for (int block = 0; block < 256 * 8; ++block, ++value) {
      file.insert(file.end(), {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value), 0xFC});
    }
  }
  return file;
}

}  // namespace exrtest
