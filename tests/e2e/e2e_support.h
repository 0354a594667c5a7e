// Running the real program on temporary trees.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace doppioni::testing {

struct ProgramRun {
  int status = -1;     // exit status as a shell sees it (255 for -1)
  std::string output;  // everything written to standard output and error
};

// Runs doppioni in dir with input on a pipe as its standard input (keys are
// its bytes). With whileAsked, the keys wait until the question is shown and
// whileAsked has run. Unprivileged, a run as root drops to the user "nobody",
// since root reads every folder.
ProgramRun runProgram(const std::string& dir, std::string_view input, bool unprivileged = false,
                      const std::function<void()>& whileAsked = {});

// A copy of the program that any user, nobody included, can start.
const std::string& reachableProgram();

std::string readFile(const std::string& path);  // empty when it cannot be read

// A report with its timestamp in a fixed form: "Compilato il <ora>".
std::string withoutTime(const std::string& report);

}  // namespace doppioni::testing
