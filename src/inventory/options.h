// What the command line asks of a run beyond its folder: the folders whose
// copies stay, the folders left out, and where the marked files go instead
// of being deleted. Made by the command line, handed to the run and to the
// phases that need it; left empty, the run is the run without options.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace doppioni {

struct Options {
  // The identities of the folders (--tieni) whose copies stay in preference
  // to the first in table order: a folder of the tree is one of them when
  // the walk finds it has such an identity, never by a path or a link.
  std::vector<FileId> keptFolders;
  // Folders of these names (--escludi) are never walked: byte for byte.
  std::vector<std::string> excludedNames;
  // Where the marked files are moved (--sposta-in); not open: they are deleted.
  HeldFolder moveTo;

  bool keeps(const FileId& folder) const {
    return folder.known() &&
           std::find(keptFolders.begin(), keptFolders.end(), folder) != keptFolders.end();
  }
  bool moves() const { return moveTo.folder.isOpen(); }
};

}  // namespace doppioni
