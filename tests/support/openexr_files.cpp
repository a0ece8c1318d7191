#include "openexr_files.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfPreviewImage.h>

#include <cstring>

namespace exrtest {

namespace OpenExr = OPENEXR_IMF_NAMESPACE;

namespace {

OpenExr::PixelType ToImf(int32_t type) {
  return type == kHalf ? OpenExr::HALF : type == kFloat ? OpenExr::FLOAT : OpenExr::UINT;
}

}  // namespace

Image WriteWithLibrary(const fs::path& path, const OracleFile& layout) {
  Image image = MakeImage(layout.width, layout.height, layout.channels, 77, layout.xMin, layout.yMin);
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
    header.channels().insert(layout.channels[c].name, OpenExr::Channel(ToImf(type)));
    const size_t bytes = type == kHalf ? 2 : 4;
    std::vector<uint8_t> plane(bytes * image.samples[c].size());
    for (size_t i = 0; i < image.samples[c].size(); ++i) std::memcpy(&plane[bytes * i], &image.samples[c][i], bytes);
    storage.push_back(std::move(plane));
    char* origin = reinterpret_cast<char*>(storage.back().data()) -
                   (static_cast<ptrdiff_t>(layout.yMin) * layout.width + layout.xMin) * static_cast<ptrdiff_t>(bytes);
    buffer.insert(layout.channels[c].name,
                  OpenExr::Slice(ToImf(type), origin, bytes, bytes * static_cast<size_t>(layout.width)));
  }
  OpenExr::OutputFile file(path.string().c_str(), header);
  file.setFrameBuffer(buffer);
  file.writePixels(layout.height);
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

}  // namespace exrtest
