// Win32 console: the console services on "CONOUT$" when standard output is a
// console window, nothing but text otherwise.
//
// Text is buffered and written out before every cursor operation, so that
// what is printed and where the cursor goes stay in the order of the calls.
// To a console it goes as UTF-16, so any name shows as it is; to a file or a
// pipe it goes as bytes, with each "\n" stored as "\r\n" as text mode does.
#include <conio.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "console/console.h"
#include "platform/wtf8.h"

namespace doppioni {
namespace {

constexpr std::size_t FLUSH_AT = 1 << 16;
constexpr DWORD WRITE_CHUNK = 8192;  // UTF-16 units per WriteConsoleW call

// The size and visibility of each cursor shape code.
struct CursorShape {
  DWORD size;
  BOOL visible;
};
constexpr CursorShape CURSOR_SHAPES[] = {{10, FALSE}, {99, TRUE}, {10, TRUE}};

// The console output device, opened for one operation and closed after it.
class ConsoleOut {
 public:
  ConsoleOut() {
    SECURITY_ATTRIBUTES inherit{};
    inherit.nLength = sizeof inherit;
    inherit.bInheritHandle = TRUE;
    handle_ =
        ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      &inherit, OPEN_EXISTING, 0, nullptr);
  }
  ~ConsoleOut() {
    if (valid()) ::CloseHandle(handle_);
  }
  ConsoleOut(const ConsoleOut&) = delete;
  ConsoleOut& operator=(const ConsoleOut&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

bool readScreenInfo(const ConsoleOut& out, CONSOLE_SCREEN_BUFFER_INFO& info) {
  return out.valid() && ::GetConsoleScreenBufferInfo(out.get(), &info) != 0;
}

SHORT cell(int value) {
  if (value < 1) return 0;
  if (value > 0x8000) return 0x7FFF;
  return static_cast<SHORT>(value - 1);
}

// The length of the longest start of text that ends on a whole UTF-8
// sequence, so that a character cut by a full buffer waits for its rest.
std::size_t wholeSequences(std::string_view text) {
  std::size_t end = text.size();
  std::size_t back = 0;
  while (back < 3 && back < end &&
         (static_cast<unsigned char>(text[end - 1 - back]) & 0xC0) == 0x80) {
    ++back;
  }
  if (back == end) return end;
  auto lead = static_cast<unsigned char>(text[end - 1 - back]);
  std::size_t need = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
  return need > back ? end - 1 - back : end;
}

// UTF-8 to UTF-16 for the screen: a lone surrogate carried as WTF-8 goes
// through as it is, any other byte that is no text shows as U+FFFD.
void toUtf16(std::string_view text, std::wstring& out) {
  out.clear();
  appendWtf8AsUtf16(text, out, static_cast<wchar_t>(0xFFFD));
}

class Win32Console : public ConsoleDevice {
 public:
  Win32Console() : out_(::GetStdHandle(STD_OUTPUT_HANDLE)), in_(::GetStdHandle(STD_INPUT_HANDLE)) {
    DWORD mode;
    outConsole_ = out_ != nullptr && out_ != INVALID_HANDLE_VALUE && ::GetConsoleMode(out_, &mode);
    inConsole_ = in_ != nullptr && in_ != INVALID_HANDLE_VALUE && ::GetConsoleMode(in_, &mode);
    buffer_.reserve(FLUSH_AT + 4096);
  }
  ~Win32Console() override {
    flush();
    // The prompt that follows starts on a line of its own.
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (outConsole_ && readScreenInfo(ConsoleOut(), info) && info.dwCursorPosition.X > 0) {
      write("\n");
      flush();
    }
    dropTypedKeys();  // keys typed during the run are not for the command prompt
  }

  bool isTerminal() const override { return outConsole_; }

  void write(std::string_view text) override {
    buffer_.append(text);
    if (buffer_.size() >= FLUSH_AT) writeOut(false);
  }

  void flush() override { writeOut(true); }

  void gotoXY(int x, int y) override {
    if (!outConsole_) return;
    flush();
    ConsoleOut out;
    if (out.valid()) ::SetConsoleCursorPosition(out.get(), COORD{cell(x), cell(y)});
  }

  int cursorRow() override {
    int row = 1;
    onScreen([&row](const ConsoleOut&, const CONSOLE_SCREEN_BUFFER_INFO& info) {
      row = info.dwCursorPosition.Y + 1;
    });
    return row;
  }

  void clearScreen() override {
    onScreen([](const ConsoleOut& out, const CONSOLE_SCREEN_BUFFER_INFO& info) {
      DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
      COORD home{0, 0};
      DWORD done;
      ::FillConsoleOutputCharacterA(out.get(), ' ', cells, home, &done);
      ::FillConsoleOutputAttribute(out.get(), info.wAttributes, cells, home, &done);
      ::SetConsoleCursorPosition(out.get(), home);
    });
  }

  void setCursorShape(int code) override {
    if (!outConsole_ || code < 0 || code > 2) return;
    flush();
    ConsoleOut out;
    if (!out.valid()) return;
    CONSOLE_CURSOR_INFO cursor{CURSOR_SHAPES[code].size, CURSOR_SHAPES[code].visible};
    ::SetConsoleCursorInfo(out.get(), &cursor);
  }

  void clearLineEnd() override {
    onScreen([](const ConsoleOut& out, const CONSOLE_SCREEN_BUFFER_INFO& info) {
      if (info.dwCursorPosition.X >= info.dwSize.X) return;
      DWORD cells = static_cast<DWORD>(info.dwSize.X - info.dwCursorPosition.X);
      DWORD done;
      ::FillConsoleOutputCharacterA(out.get(), ' ', cells, info.dwCursorPosition, &done);
    });
  }

  void dropTypedKeys() override {
    if (inConsole_) ::FlushConsoleInputBuffer(in_);
  }

  int readKey() override {
    flush();
    if (!inConsole_) {
      unsigned char key = 0;
      DWORD got = 0;
      if (!::ReadFile(in_, &key, 1, &got, nullptr) || got != 1) return -1;
      return key;
    }
    int key = ::_getch();
    // Arrows and function keys come as two codes: the second would answer
    // the next question, so it goes here.
    if (key == 0 || key == 0xE0) ::_getch();
    return key;
  }

 private:
  // Runs operation on the console window and where its cursor stands, once
  // the text before it is out; nothing when output is no console window.
  template <typename Operation>
  void onScreen(Operation operation) {
    if (!outConsole_) return;
    flush();
    ConsoleOut out;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (readScreenInfo(out, info)) operation(out, info);
  }
  // Writes the buffer out; unless `all`, an unfinished character at its end
  // stays for the next write.
  void writeOut(bool all) {
    std::size_t length = all ? buffer_.size() : wholeSequences(buffer_);
    if (length == 0) return;
    std::string_view text(buffer_.data(), length);
    if (outConsole_) {
      toUtf16(text, wide_);
      for (std::size_t at = 0; at < wide_.size();) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wide_.size() - at, WRITE_CHUNK));
        DWORD done = 0;
        if (!::WriteConsoleW(out_, wide_.data() + at, chunk, &done, nullptr) || done == 0) break;
        at += done;
      }
    } else {
      bytes_.clear();
      for (char c : text) {
        if (c == '\n') bytes_.push_back('\r');
        bytes_.push_back(c);
      }
      for (std::size_t at = 0; at < bytes_.size();) {
        DWORD done = 0;
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes_.size() - at, 1u << 20));
        // Nowhere left to show it (a closed pipe): the run goes on.
        if (!::WriteFile(out_, bytes_.data() + at, chunk, &done, nullptr) || done == 0) break;
        at += done;
      }
    }
    buffer_.erase(0, length);
  }

  HANDLE out_;
  HANDLE in_;
  bool outConsole_ = false;
  bool inConsole_ = false;
  std::string buffer_;
  std::string bytes_;
  std::wstring wide_;
};

// The console event noted while interrupts are held, as a signal number.
volatile LONG heldEvent = 0;

BOOL WINAPI noteConsoleEvent(DWORD event) {
  LONG sig = event == CTRL_C_EVENT       ? 2
             : event == CTRL_BREAK_EVENT ? 21
                                         : 1;  // SIGINT, SIGBREAK, SIGHUP
  ::InterlockedCompareExchange(&heldEvent, sig, 0);
  // The window closing ends the process when this returns: give the
  // attempt in progress the few seconds Windows allows.
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    ::Sleep(INFINITE);
  }
  return TRUE;
}

}  // namespace

void holdInterrupts() {
  heldEvent = 0;
  ::SetConsoleCtrlHandler(noteConsoleEvent, TRUE);
}

int heldInterrupt() {
  return static_cast<int>(heldEvent);
}

void releaseInterrupts() {
  ::SetConsoleCtrlHandler(noteConsoleEvent, FALSE);
  if (heldEvent != 0) ::ExitProcess(STATUS_CONTROL_C_EXIT);  // as Ctrl-C ends a console program
}

std::unique_ptr<ConsoleDevice> openStandardConsole() {
  return std::make_unique<Win32Console>();
}

}  // namespace doppioni
