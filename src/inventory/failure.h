// What stopped an operation: what went wrong, the error number and the path
// it concerns. The operation returns it; the driver says it to the user.
#pragma once

#include <string>

namespace doppioni {

enum class FailureKind {
  NO_MEMORY,          // the table or its texts could not grow
  FOLDER_UNREADABLE,  // a folder could not be listed
};

struct Failure {
  FailureKind kind;
  int error = 0;     // the platform's error number, 0 when there is none
  std::string path;  // the folder concerned, empty when none
};

inline Failure noMemory() {
  return Failure{FailureKind::NO_MEMORY, 0, {}};
}

}  // namespace doppioni
