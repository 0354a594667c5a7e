// Runs one command and measures it: wall time on the monotonic clock, from
// just before the fork to the moment wait4 returns, and the child's peak
// resident size.
//
//   bench_runner [--cwd DIR] [--stdin FILE] [--stdout FILE] [--stderr FILE]
//                [--result FILE] -- PROGRAM [ARGS...]
//
// Streams that are not redirected are inherited (so inside a terminal the
// command writes to the terminal). Prints, or writes to the result file:
//
//   wall_seconds max_rss_bytes exit_status
//
// exit_status is the command's exit code, or 128 + signal number. The result
// file is written whole under a temporary name and then renamed, so whoever
// waits for it never reads half a line. The runner's own status is 0 when it
// measured the command, 2 on bad usage, 3 when the command could not be run.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

struct Options {
  const char* cwd = nullptr;
  const char* in = nullptr;
  const char* out = nullptr;
  const char* err = nullptr;
  const char* result = nullptr;
  char** command = nullptr;
};

int usage() {
  std::fprintf(stderr,
               "usage: bench_runner [--cwd DIR] [--stdin FILE] [--stdout FILE] [--stderr FILE]\n"
               "                    [--result FILE] -- PROGRAM [ARGS...]\n");
  return 2;
}

bool parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--") {
      if (i + 1 >= argc) return false;
      options.command = argv + i + 1;
      return true;
    }
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    if (arg == "--cwd") {
      options.cwd = value;
    } else if (arg == "--stdin") {
      options.in = value;
    } else if (arg == "--stdout") {
      options.out = value;
    } else if (arg == "--stderr") {
      options.err = value;
    } else if (arg == "--result") {
      options.result = value;
    } else {
      return false;
    }
  }
  return false;
}

// In the child: only async-signal-safe calls until exec.
void failChild(const char* what) {
  const char* reason = std::strerror(errno);
  (void)!::write(STDERR_FILENO, "bench_runner: ", 14);
  (void)!::write(STDERR_FILENO, what, std::strlen(what));
  (void)!::write(STDERR_FILENO, ": ", 2);
  (void)!::write(STDERR_FILENO, reason, std::strlen(reason));
  (void)!::write(STDERR_FILENO, "\n", 1);
  ::_exit(127);
}

void redirect(const char* path, int flags, int target) {
  if (path == nullptr) return;
  int fd = ::open(path, flags | O_CLOEXEC, 0644);
  if (fd < 0) failChild(path);
  if (::dup2(fd, target) < 0) failChild("dup2");
  ::close(fd);
}

double seconds(const timespec& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

int report(const Options& options, const std::string& line) {
  if (options.result == nullptr) {
    std::fputs(line.c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 3;
  }
  std::string temporary = std::string(options.result) + ".part";
  FILE* file = std::fopen(temporary.c_str(), "w");
  if (file == nullptr) {
    std::fprintf(stderr, "bench_runner: %s: %s\n", temporary.c_str(), std::strerror(errno));
    return 3;
  }
  bool written = std::fputs(line.c_str(), file) >= 0;
  written = std::fclose(file) == 0 && written;
  if (!written || std::rename(temporary.c_str(), options.result) != 0) {
    std::fprintf(stderr, "bench_runner: %s: %s\n", options.result, std::strerror(errno));
    return 3;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, options)) return usage();

  timespec start{}, end{};
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t child = ::fork();
  if (child < 0) {
    std::perror("bench_runner: fork");
    return 3;
  }
  if (child == 0) {
    if (options.cwd != nullptr && ::chdir(options.cwd) != 0) failChild(options.cwd);
    redirect(options.in, O_RDONLY, STDIN_FILENO);
    redirect(options.out, O_WRONLY | O_CREAT | O_TRUNC, STDOUT_FILENO);
    redirect(options.err, O_WRONLY | O_CREAT | O_TRUNC, STDERR_FILENO);
    ::execvp(options.command[0], options.command);
    failChild(options.command[0]);
  }

  int status = 0;
  struct rusage usage {};
  pid_t waited;
  do {
    waited = ::wait4(child, &status, 0, &usage);
  } while (waited < 0 && errno == EINTR);
  ::clock_gettime(CLOCK_MONOTONIC, &end);
  if (waited < 0) {
    std::perror("bench_runner: wait4");
    return 3;
  }

  int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  char line[128];
  std::snprintf(line, sizeof line, "%.6f %ld %d\n", seconds(end) - seconds(start),
                usage.ru_maxrss * 1024L, exitStatus);
  return report(options, line);
}
