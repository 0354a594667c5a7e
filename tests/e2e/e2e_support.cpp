#include "e2e/e2e_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace doppioni::testing {
namespace {

// A copy of the program that any user can start: the build itself may sit
// below a folder that an unprivileged user cannot enter (root's home in CI).
class ReachableCopy {
 public:
  ReachableCopy() {
    namespace fs = std::filesystem;
    folder_ = fs::temp_directory_path() / ("doppioni-bin-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    fs::permissions(folder_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
    path_ = (folder_ / "doppioni").string();
    fs::copy_file(DOPPIONI_BINARY, path_, fs::copy_options::overwrite_existing);
  }
  ~ReachableCopy() {
    std::error_code error;
    std::filesystem::remove_all(folder_, error);
  }
  const std::string& path() const { return path_; }

 private:
  std::filesystem::path folder_;
  std::string path_;
};

}  // namespace

ProgramRun runProgram(const std::string& dir, std::string_view input, bool unprivileged) {
  char inName[] = "/tmp/doppioni-in-XXXXXX";
  char outName[] = "/tmp/doppioni-out-XXXXXX";
  int in = ::mkstemp(inName);
  int out = ::mkstemp(outName);
  ProgramRun run;
  if (in < 0 || out < 0) return run;
  if (::write(in, input.data(), input.size()) != static_cast<ssize_t>(input.size())) return run;
  ::lseek(in, 0, SEEK_SET);

  std::vector<std::string> args;
  if (unprivileged && ::geteuid() == 0) {
    static const ReachableCopy copy;
    args = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--", copy.path()};
  } else {
    args.push_back(DOPPIONI_BINARY);
  }

  pid_t child = ::fork();
  if (child == 0) {
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(out, STDERR_FILENO);
    if (::chdir(dir.c_str()) != 0) ::_exit(121);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(122);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  ::close(in);
  ::close(out);
  run.output = readFile(outName);
  ::unlink(inName);
  ::unlink(outName);
  return run;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace doppioni::testing
