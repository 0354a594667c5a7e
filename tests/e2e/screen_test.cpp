// The screen itself: the real program in a terminal of fixed size (tmux),
// driven with key presses and read back cell row by cell row.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_support.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

using namespace std::chrono_literals;

std::string shellQuoted(const std::string& text) {
  std::string result = "'";
  for (char c : text) {
    if (c == '\'') {
      result += "'\\''";
    } else {
      result.push_back(c);
    }
  }
  return result + "'";
}

// The standard output of a shell command.
std::string commandOutput(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  ::pclose(pipe);
  return output;
}

bool tmuxInstalled() {
  return std::system("tmux -V >/dev/null 2>&1") == 0;
}

std::string trimRight(std::string line) {
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.push_back(trimRight(text.substr(start, nl - start)));
  }
  if (start < text.size()) lines.push_back(trimRight(text.substr(start)));
  return lines;
}

// The program running in its own tmux server, in a window of fixed size.
// After the program the shell prints its exit status as "EXIT=n".
class Terminal {
 public:
  Terminal(const std::string& dir, int width, int height) {
    static int serial = 0;
    socket_ = "doppioni-test-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    std::string program = shellQuoted(DOPPIONI_BINARY) + "; echo EXIT=$?; sleep 100";
    started_ = std::system((tmux() + " -f /dev/null new-session -d -s run -x " +
                            std::to_string(width) + " -y " + std::to_string(height) + " -c " +
                            shellQuoted(dir) + " " + shellQuoted(program) + " </dev/null")
                               .c_str()) == 0;
  }
  ~Terminal() { std::system((tmux() + " kill-server >/dev/null 2>&1").c_str()); }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  bool started() const { return started_; }

  // The rows of the window, from row 1.
  std::vector<std::string> screen() { return splitLines(capture("")); }
  // Every line printed so far, the ones scrolled out of the window too,
  // with lines wrapped at the window's edge joined again.
  std::vector<std::string> transcript() { return splitLines(capture(" -J -S - -E -")); }

  void sendKey(const std::string& key) {
    std::system((tmux() + " send-keys -t run " + shellQuoted(key)).c_str());
  }

  // Waits until text has been shown, in the window or scrolled out of it;
  // false after the time-out.
  bool waitFor(const std::string& text, std::chrono::milliseconds limit = 20s) {
    auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
      if (capture(" -J -S - -E -").find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  // Presses a key and waits for evidence that the program took it. The
  // program drops keys typed before it asks, so a key that arrived just too
  // early is pressed again.
  bool answer(const std::string& key, const std::string& evidence) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      sendKey(key);
      if (waitFor(evidence, 3s)) return true;
    }
    return false;
  }

  std::string dump() {
    std::string text;
    for (const std::string& line : transcript()) text += "|" + line + "\n";
    return text;
  }

 private:
  std::string tmux() const { return "tmux -L " + socket_; }
  std::string capture(const std::string& options) {
    return commandOutput(tmux() + " capture-pane -p -t run" + options + " 2>/dev/null");
  }

  std::string socket_;
  bool started_ = false;
};

// A line pattern: exact, or a prefix when it ends in '*'.
bool matches(const std::string& line, const std::string& pattern) {
  if (!pattern.empty() && pattern.back() == '*') {
    return line.rfind(pattern.substr(0, pattern.size() - 1), 0) == 0;
  }
  return line == pattern;
}

// The lines from `from` on are the patterns, one for one.
void expectLines(const std::vector<std::string>& lines, std::size_t from,
                 const std::vector<std::string>& patterns, const std::string& dump) {
  ASSERT_GE(lines.size(), from + patterns.size()) << dump;
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    EXPECT_TRUE(matches(lines[from + i], patterns[i]))
        << "line " << from + i + 1 << ": [" << lines[from + i] << "], expected [" << patterns[i]
        << "]\n"
        << dump;
  }
}

std::size_t countLines(const std::vector<std::string>& lines, const std::string& pattern) {
  std::size_t n = 0;
  for (const std::string& line : lines) n += matches(line, pattern) ? 1 : 0;
  return n;
}

class Screen : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tmuxInstalled()) GTEST_SKIP() << "tmux is not installed";
  }
};

TEST_F(Screen, TitleScreenAndAnAnswerTakenWithoutEnter) {
  TempTree tree;
  tree.file("a/uno.txt", "1");
  Terminal terminal(tree.root(), 100, 30);
  ASSERT_TRUE(terminal.started());
  ASSERT_TRUE(terminal.waitFor("(s/n)")) << terminal.dump();

  std::vector<std::string> rows = terminal.screen();
  ASSERT_GE(rows.size(), 9u);
  EXPECT_EQ(rows[0], std::string(29, ' ') + "ELIMINAZIONE DOPPIONI");
  EXPECT_EQ(rows[1], tree.root());
  EXPECT_EQ(rows[2], "");
  for (int row = 4; row <= 6; ++row) EXPECT_NE(rows[row - 1], "") << "credits row " << row;
  EXPECT_EQ(rows[6], "");
  EXPECT_EQ(rows[7], "Preparo l'elenco dei files presenti");
  EXPECT_EQ(rows[8], "Elenco fatto, 1 files trovati");

  // One key, no Enter: the answer is echoed and the run ends.
  ASSERT_TRUE(terminal.answer("n", "EXIT=")) << terminal.dump();
  std::vector<std::string> lines = terminal.transcript();
  std::size_t asked = 0;
  while (asked < lines.size() && !matches(lines[asked], "Vuoi cancellare*")) ++asked;
  expectLines(
      lines, asked,
      {"Vuoi cancellare i files ?  (s/n) n", "", "Programma terminato dall'utente", "EXIT=1"},
      terminal.dump());
  EXPECT_TRUE(tree.exists("a/uno.txt"));
}

