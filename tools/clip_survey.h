// What lies around a clip that the host is not told: numbered files that
// continue after the gap where a sequence stops, and frames whose header
// gives another picture size than the first's.
#pragma once

#include <cstdint>
#include <string>

#include "tools/clip.h"

struct FilesAfterGap {
  int32_t count = 0;           // numbered files found past the gap
  std::string first;           // the first of them
  bool nextExists = false;     // no gap: the clip stopped at the 10,000-frame limit
};

// Looks at the `window` numbers after the one that ends the clip.
FilesAfterGap FindFilesAfterGap(const Clip& clip, int32_t window);

// The picture size that frame `n`'s header gives; false when the file
// cannot be read or its header does not parse.
bool FrameSize(const Clip& clip, int32_t n, int32_t* width, int32_t* height);

// A hint for `info`: why `mondrel check` is worth running on the clip, or
// empty.
std::string CheckHint(const Clip& clip);
