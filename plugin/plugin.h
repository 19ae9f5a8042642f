// The plug-in's lifecycle beneath the exports: what the library entry routine
// does, and the global settings file.
#pragma once
#include <windows.h>

// What the library entry routine does on attach and detach; the tests call them
// for a plug-in linked into their own executable.
void PluginAttach(HINSTANCE instance);
void PluginDetach();

int LoadGlobalSettings();
int SaveGlobalSettings();
