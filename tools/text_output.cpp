#include "tools/text_output.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#endif

namespace {

// Length of the well-formed UTF-8 sequence at `at` (1 to 4), or 0; `code`
// receives its character.
size_t DecodeUtf8(const std::string& text, size_t at, uint32_t* code) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) {
    *code = lead;
    return 1;
  }
  size_t length = 0;
  uint32_t value = 0;
  uint32_t smallest = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1Fu, smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0Fu, smallest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07u, smallest = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    value = value << 6 | (next & 0x3Fu);
  }
  // No overlong forms, no surrogates, nothing past U+10FFFF.
  if (value < smallest || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return 0;
  *code = value;
  return length;
}

const char kReplacement[] = "\xEF\xBF\xBD";

// Calls `visit(code, bytes, length, next)` for each character of `text`, with
// the bytes of U+FFFD for each byte that is no part of well-formed UTF-8;
// `next` is where the following character starts in `text`.
template <typename Visit>
void ForEachCharacter(const std::string& text, Visit visit) {
  for (size_t at = 0; at < text.size();) {
    uint32_t code = 0;
    const size_t length = DecodeUtf8(text, at, &code);
    if (length == 0) {
      visit(0xFFFD, kReplacement, sizeof kReplacement - 1, ++at);
    } else {
      at += length;
      visit(code, text.data() + at - length, length, at);
    }
  }
}

bool IsControl(uint32_t code) { return code < 0x20 || code == 0x7F || (code >= 0x80 && code < 0xA0); }

// Characters that reorder the text shown after them.
bool IsBidiControl(uint32_t code) { return (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069); }

#ifdef _WIN32
void Write(FILE* stream, DWORD which, const std::string& text) {
  HANDLE console = GetStdHandle(which);
  DWORD mode = 0;
  if (console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode)) {
    // A console shows wide text whatever its code page.
    std::fflush(stream);
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::vector<wchar_t> wide(static_cast<size_t>(units > 0 ? units : 0) + 1);
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
    DWORD written = 0;
    WriteConsoleW(console, wide.data(), static_cast<DWORD>(units), &written, nullptr);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stream);
}
#endif

}  // namespace

std::string Printable(const std::string& text) {
  std::string out;
  ForEachCharacter(text, [&](uint32_t code, const char* bytes, size_t length, size_t next) {
    // A backslash that would read as the start of an escape is one itself,
    // so that every \x and \u in the output is an escape.
    const bool escapeLike = code == '\\' && next < text.size() && (text[next] == 'x' || text[next] == 'u');
    char escaped[12];
    if (IsControl(code) || escapeLike) {
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(code));
      out += escaped;
    } else if (IsBidiControl(code)) {
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(code));
      out += escaped;
    } else {
      out.append(bytes, length);
    }
  });
  return out;
}

std::string Json(const std::string& text) {
  std::string out = "\"";
  ForEachCharacter(text, [&](uint32_t code, const char* bytes, size_t length, size_t) {
    if (code == '"' || code == '\\') {
      out += '\\';
      out += static_cast<char>(code);
    } else if (code < 0x20 || code == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(code));
      out += escaped;
    } else {
      out.append(bytes, length);
    }
  });
  return out + "\"";
}

std::string Format(const char* format, ...) {
  char small[512];
  va_list arguments;
  va_start(arguments, format);
  va_list again;
  va_copy(again, arguments);
  const int length = std::vsnprintf(small, sizeof small, format, arguments);
  va_end(arguments);
  std::string out;
  if (length >= 0 && static_cast<size_t>(length) < sizeof small) {
    out.assign(small, static_cast<size_t>(length));
  } else if (length >= 0) {
    out.resize(static_cast<size_t>(length) + 1);
    std::vsnprintf(&out[0], out.size(), format, again);
    out.resize(static_cast<size_t>(length));
  }
  va_end(again);
  return out;
}

#ifdef _WIN32
void Out(const std::string& text) { Write(stdout, STD_OUTPUT_HANDLE, text); }
void Err(const std::string& text) { Write(stderr, STD_ERROR_HANDLE, text); }
#else
void Out(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }
void Err(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stderr); }
#endif
