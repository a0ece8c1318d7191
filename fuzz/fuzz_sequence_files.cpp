// Fuzz target: a sequence of two or three files cut from one input (their
// pictures may differ in size), opened from the first and read frame by
// frame, past the end and before the start too.
#include <cstdio>
#include <cstring>
#include <utility>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  // The first byte picks the file count, the next two where to cut.
  const int files = 2 + (data[0] & 1);
  const size_t body = size - 3;
  size_t cuts[4] = {0, body * data[1] / 255, body * data[2] / 255, body};
  if (cuts[1] > cuts[2]) std::swap(cuts[1], cuts[2]);
  if (files == 2) cuts[2] = body;
  const uint8_t* bytes = data + 3;
  std::basic_string<WideChar> first;
  for (int i = 0; i < files; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "seq_%04d.exr", i + 1);
    const std::basic_string<WideChar> path = WriteFuzzFile(name, bytes + cuts[i], cuts[i + 1] - cuts[i]);
    if (i == 0) first = path;
  }
  // A third frame left by an earlier input must not join in.
  if (files == 2) RemoveFuzzFile("seq_0003.exr");
  const int32_t frames[] = {0, 1, 2, 3, -1};
  DriveHandle(first, frames, 5);
  return 0;
}
