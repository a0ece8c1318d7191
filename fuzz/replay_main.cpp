// Replays files through a fuzz target without libFuzzer, so that any input
// found reproduces in an ordinary build.
//   replay CORPUS... [--regressions FOLDER]
// Corpus inputs must only run through. A regression input lies in a folder
// named after the outcome it must come to ("refused", "no-frame", ...), and
// the replay fails when it comes to another. A replay that finds no input
// at all fails too: a missing folder must not pass for a clean run.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

void Replay(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LastFuzzOutcome = "";
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

std::vector<fs::path> FilesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file()) files.push_back(it->path());
  }
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  int replayed = 0;
  int wrong = 0;
  for (int i = 1; i < argc; ++i) {
    const bool regressions = std::strcmp(argv[i], "--regressions") == 0 && i + 1 < argc;
    if (regressions) ++i;
    for (const fs::path& file : FilesIn(argv[i])) {
      Replay(file);
      ++replayed;
      if (!regressions) continue;
      const std::string expected = file.parent_path().filename().string();
      if (expected != LastFuzzOutcome) {
        std::fprintf(stderr, "%s: %s, expected %s\n", file.string().c_str(),
                     *LastFuzzOutcome ? LastFuzzOutcome : "no outcome", expected.c_str());
        ++wrong;
      }
    }
  }
  std::printf("replayed %d inputs, %d with another outcome than expected\n", replayed, wrong);
  return replayed > 0 && wrong == 0 ? 0 : 1;
}
