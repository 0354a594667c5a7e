// POSIX console: VT escape sequences on a terminal, nothing but text otherwise.
//
// A terminal cannot tell where its cursor is without a round trip, and its
// rows move as it scrolls; so the device keeps the cursor's place itself,
// counting the lines and wraps of everything it prints, in rows of the whole
// output as a Windows screen buffer counts them, and moves the cursor
// relative to where it stands.
//
// While standard input is a terminal, the whole run has it without echo and
// without line editing, so that keys typed while the program works neither
// show up in its screen nor wait for the shell; signals still work. Every way
// out gives the terminal back as it was, a stop (Ctrl-Z) too, and a
// continuation takes it again.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "console/console.h"

namespace doppioni {
namespace {

constexpr std::size_t FLUSH_AT = 1 << 16;

// What the signal handlers reach: the terminal as the user had it and as the
// run wants it, and how many times the process was continued after a stop
// (with a pipe that wakes a key read when it is).
struct termios userTermios;
struct termios runTermios;
volatile sig_atomic_t terminalTaken = 0;
volatile sig_atomic_t continuations = 0;
int wakeRead = -1;
int wakeWrite = -1;

bool inForeground() {
  return ::tcgetpgrp(STDIN_FILENO) == ::getpgrp();
}

// Gives the terminal back as the user had it; what was typed during the run
// goes with it, so that none of it reaches the shell. From the background
// the terminal is not ours to set (the shell has it, in its own mode).
void giveTerminalBack() {
  if (terminalTaken && inForeground()) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &userTermios);
}

void installHandler(int sig, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  ::sigaction(sig, &action, nullptr);
}

void endBySignal(int sig) {
  giveTerminalBack();
  ::signal(sig, SIG_DFL);
  ::raise(sig);  // delivered when this returns: the process ends by it
}

void stopBySignal(int) {
  int savedErrno = errno;
  giveTerminalBack();
  ::signal(SIGTSTP, SIG_DFL);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTSTP);
  ::pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
  ::raise(SIGTSTP);  // stopped here until continued
  installHandler(SIGTSTP, stopBySignal);
  errno = savedErrno;
}

void continueAfterStop(int) {
  int savedErrno = errno;
  if (terminalTaken && inForeground()) ::tcsetattr(STDIN_FILENO, TCSANOW, &runTermios);
  continuations = continuations + 1;
  [[maybe_unused]] auto woken = ::write(wakeWrite, "c", 1);
  errno = savedErrno;
}

constexpr int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Takes the terminal for the run and sets the handlers that give it back.
// A signal the process was started ignoring stays ignored.
void takeTerminal(bool inTerminal) {
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0) {
    wakeRead = wake[0];
    wakeWrite = wake[1];
  }
  installHandler(SIGCONT, continueAfterStop);
  if (!inTerminal || ::tcgetattr(STDIN_FILENO, &userTermios) != 0) return;
  runTermios = userTermios;
  runTermios.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  runTermios.c_cc[VMIN] = 1;
  runTermios.c_cc[VTIME] = 0;
  for (int sig : ENDING_SIGNALS) {
    struct sigaction before {};
    ::sigaction(sig, nullptr, &before);
    if (before.sa_handler != SIG_IGN) installHandler(sig, endBySignal);
  }
  struct sigaction before {};
  ::sigaction(SIGTSTP, nullptr, &before);
  if (before.sa_handler != SIG_IGN) installHandler(SIGTSTP, stopBySignal);
  terminalTaken = 1;
  if (inForeground()) ::tcsetattr(STDIN_FILENO, TCSANOW, &runTermios);
}

// The handlers' work is done: the terminal goes back for good.
void releaseTerminal() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT}) {
    struct sigaction now {};
    ::sigaction(sig, nullptr, &now);
    if (now.sa_handler == endBySignal || now.sa_handler == stopBySignal ||
        now.sa_handler == continueAfterStop) {
      ::signal(sig, SIG_DFL);
    }
  }
  giveTerminalBack();
  terminalTaken = 0;
}

// Text without its escape sequences (ESC, then up to a final byte).
std::string withoutSequences(std::string_view text) {
  std::string plain;
  bool inSequence = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c == 0x1b) {
      inSequence = true;
      if (i + 1 < text.size() && text[i + 1] == '[') ++i;
    } else if (!inSequence) {
      plain.push_back(text[i]);
    } else if (c >= 0x40 && c <= 0x7e) {
      inSequence = false;
    }
  }
  return plain;
}

