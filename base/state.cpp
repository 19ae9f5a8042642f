#include "base/state.h"

PluginState gState;
