#include "console/console.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace doppioni {
namespace {

// A terminal that writes down every call made to it, in order, each followed by '|'.
struct RecordingTerminal : ConsoleDevice {
  explicit RecordingTerminal(std::string* calls, std::vector<int> keys = {})
      : log(calls), keysLeft(std::move(keys)) {}
  int record(const std::string& call, int result = 0) {
    *log += call + "|";
    return result;
  }
  bool isTerminal() const override { return true; }
  void write(std::string_view text) override { record(std::string(text)); }
  void flush() override { record("flush"); }
  void gotoXY(int x, int y) override { record("@" + std::to_string(x) + "," + std::to_string(y)); }
  int cursorRow() override { return record("row", 7); }
  void clearScreen() override { record("clear"); }
  void setCursorShape(int code) override { record("shape" + std::to_string(code)); }
  void dropTypedKeys() override { record("drop"); }
  int readKey() override {  // the keys given from the back, then 's'
    int key = keysLeft.empty() ? 's' : keysLeft.back();
    if (!keysLeft.empty()) keysLeft.pop_back();
    return record("key", key);
  }
  std::string* log;
  std::vector<int> keysLeft;
};

TEST(Console, KeysAreUnsignedAndOnlyPrintableOnesAreEchoed) {
  std::string out;
  Console console(&out, "s\x1b\r\xe0");
  console.print("\x1b\r");  // not a terminal: every byte as it is
  for (int key : {int{'s'}, 0x1b, 0x0d, 0xe0, -1, -1}) EXPECT_EQ(console.ask("?"), key);
  EXPECT_EQ(out, "\x1b\r?s?????");  // Escape and Enter would move or garble the screen
}

// On a terminal a name's control bytes are not sent; a stop while asked asks
// again, and what was typed with the answer is dropped.
TEST(Console, NamesCannotDriveTheTerminalAndAStopAtTheQuestionAsksAgain) {
  std::string log;
  Console console(std::make_unique<RecordingTerminal>(&log, std::vector{int{'n'}, KEY_CONTINUED}));
  console.print("a\x1b[?25l\a\x7f\r\n");
  EXPECT_EQ(console.ask("(s/n) "), 'n');
  EXPECT_EQ(log, "a?[?25l???\n|(s/n) |drop|flush|key|(s/n) |flush|key|drop|n|flush|");
}

// The first progress line is drawn at once; after a burst, every operation
// first draws the last one, still pending.
TEST(Console, AfterABurstTheLastLineIsDrawnOnItsRowBeforeTheNextCall) {
  const std::pair<std::function<void(Console&)>, std::string> following[] = {
      {[](Console& c) { c.print("Cerco\n"); }, "Cerco\n"},
      {[](Console& c) { c.gotoXY(1, 3); }, "@1,3"},
      {[](Console& c) { EXPECT_EQ(c.cursorRow(), 7); }, "row"},
      {[](Console& c) { EXPECT_EQ(c.ask("(s/n) "), 's'); }, "(s/n) |drop|flush|key|drop|s"},
      {[](Console& c) { c.clearScreen(); }, "clear"},
      {[](Console& c) { c.setCursorShape(CURSOR_HIDDEN); }, "shape0"},
      {[](Console& c) { c.flush(); }, "flush"},
      {[](Console&) {}, "flush"}};  // the console's end
  auto line = [](int n) { return "Trovati " + std::to_string(n) + " files \n"; };
  for (const auto& [operation, call] : following) {
    SCOPED_TRACE(call);
    std::string log;
    auto console = std::make_unique<Console>(std::make_unique<RecordingTerminal>(&log));
    console->progress(12, line(1));
    EXPECT_EQ(log, "@1,12|" + line(1) + "|flush|");
    for (int n = 2; n <= 10000; ++n) console->progress(12, line(n));
    EXPECT_LT(std::count(log.begin(), log.end(), '\n'), 1000) << "far fewer drawn than printed";
    operation(*console);
    console.reset();
    const std::string last = "@1,12|" + line(10000) + "|";
    ASSERT_NE(log.find(last), std::string::npos) << "the last progress line was never drawn";
    std::size_t after = log.find(last) + last.size();
    EXPECT_NE(log.find(call + "|", after), std::string::npos) << log.substr(after - 20);
  }
}

}  // namespace
}  // namespace doppioni
