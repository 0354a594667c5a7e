// The run sequence of the real program: its transcript, the answer to the
// one question, the exit statuses and the runs that must stop early.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

namespace fs = std::filesystem;

const char* const REPORTS[] = {"Rapporto_doppioni.txt", "Elenco_files_cancellati.txt",
                               "Rapporto_cartelle.txt", "Rapporto_rimozione_cartelle.txt"};

// The file stage on a folder without files.
const std::string FILE_STAGE =
    "\n\nPreparo l'elenco dei files presenti\n"
    "Elenco fatto, 0 files trovati\n"
    "Li ordino\n"
    "Cerco i files htm\n"
    "Trovati 0 files htm e 0 file collegati                       \n"
    "Cerco i doppioni\n"
    "Trovati 0 doppioni\n"
    "Trovo i files inutili\n"
    "Trovati 0 files inutili\n"
    "Scrivo l'elenco dei file da cancellare\n";

// The folder stage on a folder without subfolders.
const std::string FOLDER_STAGE =
    "\nCancello i doppioni\n"
    "Compilo l'elenco delle cartelle vuote\n"
    "Trovate 0 cartelle \n"
    "Le ordino   \n"
    "\nRimuovo le cartelle vuote\n"
    "Totale cartelle 0\n"
    "Cartelle senza files 0\n"
    "Cartelle rimosse 0\n"
    "Accesso negato a 0 cartelle\n\n";

std::string question(const std::string& workDir) {
  return "\nPuoi consultare l'elenco dei files da cancellare\n"
         "mettendo a dormire il programma e aprendo il file di testo\n\n"
         "\"Rapporto_doppioni\" che sta nella cartella\n\n" +
         workDir + "\n\nVuoi cancellare i files ?  (s/n) ";
}

const std::string CLOSING =
    "\nFatto. \nPuoi vedere i risultati dell'operazione aprendo con un editor\n"
    "per esempio Word i seguenti files\n\n"
    "Rapporto_doppioni.txt\nElenco_files_cancellati.txt\nRapporto_cartelle.txt\n"
    "Rapporto_rimozione_cartelle.txt\n\nPremi un tasto per finire";

const std::string USER_ENDED = "\n\nProgramma terminato dall'utente\n";

// Each text is found in output after the one before it.
void expectInOrder(const std::string& output, std::initializer_list<std::string> texts) {
  std::size_t from = 0;
  for (const std::string& text : texts) {
    std::size_t at = output.find(text, from);
    ASSERT_NE(at, std::string::npos)
        << "missing after offset " << from << ": [" << text << "]\nin:\n"
        << output.substr(0, 4000);
    from = at + text.size();
  }
}

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The title screen as it reaches a file: the title, the working directory,
// an empty line and three lines of credits, the last without its line feed.
void expectTitle(const std::string& output, const std::string& workDir) {
  std::string head = "ELIMINAZIONE DOPPIONI\n" + workDir + "\n\n";
  ASSERT_EQ(output.substr(0, head.size()), head);
  std::size_t end = output.find(FILE_STAGE.substr(0, 10), head.size());
  ASSERT_NE(end, std::string::npos);
  std::string credits = output.substr(head.size(), end - head.size());
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = credits.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.push_back(credits.substr(start, nl - start));
  }
  lines.push_back(credits.substr(start));
  ASSERT_EQ(lines.size(), 3u) << credits;
  for (const std::string& line : lines) EXPECT_FALSE(line.empty()) << credits;
}

// A small tree with something of each kind for the deletion to act on.
void fillTree(TempTree& tree) {
  tree.file("a/lettera.txt", "ciao");
  tree.file("b/lettera.txt", "ciao");
  tree.setWriteTime("a/lettera.txt", 1100000000);
  tree.setWriteTime("b/lettera.txt", 1100000000);
  tree.file("Thumbs.db", "x");
  tree.file("c/~$bozza.doc", "x");
  tree.file("Recycled/vecchio.txt", "x");
  tree.folder("vuota/anche");
}

void expectTreeUntouched(const TempTree& tree) {
  for (const char* rel : {"a/lettera.txt", "b/lettera.txt", "Thumbs.db", "c/~$bozza.doc",
                          "Recycled/vecchio.txt", "vuota/anche"}) {
    EXPECT_TRUE(tree.exists(rel)) << rel << " was removed";
  }
}

void expectNoReports(const TempTree& tree) {
  for (const char* report : REPORTS) EXPECT_FALSE(tree.exists(report)) << report;
}

