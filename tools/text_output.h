// Everything the tool prints passes through here. Text taken from files and
// file names is untrusted: it may hold control bytes and bytes that are no
// UTF-8. Printable() and Json() make it safe for a terminal and for a JSON
// reader; Out() and Err() write to standard output and standard error, as
// wide text to a Windows console and as UTF-8 everywhere else.
#pragma once

#include <string>

// Valid UTF-8 with every control character shown as \xNN; invalid bytes
// become U+FFFD.
std::string Printable(const std::string& text);

// A JSON string literal (quotes included) of valid UTF-8.
std::string Json(const std::string& text);

// printf-style formatting into a string; never fails.
std::string Format(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

void Out(const std::string& text);
void Err(const std::string& text);
