// The line-offset table: one 64-bit file position per scanline chunk,
// stored right after the header.
#include <new>

#include "exr/byte_reader.h"
#include "exr/mondrel.h"

int32_t Mondrel::ReadLineOffsets(platform::FileHandle file) {
  if (file == platform::kInvalidFile) return kLineOffsetsNoFile;
  lineOffsetsComplete = false;
  // Without the header's end there is no table, and without a valid frame
  // size there is nothing to decode.
  if (headerEnd < 0 || FrameByteCount(width, height) < 0) return kLineOffsetsIncomplete;

  // The height is untrusted: size the table only when the file holds it.
  const int64_t tableBytes = static_cast<int64_t>(height) * 8;
  const int64_t fileSize = platform::FileSize(file);
  if (fileSize < 0 || fileSize - headerEnd < tableBytes) return kLineOffsetsIncomplete;
  if (!platform::SeekFile(file, static_cast<uint64_t>(headerEnd))) return kLineOffsetsIncomplete;

  try {
    lineOffsets.resize(static_cast<size_t>(height));
  } catch (const std::bad_alloc&) {
    lineOffsetsOutOfMemory = true;
    return kLineOffsetsIncomplete;
  }
  uint32_t bytesRead = 0;
  const bool succeeded = platform::ReadFromFile(file, lineOffsets.data(), static_cast<uint32_t>(tableBytes), &bytesRead);
  // The entries are little-endian in the file; make them native.
  uint8_t* raw = reinterpret_cast<uint8_t*>(lineOffsets.data());
  for (int32_t i = 0; i < height; ++i) lineOffsets[i] = LoadU64LE(raw + 8 * static_cast<int64_t>(i));
  if (!succeeded || bytesRead != tableBytes) return kLineOffsetsIncomplete;
  lineOffsetsComplete = true;
  return height;
}
