// The one gate through which header bytes are read: a cursor over the bytes
// a read delivered, which never yields a byte beyond them. Positions are 64
// bits wide so that no attribute size can make them wrap.
#pragma once

#include <cstdint>
#include <cstring>

struct ByteReader {
  const uint8_t* bytes;
  int64_t size;      // bytes delivered
  int64_t position;  // may pass size; then nothing more can be read
};

inline int64_t BytesLeft(const ByteReader& reader) {
  return reader.position < reader.size ? reader.size - reader.position : 0;
}

inline uint32_t LoadU32LE(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline uint64_t LoadU64LE(const uint8_t* p) {
  return static_cast<uint64_t>(LoadU32LE(p)) | static_cast<uint64_t>(LoadU32LE(p + 4)) << 32;
}

inline bool ReadInt32(ByteReader& reader, int32_t* value) {
  if (BytesLeft(reader) < 4) return false;
  *value = static_cast<int32_t>(LoadU32LE(reader.bytes + reader.position));
  reader.position += 4;
  return true;
}

inline bool Skip(ByteReader& reader, int64_t count) {
  if (count < 0 || BytesLeft(reader) < count) return false;
  reader.position += count;
  return true;
}

enum class NameResult { kRead, kTooLong, kCutOff };

// Reads a zero-terminated name of at most 255 characters, as used for
// attribute names, type names and channel names. kTooLong when none of the
// 256 bytes from the cursor is zero; kCutOff when the delivered bytes end
// before either a zero or the 256th byte. On kRead the cursor moves past the
// zero byte and `start`/`length` describe the name.
inline NameResult ReadName(ByteReader& reader, const uint8_t** start, int32_t* length) {
  const int64_t window = BytesLeft(reader) < 256 ? BytesLeft(reader) : 256;
  const uint8_t* begin = reader.bytes + reader.position;
  const void* zero = window > 0 ? std::memchr(begin, 0, static_cast<size_t>(window)) : nullptr;
  if (zero == nullptr) return window == 256 ? NameResult::kTooLong : NameResult::kCutOff;
  *start = begin;
  *length = static_cast<int32_t>(static_cast<const uint8_t*>(zero) - begin);
  reader.position += *length + 1;
  return NameResult::kRead;
}

inline bool NameIs(const uint8_t* name, int32_t length, const char* expected) {
  const size_t expectedLength = std::strlen(expected);
  return static_cast<size_t>(length) == expectedLength &&
         std::memcmp(name, expected, expectedLength) == 0;
}
