// The folder stage: the folder table filled with every folder below the
// working directory, the folder report, and the removal of the folders left
// without files.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "inventory/inventory.h"

namespace doppioni {

// Appends to the folder table a record for every folder below path, in
// pre-order, with its depth, but the options' excluded folders and all below
// them; the tree is reached by reachedBy (by path itself when empty).
// FOLDER_UNREADABLE when path itself cannot be listed; NO_MEMORY when the
// table cannot grow (no more records are added then).
[[nodiscard]] std::optional<Failure> listFolders(RunContext& ctx, const std::string& path,
                                                 const std::string& reachedBy = {},
                                                 const Options& options = {});
// The number of path separators in path.
int countBackslashes(std::string_view path);

// Sorts the folder records deepest first.
void sortFoldersByDepth(RunContext& ctx);
int compareFolderDepth(const FolderRecord& a, const FolderRecord& b);
// Writes "Rapporto_cartelle.txt"; the failure when it could not be written
// whole.
[[nodiscard]] std::optional<Failure> writeFolderReport(const RunContext& ctx);

// Removes, deepest first, every folder that holds no file, and reports each
// attempt and the totals. 0; -1 when the report cannot be created (nothing
// is removed), when a line of it could not be written or when an interrupt
// came (the removals stopped there); the message is on the console.
[[nodiscard]] int removeEmptyFolders(RunContext& ctx, const BeforeAct& beforeEach = {});

}  // namespace doppioni
