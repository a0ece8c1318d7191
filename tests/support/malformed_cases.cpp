#include "malformed_cases.h"

#include <cstdint>
#include <cstring>

namespace exrtest {
namespace {

const std::vector<Channel> kRgba = {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}};

struct Base {
  Image image;
  WrittenFile written;
};

Base SmallImage() {
  Base base;
  base.image = MakeImage(5, 3, kRgba, 42);
  base.written = WriteExr(base.image);
  return base;
}

Bytes HeaderOnly(const std::function<void(HeaderBuilder&)>& build) {
  HeaderBuilder header;
  build(header);
  header.End();
  return header.bytes;
}

std::vector<Channel> Repeated(int count) {
  std::vector<Channel> channels;
  const char* names[] = {"R", "G", "B", "A"};
  for (int i = 0; i < count; ++i) channels.push_back({names[i % 4], kHalf});
  return channels;
}

}  // namespace

std::vector<MalformedCase> MalformedCases() {
  std::vector<MalformedCase> cases;
  const Base base = SmallImage();
  const Bytes& file = base.written.bytes;
  const size_t table = base.written.headerEnd;
  const Bytes good = ExpectedFrame(base.image);
  auto add = [&](std::string name, std::string expected, Outcome outcome, Bytes bytes, Bytes frame = {}) {
    cases.push_back({std::move(name), std::move(expected), outcome, std::move(bytes), std::move(frame)});
  };

  add("valid 5 x 3 RGBA HALF", "decodes", Outcome::kFrame, file, good);

  // Every truncation: within the header the parse ends early (refused for
  // want of channels, or accepted with no table); past it a frame never decodes.
  for (size_t length = 0; length < file.size(); ++length) {
    Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
    add("truncated to " + std::to_string(length) + " bytes", "refused, or no frame", Outcome::kNoFrame, cut);
    if (length < table) cases.back().outcome = Outcome::kRefused;  // refined by the runner: either is fine
  }

  // Attribute sizes.
  for (int32_t size : {-1, INT32_MIN}) {
    add("attribute size " + std::to_string(size), "refused", Outcome::kRefused, HeaderOnly([&](HeaderBuilder& h) {
          h.Channels(kRgba).DataWindow(0, 0, 4, 2).AttributeWithSize("comment", "string", size, Bytes{});
        }));
  }
  for (int32_t size : {INT32_MAX, 100000}) {
    Bytes bytes = HeaderOnly([&](HeaderBuilder& h) {
      h.Channels(kRgba).DataWindow(0, 0, 4, 2).AttributeWithSize("comment", "string", size, Bytes{});
    });
    bytes.insert(bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(table), file.end());
    add("attribute size " + std::to_string(size) + " (past the bytes read)",
        "opens (the header has no end), no frame", Outcome::kNoFrame, bytes);
  }

  // Data windows.
  struct Window {
    const char* name;
    int32_t xMin, yMin, xMax, yMax;
    Outcome outcome;
    const char* expected;
  };
  const Window windows[] = {
      {"window at the int32 extremes", INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, Outcome::kRefused, "refused"},
      {"window of 2^31 - 1 on each side", 0, 0, INT32_MAX - 1, INT32_MAX - 1, Outcome::kRefused, "refused"},
      {"inverted window", 0, 10, 4, 0, Outcome::kRefused, "refused"},
      {"window 16384 x 16384 (2^31 bytes)", 0, 0, 16383, 16383, Outcome::kRefused, "refused"},
      {"window 268435455 x 1 (2^31 - 8 bytes)", 0, 0, 268435454, 0, Outcome::kNoFrame,
       "opens, no frame (the file holds no such table)"},
      {"height of 200 million in a tiny file", 0, 0, 0, 199999999, Outcome::kNoFrame,
       "opens, no frame, no table allocated"},
  };
  for (const Window& w : windows) {
    add(w.name, w.expected, w.outcome, HeaderOnly([&](HeaderBuilder& h) {
          h.Channels(kRgba).DataWindow(w.xMin, w.yMin, w.xMax, w.yMax);
        }));
  }
  {
    const Image row = MakeImage(9, 1, kRgba, 5);
    add("window of one row", "decodes", Outcome::kFrame, WriteExr(row).bytes, ExpectedFrame(row));
  }

  // Line-offset tables.
  struct Entry {
    const char* name;
    uint64_t value;
  };
  const Entry entries[] = {
      {"table entry past the end of the file", file.size() + 1000},
      {"table entry back into the header", 8},
      {"table entry at the table itself", table},
      {"table entry at 2^63", uint64_t{1} << 63},
      {"table entry at 2^64 - 1", ~uint64_t{0}},
  };
  for (const Entry& e : entries) {
    Bytes bytes = file;
    PutU64(bytes, table + 8, e.value);
    add(e.name, "opens, no frame", Outcome::kNoFrame, bytes);
  }
  {
    Bytes bytes = file;
    for (int i = 0; i < 3; ++i) PutU64(bytes, table + 8 * static_cast<size_t>(i), 0);
    add("table all zero", "opens, no frame (the magic number is read as y)", Outcome::kNoFrame, bytes);
  }

  // Chunks.
  {
    Bytes bytes = file;
    PutU32(bytes, base.written.chunkOffsets[1], static_cast<uint32_t>(-1));
    add("chunk y negative", "opens, no frame", Outcome::kNoFrame, bytes);
  }
  {
    Bytes bytes = file;
    PutU32(bytes, base.written.chunkOffsets[1], 3);
    add("chunk y equal to the height", "opens, no frame", Outcome::kNoFrame, bytes);
  }
  {
    Bytes bytes = file;
    PutU64(bytes, table + 16, base.written.chunkOffsets[0]);  // row 0 twice, row 2 never
    Bytes frame = good;
    std::fill(frame.begin() + 2 * 5 * 8, frame.end(), 0);
    add("chunk repeated, a row omitted", "decodes; the omitted row is zero", Outcome::kFrame, bytes, frame);
  }
  for (uint32_t size : {0u, 1u, 0xFFFFFFFFu}) {
    Bytes bytes = file;
    for (size_t offset : base.written.chunkOffsets) PutU32(bytes, offset + 4, size);
    add("pixel data size field " + std::to_string(static_cast<int32_t>(size)), "decodes as if right",
        Outcome::kFrame, bytes, good);
  }

  // Channel lists.
  for (int count : {0, 5, 100}) {
    add("channel list of " + std::to_string(count) + " entries", "refused", Outcome::kRefused,
        HeaderOnly([&](HeaderBuilder& h) { h.Channels(Repeated(count)).DataWindow(0, 0, 4, 2); }));
  }
  for (size_t length : {255u, 256u}) {
    add("channel name of " + std::to_string(length) + " characters", "refused", Outcome::kRefused,
        HeaderOnly([&](HeaderBuilder& h) {
          h.Channels({{"R", kHalf}, {"G", kHalf}, {std::string(length, 'B'), kHalf}}).DataWindow(0, 0, 4, 2);
        }));
  }
  for (int32_t type : {-1, 100}) {
    const Image odd = MakeImage(4, 2, {{"B", type}, {"G", type}, {"R", type}}, 3);
    add("pixel type " + std::to_string(type), "decodes as 4-byte samples converted like FLOAT", Outcome::kFrame,
        WriteExr(odd).bytes, ExpectedFrame(odd));
  }
  return cases;
}