// A tree with one of each thing the run acts on, and enough files for the
// progress lines to be rewritten many times; in the folder `under`.
void fillTree(TempTree& tree, const std::string& under = "") {
  std::string at = under.empty() ? "" : under + "/";
  tree.file(at + "a/uno.txt", "uno");
  tree.file(at + "b/uno.txt", "uno");
  tree.setWriteTime(at + "a/uno.txt", 1100000000);
  tree.setWriteTime(at + "b/uno.txt", 1100000000);
  tree.file(at + "Thumbs.db", "x");
  tree.file(at + "Recycled/x.txt", "x");
  tree.file(at + "c/pagina.htm", "<html></html>");
  tree.file(at + "c/pagina_file/img.gif", "GIF89a");
  for (int n = 0; n < 20; ++n) tree.file(at + "n/f" + std::to_string(100 + n) + ".txt", "file");
  tree.folder(at + "vuota/dentro");
}

// The run as it must stand, line after line, whatever scrolled: each
// heading once, its progress line right below it, then its count.
std::vector<std::string> fileStage(const std::string& workDir) {
  return {"Preparo l'elenco dei files presenti",
          "Elenco fatto, 26 files trovati",
          "Li ordino",
          "Cerco i files htm",
          "Esamino il 25 esimo file",
          "Trovati 1 files htm e 1 file collegati",
          "Cerco i doppioni",
          "Esamino il *",
          "Trovati 1 doppioni",
          "Trovo i files inutili",
          "Esamino il 25 esimo file",
          "Trovati 1 files inutili",
          "Scrivo l'elenco dei file da cancellare",
          "",
          "Puoi consultare l'elenco dei files da cancellare",
          "mettendo a dormire il programma e aprendo il file di testo",
          "",
          "\"Rapporto_doppioni\" che sta nella cartella",
          "",
          workDir,
          ""};
}

TEST_F(Screen, CompleteRunInAWindowThatScrolls) {
  TempTree tree;
  fillTree(tree);
  Terminal terminal(tree.root(), 100, 15);
  ASSERT_TRUE(terminal.started());
  ASSERT_TRUE(terminal.waitFor("(s/n)")) << terminal.dump();
  // The echo shows the answer was taken; only then is the run left to finish.
  ASSERT_TRUE(terminal.answer("s", "(s/n) s")) << terminal.dump();
  ASSERT_TRUE(terminal.waitFor("Premi un tasto per finire")) << terminal.dump();

  std::vector<std::string> lines = terminal.transcript();
  std::string dump = terminal.dump();
  ASSERT_GE(lines.size(), 8u) << dump;
  EXPECT_EQ(lines[0], std::string(29, ' ') + "ELIMINAZIONE DOPPIONI");
  EXPECT_EQ(lines[1], tree.root());
  std::vector<std::string> expected = fileStage(tree.root());
  std::vector<std::string> rest = {"Vuoi cancellare i files ?  (s/n) s",
                                   "Cancello i doppioni",
                                   "x.txt",  // the last file deleted, over the ones before it
                                   tree.path("Recycled"),
                                   "Compilo l'elenco delle cartelle vuote",
                                   "Trovate 8 cartelle",
                                   "Le ordino",
                                   "",
                                   "Rimuovo le cartelle vuote",
                                   "Rimuovo " + tree.root() + "*",
                                   "Totale cartelle 8",
                                   "Cartelle senza files 4",
                                   "Cartelle rimosse 4",
                                   "Accesso negato a 0 cartelle",
                                   "",
                                   "",
                                   "Fatto.",
                                   "Puoi vedere i risultati dell'operazione aprendo con un editor",
                                   "per esempio Word i seguenti files",
                                   "",
                                   "Rapporto_doppioni.txt",
                                   "Elenco_files_cancellati.txt",
                                   "Rapporto_cartelle.txt",
                                   "Rapporto_rimozione_cartelle.txt",
                                   "",
                                   "Premi un tasto per finire"};
  expected.insert(expected.end(), rest.begin(), rest.end());
  expectLines(lines, 7, expected, dump);
  EXPECT_EQ(countLines(lines, "Esamino il *"), 3u) << dump;
  EXPECT_EQ(countLines(lines, "Rimuovo /*"), 1u) << dump;

  // The window shows the end of the run, the cursor after the last text.
  std::vector<std::string> rows = terminal.screen();
  ASSERT_EQ(rows.size(), 15u);
  std::size_t last = rows.size();
  while (last > 0 && rows[last - 1].empty()) --last;
  ASSERT_GT(last, 0u);
  EXPECT_EQ(rows[last - 1], "Premi un tasto per finire");

  ASSERT_TRUE(terminal.answer("x", "EXIT=")) << terminal.dump();
  EXPECT_TRUE(terminal.waitFor("Premi un tasto per finirexEXIT=0")) << terminal.dump();
  EXPECT_FALSE(tree.exists("Thumbs.db"));
  EXPECT_FALSE(tree.exists("vuota"));
}

