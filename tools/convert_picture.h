// One file of `mondrel convert`: the picture found in an OpenEXR file of
// any layout the reader takes, written again as an uncompressed single-part
// scanline file that the plug-in opens.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reader/exr_file.h"
#include "tools/file_bytes.h"


struct ConvertRequest {
  std::string layer;  // empty: the plain R, G, B (A), else V or Y
  std::string part;   // empty: the first part holding a picture; else an index or a name
};

// What was made of one file, for the report.
struct PictureCopy {
  std::string refusal;  // empty when `bytes` holds the copy
  std::string part;     // which part was taken, when the file has several
  std::vector<std::string> channels;          // taken, by their names in the source
  std::vector<std::string> droppedChannels;   // of the part taken
  std::vector<std::string> droppedAttributes;
  int32_t width = 0;
  int32_t height = 0;
  FileBytes bytes;  // the whole output file
};

// Makes the copy of the file whose bytes are `source`.
PictureCopy CopyPicture(const uint8_t* source, int64_t size, const ConvertRequest& request);

// The output's header must end within the bytes the plug-in reads of it.
constexpr int64_t kPlugInHeaderBytes = 16384;
