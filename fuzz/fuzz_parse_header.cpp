// Fuzz target: the header parser on arbitrary first bytes of a file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "exr/mondrel.h"
#include "fuzz/fuzz_support.h"
#include "tools/header_report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t count = size < sizeof HeaderBuffer ? size : sizeof HeaderBuffer;
  // Stale bytes beyond the count must not matter; make them loud.
  std::memset(HeaderBuffer, 0xA5, sizeof HeaderBuffer);
  if (count > 0) std::memcpy(HeaderBuffer, data, count);
  Mondrel image;
  const int32_t status = image.ParseHeader(static_cast<int32_t>(count));
  LastFuzzOutcome = status > 0 ? "accepted" : "refused";
  if (status > 0 && status != 1 && status != 3 && status != 4) std::abort();
  if (status > 0 && image.channelCount != status) std::abort();
  if (image.headerEnd > static_cast<int32_t>(count)) std::abort();
  // The tool's own walk over the same bytes, and its words: every refusal
  // has a reason, and the walk agrees with the parser on the header's end.
  const HeaderReport report = InspectHeader(data, static_cast<int32_t>(count), static_cast<int64_t>(size));
  if (report.status != status) std::abort();
  const std::string reason = ExplainRefusal(report);
  const bool opens = status > 0 && FrameByteCount(image.width, image.height) >= 0;
  if (reason.empty() != opens) std::abort();
  if (status > 0 && (report.walkEnd == exrfile::WalkEnd::kHeaderEnd) != (image.headerEnd >= 0)) std::abort();
  Warnings(report);
  return 0;
}