std::string RunMalformedCase(const MalformedCase& c, const fs::path& folder, const HostEntries& host,
                             std::string* failure) {
  failure->clear();
  const fs::path path = folder / "case.exr";
  WriteBytes(path, c.file);
  void* handle = host.open(WidePath(path));
  const bool mayBeEither = c.name.rfind("truncated", 0) == 0;
  if (handle == nullptr) {
    if (c.outcome != Outcome::kRefused && !mayBeEither) *failure = "refused at open";
    return "refused";
  }
  int32_t width = 0;
  int32_t height = 0;
  host.information(handle, &width, &height);
  std::string observed = "opens";
  if (c.outcome == Outcome::kRefused && !mayBeEither) *failure = "opened";
  const int64_t frameBytes = static_cast<int64_t>(width) * height * 8;
  if (width < 1 || height < 1 || frameBytes >= (int64_t{1} << 31)) {
    *failure = "opened with a frame size that cannot be allocated";
  } else {
    std::vector<uint8_t> frame(static_cast<size_t>(frameBytes) + 64, 0xCD);
    const int32_t result = host.read(handle, 0, frame.data());
    for (size_t i = static_cast<size_t>(frameBytes); i < frame.size(); ++i) {
      if (frame[i] != 0xCD) *failure = "wrote past the frame";
    }
    if (result == 0) {
      observed += ", no frame";
      if (c.outcome == Outcome::kFrame) *failure = "no frame";
    } else if (result == frameBytes) {
      const bool same = c.frame.size() == static_cast<size_t>(frameBytes) &&
                        std::memcmp(frame.data(), c.frame.data(), c.frame.size()) == 0;
      observed += same ? ", decodes as expected" : ", decodes to another picture";
      if (c.outcome != Outcome::kFrame || !same) *failure = observed;
    } else {
      observed += ", read returned " + std::to_string(result);
      *failure = observed;
    }
  }
  host.close(handle);
  return observed;
}

}  // namespace exrtest
