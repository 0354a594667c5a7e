// The real program's screen in a terminal of fixed size (tmux), started from
// an interactive shell as a user starts it, read back row by row.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "e2e/e2e_support.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> all;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    all.push_back(line.erase(line.find_last_not_of(' ') + 1));  // npos + 1 is 0
  }
  return all;
}

// A shell in a window of 100 by 15 of a tmux server of its own, where the
// program runs in dir as one job; the terminal's settings are kept in
// dir.before and dir.after, and its exit status is printed as "EXIT=n".
struct Terminal {
  explicit Terminal(const std::string& dir) : script(dir + ".sh") {
    std::ofstream(script) << "trap : INT\nstty -g >" << dir << ".before\ncd " << dir << " && "
                          << DOPPIONI_BINARY << "\necho EXIT=$?\nstty -g >" << dir << ".after\n";
    started = tmux(
                  "-f /dev/null new-session -d -s run -x 100 -y 15 "
                  "\"env -i TERM=screen PS1='$ ' HISTFILE=/dev/null bash --norc -i\"") == 0;
    type("bash " + script);
  }
  ~Terminal() {
    tmux("kill-server >/dev/null 2>&1");
    std::filesystem::remove(script);
  }
  int tmux(const std::string& command) { return std::system((server + command).c_str()); }
  void keys(const std::string& names) { tmux("send-keys -t run " + names); }
  void type(const std::string& text) { keys("-l '" + text + "'"), keys("Enter"); }

  // Every line shown so far, also those scrolled out of the window, with
  // wrapped lines joined again; or only the window's rows.
  std::string capture(bool all = true) {
    std::string text(1 << 20, '\0');
    FILE* pipe =
        ::popen((server + "capture-pane -p -t run" + (all ? " -J -S - -E -" : "")).c_str(), "r");
    text.resize(pipe ? std::fread(text.data(), 1, text.size(), pipe) : 0);
    if (pipe) ::pclose(pipe);
    return text;
  }

  // Waits until text has been shown, in the window or scrolled out of it.
  bool waitFor(const std::string& text) {
    auto until = std::chrono::steady_clock::now() + 60s;
    for (; std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(50ms)) {
      if (capture().find(text) != std::string::npos) return true;
    }
    return false;
  }

  inline static int made = 0;  // a server of its own each, never one still going away
  std::string server =
      "tmux -L doppioni-test-" + std::to_string(::getpid()) + "-" + std::to_string(++made) + " ";
  std::string script;
  bool started = false;
};

// The lines shown are the patterns' lines, one for one: equal, or longer and
// starting with a pattern that ends in '*'; "<root>" is the working directory.
void expectLines(const std::string& shown, const std::string& patterns, const std::string& root) {
  std::vector<std::string> got = lines(shown), expected = lines(patterns);
  ASSERT_EQ(got.size(), expected.size()) << shown;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    std::string p = expected[i];
    if (std::size_t at = p.find("<root>"); at != std::string::npos) p.replace(at, 6, root);
    bool prefix = p.ends_with('*') && got[i].size() >= p.size();
    EXPECT_TRUE(prefix ? got[i].starts_with(p.substr(0, p.size() - 1)) : got[i] == p)
        << "line " << i + 1 << " is not " << p << "\n"
        << shown;
  }
}

