// B44 packs a channel marked perceptually linear as exp(x / 8) of its
// values, which suits the packing's steps; decoding takes 8 log(y) of each.
#pragma once

#include <cstdint>

namespace exrfile {

// Replaces each of the 16 HALF values of a block by 8 log of it (0 for
// negative and non-finite values), as a HALF rounded to nearest.
void LinearFromB44(uint16_t s[16]);

// Rounds a float to the nearest HALF, ties to even, as the format's
// writers convert.
uint16_t HalfFromFloat(float value);

}  // namespace exrfile
