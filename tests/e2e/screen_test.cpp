// The real program's screen in a terminal of fixed size (tmux), started from
// an interactive shell as a user starts it, read back line by line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "e2e/e2e_support.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

// A shell in a window of 100 by 15 of a tmux server of its own, where the
// program runs in dir as one job; the terminal's settings are kept in
// dir.before and dir.after, and its exit status is printed as "EXIT=n".
struct Terminal {
  explicit Terminal(const std::string& root) : dir(root) {
    std::ofstream(dir + ".sh") << "trap : INT\nstty -g >" << dir << ".before\ncd " << dir << " && "
                               << DOPPIONI_BINARY << "\necho EXIT=$?\nstty -g >" << dir
                               << ".after\n";
    tmux(
        "-f /dev/null new-session -d -s run -x 100 -y 15 "
        "\"env -i TERM=screen PS1='$ ' HISTFILE=/dev/null bash --norc -i\"");
    type("bash " + dir + ".sh");
  }
  ~Terminal() {
    tmux("kill-server >/dev/null 2>&1");
    for (const char* end : {".sh", ".before", ".after"}) std::filesystem::remove(dir + end);
  }
  void tmux(const std::string& command) { std::system((server + command).c_str()); }
  void keys(const std::string& names) { tmux("send-keys -t run " + names); }
  void type(const std::string& text) { keys("-l '" + text + "'"), keys("Enter"); }

  // Every line shown so far, also those scrolled out of the window, with
  // wrapped lines joined again and the blanks at their ends taken away.
  std::string capture() {
    std::string text(1 << 20, '\0'), all;
    FILE* pipe = ::popen((server + "capture-pane -p -t run -J -S - -E -").c_str(), "r");
    text.resize(pipe ? std::fread(text.data(), 1, text.size(), pipe) : 0);
    if (pipe) ::pclose(pipe);
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      all += line.erase(line.find_last_not_of(' ') + 1) + "\n";  // npos + 1 is 0
    }
    return all;
  }

  // Waits until text has been shown.
  bool waitFor(const std::string& text) {
    for (int wait = 0; wait < 1200;
         ++wait, std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
      if (capture().find(text) != std::string::npos) return true;
    }
    return false;
  }

  std::string dir;
  inline static int made = 0;  // a server of its own each, never one still going away
  std::string server =
      "tmux -L doppioni-test-" + std::to_string(::getpid()) + "-" + std::to_string(++made) + " ";
};

TEST(Screen, AStopAtTheQuestionThenOneKeyCompletesTheRunWithItsLinesInPlace) {
  if (std::system("tmux -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
  TempTree tree;  // a copy and junk to delete, then an empty folder to remove
  for (const char* rel : {"a/uno.txt", "b/uno.txt", "Thumbs.db", "vuota/dentro/Thumbs.db"}) {
    tree.file(rel, "uno");
    tree.setWriteTime(rel, 1100000000);
  }
  Terminal terminal(tree.root());
  ASSERT_TRUE(terminal.waitFor("(s/n)")) << terminal.capture();
  terminal.keys("C-z");
  ASSERT_TRUE(terminal.waitFor("(s/n)\n[1]+  Stopped")) << terminal.capture();
  terminal.type("seq 1 30");
  ASSERT_TRUE(terminal.waitFor("\n30\n$")) << terminal.capture();
  terminal.type("fg");
  terminal.keys("s");
  ASSERT_TRUE(terminal.waitFor("Premi un tasto per finire")) << terminal.capture();
  // Asked again on a fresh line; each heading then with its progress line
  // right below it, rewritten in place.
  const std::string& root = tree.root();
  std::string shown = terminal.capture(), fresh = "\n$ fg\nbash " + root + ".sh\n";
  fresh += "Vuoi cancellare i files ?  (s/n) s\nCancello i doppioni\nuno.txt\n" + root + "/b\n";
  fresh += "Compilo l'elenco delle cartelle vuote\nTrovate 4 cartelle\nLe ordino\n\n";
  fresh += "Rimuovo le cartelle vuote\nRimuovo " + root + "/vuota\nTotale cartelle 4\n";
  EXPECT_NE(shown.find(fresh), std::string::npos) << shown;
  terminal.keys("x");
  ASSERT_TRUE(terminal.waitFor("Premi un tasto per finirexEXIT=0")) << terminal.capture();
  EXPECT_FALSE(tree.exists("vuota"));
}

// Every way the run can end on a terminal gives it back as it was, and keys
// typed while the program works show nowhere and answer nothing.
TEST(Screen, TheTerminalIsGivenBackAsItWasAndKeysTypedDuringTheScanAreIgnored) {
  if (std::system("tmux -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
  TempTree tree;  // files enough for a scan of about a second: links, made much faster
  for (int n = 0; n < 150000; ++n) {
    std::string folder = "d" + std::to_string(n / 500) + "/", first = std::to_string(n / 500 * 500);
    if (n % 500 == 0) tree.file(folder + first);
    if (n % 500 != 0)
      std::filesystem::create_hard_link(tree.path(folder + first),
                                        tree.path(folder + std::to_string(n)));
  }
  const struct {
    const char* when;  // shown before the keys come
    const char* keys;
    const char* end;
  } endings[] = {
      {"Preparo l'elenco", "'#%' Enter", "(s/n) n\n\nProgramma terminato dall'utente\nEXIT=1\n$"},
      {"Preparo l'elenco", "C-c", "EXIT=130\n$"},
      {"(s/n)", "C-c", "EXIT=130\n$"}};
  for (const auto& ending : endings) {
    SCOPED_TRACE(ending.keys);
    Terminal terminal(tree.root());
    ASSERT_TRUE(terminal.waitFor(ending.when)) << terminal.capture();
    terminal.keys(ending.keys);
    ASSERT_EQ(terminal.capture().find("(s/n)") == std::string::npos, ending.when[0] == 'P')
        << "the scan was over before the keys came";
    if (ending.keys[0] == '\'') {  // still asked, then answered by the next key
      ASSERT_TRUE(terminal.waitFor("(s/n)")) << terminal.capture();
      terminal.keys("n");
      ASSERT_TRUE(terminal.waitFor(ending.end)) << terminal.capture();
      std::string shown = terminal.capture();  // each line in its place, no key shown
      auto heading = shown.begin() + shown.find("Preparo l'elenco dei files presenti\n");
      EXPECT_EQ(std::count(heading, shown.begin() + shown.find("Elenco fatto"), '\n'), 2) << shown;
      EXPECT_EQ(shown.find_first_of("#%"), std::string::npos) << shown;
    }
    ASSERT_TRUE(terminal.waitFor(ending.end)) << terminal.capture();
    std::string before = readFile(tree.root() + ".before");
    EXPECT_FALSE(before.empty());
    EXPECT_EQ(readFile(tree.root() + ".after"), before);
  }
}

}  // namespace
}  // namespace doppioni::testing
