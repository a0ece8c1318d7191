// The formatter behind the POSIX twin of StringCchPrintfW.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "platform/platform.h"

namespace platform {

// Formats into `destination`, cutting at capacity - 1 units and always
// terminating when capacity is at least 1. Understands %%, %s (a wide
// string) and %d with an optional 0 flag and a decimal minimum width;
// any other conversion is copied through as text. False when cut.
bool FormatWideList(WideChar* destination, size_t capacity, const WideChar* pattern,
                    va_list arguments);

}  // namespace platform
