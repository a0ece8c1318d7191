// Fuzz target: splitting arbitrary UTF-16 names and building frame paths.
#include <cstdlib>
#include <cstring>
#include <string>

#include "sequence/sequence_name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::basic_string<WideChar> name(size / 2, 0);
  if (!name.empty()) std::memcpy(&name[0], data, name.size() * 2);
  name = name.substr(0, name.find(WideChar(0)));  // up to the first NUL
  AcceptSequenceName(name.c_str());
  const SequenceName split = CurrentSequenceName;
  if (split.digitCount > 0) {
    if (split.digitCount > 9 || split.digitLast - split.digitFirst + 1 != split.digitCount) std::abort();
    if (!(split.digitLast < split.dot) || split.dot > 4094) std::abort();
    // The opened name rebuilds unit for unit.
    FormatFramePath(split.number);
    if (std::basic_string<WideChar>(PathBuffer) != name) std::abort();
  }
  for (int32_t step : {1, -1, 1000000, 2147483647}) {
    FormatFramePath(static_cast<int32_t>(static_cast<uint32_t>(split.number) + static_cast<uint32_t>(step)));
    if (std::char_traits<WideChar>::length(PathBuffer) > 4095) std::abort();
  }
  FrameNaming naming;
  CaptureFrameNaming(&naming);
  FormatFramePath(naming, naming.number + 1);
  return 0;
}
