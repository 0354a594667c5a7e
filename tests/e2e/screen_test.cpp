// The real program's screen in a terminal of fixed size (tmux), read back row by row.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
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

// The program in a tmux server of its own, in a window of 100 by 15; after it
// the shell prints its exit status as "EXIT=n".
struct Terminal {
  explicit Terminal(const std::string& dir) {
    started = std::system((tmux + "-f /dev/null new-session -d -s run -x 100 -y 15 -c '" + dir +
                           "' \"'" + DOPPIONI_BINARY + "'; echo EXIT=\\$?; sleep 100\"")
                              .c_str()) == 0;
  }
  ~Terminal() { std::system((tmux + "kill-server >/dev/null 2>&1").c_str()); }

  // The window's rows from row 1; with all, every line printed so far, also
  // those scrolled out of the window, with wrapped lines joined again.
  std::string capture(bool all) {
    FILE* pipe =
        ::popen((tmux + "capture-pane -p -t run" + (all ? " -J -S - -E -" : "")).c_str(), "r");
    std::string text(1 << 20, '\0');
    text.resize(pipe ? std::fread(text.data(), 1, text.size(), pipe) : 0);
    if (pipe) ::pclose(pipe);
    return text;
  }

  // Waits until text has been shown, in the window or scrolled out of it.
  bool waitFor(const std::string& text, std::chrono::milliseconds limit = 20s) {
    auto until = std::chrono::steady_clock::now() + limit;
    for (; std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(50ms)) {
      if (capture(true).find(text) != std::string::npos) return true;
    }
    return false;
  }

  // Presses a key until the program shows that it took it: a key typed
  // before the program asks is dropped.
  bool answer(const std::string& key, const std::string& evidence) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      std::system((tmux + "send-keys -t run " + key).c_str());
      if (waitFor(evidence, 3s)) return true;
    }
    return false;
  }

  std::string tmux = "tmux -L doppioni-test-" + std::to_string(::getpid()) + " ";
  bool started = false;
};

// The lines shown are the patterns' lines, one for one: equal, or longer and
// starting with a pattern that ends in '*'; "<root>" is the working directory.
void expectLines(const std::vector<std::string>& shown, const std::string& patterns,
                 const std::string& root, const std::string& dump) {
  std::vector<std::string> expected = lines(patterns);
  ASSERT_EQ(shown.size(), expected.size()) << dump;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    std::string p = expected[i];
    if (std::size_t at = p.find("<root>"); at != std::string::npos) p.replace(at, 6, root);
    bool prefix = p.ends_with('*') && shown[i].size() >= p.size();
    EXPECT_TRUE(prefix ? shown[i].starts_with(p.substr(0, p.size() - 1)) : shown[i] == p)
        << "line " << i + 1 << " is not " << p << "\n"
        << dump;
  }
}

TEST(Screen, CompleteRunInAWindowThatScrolls) {
  if (std::system("tmux -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
  // One of each kind the run acts on, and files enough to rewrite progress lines often.
  TempTree tree;
  for (const char* rel : {"a/uno.txt", "b/uno.txt", "Thumbs.db", "Recycled/x.txt", "c/pagina.htm",
                          "c/pagina_file/i.gif"}) {
    tree.file(rel, "uno");
    tree.setWriteTime(rel, 1100000000);
  }
  for (int n = 0; n < 20; ++n) tree.file("n/f" + std::to_string(100 + n) + ".txt", "file");
  tree.folder("vuota/dentro");
  Terminal terminal(tree.root());
  ASSERT_TRUE(terminal.started);
  // One key, no Enter; its echo shows that it was taken.
  ASSERT_TRUE(terminal.answer("s", "(s/n) s")) << terminal.capture(true);
  ASSERT_TRUE(terminal.waitFor("Premi un tasto per finire")) << terminal.capture(true);

  // From row 1, whatever scrolled: the title from column 30, the working directory,
  // credits, each heading once with its progress line right below it, rewritten in place.
  const std::string expected =
      std::string(29, ' ') +
      "ELIMINAZIONE DOPPIONI\n<root>\n\n*\n*\n*\n\nPreparo l'elenco dei files presenti\n"
      "Elenco fatto, 26 files trovati\nLi ordino\nCerco i files htm\nEsamino il 25 esimo file\n"
      "Trovati 1 files htm e 1 file collegati\nCerco i doppioni\nEsamino il *\nTrovati 1 doppioni\n"
      "Trovo i files inutili\nEsamino il 25 esimo file\nTrovati 1 files inutili\n"
      "Scrivo l'elenco dei file da cancellare\n\nPuoi consultare l'elenco dei files da cancellare\n"
      "mettendo a dormire il programma e aprendo il file di testo\n\n"
      "\"Rapporto_doppioni\" che sta nella cartella\n\n<root>\n\n"
      "Vuoi cancellare i files ?  (s/n) s\nCancello i doppioni\nx.txt\n<root>/Recycled\n"
      "Compilo l'elenco delle cartelle vuote\nTrovate 8 cartelle\nLe ordino\n\n"
      "Rimuovo le cartelle vuote\nRimuovo <root>/*\nTotale cartelle 8\nCartelle senza files 4\n"
      "Cartelle rimosse 4\nAccesso negato a 0 cartelle\n\n\nFatto.\n"
      "Puoi vedere i risultati dell'operazione aprendo con un editor\n"
      "per esempio Word i seguenti files\n\nRapporto_doppioni.txt\nElenco_files_cancellati.txt\n"
      "Rapporto_cartelle.txt\nRapporto_rimozione_cartelle.txt\n\nPremi un tasto per finire";
  std::string dump = terminal.capture(true);
  expectLines(lines(dump), expected, tree.root(), dump);
  // The window shows the end of the run, the cursor after the last text.
  std::vector<std::string> rows = lines(terminal.capture(false));
  ASSERT_EQ(rows.size(), 15u) << dump;
  EXPECT_EQ(rows.back(), "Premi un tasto per finire");
  ASSERT_TRUE(terminal.answer("x", "Premi un tasto per finirexEXIT=0")) << terminal.capture(true);
  EXPECT_FALSE(tree.exists("Thumbs.db"));
  EXPECT_FALSE(tree.exists("vuota"));
}

}  // namespace
}  // namespace doppioni::testing
