// `mondrel convert` against the OpenEXR library doing the same work.
#pragma once

#include <filesystem>
#include <string>

// Rows for one 1920x1080 RGBA HALF ZIP file and a 100-frame 960x540 RGBA
// HALF ZIP sequence, with one thread and with two.
void ConvertCases(const std::filesystem::path& folder);