TEST(Screen, AStopAtTheQuestionThenOneKeyCompletesTheRunWithItsLinesInPlace) {
  if (std::system("tmux -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
  // One of each kind the run acts on, and files enough to rewrite progress lines often.
  TempTree tree;
  for (const char* rel : {"a/uno.txt", "b/uno.txt", "Thumbs.db", "c/pagina.htm"}) {
    tree.file(rel, "uno");
    tree.setWriteTime(rel, 1100000000);
  }
  for (int n = 0; n < 20; ++n) tree.file("n/f" + std::to_string(100 + n) + ".txt", "file");
  tree.folder("vuota/dentro");
  Terminal terminal(tree.root());
  ASSERT_TRUE(terminal.started);
  ASSERT_TRUE(terminal.waitFor("(s/n) ")) << terminal.capture();
  terminal.keys("C-z");
  ASSERT_TRUE(terminal.waitFor("Stopped")) << terminal.capture();
  terminal.type("seq 1 30");
  ASSERT_TRUE(terminal.waitFor("\n30\n$ ")) << terminal.capture();
  terminal.type("fg");
  ASSERT_TRUE(terminal.waitFor("fg\nbash " + terminal.script + "\nVuoi")) << terminal.capture();
  terminal.keys("s");
  ASSERT_TRUE(terminal.waitFor("Premi un tasto per finire")) << terminal.capture();
  std::string seq;
  for (int n = 1; n <= 30; ++n) seq += std::to_string(n) + "\n";
  // From row 1, whatever scrolled: the title from column 30, each heading
  // once with its progress line right below it, rewritten in place.
  expectLines(
      terminal.capture(),
      std::string(29, ' ') +
          "ELIMINAZIONE DOPPIONI\n<root>\n\n*\n*\n*\n\nPreparo l'elenco dei files presenti\n"
          "Elenco fatto, 24 files trovati\nLi ordino\nCerco i files htm\n"
          "Esamino il 23 esimo file\nTrovati 1 files htm e 0 file collegati\n"
          "Cerco i doppioni\nEsamino il *\nTrovati 1 doppioni\nTrovo i files inutili\n"
          "Esamino il 23 esimo file\nTrovati 1 files inutili\n"
          "Scrivo l'elenco dei file da cancellare\n\n*\n*\n\n*\n\n<root>\n\n"
          "Vuoi cancellare i files ?  (s/n)\n[1]+  Stopped*\n$ seq 1 30\n" +
          seq +
          "$ fg\nbash *\nVuoi cancellare i files ?  (s/n) s\nCancello i doppioni\n"
          "uno.txt\n<root>/b\nCompilo l'elenco delle cartelle vuote\n"
          "Trovate 6 cartelle\nLe ordino\n\nRimuovo le cartelle vuote\n"
          "Rimuovo <root>/*\nTotale cartelle 6\n*\n*\n*\n\n\nFatto.\n*\n*\n\n"
          "Rapporto_doppioni.txt\nElenco_files_cancellati.txt\n"
          "Rapporto_cartelle.txt\nRapporto_rimozione_cartelle.txt\n\n"
          "Premi un tasto per finire",
      tree.root());
  EXPECT_EQ(lines(terminal.capture(false)).back(), "Premi un tasto per finire");
  terminal.keys("x");
  ASSERT_TRUE(terminal.waitFor("Premi un tasto per finirexEXIT=0")) << terminal.capture();
  EXPECT_FALSE(tree.exists("Thumbs.db"));
  EXPECT_FALSE(tree.exists("vuota"));
}

// Every way the run can end on a terminal gives it back as it was, and keys
// typed while the program works show nowhere and answer nothing.
TEST(Screen, TheTerminalIsGivenBackAsItWasAndKeysTypedDuringTheScanAreIgnored) {
  if (std::system("tmux -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
  // Files enough for a scan of about a second: links, made much faster than files.
  TempTree tree;
  for (int n = 0; n < 150000; ++n) {
    std::string folder = "d" + std::to_string(n / 500) + "/";
    if (n % 500 == 0) tree.file(folder + std::to_string(n));
    if (n % 500 != 0) {
      std::filesystem::create_hard_link(tree.path(folder + std::to_string(n / 500 * 500)),
                                        tree.path(folder + std::to_string(n)));
    }
  }
  const struct {
    const char* when;  // shown before the keys
    const char* keys;
    const char* status;
  } endings[] = {{"Preparo l'elenco", "'#%' Enter", nullptr},
                 {"Preparo l'elenco", "C-c", "EXIT=130"},
                 {"(s/n) ", "C-c", "EXIT=130"}};
  for (const auto& ending : endings) {
    SCOPED_TRACE(ending.keys);
    Terminal terminal(tree.root());
    ASSERT_TRUE(terminal.waitFor(ending.when)) << terminal.capture();
    terminal.keys(ending.keys);
    ASSERT_EQ(terminal.capture().find("(s/n)") == std::string::npos, ending.when[0] == 'P')
        << "the scan was over before the keys came";
    if (ending.status == nullptr) {  // still asked, then answered by the next key
      ASSERT_TRUE(terminal.waitFor("(s/n) ")) << terminal.capture();
      terminal.keys("n");
      ASSERT_TRUE(terminal.waitFor("EXIT=1\n$ ")) << terminal.capture();
      expectLines(terminal.capture(),
                  std::string(29, ' ') +
                      "ELIMINAZIONE DOPPIONI\n<root>\n\n*\n*\n*\n\nPreparo l'elenco dei files "
                      "presenti\nTrovati *\nElenco fatto, 150000 files trovati\n"
                      "Li ordino\nCerco i files htm\nEsamino il *\nTrovati 0 files htm e 0 file "
                      "collegati\nCerco i doppioni\nEsamino il *\nTrovati 0 doppioni\n"
                      "Trovo i files inutili\nEsamino il *\nTrovati 0 files inutili\n*\n\n*\n*\n\n"
                      "*\n\n<root>\n\nVuoi cancellare i files ?  (s/n) n\n\n"
                      "Programma terminato dall'utente\nEXIT=1\n$",
                  tree.root());
    } else {
      ASSERT_TRUE(terminal.waitFor(ending.status)) << terminal.capture();
    }
    ASSERT_TRUE(terminal.waitFor("$ ")) << terminal.capture();
    std::string before = readFile(tree.root() + ".before");
    EXPECT_FALSE(before.empty());
    EXPECT_EQ(readFile(tree.root() + ".after"), before);
  }
}

}  // namespace
}  // namespace doppioni::testing
