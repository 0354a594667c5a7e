// What stopped an operation: what went wrong, the error number and the path
// concerned. The operations return it; the driver says it to the user.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace doppioni {

enum class FailureKind {
  NO_MEMORY,           // the table or its texts could not grow
  FOLDER_UNREADABLE,   // a folder could not be listed, or the work folder's path not read
  FOLDER_UNENTERABLE,  // the folder named on the command line could not be entered
  FOLDER_UNHELD,       // a folder could not be held open, or locked for the run
  TREE_HELD,           // another run holds the tree
  ENTRY_REFUSED,       // an entry could not be read, changed, deleted, moved or put back
  NAME_TAKEN,          // an entry could not go back under its name: another has it
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

// Nothing when error is 0; else the failure of that kind.
[[nodiscard]] inline std::optional<Failure> failureOf(FailureKind kind, int error,
                                                      std::string_view path = {}) {
  if (error == 0) return std::nullopt;
  return Failure{kind, error, std::string(path)};
}

}  // namespace doppioni
