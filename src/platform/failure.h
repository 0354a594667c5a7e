// What stopped an operation: what went wrong, the error number and the path
// concerned. The operations return it; the driver says it to the user.
#pragma once

#include <string>

namespace doppioni {

enum class FailureKind {
  NO_MEMORY,           // the table or its texts could not grow
  FOLDER_UNREADABLE,   // a folder could not be listed
  FOLDER_UNENTERABLE,  // the folder named on the command line could not be entered
  REPORT_CREATE,       // a report could not be made
  REPORT_RESERVE,      // no room on disk could be set aside for it
  REPORT_WRITE,        // its text could not be written
  REPORT_CLOSE,        // it could not be trimmed or closed
};

struct Failure {
  FailureKind kind;
  int error = 0;     // the platform's error number, 0 when there is none
  std::string path;  // the folder or file concerned, empty when none
};

inline Failure noMemory() {
  return Failure{FailureKind::NO_MEMORY, 0, {}};
}

}  // namespace doppioni
