// Whole files in and out for `mondrel convert`: sources read at once through
// the plug-in's own way of opening files, and outputs that appear under
// their names whole or not at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/file_bytes.h"

// Reads the file at `path` whole. False with the system's reason.
bool ReadWholeFile(const std::string& path, FileBytes* bytes, std::string* error);

// Writes `size` bytes to a file that must not exist yet. False with the system's
// reason, and nothing left at `path`.
bool WriteNewFile(const std::string& path, const uint8_t* bytes, size_t size, std::string* error);

// Renames `from` to `to`. An existing `to` is replaced only when `replace`
// is set; otherwise the move fails and says so.
bool MoveIntoPlace(const std::string& from, const std::string& to, bool replace, std::string* error);

void RemoveFile(const std::string& path);

// Temporary files that an interrupt (Ctrl-C, a terminal closed) removes
// before the tool ends, one slot for each worker.
constexpr int kTemporarySlots = 16;
void NoteTemporaryFile(int slot, const std::string& path);
void ForgetTemporaryFile(int slot);
