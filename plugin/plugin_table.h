// The plug-in's face toward the host: the registration table, the host's
// clip-description record, and the entries the table points at.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// The host's clip description, as far as the plug-in writes it. Bytes 28 to
// 31 and from 44 on belong to the host and are never written.
struct InputInfo {
  int32_t flags;       // 1: sequence, 0x11: single image
  int32_t rate;        // frame-rate numerator
  int32_t scale;       // frame-rate denominator
  int32_t frameCount;
  const void* format;  // the handle's bitmap header
  int32_t formatSize;
  int32_t hostOwned28;
  void* zeroed32;
  int32_t zeroed40;
};

static_assert(offsetof(InputInfo, frameCount) == 12, "InputInfo layout");
static_assert(offsetof(InputInfo, format) == 16, "InputInfo layout");
static_assert(offsetof(InputInfo, formatSize) == 24, "InputInfo layout");
static_assert(offsetof(InputInfo, zeroed32) == 32, "InputInfo layout");
static_assert(offsetof(InputInfo, zeroed40) == 40, "InputInfo layout");

struct PluginTable {
  int32_t flags;
  int32_t reserved;
  const WideChar* displayName;
  const WideChar* fileFilter;
  const WideChar* information;
  void* (*open)(const WideChar* path);
  bool (*close)(void* handle);
  bool (*getInformation)(void* handle, InputInfo* info);
  int32_t (*readFrame)(void* handle, int32_t frame, void* buffer);
  void* empty64;
  bool (*configure)(void* parentWindow, void* instance);
  void* empty80;
  int32_t (*twelfth)();
};

static_assert(offsetof(PluginTable, open) == 32, "PluginTable layout");
static_assert(offsetof(PluginTable, configure) == 72, "PluginTable layout");
static_assert(sizeof(PluginTable) == 96, "PluginTable layout");

// The frame rate of every clip: 30/1.
struct FrameSettings {
  int32_t rate;
  int32_t scale;
};
extern FrameSettings CurrentFrameSettings;

// Table entries (see input_handle.cpp and config/).
void* OpenInput(const WideChar* path);
bool CloseInput(void* handle);
bool GetInputInformation(void* handle, InputInfo* info);
int32_t ReadInputFrame(void* handle, int32_t frame, void* buffer);
int32_t AnswerZero();

extern "C" {
const PluginTable* GetInputPluginTable();
bool InitializePlugin();
void UninitializePlugin();
}
