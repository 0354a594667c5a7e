#include "e2e/e2e_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>
#include <vector>

namespace doppioni::testing {

namespace fs = std::filesystem;

// A copy of the program any user can start, wherever the build sits.
struct ReachableCopy {
  fs::path folder = fs::temp_directory_path() / ("doppioni-bin-" + std::to_string(::getpid()));
  std::string path = (folder / "doppioni").string();
  std::error_code error;
  ReachableCopy() {
    fs::create_directories(folder);
    fs::permissions(folder, static_cast<fs::perms>(0755));
    fs::copy_file(DOPPIONI_BINARY, path, fs::copy_options::overwrite_existing);
  }
  ~ReachableCopy() { fs::remove_all(folder, error); }
};

const std::string& reachableProgram() {
  static const ReachableCopy program;
  return program.path;
}

ProgramRun runProgram(const std::string& dir, std::string_view input, bool unprivileged,
                      const std::function<void()>& whileAsked) {
  const std::string& program = reachableProgram();
  char outName[] = "/tmp/doppioni-out-XXXXXX";
  int out = ::mkstemp(outName), keys[2];
  if (out < 0 || ::pipe2(keys, O_CLOEXEC) != 0) return {};
  std::signal(SIGPIPE, SIG_IGN);  // the program may end before it reads every key
  std::vector<const char*> argv = {
      "/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--",
      program.c_str(),    nullptr};
  if (!unprivileged || ::geteuid() != 0) argv.erase(argv.begin(), argv.begin() + 5);
  pid_t child = ::fork();
  if (child == 0) {
    ::dup2(keys[0], STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(out, STDERR_FILENO);
    if (::chdir(dir.c_str()) == 0) ::execv(argv[0], const_cast<char* const*>(argv.data()));
    ::_exit(122);
  }
  ::close(keys[0]);
  for (int wait = 0; whileAsked && wait < 1500; ++wait) {
    if (readFile(outName).find("(s/n) ") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (whileAsked) whileAsked();
  [[maybe_unused]] auto typed = ::write(keys[1], input.data(), input.size());
  ::close(keys[1]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(out);
  ProgramRun run{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
                 readFile(outName)};
  ::unlink(outName);
  return run;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string withoutTime(const std::string& report) {
  static const std::regex stamp("Compilato il \\d\\d/\\d\\d/\\d{4} alle \\d\\d:\\d\\d:\\d\\d");
  return std::regex_replace(report, stamp, "Compilato il <ora>");
}

}  // namespace doppioni::testing
