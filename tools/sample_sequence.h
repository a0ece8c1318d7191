#pragma once

#include <string>

// Writes `frames` uncompressed RGBA HALF frames, sample_0001.exr on, into
// `folder`: a moving pattern with the frame number drawn in. False with
// `error` set when a file cannot be written.
bool WriteSampleSequence(const std::string& folder, int frames, int width, int height, std::string* error);
