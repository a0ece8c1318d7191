// A 3 x 5 pixel digit font for frame numbers in samples and contact sheets.
#pragma once

#include <cstdint>
#include <string>

// True when pixel (x, y) of `text` (digits only), drawn at `scale` with its
// top-left corner at (0, 0), is set. Glyphs are 3 cells wide plus a gap.
bool DigitTextCovers(const std::string& text, int x, int y, int scale);
int DigitTextWidth(const std::string& text, int scale);
