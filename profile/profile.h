// The current dataset's files: its profile file ("<dataDir><dataset>.fol") and
// the names of the others.
#pragma once
#include <cstddef>

// The profile file: headerSize, romFolder, depthChoice, extractOnLaunch and
// extractFolder back to back, 4 + 260 + 4 + 4 + 260 bytes.
constexpr size_t kProfileFileSize = 532;

// Replaces the profile values in force with the dataset's profile file, when
// there is one.
void LoadDatasetProfile();
// 0 when the file was written whole and closed; -1 otherwise (the dataset name
// cannot name a file of ours, or the file cannot be created or written).
int SaveDatasetProfile();

// "<dataDir><datasetName><extension>" into path. False, with path empty, when the
// name would lead outside the data directory (a ".." component, a drive colon, a
// leading "\" or "/"), names a device in any component (CON, NUL, COM1, aux.x,
// ...) or the path does not fit; such a dataset has no file.
bool DatasetFilePath(char* path, size_t size, const char* extension);