TEST(RunSequence, EmptyFolderAnsweredNo) {
  TempTree tree;
  ProgramRun run = runProgram(tree.root(), "n");
  EXPECT_EQ(run.status, 1);
  expectTitle(run.output, tree.root());
  std::size_t stage = run.output.find(FILE_STAGE);
  ASSERT_NE(stage, std::string::npos) << run.output;
  EXPECT_EQ(run.output.substr(stage), FILE_STAGE + question(tree.root()) + "n" + USER_ENDED);
  EXPECT_TRUE(tree.exists("Rapporto_doppioni.txt"));
  for (const char* report : {REPORTS[1], REPORTS[2], REPORTS[3]}) {
    EXPECT_FALSE(tree.exists(report)) << report;
  }
}

TEST(RunSequence, EmptyFolderAnsweredYesRunsToTheEnd) {
  TempTree tree;
  ProgramRun run = runProgram(tree.root(), "s\n");
  EXPECT_EQ(run.status, 0);
  expectTitle(run.output, tree.root());
  std::size_t stage = run.output.find(FILE_STAGE);
  ASSERT_NE(stage, std::string::npos) << run.output;
  // Enter, the final key, is not echoed: the closing text is the last thing printed.
  EXPECT_EQ(run.output.substr(stage),
            FILE_STAGE + question(tree.root()) + "s" + FOLDER_STAGE + CLOSING);
  for (const char* report : REPORTS) EXPECT_TRUE(tree.exists(report)) << report;
}

class AnswerYes : public ::testing::TestWithParam<const char*> {};

TEST_P(AnswerYes, DeletesAndClosesNamingTheFourReports) {
  TempTree tree;
  fillTree(tree);
  ProgramRun run = runProgram(tree.root(), GetParam());
  EXPECT_EQ(run.status, 0);
  expectInOrder(run.output, {"Elenco fatto, 5 files trovati\n", "(s/n) ", "\nCancello i doppioni\n",
                             "Compilo l'elenco delle cartelle vuote\n", "Le ordino   \n",
                             "\nRimuovo le cartelle vuote\n", CLOSING});
  EXPECT_EQ(run.output.find(USER_ENDED), std::string::npos);
  for (const char* report : REPORTS) EXPECT_TRUE(tree.exists(report)) << report;
  EXPECT_FALSE(tree.exists("Thumbs.db"));
  EXPECT_FALSE(tree.exists("Recycled/vecchio.txt"));
  EXPECT_FALSE(tree.exists("c/~$bozza.doc"));
  EXPECT_FALSE(tree.exists("vuota"));
  EXPECT_NE(tree.exists("a/lettera.txt"), tree.exists("b/lettera.txt")) << "one copy stays";
}

// The final key may be any key, or none at all when the input ends there.
INSTANTIATE_TEST_SUITE_P(Keys, AnswerYes, ::testing::Values("s\n", "S\n", "sx", "s"));

TEST(RunSequence, FinalKeyIsEchoedAfterTheClosingText) {
  TempTree tree;
  ProgramRun run = runProgram(tree.root(), "sx");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(endsWith(run.output, "Premi un tasto per finirex")) << run.output;
}

class AnswerOther : public ::testing::TestWithParam<std::string> {};

TEST_P(AnswerOther, EndsWithStatusOneDeletingNothing) {
  TempTree tree;
  fillTree(tree);
  // Whatever follows the answer is never read as a second chance.
  ProgramRun run = runProgram(tree.root(), GetParam() + "ss");
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(endsWith(run.output, USER_ENDED)) << run.output;
  EXPECT_EQ(run.output.find("Cancello i doppioni"), std::string::npos);
  EXPECT_EQ(run.output.find("Compilo l'elenco delle cartelle vuote"), std::string::npos);
  EXPECT_EQ(run.output.find("Premi un tasto"), std::string::npos);
  expectTreeUntouched(tree);
  EXPECT_TRUE(tree.exists("Rapporto_doppioni.txt"));  // written before the question
  for (const char* report : {REPORTS[1], REPORTS[2], REPORTS[3]}) {
    EXPECT_FALSE(tree.exists(report)) << report;
  }
}

INSTANTIATE_TEST_SUITE_P(Keys, AnswerOther,
                         ::testing::Values("n", "N", "\n", "\r", "\x1b", " ", "y", "1"),
                         [](const ::testing::TestParamInfo<std::string>& key) {
                           return "key" + std::to_string(static_cast<unsigned char>(key.param[0]));
                         });

