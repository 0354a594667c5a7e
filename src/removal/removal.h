// What changes the disk: the deletion of the marked files and the removal of
// the folders left without files, each with the report of every attempt.
#pragma once

#include "inventory/inventory.h"

namespace doppioni {

// Deletes the marked files that are unchanged since the scan (a copy only
// while the copy kept for it is still there, unchanged) and lists every
// attempt in "Elenco_files_cancellati.txt", each line written before more
// than one attempt a worker thread follows it. 0; -1 when the list cannot be created or its room
// on disk reserved, in which case nothing is deleted, or when a line could not
// be written, which stops the deletions there (the message is on the console).
int deleteMarkedFiles(RunContext& ctx);

// Removes, deepest first, every folder with fileCount 0, and reports each
// attempt and the totals. 1; -1 when a line of the report could not be
// written (the removals stopped there; the message is on the console).
int removeEmptyFolders(RunContext& ctx);

}  // namespace doppioni
