// The shell's folder browser for one of the settings dialog's folder edit boxes.
#pragma once
#include <windows.h>

#include "base/text.h"

// Opens the browser at the edit box's folder (or, when that is no directory,
// at rememberedFolder, a kPathSize buffer). A chosen folder, with a final "\",
// goes into both the edit box and rememberedFolder; anything else changes nothing.
void PickFolder(HWND owner, const char* prompt, const char* caption, char* rememberedFolder, int editId);
