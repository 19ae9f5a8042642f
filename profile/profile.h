// The current dataset's name and its profile file ("<dataDir><dataset>.fol").
#pragma once
#include <cstddef>

void FindActiveDatasetName();
void LoadDatasetProfile();
// 0 when the file was written whole and closed; -1 otherwise (the dataset name
// cannot name a file of ours, or the file cannot be created or written).
int SaveDatasetProfile();

// "<dataDir><datasetName><extension>" into path. False, with path empty, when the
// name would lead outside the data directory (a ".." component, a drive colon, a
// leading "\" or "/") or the path does not fit; such a dataset has no file.
bool DatasetFilePath(char* path, size_t size, const char* extension);
