// The host's current dataset, as its main window shows it.
#pragma once

// Sets datasetName from the widest visible "TComboBox" in the host's active
// window; leaves it as it was when there is none.
void FindActiveDatasetName();
