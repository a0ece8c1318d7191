// The bench's table: one row a case, printed as it is measured.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#include "bench/bench_timer.h"

inline void Report(const std::string& label, const char* format, ...) {
  char text[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  std::printf("| %s | %s |\n", label.c_str(), text);
  std::fflush(stdout);
}

inline std::string Spread(const Timing& timing) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f ms [%.2f-%.2f]", timing.median * 1e3, timing.low * 1e3, timing.high * 1e3);
  return text;
}
