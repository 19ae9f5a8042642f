// Binding a DLL's export to a typed pointer, by name or by ordinal
// (MAKEINTRESOURCEA). Shared by the tests, the demo host and the benchmarks.
#pragma once
#include <windows.h>

template <typename T>
bool Bind(HMODULE module, const char* name, T* slot) {
  *slot = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return *slot != nullptr;
}
