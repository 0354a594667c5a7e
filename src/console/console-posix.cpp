// POSIX console: VT escape sequences on a terminal, nothing but text otherwise.
//
// A terminal cannot tell where its cursor is without a round trip, and its
// rows move as it scrolls; so the device keeps the cursor's place itself,
// counting the lines and wraps of everything it prints, in rows of the whole
// output as a Windows screen buffer counts them, and moves the cursor
// relative to where it stands.
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "console/console.h"

namespace doppioni {
namespace {

constexpr std::size_t FLUSH_AT = 1 << 16;

// The terminal settings to put back if a signal ends the process while a key
// is awaited. A signal handler can reach nothing else, so this one piece of
// state is file-wide.
struct termios savedTermios;
volatile sig_atomic_t termiosSaved = 0;

void restoreTerminalAndReraise(int sig) {
  if (termiosSaved) ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTermios);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

constexpr int RESTORED_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

class PosixConsole : public ConsoleDevice {
 public:
  PosixConsole()
      : outTerminal_(::isatty(STDOUT_FILENO) == 1), inTerminal_(::isatty(STDIN_FILENO) == 1) {
    buffer_.reserve(FLUSH_AT + 4096);
    readWidth();
  }
  ~PosixConsole() override { flush(); }

  bool isTerminal() const override { return outTerminal_; }

  void write(std::string_view text) override {
    buffer_.append(text);
    if (outTerminal_) track(text);
    if (buffer_.size() >= FLUSH_AT) flush();
  }

  void flush() override {
    const char* data = buffer_.data();
    std::size_t left = buffer_.size();
    while (left > 0) {
      ssize_t done = ::write(STDOUT_FILENO, data, left);
      if (done < 0) {
        if (errno == EINTR) continue;
        break;  // nowhere left to show it; the run goes on
      }
      data += done;
      left -= static_cast<std::size_t>(done);
    }
    buffer_.clear();
  }

  void gotoXY(int x, int y) override {
    if (!outTerminal_) return;
    readWidth();
    if (y < row_) {
      sequence(row_ - y, 'A');
    } else {
      for (int down = y - row_; down > 0; --down) write("\n");  // scrolls when needed
    }
    sequence(x, 'G');
    row_ = y;
    column_ = x;
    wrapPending_ = false;
  }

  int cursorRow() override { return outTerminal_ ? row_ : 1; }

  void clearScreen() override {
    if (!outTerminal_) return;
    readWidth();
    buffer_.append("\x1b[H\x1b[2J\x1b[3J");  // home, screen, scrollback
    row_ = 1;
    column_ = 1;
    wrapPending_ = false;
  }

  void setCursorShape(int code) override {
    if (!outTerminal_) return;
    if (code == CURSOR_HIDDEN) {
      buffer_.append("\x1b[?25l");
    } else if (code == CURSOR_BLOCK) {
      buffer_.append("\x1b[2 q\x1b[?25h");
    } else {
      buffer_.append("\x1b[0 q\x1b[?25h");
    }
  }

  void dropTypedKeys() override {
    if (inTerminal_) ::tcflush(STDIN_FILENO, TCIFLUSH);
  }

  int readKey() override {
    flush();
    unsigned char key = 0;
    if (!inTerminal_) return readByte(key) ? key : -1;

    struct termios raw;
    if (::tcgetattr(STDIN_FILENO, &savedTermios) != 0) return readByte(key) ? key : -1;
    termiosSaved = 1;
    struct sigaction restore {
    }, previous[std::size(RESTORED_SIGNALS)];
    restore.sa_handler = restoreTerminalAndReraise;
    for (std::size_t i = 0; i < std::size(RESTORED_SIGNALS); ++i) {
      ::sigaction(RESTORED_SIGNALS[i], &restore, &previous[i]);
    }
    raw = savedTermios;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    bool got = readByte(key);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTermios);
    termiosSaved = 0;
    for (std::size_t i = 0; i < std::size(RESTORED_SIGNALS); ++i) {
      ::sigaction(RESTORED_SIGNALS[i], &previous[i], nullptr);
    }
    return got ? key : -1;
  }

 private:
  static bool readByte(unsigned char& key) {
    for (;;) {
      ssize_t got = ::read(STDIN_FILENO, &key, 1);
      if (got == 1) return true;
      if (got < 0 && errno == EINTR) continue;
      return false;
    }
  }

  void readWidth() {
    struct winsize size {};
    if (outTerminal_ && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
      width_ = size.ws_col;
    }
  }

  void sequence(int n, char final) {
    buffer_.append("\x1b[");
    buffer_.append(std::to_string(n));
    buffer_.push_back(final);
  }

  // Follows the cursor through printed text as a VT terminal moves it: a
  // character in the last column leaves the cursor there until the next one
  // wraps it, and a line feed goes to column 1 of the next row.
  void track(std::string_view text) {
    for (unsigned char c : text) {
      if (c == '\n') {
        ++row_;
        column_ = 1;
        wrapPending_ = false;
      } else if (c == '\r') {
        column_ = 1;
        wrapPending_ = false;
      } else if (c >= 0x20 && (c & 0xC0) != 0x80 && c != 0x7f) {  // one cell per character
        if (wrapPending_) {
          ++row_;
          column_ = 1;
          wrapPending_ = false;
        }
        if (column_ >= width_) {
          wrapPending_ = true;
        } else {
          ++column_;
        }
      }
    }
  }

  bool outTerminal_;
  bool inTerminal_;
  std::string buffer_;
  int width_ = 80;
  int row_ = 1;
  int column_ = 1;
  bool wrapPending_ = false;
};

constexpr int HELD_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
volatile sig_atomic_t heldSignal = 0;
struct sigaction handlersBeforeHold[std::size(HELD_SIGNALS)];

void noteSignal(int sig) {
  if (heldSignal == 0) heldSignal = sig;
}

}  // namespace

std::unique_ptr<ConsoleDevice> openStandardConsole() {
  return std::make_unique<PosixConsole>();
}

void holdInterrupts() {
  heldSignal = 0;
  struct sigaction note {};
  note.sa_handler = noteSignal;
  sigemptyset(&note.sa_mask);
  for (std::size_t i = 0; i < std::size(HELD_SIGNALS); ++i) {
    ::sigaction(HELD_SIGNALS[i], &note, &handlersBeforeHold[i]);
  }
}

int heldInterrupt() {
  return heldSignal;
}

void releaseInterrupts() {
  for (std::size_t i = 0; i < std::size(HELD_SIGNALS); ++i) {
    ::sigaction(HELD_SIGNALS[i], &handlersBeforeHold[i], nullptr);
  }
  int sig = heldSignal;
  heldSignal = 0;
  if (sig != 0) ::raise(sig);  // the handler it would have met, or the default: the end
}

}  // namespace doppioni
