#include "console/console.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>

namespace doppioni {
namespace {

// A terminal that writes down every call made to it, in order, each followed by '|'.
struct RecordingTerminal : ConsoleDevice {
  explicit RecordingTerminal(std::string* calls) : log(calls) {}
  int record(const std::string& call, int result = 0) {
    *log += call + "|";
    return result;
  }
  bool isTerminal() const override { return true; }
  void write(std::string_view text) override { record(std::string(text)); }
  void flush() override { record("flush"); }
  void gotoXY(int x, int y) override { record("@" + std::to_string(x) + "," + std::to_string(y)); }
  int cursorRow() override { return record("row", row); }
  void clearScreen() override { record("clear"); }
  void setCursorShape(int code) override { record("shape" + std::to_string(code)); }
  void clearLineEnd() override { record("K"); }
  void dropTypedKeys() override { record("drop"); }
  int readKey() override { return record("key", stops-- > 0 ? KEY_CONTINUED : 's'); }
  std::string* log;
  int stops = 0;  // waits for a key that a stop cuts short
  int row = 7;    // where the cursor is said to be
};

// On a terminal a name's control bytes are not sent; a stop while asked asks again, and what
// was typed with the answer is dropped.
TEST(Console, NamesCannotDriveTheTerminalAndAStopAtTheQuestionAsksAgain) {
  std::string log;
  auto device = std::make_unique<RecordingTerminal>(&log);
  device->stops = 1;
  Console console(std::move(device));
  std::string name;  // a line feed in a name is no line feed of the program's
  console.appendName(name, "a\x1b[?25l\a\x7f\r\n");
  console.print(name + "\n");
  EXPECT_EQ(console.ask("(s/n) "), 's');
  EXPECT_EQ(log, "a?[?25l????\n|(s/n) |drop|flush|key|(s/n) |flush|key|drop|s|flush|");
  std::string out;
  EXPECT_EQ(Console(&out, "\xe0").ask("\x1b\r"), 0xe0);  // not a terminal: bytes as they are
  Console(&out).appendName(out, "\n");
  EXPECT_EQ(out, "\x1b\r\n");
}

// Every operation must first draw the progress line still pending.
TEST(Console, AfterABurstTheLastLineIsDrawnOnItsRowBeforeTheNextCall) {
  const std::pair<std::function<void(Console&)>, std::string> following[] = {
      {[](Console& c) { c.print("Cerco\n"); }, "Cerco\n"},
      {[](Console& c) { EXPECT_EQ(c.cursorRow(), 7); }, "row"},
      {[](Console& c) { EXPECT_EQ(c.ask("(s/n) "), 's'); }, "(s/n) |drop|flush|key|drop|s"},
      {[](Console& c) { c.clearScreen(); }, "clear"},
      {[](Console& c) { c.setCursorShape(CURSOR_HIDDEN); }, "shape0"},
      {[](Console& c) { c.flush(); }, "flush"},
      {[](Console&) {}, "flush"}};  // the console's end
  auto line = [](int n) { return "Trovati " + std::to_string(n) + " files "; };
  for (const auto& [operation, call] : following) {
    SCOPED_TRACE(call);
    std::string log;
    auto console = std::make_unique<Console>(std::make_unique<RecordingTerminal>(&log));
    for (int n = 1; n <= 10000; ++n) console->progress(12, line(n) + "\n");
    EXPECT_LT(std::count(log.begin(), log.end(), '\n'), 1000) << "far fewer drawn than printed";
    operation(*console);
    console.reset();
    const std::string last = "@1,12|" + line(10000) + "|K|\n|row|";
    ASSERT_NE(log.find(last), std::string::npos) << "the last progress line was never drawn";
    std::size_t after = log.find(last) + last.size();
    EXPECT_NE(log.find(call + "|", after), std::string::npos) << log.substr(after - 20);
  }
}

// A progress line blanks what a longer one drawn on its row left: the rest of each of its
// rows, then the rows below that the longer one took.
TEST(Console, AShorterProgressLineBlanksWhatALongerOneLeft) {
  std::string log;
  auto device = std::make_unique<RecordingTerminal>(&log);
  RecordingTerminal& terminal = *device;
  Console console(std::move(device));
  terminal.row = 16;
  console.progress(12, "un nome\nuna cartella lunga tre righe\n");
  console.flush();
  log.clear();
  terminal.row = 14;
  console.progress(12, "uno\ndue\n");
  console.progress(12, "x\ny\n");
  console.flush();
  EXPECT_EQ(log, "@1,12|x|K|\n|y|K|\n|row|@1,14|K|@1,15|K|@1,14|flush|flush|");
}

}  // namespace
}  // namespace doppioni
