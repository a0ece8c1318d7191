#include "platform/utf16.h"

#include <cstdint>

void AppendUtf8(std::string& out, const WideChar* units, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    uint32_t code = static_cast<uint32_t>(units[i]);
    const bool pairs = i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
    if (code >= 0xD800 && code <= 0xDBFF && pairs) {
      code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<uint32_t>(units[i + 1]) - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
}
