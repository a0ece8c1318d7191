// Without Windows there is no dialog to show; the entry still answers.
#include "config/configure.h"

bool ConfigurePlugin(void*, void*) { return true; }
