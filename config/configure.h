// The configure entry: a modal dialog that says there is nothing to set.
#pragma once

// Shows the "CONFIG" dialog of `instance`, owned by `parentWindow`, and
// returns true once it has closed, whatever happened.
bool ConfigurePlugin(void* parentWindow, void* instance);
