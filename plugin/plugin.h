// The plug-in's lifecycle beneath the exports: what the library entry routine
// does, and the global settings file.
#pragma once
#include <windows.h>

// What the library entry routine does on attach (it records the module handle,
// nothing more); the tests call it for a plug-in linked into their own executable.
void PluginAttach(HINSTANCE instance);

int LoadGlobalSettings();
int SaveGlobalSettings();
