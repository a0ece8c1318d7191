// A reader's account of an EXR header for the `mondrel` tool: what the
// plug-in's parser decided, and the details a person needs to understand
// why (the compression's name, the offending channel, the version flags).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reader/exr_header.h"

struct HeaderReport {
  int32_t status = 0;          // the plug-in parser's result
  int32_t width = 0;
  int32_t height = 0;
  int32_t compression = 0;
  uint32_t version = 0;
  bool headerEnds = false;     // the header ended within the first 16 KiB
  int32_t bytesRead = 0;
  int64_t fileSize = -1;       // -1: not known
  std::vector<std::string> channelNames;
  std::vector<int32_t> channelTypes;
  // The same bytes walked attribute by attribute as the parser reads them,
  // for the reasons.
  exrfile::WalkEnd walkEnd = exrfile::WalkEnd::kBytesEnded;
  int64_t walkEndOffset = 0;
  std::vector<exrfile::Attribute> attributes;  // in file order, the last one where the walk ended
  bool channelsSeen = false;
  // Standard attributes whose declared size is not the size of their type.
  std::vector<std::string> sizeMismatches;
};

// Parses the first bytes of a file (at most 16 KiB) with the plug-in's own
// parser, and walks the same bytes for the facts behind its decision.
HeaderReport InspectHeader(const uint8_t* bytes, int32_t byteCount, int64_t fileSize = -1);


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
