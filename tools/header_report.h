// A reader's account of an EXR header for the `mondrel` tool: what the
// plug-in's parser decided, and the details a person needs to understand
// why (the compression's name, the offending channel, the version flags).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct HeaderReport {
  int32_t status = 0;          // the plug-in parser's result
  int32_t width = 0;
  int32_t height = 0;
  int32_t compression = 0;
  uint32_t version = 0;
  bool headerEnds = false;     // the header ended within the first 16 KiB
  std::vector<std::string> channelNames;
  std::vector<int32_t> channelTypes;
};

// Parses the first bytes of a file (at most 16 KiB) with the plug-in's own
// parser and collects the channel list on the side.
HeaderReport InspectHeader(const uint8_t* bytes, int32_t byteCount);

// Why the plug-in refuses a file, with what to do about it; empty when it
// accepts the file.
std::string ExplainRefusal(const HeaderReport& report);

// Warnings for files the parser accepts but whose frames cannot decode.
std::vector<std::string> Warnings(const HeaderReport& report);

const char* CompressionName(int32_t compression);
const char* PixelTypeName(int32_t type);

// The widest picture whose first `channelCount` channels, each with its own
// sample size, the plug-in's chunk buffer holds.
int32_t WidestDecodableWidth(const std::vector<int32_t>& channelTypes, int32_t channelCount);
