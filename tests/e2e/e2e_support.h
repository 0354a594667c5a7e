// Running the real program on temporary trees.
#pragma once

#include <string>
#include <string_view>

namespace doppioni::testing {

struct ProgramRun {
  int status = -1;     // exit status as a shell sees it (255 for -1)
  std::string output;  // everything written to standard output
};

// Runs doppioni with dir as its working directory and input as its standard
// input (a file, not a terminal; the keys are its bytes). With unprivileged
// set, a run as root drops to the user "nobody", since root reads every folder.
ProgramRun runProgram(const std::string& dir, std::string_view input, bool unprivileged = false);

// The whole content of a file; empty when it cannot be read.
std::string readFile(const std::string& path);

}  // namespace doppioni::testing
