// The extraction before a launch: off the host's window thread, through a
// private folder, and skipped when the files an earlier launch extracted from
// the same, unchanged archive are all still there as it left them.
#pragma once
#include "archive/archive.h"

// Extracts archivePath into the profile's extraction folder, or finds its
// earlier extraction unchanged (see launch/extraction_record.h), and puts the
// path of the archive's first entry there into firstEntryPath (a 260-byte
// buffer). Results as ExtractThroughStaging's. The host's window keeps being
// painted meanwhile; nothing of the host is called.
ArchiveResult ExtractAtLaunch(const char* archivePath, char* firstEntryPath);
