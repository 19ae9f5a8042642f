// The merge of a run's lines with the earlier relation file.
#pragma once

#include "relation/relation_file.h"

// Carries over up to about maxLines of the previous file's lines whose source
// this run did not write (under any spelling) and whose file is not known to
// be gone. True once every earlier line was looked at; false while lines
// remain, while another program holds the previous file, or when the merge
// failed (relation->failed set), as it does when the previous file exists but
// cannot be read.
bool StepRelationMerge(RelationFile* relation, int maxLines);

// Opens the earlier file and sorts what this run wrote, to be looked up once
// per earlier line. False while the file is held or when the merge failed.
bool BeginRelationMerge(RelationFile* relation);

// Carries over the rest of the earlier lines without looking at their files:
// only those this run wrote under the folded spelling are dropped. False
// (relation->failed set) when they could not be read or written.
bool CarryRestOfEarlierLines(RelationFile* relation);
