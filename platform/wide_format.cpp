#include "platform/wide_format.h"

#include <cstdint>

namespace platform {
namespace {

struct Output {
  WideChar* destination;
  size_t limit;  // units of text that fit before the terminator
  size_t length;
  bool cut;
};

void Put(Output& out, WideChar unit) {
  if (out.length < out.limit) {
    out.destination[out.length++] = unit;
  } else {
    out.cut = true;
  }
}

void PutDecimal(Output& out, int32_t value, bool zeroPad, int width) {
  WideChar digits[16];
  int count = 0;
  // Work on the magnitude as unsigned so INT32_MIN is safe.
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    digits[count++] = static_cast<WideChar>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  const int signWidth = value < 0 ? 1 : 0;
  int padding = width - count - signWidth;
  if (!zeroPad) {
    for (; padding > 0; --padding) Put(out, u' ');
  }
  if (value < 0) Put(out, u'-');
  for (; padding > 0; --padding) Put(out, u'0');
  while (count > 0) Put(out, digits[--count]);
}

}  // namespace

bool FormatWideList(WideChar* destination, size_t capacity, const WideChar* pattern,
                    va_list arguments) {
  if (destination == nullptr || capacity == 0) return false;
  Output out{destination, capacity - 1, 0, false};
  for (size_t i = 0; pattern[i] != 0; ++i) {
    if (pattern[i] != u'%') {
      Put(out, pattern[i]);
      continue;
    }
    size_t j = i + 1;
    if (pattern[j] == u'%') {
      Put(out, u'%');
      i = j;
      continue;
    }
    bool zeroPad = false;
    if (pattern[j] == u'0') {
      zeroPad = true;
      ++j;
    }
    int width = 0;
    while (pattern[j] >= u'0' && pattern[j] <= u'9') {
      if (width < 100000) width = width * 10 + (pattern[j] - u'0');
      ++j;
    }
    if (pattern[j] == u'd') {
      PutDecimal(out, va_arg(arguments, int32_t), zeroPad, width);
      i = j;
    } else if (pattern[j] == u's') {
      const WideChar* text = va_arg(arguments, const WideChar*);
      for (size_t k = 0; text != nullptr && text[k] != 0; ++k) Put(out, text[k]);
      i = j;
    } else {
      Put(out, u'%');  // unknown conversion: copied as text
    }
  }
  destination[out.length] = 0;
  return !out.cut;
}

}  // namespace platform