TEST(RunSequence, EndOfInputAtTheQuestionDeletesNothing) {
  TempTree tree;
  fillTree(tree);
  ProgramRun run = runProgram(tree.root(), "");
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(endsWith(run.output, "(s/n) " + USER_ENDED)) << run.output;
  expectTreeUntouched(tree);
}

// Makes every folder of the tree writable by anyone, so that a run as an
// unprivileged user could delete there if it went on.
void openToEveryone(const TempTree& tree) {
  fs::permissions(tree.root(), fs::perms::all);
  for (const auto& entry : fs::recursive_directory_iterator(tree.root())) {
    if (entry.is_directory()) fs::permissions(entry.path(), fs::perms::all);
  }
}

class UnreadableFolder : public ::testing::TestWithParam<const char*> {};

TEST_P(UnreadableFolder, EndsTheRunBeforeAnyReport) {
  TempTree tree;
  fillTree(tree);
  std::string locked = GetParam();
  tree.file(locked + "/dentro.txt", "x");
  tree.file("z/ultimo.txt", "x");
  openToEveryone(tree);
  fs::permissions(tree.path(locked), fs::perms::none);
  ProgramRun run = runProgram(tree.root(), "ss", true);
  ASSERT_NE(run.status, 122) << "the program could not be started as an unprivileged user: "
                                "every user must be able to reach the build directory";
  EXPECT_EQ(run.status, 255);  // -1
  EXPECT_TRUE(endsWith(run.output, "\n" + tree.path(locked) + "\nINVALID HANDLE\n")) << run.output;
  EXPECT_EQ(run.output.find("Elenco fatto"), std::string::npos);
  EXPECT_EQ(run.output.find("(s/n)"), std::string::npos);
  expectNoReports(tree);
  expectTreeUntouched(tree);
  fs::permissions(tree.path(locked), fs::perms::owner_all);
  EXPECT_TRUE(tree.exists(locked + "/dentro.txt"));
}

// An ordinary folder, one deep in the tree, and one inside a recycle bin,
// whose files would all be deleted.
INSTANTIATE_TEST_SUITE_P(Where, UnreadableFolder,
                         ::testing::Values("chiusa", "a/b/chiusa", "Recycled/chiusa"));

TEST(RunSequence, WorkingDirectoryThatNoLongerExistsScansNothing) {
  TempTree tree;
  fillTree(tree);
  tree.folder("sparita");
  openToEveryone(tree);
  std::string gone = tree.path("sparita");
  std::string out = tree.path("run.out");
  // The shell enters the folder and removes it; the program starts inside it.
  // Unprivileged and answered "n", so that a faulty run could harm nothing.
  // A copy of the program that any user can reach, wherever the build is.
  std::string program = tree.path("doppioni");
  fs::copy_file(DOPPIONI_BINARY, program);
  fs::permissions(program, fs::perms::all);
  std::string command = "cd '" + gone + "' && rmdir '" + gone + "' && exec '" + program + "'";
  std::string shell = ::geteuid() == 0 ? "/usr/bin/setpriv --reuid=65534 --regid=65534 "
                                         "--clear-groups -- /bin/sh -c \""
                                       : "/bin/sh -c \"";
  int status = std::system(("printf n | " + shell + command + "\" > '" + out + "' 2>&1").c_str());
  std::string output = readFile(out);
  fs::remove(out);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 255) << output;
  EXPECT_NE(output.find("cartella di lavoro"), std::string::npos) << output;
  EXPECT_EQ(output.find("Preparo l'elenco"), std::string::npos) << output;
  EXPECT_FALSE(tree.exists("sparita"));
  expectNoReports(tree);
  expectTreeUntouched(tree);
}

TEST(RunSequence, ProgressLineStaysInTheOutputAsTheTableGrows) {
  TempTree tree;
  // One file more than the table holds at first.
  std::string dir = tree.path("tanti");
  fs::create_directory(dir);
  for (int n = 0; n <= 10000; ++n) std::ofstream(dir + "/f" + std::to_string(n) + ".txt");
  ProgramRun run = runProgram(tree.root(), "n");
  EXPECT_EQ(run.status, 1);
  // Not a terminal: the line stays on its own, in the order printed.
  EXPECT_NE(run.output.find("\n\nPreparo l'elenco dei files presenti\n"
                            "Trovati 10000 files                 \n"
                            "Elenco fatto, 10001 files trovati\n"),
            std::string::npos)
      << run.output.substr(0, 2000);
}

}  // namespace
}  // namespace doppioni::testing
