// The three exports and the static registration table.
#include "config/configure.h"
#include "plugin/plugin_table.h"

namespace {

const WideChar kDisplayName[] = MONDREL_WIDE("Mondrel");
// Description/pattern pairs, each NUL-terminated; the literal's own NUL
// ends the block with a second one.
const WideChar kFileFilter[] = MONDREL_WIDE("EXR File (*.exr)\0*.exr\0AllFile (*.*)\0*.*\0");
const WideChar kInformation[] = MONDREL_WIDE("Mondrel v0.4.0");

const PluginTable kPluginTable = {
    1,
    0,
    kDisplayName,
    kFileFilter,
    kInformation,
    OpenInput,
    CloseInput,
    GetInputInformation,
    ReadInputFrame,
    nullptr,
    ConfigurePlugin,
    nullptr,
    AnswerZero,
};

}  // namespace

extern "C" {

const PluginTable* GetInputPluginTable() { return &kPluginTable; }

bool InitializePlugin() { return true; }

void UninitializePlugin() {}

}
