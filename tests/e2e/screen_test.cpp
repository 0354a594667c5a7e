// The real program's screen in a terminal of fixed size (tmux), started from
// an interactive shell as a user starts it, read back line by line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "e2e/e2e_support.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

// A shell in a 100 by 15 window of its own tmux server, running the program in dir as one job
// that keeps the terminal's settings in dir.before and dir.after, then prints "EXIT=status".
struct Terminal {
  explicit Terminal(const std::string& root) : dir(root) {
    std::ofstream(dir + ".sh") << "trap : INT\nstty -g >$1.before\ncd $1 && " DOPPIONI_BINARY
                                  "\necho EXIT=$?\nstty -g >$1.after\n";
    tmux(
        "-f /dev/null new-session -d -s run -x 100 -y 15 \"env -i TERM=screen PS1='$ ' "
        "HISTFILE=/dev/null bash --norc -i\"");
    type("bash " + dir + ".sh " + dir);
  }
  ~Terminal() {
    tmux("kill-server >/dev/null 2>&1");
    for (const char* end : {".sh", ".before", ".after"}) std::filesystem::remove(dir + end);
  }
  void tmux(const std::string& command) { std::system((server + command).c_str()); }
  void keys(const std::string& names) { tmux("send-keys -t run " + names); }
  void type(const std::string& text) { keys("-l '" + text + "'"), keys("Enter"); }

  // Every line shown so far, also those scrolled out of the window, without ending blanks.
  std::string capture() {
    std::string text(1 << 20, '\0');
    FILE* pipe = ::popen((server + "capture-pane -p -t run -S - -E -").c_str(), "r");
    text.resize(std::fread(text.data(), 1, text.size(), pipe));
    return ::pclose(pipe), text;
  }

  bool waitFor(const std::string& text) {
    for (int wait = 0; wait < 1200; ++wait) {
      if (capture().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  std::string dir;
  inline static int made = 0;  // a server of its own each, never one still going away
  std::string server =
      "tmux -L doppioni-test-" + std::to_string(::getpid()) + "-" + std::to_string(++made) + " ";
};

// A shorter progress line leaves nothing of a longer one on screen, and the shell's next
// line starts on a line of its own.
TEST(Screen, AStopAtTheQuestionThenOneKeyCompletesTheRunWithItsLinesInPlace) {
  if (std::system("tmux -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
  TempTree tree;  // a copy to delete, then junk whose folder's path takes three rows
  const std::string deep = "vuota/" + std::string(150, 'l') + "/Thumbs.db";
  for (const std::string& rel : {std::string("a/uno.txt"), std::string("b/uno.txt"), deep}) {
    tree.file(rel, "uno");
    tree.setWriteTime(rel, 1100000000);
  }
  const std::string& root = tree.root();
  Terminal terminal(root);
  ASSERT_TRUE(terminal.waitFor("(s/n)")) << terminal.capture();
  terminal.keys("C-z");
  ASSERT_TRUE(terminal.waitFor("(s/n)\n[1]+  Stopped")) << terminal.capture();
  terminal.type("seq 1 30");
  ASSERT_TRUE(terminal.waitFor("\n30\n$")) << terminal.capture();
  terminal.type("fg");
  // Asked again below the shell's lines; each heading then right above its progress line.
  std::string fresh = "\n$ fg\nbash " + root + ".sh " + root + "\nVuoi cancellare i files ?  (s/n)";
  ASSERT_TRUE(terminal.waitFor(fresh)) << terminal.capture();
  terminal.keys("s");
  // The first deletion's line, drawn at once, is the longest; the last one is drawn over it.
  fresh += " s\nCancello i doppioni\nuno.txt\n" + root + "/b\nCompilo l'elenco delle cartelle ";
  fresh += "vuote\nTrovate 4 cartelle\nLe ordino\n\nRimuovo le cartelle vuote\nRimuovo " + root;
  EXPECT_TRUE(terminal.waitFor(fresh + "/vuota\nTotale cartelle 4\n")) << terminal.capture();
  ASSERT_TRUE(terminal.waitFor("Premi un tasto per finire")) << terminal.capture();
  terminal.keys("x");
  ASSERT_TRUE(terminal.waitFor("Premi un tasto per finirex\nEXIT=0\n$")) << terminal.capture();
}

// Every way out gives the terminal back as it was; keys typed during the scan show nowhere.
TEST(Screen, TheTerminalIsGivenBackAsItWasAndKeysTypedDuringTheScanAreIgnored) {
  if (std::system("tmux -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
  TempTree tree;  // files enough for a scan of about a second: links, made much faster
  for (int n = 0; n < 150000; ++n) {
    std::string first = "d" + std::to_string(n / 500) + "/0", path = first + std::to_string(n);
    n % 500 ? std::filesystem::create_hard_link(tree.path(first), tree.path(path))
            : tree.file(first);
  }
  const char* const endings[][3] = {
      // shown before the keys, the keys, shown at the end
      {"Preparo l'elenco", "'#%' Enter", "(s/n) n\n\nProgramma terminato dall'utente\nEXIT=1\n$"},
      {"Preparo l'elenco", "C-c", "EXIT=130\n$"},
      {"(s/n)", "C-c", "EXIT=130\n$"}};
  for (const auto& [when, keys, end] : endings) {
    SCOPED_TRACE(keys);
    Terminal terminal(tree.root());
    ASSERT_TRUE(terminal.waitFor(when)) << terminal.capture();
    terminal.keys(keys);
    ASSERT_EQ(terminal.capture().find("(s/n)") == std::string::npos, when[0] == 'P')
        << "the scan was over before the keys came";
    if (keys[0] == '\'') terminal.waitFor("(s/n)"), terminal.keys("n");  // still asked
    ASSERT_TRUE(terminal.waitFor(end)) << terminal.capture();
    std::string shown = terminal.capture(), before = readFile(tree.root() + ".before");
    EXPECT_EQ(shown.find_first_of("#%"), std::string::npos) << shown;
    std::size_t heading = shown.find("Preparo l'elenco"), done = shown.find("\nElenco fatto");
    EXPECT_TRUE(done == std::string::npos || std::count(&shown[heading], &shown[done], '\n') == 1);
    EXPECT_TRUE(!before.empty() && readFile(tree.root() + ".after") == before) << before;
  }
}

}  // namespace
}  // namespace doppioni::testing
