#include "console/console.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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
  int cursorRow() override { return record("row", 7); }
  void clearScreen() override { record("clear"); }
  void setCursorShape(int code) override { record("shape" + std::to_string(code)); }
  void dropTypedKeys() override { record("drop"); }
  int readKey() override {
    int key = keys.empty() ? 's' : keys.back();
    if (!keys.empty()) keys.pop_back();
    return record("key", key);
  }
  std::string* log;
  std::vector<int> keys;  // taken from the back, then always s
};

std::string line(int n) {
  return "Trovati " + std::to_string(n) + " files \n";
}

TEST(Console, KeysAreUnsignedAndOnlyPrintableOnesAreEchoed) {
  std::string out;
  Console console(&out, "s\x1b\r\xe0");
  for (int key : {int{'s'}, 0x1b, 0x0d, 0xe0, -1, -1}) EXPECT_EQ(console.ask("?"), key);
  EXPECT_EQ(out, "?s?????");  // Escape and Enter would move or garble the screen
}

// After a stop the question is asked again; keys typed with the answer are dropped.
TEST(Console, AQuestionCutByAStopIsShownAgainAndNamesCannotDriveTheTerminal) {
  std::string log;
  auto device = std::make_unique<RecordingTerminal>(&log);
  device->keys = {'n', KEY_CONTINUED};
  Console console(std::move(device));
  console.print("a\x1b[?25l\a\x7f\r\n");
  EXPECT_EQ(console.ask("(s/n) "), 'n');
  EXPECT_EQ(log, "a?[?25l???\n|(s/n) |drop|flush|key|(s/n) |flush|key|drop|n|flush|");
  std::string out;
  Console(&out).print("a\x1b\r\n");
  EXPECT_EQ(out, "a\x1b\r\n");  // not a terminal: every byte as it is
}

TEST(Console, WhatFollowsAQuietSpellIsDrawnAtOnce) {
  std::string log;
  Console console(std::make_unique<RecordingTerminal>(&log));
  console.progress(9, line(1));
  EXPECT_EQ(log, "@1,9|" + line(1) + "|flush|");
  for (int n = 2; n <= 100; ++n) console.progress(9, line(n));
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  console.progress(9, line(101));
  EXPECT_EQ(console.ask("(s/n) "), 's');
  EXPECT_TRUE(log.ends_with("@1,9|" + line(101) + "|flush|(s/n) |drop|flush|key|drop|s|flush|")) << log;
}

// Every operation must first draw the progress line still pending.
TEST(Console, AfterABurstTheLastLineIsDrawnOnItsRowBeforeTheNextCall) {
  const std::pair<std::function<void(Console&)>, std::string> following[] = {
      {[](Console& c) { c.print("Cerco\n"); }, "Cerco\n"},
      {[](Console& c) { c.gotoXY(1, 3); }, "@1,3"},
      {[](Console& c) { EXPECT_EQ(c.cursorRow(), 7); }, "row"},
      {[](Console& c) { EXPECT_EQ(c.ask(""), 's'); }, "key"},
      {[](Console& c) { c.clearScreen(); }, "clear"},
      {[](Console& c) { c.setCursorShape(CURSOR_HIDDEN); }, "shape0"},
      {[](Console& c) { c.flush(); }, "flush"},
      {[](Console&) {}, "flush"}};  // the console's end
  for (const auto& [operation, call] : following) {
    SCOPED_TRACE(call);
    std::string log;
    auto console = std::make_unique<Console>(std::make_unique<RecordingTerminal>(&log));
    for (int n = 1; n <= 10000; ++n) console->progress(12, line(n));
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
