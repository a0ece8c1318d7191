// Fuzz target: a single image from arbitrary bytes, through the whole
// table: open, get information, read frames 0 and 1, close.
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int32_t frames[] = {0, 1};
  DriveHandle(WriteFuzzFile("still.exr", data, size), frames, 2);
  return 0;
}
