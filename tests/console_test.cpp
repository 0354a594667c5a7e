#include "console/console.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace doppioni {
namespace {

// A terminal that records every call made to it, in order.
class RecordingTerminal : public ConsoleDevice {
 public:
  explicit RecordingTerminal(std::vector<std::string>* log) : log_(log) {}
  bool isTerminal() const override { return true; }
  void write(std::string_view text) override { log_->push_back("write:" + std::string(text)); }
  void flush() override { log_->push_back("flush"); }
  void gotoXY(int x, int y) override {
    log_->push_back("goto:" + std::to_string(x) + "," + std::to_string(y));
  }
  int cursorRow() override {
    log_->push_back("row");
    return 7;
  }
  void clearScreen() override { log_->push_back("clear"); }
  void setCursorShape(int code) override { log_->push_back("shape:" + std::to_string(code)); }
  int readKey() override {
    log_->push_back("key");
    return 's';
  }

 private:
  std::vector<std::string>* log_;
};

std::ptrdiff_t indexOf(const std::vector<std::string>& log, const std::string& call) {
  auto it = std::find(log.begin(), log.end(), call);
  return it == log.end() ? -1 : it - log.begin();
}

std::ptrdiff_t lastIndexOf(const std::vector<std::string>& log, const std::string& call) {
  auto it = std::find(log.rbegin(), log.rend(), call);
  return it == log.rend() ? -1 : log.rend() - it - 1;
}

std::ptrdiff_t countOf(const std::vector<std::string>& log, const std::string& prefix) {
  return std::count_if(log.begin(), log.end(),
                       [&](const std::string& call) { return call.rfind(prefix, 0) == 0; });
}

std::string progressLine(int n) {
  return "Trovati " + std::to_string(n) + " files \n";
}

void waitPastRedrawInterval() {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(120);
  while (std::chrono::steady_clock::now() < until) {
  }
}

TEST(ConsoleCapture, KeepsEveryProgressLineAndIgnoresCursorMoves) {
  std::string out;
  {
    Console console(&out);
    EXPECT_FALSE(console.isTerminal());
    console.print("Preparo\n");
    console.progress(9, "Trovati 10000 files  \n");
    console.progress(9, "Trovati 20000 files  \n");
    console.gotoXY(30, 1);
    console.clearScreen();
    console.setCursorShape(CURSOR_BLOCK);
    EXPECT_EQ(console.cursorRow(), 1);
    console.print("Elenco fatto\n");
  }
  EXPECT_EQ(out, "Preparo\nTrovati 10000 files  \nTrovati 20000 files  \nElenco fatto\n");
}

TEST(ConsoleCapture, ReadKeyEchoesPrintableKeysAndEndsWithMinusOne) {
  std::string out;
  Console console(&out, std::string("s\x1bN\r", 4));
  console.print("(s/n) ");
  EXPECT_EQ(console.readKey(), 's');
  EXPECT_EQ(console.readKey(), 0x1b);
  EXPECT_EQ(console.readKey(), 'N');
  EXPECT_EQ(console.readKey(), '\r');
  EXPECT_EQ(console.readKey(), -1);
  EXPECT_EQ(console.readKey(), -1);
  // Escape and Enter are not echoed: they would move or garble the screen.
  EXPECT_EQ(out, "(s/n) sN");
}

TEST(ConsoleCapture, KeysAreBytesAboveTheAsciiRangeToo) {
  std::string out;
  Console console(&out, "\xe0");
  EXPECT_EQ(console.readKey(), 0xe0);  // never negative: -1 stays the end of input
}

TEST(ConsoleTerminal, FirstProgressLineIsDrawnAtOnceOnItsRow) {
  std::vector<std::string> log;
  Console console(std::make_unique<RecordingTerminal>(&log));
  ASSERT_TRUE(console.isTerminal());
  console.progress(9, progressLine(10000));
  std::ptrdiff_t moved = indexOf(log, "goto:1,9");
  std::ptrdiff_t drawn = indexOf(log, "write:" + progressLine(10000));
  ASSERT_GE(moved, 0);
  EXPECT_GT(drawn, moved);
}

TEST(ConsoleTerminal, LineAfterAQuietSpellIsDrawnAtOnce) {
  std::vector<std::string> log;
  Console console(std::make_unique<RecordingTerminal>(&log));
  for (int n = 1; n <= 100; ++n) console.progress(9, progressLine(n));
  waitPastRedrawInterval();
  console.progress(9, progressLine(101));
  // A slow phase must not leave a stale count on the screen until its next line.
  EXPECT_GE(indexOf(log, "write:" + progressLine(101)), 0);
}

// Each operation that follows a burst of progress lines, and the call it
// makes on the device.
struct FollowingOperation {
  const char* name;
  std::function<void(Console&)> run;
  const char* deviceCall;
};

void PrintTo(const FollowingOperation& operation, std::ostream* out) {
  *out << operation.name;
}

class ConsoleAfterBurst : public ::testing::TestWithParam<FollowingOperation> {};

TEST_P(ConsoleAfterBurst, LastProgressLineIsDrawnFirst) {
  constexpr int BURST = 10000;
  std::vector<std::string> log;
  {
    Console console(std::make_unique<RecordingTerminal>(&log));
    for (int n = 1; n <= BURST; ++n) console.progress(12, progressLine(n));
    // Far fewer lines are drawn than printed...
    EXPECT_LT(countOf(log, "write:Trovati"), 1000);
    GetParam().run(console);
  }
  // ...but the last one is on the screen, on its row, before the next call.
  std::ptrdiff_t last = indexOf(log, "write:" + progressLine(BURST));
  std::ptrdiff_t next = lastIndexOf(log, GetParam().deviceCall);
  ASSERT_GE(last, 0) << "the last progress line was never drawn";
  ASSERT_GE(next, 0);
  EXPECT_LT(last, next);
  ASSERT_GE(last, 1);
  EXPECT_EQ(log[static_cast<std::size_t>(last - 1)], "goto:1,12");
  EXPECT_EQ(countOf(log, "write:" + progressLine(BURST)), 1) << "drawn twice";
}

INSTANTIATE_TEST_SUITE_P(
    EveryOperation, ConsoleAfterBurst,
    ::testing::Values(
        FollowingOperation{"print", [](Console& c) { c.print("Cerco i doppioni\n"); },
                           "write:Cerco i doppioni\n"},
        FollowingOperation{"gotoXY", [](Console& c) { c.gotoXY(1, 3); }, "goto:1,3"},
        FollowingOperation{"cursorRow", [](Console& c) { EXPECT_EQ(c.cursorRow(), 7); }, "row"},
        FollowingOperation{"readKey", [](Console& c) { EXPECT_EQ(c.readKey(), 's'); }, "key"},
        FollowingOperation{"clearScreen", [](Console& c) { c.clearScreen(); }, "clear"},
        FollowingOperation{"setCursorShape", [](Console& c) { c.setCursorShape(CURSOR_HIDDEN); },
                           "shape:0"},
        FollowingOperation{"flush", [](Console& c) { c.flush(); }, "flush"},
        FollowingOperation{"end", [](Console&) {}, "flush"}),
    [](const ::testing::TestParamInfo<FollowingOperation>& operation) {
      return operation.param.name;
    });

TEST(ConsoleTerminal, QuestionIsOnScreenBeforeTheKeyIsAwaited) {
  std::vector<std::string> log;
  Console console(std::make_unique<RecordingTerminal>(&log));
  console.print("Vuoi cancellare i files ?  (s/n) ");
  EXPECT_EQ(console.readKey(), 's');
  std::ptrdiff_t asked = indexOf(log, "write:Vuoi cancellare i files ?  (s/n) ");
  std::ptrdiff_t key = indexOf(log, "key");
  ASSERT_GE(asked, 0);
  ASSERT_GE(key, 0);
  EXPECT_LT(asked, key);
  EXPECT_GE(indexOf(std::vector<std::string>(log.begin() + asked, log.begin() + key), "flush"), 0)
      << "the question was not flushed before the key read";
  // The answer is echoed after it was read.
  EXPECT_GT(indexOf(log, "write:s"), key);
}

}  // namespace
}  // namespace doppioni
