#include "tools/digit_font.h"

namespace {

// One row a nibble; bit 2 is the left column.
const uint8_t kDigits[10][5] = {{7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7},
                                {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1},
                                {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};

}  // namespace

bool DigitTextCovers(const std::string& text, int x, int y, int scale) {
  if (x < 0 || y < 0 || scale < 1) return false;
  const int column = x / scale;
  const int row = y / scale;
  const size_t glyph = static_cast<size_t>(column / 4);
  if (row >= 5 || glyph >= text.size() || column % 4 == 3) return false;
  const char digit = text[glyph];
  if (digit < '0' || digit > '9') return false;
  return (kDigits[digit - '0'][row] >> (2 - column % 4)) & 1;
}

int DigitTextWidth(const std::string& text, int scale) {
  return text.empty() ? 0 : (static_cast<int>(text.size()) * 4 - 1) * scale;
}
