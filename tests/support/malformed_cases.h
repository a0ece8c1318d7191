// The malformed-file table: damaged and hostile files with what the
// plug-in must make of them. Driven through the plug-in's table entries,
// natively in-process and through the DLL under Wine.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "writer/exr_writer.h"
#include "test_files.h"

namespace exrtest {

enum class Outcome {
  kRefused,  // open gives null
  kNoFrame,  // open succeeds, every frame read gives 0
  kFrame,    // open succeeds, frame 0 decodes to `frame`
};

struct MalformedCase {
  std::string name;
  std::string expected;  // in words, for the report
  Outcome outcome;
  Bytes file;
  Bytes frame;  // with kFrame: the frame it decodes to
};

std::vector<MalformedCase> MalformedCases();

// The host's side of the table, whichever way the plug-in is reached.
struct HostEntries {
  std::function<void*(const WideString&)> open;
  std::function<bool(void*, int32_t* width, int32_t* height)> information;
  std::function<int32_t(void*, int32_t, uint8_t*)> read;
  std::function<void(void*)> close;
};

// Writes the case's file to `folder`, drives it, and describes what
// happened; `failure` is set when that differs from the case's outcome or
// anything was written past the frame.
std::string RunMalformedCase(const MalformedCase& c, const fs::path& folder, const HostEntries& host,
                             std::string* failure);

}  // namespace exrtest