TEST_F(Screen, LongWorkingDirectoryAndNarrowWindow) {
  TempTree tree;
  // A working directory longer than a row, and a window narrower than the
  // credits and some progress lines: the rows they wrap onto are counted.
  std::string deep = "cartella-con-un-nome-molto-lungo-per-andare-a-capo-sullo-schermo";
  fillTree(tree, deep);
  std::string workDir = tree.path(deep);
  ASSERT_GT(workDir.size(), 60u);

  Terminal terminal(workDir, 60, 40);
  ASSERT_TRUE(terminal.started());
  ASSERT_TRUE(terminal.waitFor("(s/n)")) << terminal.dump();
  std::vector<std::string> lines = terminal.transcript();
  std::string dump = terminal.dump();
  ASSERT_GE(lines.size(), 8u) << dump;
  EXPECT_EQ(lines[0], std::string(29, ' ') + "ELIMINAZIONE DOPPIONI");
  EXPECT_EQ(lines[1], workDir);
  EXPECT_EQ(lines[2], "");
  std::vector<std::string> expected = fileStage(workDir);
  expected.push_back("Vuoi cancellare i files ?  (s/n)");
  expectLines(lines, 7, expected, dump);
  EXPECT_EQ(countLines(lines, "Esamino il *"), 3u) << dump;

  // On the screen: the title, the working directory on the rows it wraps
  // onto, an empty row, the credits on theirs, an empty row, the heading.
  std::vector<std::string> rows = terminal.screen();
  std::size_t row = 1;
  std::string shown;
  while (row < rows.size() && shown.size() < workDir.size()) shown += rows[row++];
  EXPECT_EQ(shown, workDir) << dump;
  EXPECT_EQ(row, 3u) << "the working directory takes two rows";
  ASSERT_LT(row, rows.size());
  EXPECT_EQ(rows[row++], "");
  std::size_t credits = row;
  while (row < rows.size() && !rows[row].empty()) ++row;
  EXPECT_GE(row - credits, 4u) << "the credits wrap in a narrow window\n" << dump;
  ASSERT_LT(row + 1, rows.size());
  EXPECT_EQ(rows[row + 1], "Preparo l'elenco dei files presenti") << dump;

  ASSERT_TRUE(terminal.answer("n", "EXIT=1")) << terminal.dump();
}

TEST_F(Screen, ProgressLineThatWrapsIsRewrittenOnItsOwnRows) {
  TempTree tree;
  // Folders whose removal lines are longer than two rows of the window, all
  // of one length so that each line covers the one before it exactly.
  std::string work = "lavoro-in-una-cartella-dal-nome-abbastanza-lungo";
  for (int n = 0; n < 5; ++n)
    tree.folder(work + "/cartella-vuota-numero-" + std::to_string(1000 + n));
  std::string workDir = tree.path(work);
  std::string line = "Rimuovo " + workDir + "/cartella-vuota-numero-1000";
  ASSERT_GT(line.size() + 22, 120u);

  Terminal terminal(workDir, 60, 40);
  ASSERT_TRUE(terminal.started());
  ASSERT_TRUE(terminal.waitFor("(s/n)")) << terminal.dump();
  // The echo shows the answer was taken; only then is the run left to finish.
  ASSERT_TRUE(terminal.answer("s", "(s/n) s")) << terminal.dump();
  ASSERT_TRUE(terminal.waitFor("Premi un tasto per finire")) << terminal.dump();
  std::vector<std::string> lines = terminal.transcript();
  std::string dump = terminal.dump();
  std::size_t heading = 0;
  while (heading < lines.size() && lines[heading] != "Rimuovo le cartelle vuote") ++heading;
  ASSERT_LT(heading + 1, lines.size()) << dump;
  std::string shown = lines[heading + 1];
  EXPECT_EQ(shown.size(), line.size()) << dump;
  EXPECT_TRUE(matches(shown, "Rimuovo " + workDir + "/cartella-vuota-numero-*")) << dump;
  expectLines(lines, heading + 2,
              {"Totale cartelle 5", "Cartelle senza files 5", "Cartelle rimosse 5",
               "Accesso negato a 0 cartelle"},
              dump);
  ASSERT_TRUE(terminal.answer("x", "EXIT=0")) << terminal.dump();
}

}  // namespace
}  // namespace doppioni::testing