class PosixConsole : public ConsoleDevice {
 public:
  PosixConsole()
      : outTerminal_(::isatty(STDOUT_FILENO) == 1), inTerminal_(::isatty(STDIN_FILENO) == 1) {
    buffer_.reserve(FLUSH_AT + 4096);
    readWidth();
    if (outTerminal_ || inTerminal_) takeTerminal(inTerminal_);
  }
  ~PosixConsole() override {
    // The shell's prompt that follows starts on a line of its own.
    if (outTerminal_ && (column_ > 1 || wrapPending_)) write("\n");
    flush();
    if (outTerminal_ || inTerminal_) releaseTerminal();
  }

  bool isTerminal() const override { return outTerminal_; }

  void write(std::string_view text) override {
    noticeContinuation();
    buffer_.append(text);
    if (outTerminal_) track(text);
    if (buffer_.size() >= FLUSH_AT) flush();
  }

  void flush() override {
    noticeContinuation();
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
    flushedRow_ = row_;
    flushedMidLine_ = column_ > 1 || wrapPending_;
  }

  void gotoXY(int x, int y) override {
    if (!outTerminal_) return;
    noticeContinuation();
    readWidth();
    y = std::max(y, firstRow_);  // a row from before a stop now shows the shell's text
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

  int cursorRow() override {
    noticeContinuation();
    return outTerminal_ ? row_ : 1;
  }

  void clearScreen() override {
    if (!outTerminal_) return;
    noticeContinuation();
    readWidth();
    buffer_.append("\x1b[H\x1b[2J\x1b[3J");  // home, screen, scrollback
    row_ = 1;
    firstRow_ = 1;
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

  // A line that filled its row leaves nothing to blank there: the sequence
  // would blank its last character.
  void clearLineEnd() override {
    if (outTerminal_ && !wrapPending_) buffer_.append("\x1b[K");
  }

  void dropTypedKeys() override {
    if (inTerminal_) ::tcflush(STDIN_FILENO, TCIFLUSH);
  }

  int readKey() override {
    flush();
    unsigned char key = 0;
    if (!inTerminal_) return readByte(key) ? key : -1;
    // Waits for a key or for a continuation after a stop, whichever comes
    // first: after a stop the question is shown again.
    const sig_atomic_t seen = seen_;
    for (;;) {
      char drain[16];
      while (wakeRead >= 0 && ::read(wakeRead, drain, sizeof drain) > 0) {
      }
      if (continuations != seen) return KEY_CONTINUED;
      struct pollfd ready[2] = {{STDIN_FILENO, POLLIN, 0}, {wakeRead, POLLIN, 0}};
      int count = ::poll(ready, wakeRead >= 0 ? 2 : 1, -1);
      if (count < 0 && errno != EINTR) return readByte(key) ? key : -1;
      if (count > 0 && ready[0].revents != 0) return readByte(key) ? key : -1;
    }
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

  // After a stop and a continuation the shell has written below the
  // program's text: the program goes on from the start of a fresh line, and
  // the rows above it are not its own any more. What was waiting in the
  // buffer follows there, without the cursor moves meant for the old rows.
  void noticeContinuation() {
    if (seen_ == continuations) return;
    seen_ = continuations;
    if (!outTerminal_) return;
    std::string waiting = withoutSequences(buffer_);
    buffer_.assign("\r\x1b[K");
    row_ = flushedRow_ + (flushedMidLine_ ? 1 : 0);
    firstRow_ = row_;
    column_ = 1;
    wrapPending_ = false;
    buffer_.append(waiting);
    track(waiting);
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
  int flushedRow_ = 1;           // where the text written out so far ends
  bool flushedMidLine_ = false;  // ... and whether it ends within that row
  int firstRow_ = 1;             // the first row still showing the program's text
  sig_atomic_t seen_ = 0;        // continuations already taken into account
};

constexpr int HELD_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
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
    ::sigaction(HELD_SIGNALS[i], nullptr, &handlersBeforeHold[i]);
    // A signal the run was started ignoring (nohup) stays ignored: it
    // interrupts nothing.
    if (handlersBeforeHold[i].sa_handler != SIG_IGN) ::sigaction(HELD_SIGNALS[i], &note, nullptr);
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
