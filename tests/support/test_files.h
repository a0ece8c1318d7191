// Temporary folders and files for tests, and paths in the plug-in's
// wide-string form.
#pragma once

#include <filesystem>
#include <string>

#include "writer/exr_writer.h"
#include "platform/platform.h"

namespace exrtest {

namespace fs = std::filesystem;
using WideString = std::basic_string<WideChar>;

// A fresh folder, removed with everything in it at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  fs::path operator/(const fs::path& name) const { return path_ / name; }

 private:
  fs::path path_;
};

void WriteBytes(const fs::path& file, const Bytes& bytes);
Bytes ReadBytes(const fs::path& file);
WideString WidePath(const fs::path& path);
// A name given in UTF-8, as a path.
fs::path Utf8Path(const std::string& utf8);

}  // namespace exrtest
