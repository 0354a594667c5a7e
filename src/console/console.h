// The console: text to standard output, the few cursor operations the run
// needs (clear the screen, place the cursor, read its row, set its shape)
// and the single-key input.
//
// Rows and columns count from 1. Rows are those of the whole buffer, not of
// the visible window, so a row read with cursorRow() can be handed back to
// gotoXY() after the screen has scrolled. When standard output is not a
// terminal the cursor operations do nothing, cursorRow() is 1 and every line
// stays in the output as it was printed.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace doppioni {

inline constexpr int CURSOR_HIDDEN = 0;  // size 10, not visible
inline constexpr int CURSOR_BLOCK = 1;   // size 99, visible
inline constexpr int CURSOR_NORMAL = 2;  // size 10, visible

// What ConsoleDevice::readKey() gives when the wait was cut by a stop (Ctrl-Z)
// and a continuation: the shell has written below the question meanwhile.
inline constexpr int KEY_CONTINUED = -2;

// The platform's side of the console (console-posix.cpp, console-win32.cpp).
class ConsoleDevice {
 public:
  virtual ~ConsoleDevice() = default;
  // Whether standard output is a terminal that the cursor operations act on.
  virtual bool isTerminal() const = 0;
  // Text goes out in order with the cursor operations.
  virtual void write(std::string_view text) = 0;
  virtual void flush() = 0;
  virtual void gotoXY(int x, int y) = 0;
  virtual int cursorRow() = 0;
  virtual void clearScreen() = 0;
  virtual void setCursorShape(int code) = 0;
  // Blanks the rest of the cursor's row on a terminal; the cursor stays.
  virtual void clearLineEnd() {}
  // Forgets the keys typed so far on a keyboard (not those of a file or pipe).
  virtual void dropTypedKeys() {}
  // One key press from the keyboard without waiting for Enter (one byte when
  // standard input is not a terminal), not echoed; -1 at the end of input,
  // KEY_CONTINUED when the process was stopped and continued meanwhile.
  virtual int readKey() = 0;
};

// The process's own console: standard output and standard input.
std::unique_ptr<ConsoleDevice> openStandardConsole();

// An interrupt (Ctrl-C, Ctrl-\ or SIGQUIT, SIGTERM or SIGHUP; on Windows
// Ctrl-C, Ctrl-Break or the console window closing) ends the run at once,
// except while a phase that changes the disk holds interrupts: then it is
// only noted, so that the attempt in progress is finished and recorded
// before the run ends.
void holdInterrupts();
// The interrupt noted since holdInterrupts() (its signal number), or 0.
int heldInterrupt();
// Stops holding. An interrupt noted meanwhile now ends the process as it
// would have when it came (the terminal given back first).
void releaseInterrupts();

class Console {
 public:
  // The process's own console.
  Console();
  // A console that is no terminal: text is appended to *capture and keys are
  // taken from `keys`, then -1 (end of input). For tests.
  explicit Console(std::string* capture, std::string keys = {});
  explicit Console(std::unique_ptr<ConsoleDevice> device);
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  void print(std::string_view text);
  // A progress line: gotoXY(1, row), then text (which ends in "\n"). On a
  // terminal, lines that come faster than about twenty a second are not all
  // drawn, but the last one always is before anything else happens; and
  // what a longer line drawn there before left beyond this one is blanked.
  void progress(int row, std::string_view text);
  void clearScreen();
  void gotoXY(int x, int y);
  int cursorRow();
  void setCursorShape(int code);
  // Shows the question and waits for one key without Enter: echoes it,
  // returns its code; -1 at the end of input. On a terminal, keys
  // typed before the question was on screen are dropped first, so that no
  // stray key answers it, and those typed with it after (the Enter after an
  // "n", the rest of an arrow key's sequence). After a stop the question is
  // shown again on a fresh line.
  int ask(std::string_view question);
  void flush();
  bool isTerminal() const { return terminal_; }
  // Appends a file or folder name to text to be printed: on a terminal a line
  // feed in it shows as '?' like its other control bytes, so that only the
  // program's own line feeds end a line; elsewhere it goes as it is.
  void appendName(std::string& text, std::string_view name) const;

 private:
  void drawPending();
  void drawLines(std::string_view text);
  std::string_view shown(std::string_view text);

  std::unique_ptr<ConsoleDevice> device_;
  bool terminal_ = false;
  bool pending_ = false;
  int pendingRow_ = 1;
  std::string pendingText_;
  int drawnRow_ = 0;  // the row of the last progress line drawn, and the row it ended on
  int drawnEnd_ = 0;
  std::string shown_;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace doppioni
