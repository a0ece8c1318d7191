// The Huffman coder of PIZ: 65,536 symbols and a run-length code, a table of
// code lengths packed with runs of unused codes, canonical codes, and a
// 14-bit table that resolves short codes at once and lists the long ones.
#include <algorithm>
#include <vector>

#include "exr/byte_reader.h"
#include "reader/codecs.h"

namespace exrfile {

namespace {

constexpr int32_t kSymbols = (1 << 16) + 1;  // every 16-bit value, and the run-length code
constexpr int kTableBits = 14;
constexpr int32_t kTableSize = 1 << kTableBits;
constexpr uint64_t kTableMask = kTableSize - 1;
constexpr uint64_t kShortZeroRun = 59;  // code lengths from here on are runs of unused codes
constexpr uint64_t kLongZeroRun = 63;   // ... and this one takes its run from the next byte
constexpr uint64_t kShortestLongRun = 2 + kLongZeroRun - kShortZeroRun;
constexpr int kLongestCode = 58;

bool Fail(std::string* why, const char* text) {
  *why = text;
  return false;
}

struct BitReader {
  const uint8_t* bytes;
  int64_t size;
  int64_t position = 0;
  uint64_t buffer = 0;
  int bits = 0;
};

bool TakeBits(BitReader& reader, int count, uint64_t* value) {
  while (reader.bits < count) {
    if (reader.position >= reader.size) return false;
    reader.buffer = reader.buffer << 8 | reader.bytes[reader.position++];
    reader.bits += 8;
  }
  reader.bits -= count;
  *value = (reader.buffer >> reader.bits) & ((uint64_t{1} << count) - 1);
  return true;
}

// Reads the code lengths of symbols first..last and makes each entry of
// `codes` its canonical code shifted left by 6 with its length below.
bool UnpackCodes(BitReader& reader, int32_t first, int32_t last, std::vector<uint64_t>& codes, std::string* why) {
  std::fill(codes.begin(), codes.end(), 0);
  for (int64_t symbol = first; symbol <= last; ++symbol) {
    uint64_t length = 0;
    if (!TakeBits(reader, 6, &length)) return Fail(why, "the Huffman code table runs past the chunk");
    codes[static_cast<size_t>(symbol)] = length;
    if (length < kShortZeroRun) continue;
    uint64_t run = length - kShortZeroRun + 2;
    if (length == kLongZeroRun) {
      if (!TakeBits(reader, 8, &run)) return Fail(why, "the Huffman code table runs past the chunk");
      run += kShortestLongRun;
    }
    if (symbol + static_cast<int64_t>(run) > int64_t{last} + 1) {
      return Fail(why, "a run of unused Huffman codes runs past the table");
    }
    std::fill(codes.begin() + symbol, codes.begin() + symbol + static_cast<int64_t>(run), 0);
    symbol += static_cast<int64_t>(run) - 1;
  }
  // Canonical codes: the longest come first, each length's codes in turn.
  uint64_t perLength[kLongestCode + 1] = {};
  for (const uint64_t length : codes) ++perLength[length];
  uint64_t code = 0;
  for (int length = kLongestCode; length > 0; --length) {
    const uint64_t next = (code + perLength[length]) >> 1;
    perLength[length] = code;
    code = next;
  }
  for (uint64_t& entry : codes) {
    if (entry > 0) entry |= perLength[entry]++ << 6;
  }
  return true;
}

// Codes of up to 14 bits fill every table entry they begin; longer ones are
// listed at the entry of their first 14 bits, in the order of their symbols.
struct DecodingTable {
  std::vector<uint8_t> length = std::vector<uint8_t>(kTableSize);
  std::vector<int32_t> symbol = std::vector<int32_t>(kTableSize);
  std::vector<int32_t> longFirst = std::vector<int32_t>(kTableSize + 1);
  std::vector<int32_t> longSymbols;
};

bool BuildTable(const std::vector<uint64_t>& codes, int32_t first, int32_t last, DecodingTable& table,
                std::string* why) {
  std::fill(table.length.begin(), table.length.end(), 0);
  std::vector<int32_t>& longCount = table.longFirst;
  std::fill(longCount.begin(), longCount.end(), 0);
  for (int32_t s = first; s <= last; ++s) {
    const uint64_t code = codes[static_cast<size_t>(s)] >> 6;
    const int length = static_cast<int>(codes[static_cast<size_t>(s)] & 63);
    if ((code >> length) != 0) return Fail(why, "a Huffman code longer than its length");
    if (length > kTableBits) {
      const size_t entry = static_cast<size_t>(code >> (length - kTableBits));
      if (table.length[entry] != 0) return Fail(why, "a Huffman code that another one begins");
      ++longCount[entry + 1];
    } else if (length > 0) {
      const size_t entry = static_cast<size_t>(code << (kTableBits - length));
      for (size_t k = 0; k < (size_t{1} << (kTableBits - length)); ++k) {
        if (table.length[entry + k] != 0 || longCount[entry + k + 1] != 0) {
          return Fail(why, "a Huffman code that another one begins");
        }
        table.length[entry + k] = static_cast<uint8_t>(length);
        table.symbol[entry + k] = s;
      }
    }
  }
  for (int32_t entry = 0; entry < kTableSize; ++entry) longCount[entry + 1] += longCount[entry];
  table.longSymbols.assign(static_cast<size_t>(longCount[kTableSize]), 0);
  std::vector<int32_t> filled(longCount.begin(), longCount.end() - 1);
  for (int32_t s = first; s <= last; ++s) {
    const int length = static_cast<int>(codes[static_cast<size_t>(s)] & 63);
    if (length <= kTableBits) continue;
    const size_t entry = static_cast<size_t>((codes[static_cast<size_t>(s)] >> 6) >> (length - kTableBits));
    table.longSymbols[static_cast<size_t>(filled[entry]++)] = s;
  }
  return true;
}

struct Output {
  uint16_t* values;
  int64_t count;
  int64_t written = 0;
};

// One decoded symbol: a value, or the run-length code, whose next 8 bits
// repeat the value before it that many more times.
bool Emit(int32_t symbol, int32_t runCode, BitReader& reader, Output& out, std::string* why) {
  if (symbol != runCode) {
    if (out.written >= out.count) return Fail(why, "the Huffman data holds more values than the chunk");
    out.values[out.written++] = static_cast<uint16_t>(symbol);
    return true;
  }
  uint64_t run = 0;
  if (!TakeBits(reader, 8, &run)) return Fail(why, "a Huffman run's length runs past the data");
  if (out.written + static_cast<int64_t>(run) > out.count) {
    return Fail(why, "the Huffman data holds more values than the chunk");
  }
  if (out.written == 0) return Fail(why, "a Huffman run with no value before it");
  std::fill(out.values + out.written, out.values + out.written + run, out.values[out.written - 1]);
  out.written += static_cast<int64_t>(run);
  return true;
}

bool DecodeSymbols(const std::vector<uint64_t>& codes, const DecodingTable& table, const uint8_t* data,
                   int64_t bitCount, int32_t runCode, Output& out, std::string* why) {
  BitReader reader{data, (bitCount + 7) / 8};
  while (reader.position < reader.size) {
    reader.buffer = reader.buffer << 8 | data[reader.position++];
    reader.bits += 8;
    while (reader.bits >= kTableBits) {
      const size_t entry = static_cast<size_t>((reader.buffer >> (reader.bits - kTableBits)) & kTableMask);
      if (table.length[entry] != 0) {
        reader.bits -= table.length[entry];
        if (!Emit(table.symbol[entry], runCode, reader, out, why)) return false;
        continue;
      }
      bool found = false;
      for (int32_t k = table.longFirst[entry]; k < table.longFirst[entry + 1] && !found; ++k) {
        const int32_t s = table.longSymbols[static_cast<size_t>(k)];
        const int length = static_cast<int>(codes[static_cast<size_t>(s)] & 63);
        while (reader.bits < length && reader.position < reader.size) {
          reader.buffer = reader.buffer << 8 | data[reader.position++];
          reader.bits += 8;
        }
        const uint64_t mask = (uint64_t{1} << length) - 1;
        if (reader.bits >= length && (codes[static_cast<size_t>(s)] >> 6) == ((reader.buffer >> (reader.bits - length)) & mask)) {
          reader.bits -= length;
          if (!Emit(s, runCode, reader, out, why)) return false;
          found = true;
        }
      }
      if (!found) return Fail(why, "a Huffman code that is in no table");
    }
  }
  // The last byte's unused bits, then the short codes still held.
  const int padding = static_cast<int>((8 - (bitCount & 7)) & 7);
  reader.buffer >>= padding;
  reader.bits -= padding;
  while (reader.bits > 0) {
    const size_t entry = static_cast<size_t>((reader.buffer << (kTableBits - reader.bits)) & kTableMask);
    if (table.length[entry] == 0 || table.length[entry] > reader.bits) {
      return Fail(why, "the Huffman codes run out before the data ends");
    }
    reader.bits -= table.length[entry];
    if (!Emit(table.symbol[entry], runCode, reader, out, why)) return false;
  }
  if (out.written != out.count) return Fail(why, "the Huffman data holds fewer values than the chunk");
  return true;
}

}  // namespace

bool HuffmanDecode(const uint8_t* in, int64_t inSize, uint16_t* out, int64_t count, std::string* why) {
  if (inSize == 0) return count == 0 || Fail(why, "no Huffman data where the chunk has values");
  if (inSize < 20) return Fail(why, "the Huffman header runs past the chunk");
  const uint32_t first = LoadU32LE(in);
  const uint32_t last = LoadU32LE(in + 4);
  const int64_t bitCount = LoadU32LE(in + 12);
  if (first >= static_cast<uint32_t>(kSymbols) || last >= static_cast<uint32_t>(kSymbols)) {
    return Fail(why, "the Huffman table's range is not one of 16-bit values");
  }
  static thread_local std::vector<uint64_t> codes(kSymbols);
  static thread_local DecodingTable table;
  BitReader reader{in + 20, inSize - 20};
  if (!UnpackCodes(reader, static_cast<int32_t>(first), static_cast<int32_t>(last), codes, why)) return false;
  const int64_t dataStart = 20 + reader.position;
  if (bitCount > 8 * (inSize - dataStart)) return Fail(why, "the Huffman data runs past the chunk");
  if (!BuildTable(codes, static_cast<int32_t>(first), static_cast<int32_t>(last), table, why)) return false;
  Output output{out, count};
  return DecodeSymbols(codes, table, in + dataStart, bitCount, static_cast<int32_t>(last), output, why);
}

}  // namespace exrfile
