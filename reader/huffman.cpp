// The Huffman coder of PIZ: 65,536 symbols and a run-length code, a table of
// code lengths packed with runs of unused codes, and canonical codes (the
// longest numbered first, each length's in the order of their symbols).
#include <algorithm>
#include <cstddef>
#include <vector>

#include "exr/byte_reader.h"
#include "reader/codecs.h"

namespace exrfile {

namespace {

constexpr int32_t kSymbols = (1 << 16) + 1;  // every 16-bit value, and the run-length code
constexpr int kTableBits = 12;
constexpr int32_t kTableSize = 1 << kTableBits;
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

// The symbols that have codes, in order, with their lengths and then their
// canonical codes.
struct Codes {
  std::vector<int32_t> symbols;
  std::vector<int32_t> lengths;
  std::vector<uint64_t> codes;
  uint64_t perLength[kLongestCode + 1];
};

// Reads the code lengths of symbols first..last, then numbers the codes.
bool UnpackCodes(BitReader& reader, int32_t first, int32_t last, Codes& out, std::string* why) {
  out.symbols.clear();
  out.lengths.clear();
  std::fill(std::begin(out.perLength), std::end(out.perLength), 0);
  for (int64_t symbol = first; symbol <= last; ++symbol) {
    uint64_t length = 0;
    if (!TakeBits(reader, 6, &length)) return Fail(why, "the Huffman code table runs past the chunk");
    if (length < kShortZeroRun) {
      if (length == 0) continue;
      out.symbols.push_back(static_cast<int32_t>(symbol));
      out.lengths.push_back(static_cast<int32_t>(length));
      ++out.perLength[length];
      continue;
    }
    uint64_t run = length - kShortZeroRun + 2;
    if (length == kLongZeroRun) {
      if (!TakeBits(reader, 8, &run)) return Fail(why, "the Huffman code table runs past the chunk");
      run += kShortestLongRun;
    }
    if (symbol + static_cast<int64_t>(run) > int64_t{last} + 1) {
      return Fail(why, "a run of unused Huffman codes runs past the table");
    }
    symbol += static_cast<int64_t>(run) - 1;
  }
  uint64_t next[kLongestCode + 1] = {};
  uint64_t code = 0;
  for (int length = kLongestCode; length > 0; --length) {
    next[length] = code;
    code = (code + out.perLength[length]) >> 1;
  }
  out.codes.resize(out.symbols.size());
  for (size_t k = 0; k < out.symbols.size(); ++k) out.codes[k] = next[out.lengths[k]]++;
  return true;
}

// Codes of each length are consecutive numbers. Short codes fill every
// entry of a 12-bit table that they begin; longer ones are found by their
// length's range of numbers, shortest length first.
struct DecodingTable {
  std::vector<uint32_t> entries = std::vector<uint32_t>(kTableSize);  // (symbol + 1) << 6 | length; 0: none
  uint64_t firstCode[kLongestCode + 1] = {};
  uint64_t codeCount[kLongestCode + 1] = {};
  int64_t firstIndex[kLongestCode + 1] = {};  // into bySymbol
  std::vector<int32_t> bySymbol;              // each length's symbols in the order of their codes
};

// The codes must be a prefix code: no code the beginning of another. The
// table of lengths may promise that and still not keep it (too many codes
// of some length, or a shorter code numbered into a longer one's range).
bool BuildTable(const Codes& codes, DecodingTable& table, std::string* why) {
  int64_t index = 0;
  for (int length = 1; length <= kLongestCode; ++length) {
    table.codeCount[length] = codes.perLength[length];
    table.firstIndex[length] = index;
    index += static_cast<int64_t>(codes.perLength[length]);
  }
  table.bySymbol.resize(static_cast<size_t>(index));
  bool seen[kLongestCode + 1] = {};
  for (size_t k = 0; k < codes.symbols.size(); ++k) {
    const int length = codes.lengths[k];
    if (!seen[length]) table.firstCode[length] = codes.codes[k];
    seen[length] = true;
  }
  for (int length = 1; length <= kLongestCode; ++length) {
    if (table.codeCount[length] == 0) continue;
    if (((table.firstCode[length] + table.codeCount[length] - 1) >> length) != 0) {
      return Fail(why, "a Huffman code longer than its length");
    }
    for (int shorter = 1; shorter < length; ++shorter) {
      if (table.codeCount[shorter] == 0) continue;
      const uint64_t low = table.firstCode[length] >> (length - shorter);
      const uint64_t high = (table.firstCode[length] + table.codeCount[length] - 1) >> (length - shorter);
      const uint64_t shortLow = table.firstCode[shorter];
      const uint64_t shortHigh = shortLow + table.codeCount[shorter] - 1;
      if (low <= shortHigh && shortLow <= high) return Fail(why, "a Huffman code that another one begins");
    }
  }
  std::fill(table.entries.begin(), table.entries.end(), 0);
  for (size_t k = 0; k < codes.symbols.size(); ++k) {
    const int length = codes.lengths[k];
    const uint64_t code = codes.codes[k];
    table.bySymbol[static_cast<size_t>(table.firstIndex[length] + static_cast<int64_t>(code - table.firstCode[length]))] =
        codes.symbols[k];
    if (length > kTableBits) continue;
    const size_t at = static_cast<size_t>(code << (kTableBits - length));
    const uint32_t packed = static_cast<uint32_t>(codes.symbols[k] + 1) << 6 | static_cast<uint32_t>(length);
    std::fill(table.entries.begin() + static_cast<std::ptrdiff_t>(at),
              table.entries.begin() + static_cast<std::ptrdiff_t>(at + (size_t{1} << (kTableBits - length))), packed);
  }
  return true;
}

// The bits still to decode, left-aligned in 64: the next one on top, zeros
// below the last. The last byte's unused bits never enter it.
struct Window {
  const uint8_t* data;
  int64_t size;
  int lastBits;  // bits of the last byte that count
  int64_t position = 0;
  uint64_t top = 0;
  int bits = 0;
};

inline void Refill(Window& w) {
  if (w.bits <= 56 && w.position + 8 <= w.size) {
    // Up to 7 whole bytes, as many as fit, from one load; never the last
    // byte, whose unused bits the loop below leaves out.
    uint64_t next = 0;
    for (int k = 0; k < 8; ++k) next = next << 8 | w.data[w.position + k];
    int take = (64 - w.bits) / 8;
    if (take > 7) take = 7;
    w.top |= (next >> w.bits) & (~uint64_t{0} << (64 - w.bits - 8 * take));
    w.position += take;
    w.bits += 8 * take;
  }
  while (w.bits <= 56 && w.position < w.size) {
    const bool last = w.position + 1 == w.size;
    const int count = last ? w.lastBits : 8;
    const uint64_t byte = w.data[w.position++] >> (8 - count) << (8 - count);
    w.top |= byte << (56 - w.bits);
    w.bits += count;
  }
}

struct Output {
  uint16_t* values;
  int64_t count;
};

// The run-length code repeats the value before it as many more times as its
// next 8 bits say.
bool DecodeSymbols(const DecodingTable& table, const uint8_t* data, int64_t bitCount, int32_t runCode,
                   const Output& out, std::string* why) {
  Window w{data, (bitCount + 7) / 8, static_cast<int>(bitCount - 8 * ((bitCount - 1) / 8))};
  int64_t written = 0;
  while (true) {
    Refill(w);
    // Short codes of plain values while a table's worth of bits remains.
    while (w.bits >= kTableBits) {
      const uint32_t packed = table.entries[static_cast<size_t>(w.top >> (64 - kTableBits))];
      const int32_t value = static_cast<int32_t>(packed >> 6) - 1;
      if (packed == 0 || value == runCode || written >= out.count) break;
      const int length = static_cast<int>(packed & 63);
      w.top <<= length;
      w.bits -= length;
      out.values[written++] = static_cast<uint16_t>(value);
    }
    if (w.bits < kTableBits && w.position < w.size) continue;  // more bytes to come
    Refill(w);  // a long code or a run's length may need them
    if (w.bits <= 0) break;
    const uint32_t packed = table.entries[static_cast<size_t>(w.top >> (64 - kTableBits))];
    int32_t symbol = -1;
    int length = 0;
    if (packed != 0) {
      length = static_cast<int>(packed & 63);
      symbol = static_cast<int32_t>(packed >> 6) - 1;
    } else {
      for (int l = kTableBits + 1; l <= kLongestCode && l <= w.bits; ++l) {
        const uint64_t code = w.top >> (64 - l);
        if (code - table.firstCode[l] < table.codeCount[l]) {
          length = l;
          symbol = table.bySymbol[static_cast<size_t>(table.firstIndex[l] + static_cast<int64_t>(code - table.firstCode[l]))];
          break;
        }
      }
      if (symbol < 0) return Fail(why, "a Huffman code that is in no table");
    }
    if (length > w.bits) return Fail(why, "the Huffman codes run out before the data ends");
    w.top = length < 64 ? w.top << length : 0;
    w.bits -= length;
    if (symbol != runCode) {
      if (written >= out.count) return Fail(why, "the Huffman data holds more values than the chunk");
      out.values[written++] = static_cast<uint16_t>(symbol);
      continue;
    }
    if (w.bits < 8) Refill(w);
    if (w.bits < 8) return Fail(why, "a Huffman run's length runs past the data");
    const int64_t run = static_cast<int64_t>(w.top >> 56);
    w.top <<= 8;
    w.bits -= 8;
    if (written + run > out.count) return Fail(why, "the Huffman data holds more values than the chunk");
    if (written == 0) return Fail(why, "a Huffman run with no value before it");
    std::fill(out.values + written, out.values + written + run, out.values[written - 1]);
    written += run;
  }
  if (written != out.count) return Fail(why, "the Huffman data holds fewer values than the chunk");
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
  static thread_local Codes codes;
  static thread_local DecodingTable table;
  BitReader reader{in + 20, inSize - 20};
  if (!UnpackCodes(reader, static_cast<int32_t>(first), static_cast<int32_t>(last), codes, why)) return false;
  const int64_t dataStart = 20 + reader.position;
  if (bitCount > 8 * (inSize - dataStart)) return Fail(why, "the Huffman data runs past the chunk");
  if (!BuildTable(codes, table, why)) return false;
  return DecodeSymbols(table, in + dataStart, bitCount, static_cast<int32_t>(last), Output{out, count}, why);
}

}  // namespace exrfile
