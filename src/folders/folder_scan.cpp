#include "folders/folders.h"

namespace doppioni {

int listFolders(RunContext&, const std::string&) { return 1; }
int computeFolderDepths(RunContext&) { return 1; }
int countFolderFiles(RunContext&) { return 1; }
int countBackslashes(std::string_view) { return 0; }
int countFilesInFolder(const std::string&) { return 0; }

}  // namespace doppioni
