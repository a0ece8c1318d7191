#pragma once

#include <algorithm>
#include <cstring>

#include "exr/mondrel.h"
#include "writer/exr_writer.h"

namespace exrtest {

// Places the first bytes of a file in the header buffer, as an open does,
// and parses them. Bytes of the buffer past the count get `fill`.
inline int32_t ParseBytes(Mondrel& image, const Bytes& bytes, uint8_t fill = 0) {
  const size_t count = std::min<size_t>(bytes.size(), kHeaderBufferSize);
  std::memset(HeaderBuffer, fill, sizeof HeaderBuffer);
  if (count > 0) std::memcpy(HeaderBuffer, bytes.data(), count);
  return image.ParseHeader(static_cast<int32_t>(count));
}

}  // namespace exrtest
