// UTF-16 to UTF-8, for the POSIX twin's file names and the tool's output.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

// Appends the UTF-8 form of `count` UTF-16 units; a lone surrogate becomes
// U+FFFD. May throw std::bad_alloc.
void AppendUtf8(std::string& out, const WideChar* units, size_t count);
