// Shared by the fuzz targets that go through files: a private folder for
// the files, and the plug-in's table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "plugin/plugin_table.h"

// Writes `size` bytes to `name` inside the target's folder; returns its
// path as the plug-in's wide string.
std::basic_string<WideChar> WriteFuzzFile(const char* name, const uint8_t* data, size_t size);

void RemoveFuzzFile(const char* name);

// What the last input came to, for replays that check a regression input
// against the outcome its folder names: "refused" (open gave null),
// "no-frame" (opened, no frame decoded), "frames" (a frame decoded),
// "unread" (opened, frames too large to read here); for the parser alone
// "refused" or "accepted".
extern const char* LastFuzzOutcome;

// Opens, asks for information, reads the given frames and closes, as a
// host does; checks what must always hold.
void DriveHandle(const std::basic_string<WideChar>& path, const int32_t* frames, int frameCount);
