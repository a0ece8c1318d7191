// Fuzz target: the tool's reader of whole EXR files and `mondrel convert`
// on arbitrary bytes: hostile tables, chunks, tiles and zlib streams. A
// copy it makes must open and decode in the plug-in.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "exr/mondrel.h"
#include "fuzz/fuzz_support.h"
#include "reader/exr_file.h"
#include "tools/convert_picture.h"

namespace {

// Pictures larger than this are not converted, so that runs stay fast.
constexpr int64_t kLargestPixels = int64_t{1} << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  exrfile::File file;
  std::string error;
  LastFuzzOutcome = "refused";
  if (!exrfile::ReadFile(data, static_cast<int64_t>(size), &file, &error)) return 0;
  for (const exrfile::Part& part : file.parts) {
    if (part.width > kLargestPixels / part.height) {
      LastFuzzOutcome = "too-large";
      return 0;
    }
  }
  const PictureCopy copy = CopyPicture(data, static_cast<int64_t>(size), ConvertRequest());
  if (!copy.refusal.empty()) return 0;
  LastFuzzOutcome = "converted";
  // The copy: one uncompressed part whose header ends where the plug-in
  // reads it, and a frame that the plug-in decodes.
  exrfile::File again;
  if (!exrfile::ReadFile(copy.bytes.data(), static_cast<int64_t>(copy.bytes.size()), &again, &error) ||
      again.parts.size() != 1 || again.parts[0].compression != 0 || again.parts[0].tiled) {
    std::abort();
  }
  const int32_t frames[] = {0};
  const std::basic_string<WideChar> path = WriteFuzzFile("copy.exr", copy.bytes.data(), copy.bytes.size());
  void* handle = GetInputPluginTable()->open(path.c_str());
  if (handle == nullptr) std::abort();
  std::vector<uint8_t> frame(static_cast<size_t>(copy.width) * copy.height * 8);
  if (GetInputPluginTable()->readFrame(handle, frames[0], frame.data()) != static_cast<int32_t>(frame.size())) {
    std::abort();
  }
  GetInputPluginTable()->close(handle);
  return 0;
}
