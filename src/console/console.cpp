#include "console/console.h"

#include <algorithm>
#include <utility>

namespace doppioni {
namespace {

// A redraw interval the eye cannot tell from drawing every line.
constexpr auto REDRAW_INTERVAL = std::chrono::milliseconds(50);

// Keeps what is printed in a string; never a terminal.
class CaptureDevice : public ConsoleDevice {
 public:
  CaptureDevice(std::string* capture, std::string keys)
      : capture_(capture), keys_(std::move(keys)) {}
  bool isTerminal() const override { return false; }
  void write(std::string_view text) override { capture_->append(text); }
  void flush() override {}
  void gotoXY(int, int) override {}
  int cursorRow() override { return 1; }
  void clearScreen() override {}
  void setCursorShape(int) override {}
  int readKey() override {
    if (next_ >= keys_.size()) return -1;
    return static_cast<unsigned char>(keys_[next_++]);
  }

 private:
  std::string* capture_;
  std::string keys_;
  std::size_t next_ = 0;
};

}  // namespace

Console::Console() : Console(openStandardConsole()) {}

Console::Console(std::string* capture, std::string keys)
    : Console(std::make_unique<CaptureDevice>(capture, std::move(keys))) {}

Console::Console(std::unique_ptr<ConsoleDevice> device)
    : device_(std::move(device)), terminal_(device_->isTerminal()) {}

Console::~Console() {
  flush();
}

void Console::drawPending() {
  if (!pending_) return;
  pending_ = false;
  device_->gotoXY(1, pendingRow_);
  drawLines(shown(pendingText_));
  // The rows a longer line drawn on this row took below this one are blanked.
  int end = device_->cursorRow();
  if (drawnRow_ == pendingRow_ && drawnEnd_ > end) {
    for (int row = end; row < drawnEnd_; ++row) {
      device_->gotoXY(1, row);
      device_->clearLineEnd();
    }
    device_->gotoXY(1, end);
  }
  drawnRow_ = pendingRow_;
  drawnEnd_ = end;
  device_->flush();
  lastDraw_ = std::chrono::steady_clock::now();
}

// Each line blanks what is left of its row before its line feed.
void Console::drawLines(std::string_view text) {
  for (std::size_t end = text.find('\n'); end != std::string_view::npos; end = text.find('\n')) {
    device_->write(text.substr(0, end));
    device_->clearLineEnd();
    device_->write("\n");
    text.remove_prefix(end + 1);
  }
  if (!text.empty()) device_->write(text);
}

// On a terminal a control byte in a name would move the cursor or change the
// terminal's state: it shows as '?', as ls shows it. Line feeds are the
// program's own; elsewhere the text goes out as it is.
std::string_view Console::shown(std::string_view text) {
  auto control = [](unsigned char c) { return (c < 0x20 && c != '\n') || c == 0x7f; };
  if (!terminal_ || std::none_of(text.begin(), text.end(), control)) return text;
  shown_.assign(text);
  std::replace_if(shown_.begin(), shown_.end(), control, '?');
  return shown_;
}

void Console::appendName(std::string& text, std::string_view name) const {
  std::size_t at = text.size();
  text.append(name);
  if (terminal_)
    std::replace(text.begin() + static_cast<std::ptrdiff_t>(at), text.end(), '\n', '?');
}

void Console::print(std::string_view text) {
  drawPending();
  device_->write(shown(text));
}

void Console::progress(int row, std::string_view text) {
  if (!terminal_) {
    device_->write(text);  // the cursor is not ours to move: every line stays
    return;
  }
  pending_ = true;
  pendingRow_ = row;
  pendingText_.assign(text);
  if (std::chrono::steady_clock::now() - lastDraw_ >= REDRAW_INTERVAL) drawPending();
}

void Console::clearScreen() {
  drawPending();
  device_->clearScreen();
}

void Console::gotoXY(int x, int y) {
  drawPending();
  device_->gotoXY(x, y);
}

int Console::cursorRow() {
  drawPending();
  return device_->cursorRow();
}

void Console::setCursorShape(int code) {
  drawPending();
  device_->setCursorShape(code);
}

int Console::ask(std::string_view question) {
  // Keys typed before the question is on screen are dropped first, then the
  // question is shown: a key pressed once it can be read is never lost.
  print(question);
  drawPending();
  device_->dropTypedKeys();
  device_->flush();
  int key = device_->readKey();
  for (; key == KEY_CONTINUED; key = device_->readKey()) {
    if (terminal_) device_->write(shown(question));
    device_->flush();
  }
  device_->dropTypedKeys();
  if (key >= 0x20 && key < 0x7f) {
    char echo = static_cast<char>(key);
    device_->write(std::string_view(&echo, 1));
  }
  device_->flush();
  return key;
}

void Console::flush() {
  drawPending();
  device_->flush();
}

}  // namespace doppioni
