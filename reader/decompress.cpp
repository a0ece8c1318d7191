#include "reader/decompress.h"

#include <cstring>
#include <vector>

#include <zlib.h>

#include "reader/exr_file.h"

namespace exrfile {

namespace {

bool Refuse(std::string* why, const std::string& text) {
  *why = text;
  return false;
}

// RLE: a signed count byte; below zero, that many literal bytes follow,
// else one byte repeated count + 1 times.
bool RunLengthDecode(const uint8_t* in, int64_t inSize, uint8_t* out, int64_t outSize, std::string* why) {
  int64_t read = 0;
  int64_t written = 0;
  while (read < inSize) {
    const int32_t count = static_cast<int8_t>(in[read++]);
    if (count < 0) {
      const int64_t literal = -static_cast<int64_t>(count);
      if (literal > inSize - read) return Refuse(why, "RLE data ends inside a literal run");
      if (literal > outSize - written) return Refuse(why, "RLE runs past the chunk's pixels");
      std::memcpy(out + written, in + read, static_cast<size_t>(literal));
      read += literal;
      written += literal;
    } else {
      if (read >= inSize) return Refuse(why, "RLE data ends inside a run");
      if (count + 1 > outSize - written) return Refuse(why, "RLE runs past the chunk's pixels");
      std::memset(out + written, in[read++], static_cast<size_t>(count) + 1);
      written += count + 1;
    }
  }
  if (written != outSize) {
    return Refuse(why, "RLE restores " + std::to_string(written) + " bytes, not " + std::to_string(outSize));
  }
  return true;
}

// Both RLE and ZIP store differences of successive bytes, after splitting
// the bytes into the even-numbered and the odd-numbered half.
void UndoPredictorAndSplit(uint8_t* bytes, int64_t size, std::vector<uint8_t>& scratch) {
  for (int64_t i = 1; i < size; ++i) bytes[i] = static_cast<uint8_t>(bytes[i - 1] + bytes[i] - 128);
  scratch.assign(bytes, bytes + size);
  const uint8_t* even = scratch.data();
  const uint8_t* odd = scratch.data() + (size + 1) / 2;
  for (int64_t i = 0; i < size; ++i) bytes[i] = (i & 1) == 0 ? even[i / 2] : odd[i / 2];
}

bool Inflate(const uint8_t* in, int64_t inSize, uint8_t* out, int64_t outSize, std::string* why) {
  uLongf length = static_cast<uLongf>(outSize);
  const int result = uncompress(out, &length, in, static_cast<uLong>(inSize));
  if (result == Z_BUF_ERROR && length == static_cast<uLongf>(outSize)) {
    return Refuse(why, "the chunk inflates to more than its " + std::to_string(outSize) + " bytes of pixels");
  }
  if (result != Z_OK) return Refuse(why, "the chunk's zlib stream is damaged");
  if (static_cast<int64_t>(length) != outSize) {
    return Refuse(why, "the chunk inflates to " + std::to_string(length) + " bytes, not " + std::to_string(outSize));
  }
  return true;
}

}  // namespace

bool ReadsCompression(int32_t compression) {
  return compression == kNone || compression == kRle || compression == kZips || compression == kZip;
}

bool Decompress(int32_t compression, const uint8_t* in, int64_t inSize, uint8_t* out, int64_t outSize,
                std::string* why) {
  if (outSize == 0) return true;
  if (compression == kRle) {
    if (!RunLengthDecode(in, inSize, out, outSize, why)) return false;
  } else if (compression == kZips || compression == kZip) {
    if (!Inflate(in, inSize, out, outSize, why)) return false;
  } else {
    return Refuse(why, "compression " + std::to_string(compression) + " is not read here");
  }
  static thread_local std::vector<uint8_t> scratch;
  UndoPredictorAndSplit(out, outSize, scratch);
  return true;
}

}  // namespace exrfile
