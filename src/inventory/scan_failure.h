// What stopped the table's growth, the scan or the folder list: what went
// wrong, the error number and the folder. The driver says it to the user.
#pragma once

#include <string>

namespace doppioni {

enum class ScanFailureKind {
  NO_MEMORY,          // the table or its texts could not grow
  FOLDER_UNREADABLE,  // a folder could not be listed
};

struct ScanFailure {
  ScanFailureKind kind;
  int error = 0;     // the platform's error number, 0 when there is none
  std::string path;  // the folder concerned, empty when none
};

inline ScanFailure noMemory() {
  return ScanFailure{ScanFailureKind::NO_MEMORY, 0, {}};
}

}  // namespace doppioni
