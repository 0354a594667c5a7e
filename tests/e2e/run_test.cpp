// The run sequence of the real program: its transcript, the one question, the
// exit statuses and the runs that must stop before any report.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <tuple>

#include "e2e/e2e_support.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

namespace fs = std::filesystem;

const char* const REPORTS[] = {"Rapporto_doppioni.txt", "Elenco_files_cancellati.txt",
                               "Rapporto_cartelle.txt", "Rapporto_rimozione_cartelle.txt"};
const std::string USER_ENDED = "\n\nProgramma terminato dall'utente\n";

// Something of each kind a deletion would act on, with one write time, open to all.
void fillTree(TempTree& tree) {
  for (const char* rel : {"A/x.txt", "B/x.txt", "P.htm", "P_file/img.gif", "A/Thumbs.db",
                          "~$doc.doc", "Recycled/vecchio.txt"}) {
    tree.file(rel, "same");
    tree.setWriteTime(rel, 1110186341);
  }
  ASSERT_EQ(std::system(("chmod -R a+rwx '" + tree.root() + "'").c_str()), 0);
}

// Every entry below the root but the duplicates report: permissions, write time, content.
std::map<std::string, std::string> snapshot(const TempTree& tree) {
  std::map<std::string, std::string> state;
  for (const auto& entry : fs::recursive_directory_iterator(
           tree.root(), fs::directory_options::skip_permission_denied)) {
    std::string rel = entry.path().lexically_relative(tree.root());
    if (rel == REPORTS[0]) continue;
    state[rel] = std::to_string(static_cast<int>(entry.symlink_status().permissions())) + " " +
                 std::to_string(entry.last_write_time().time_since_epoch().count()) + " " +
                 (entry.is_directory() ? "folder" : readFile(entry.path()));
  }
  return state;
}

TEST(RunSequence, EmptyFolderTranscriptForEachAnswer) {
  const std::string end =
      "\nCancello i doppioni\nCompilo l'elenco delle cartelle vuote\nTrovate 0 cartelle \n"
      "Le ordino   \n\nRimuovo le cartelle vuote\nTotale cartelle 0\nCartelle senza files 0\n"
      "Cartelle rimosse 0\nAccesso negato a 0 cartelle\n\n\nFatto. \nPuoi vedere i risultati "
      "dell'operazione aprendo con un editor\nper esempio Word i seguenti files\n\n"
      "Rapporto_doppioni.txt\nElenco_files_cancellati.txt\nRapporto_cartelle.txt\n"
      "Rapporto_rimozione_cartelle.txt\n\nPremi un tasto per finire";
  // Keys are echoed but Enter, which ends the final wait as any key does.
  for (auto [keys, rest, status] :
       {std::tuple{"n", "n" + USER_ENDED, 1}, {"s\n", "s" + end, 0}, {"Sx", "S" + end + "x", 0}}) {
    TempTree tree;
    ProgramRun run = runProgram(tree.root(), keys);
    EXPECT_EQ(run.status, status) << keys;
    EXPECT_EQ(
        run.output,
        "ELIMINAZIONE DOPPIONI\n" + tree.root() +
            "\n\ndoppioni " DOPPIONI_VERSION
            "\nTrova pagine web salvate, files doppi, files inutili e cartelle vuote\n"
            "Non cancella nulla senza chiedertelo\n\nPreparo l'elenco dei files presenti\n"
            "Elenco fatto, 0 files trovati\nLi ordino\nCerco i files htm\n"
            "Trovati 0 files htm e 0 file collegati                       \nCerco i doppioni\n"
            "Trovati 0 doppioni\nTrovo i files inutili\nTrovati 0 files inutili\n"
            "Scrivo l'elenco dei file da cancellare\n\nPuoi consultare l'elenco dei files da "
            "cancellare\nmettendo a dormire il programma e aprendo il file di testo\n\n"
            "\"Rapporto_doppioni\" che sta nella cartella\n\n" +
            tree.root() + "\n\nVuoi cancellare i files ?  (s/n) " + rest);
    for (const char* rel : REPORTS) EXPECT_EQ(tree.exists(rel), status == 0 || rel == REPORTS[0]);
  }
}

TEST(RunSequence, AnyOtherAnswerOrTheEndOfInputChangesOnlyThumbsDb) {
  TempTree tree;
  fillTree(tree);
  auto expected = snapshot(tree);  // with Thumbs.db writable
  fs::permissions(tree.path("A/Thumbs.db"), fs::perms::owner_write, fs::perm_options::remove);
  // What follows the answer is never read as a second chance. Each run after
  // the first finds the report before it among the files.
  for (std::string keys : {"nss", "Nss", "\nss", "\rss", "\x1bss", " ss", "yss", ""}) {
    ProgramRun run = runProgram(tree.root(), keys);
    EXPECT_EQ(run.status, 1) << keys;
    EXPECT_TRUE(run.output.ends_with(USER_ENDED)) << run.output;
    EXPECT_EQ(snapshot(tree), expected) << keys;
  }
  EXPECT_NE(readFile(tree.path(REPORTS[0])).find("\n  0 Rapporto_doppioni.txt "),
            std::string::npos);
}

TEST(RunSequence, UnreadableFolderOrRemovedWorkingDirectoryEndsTheRunBeforeAnyReport) {
  // Unprivileged, since root reads every folder; in a bin, whose files would all go.
  TempTree tree;
  tree.file("Recycled/chiusa/dentro.txt", "x");
  fillTree(tree);
  fs::permissions(tree.path("Recycled/chiusa"), fs::perms::none);
  auto expected = snapshot(tree);
  ProgramRun run = runProgram(tree.root(), "ss", true);
  EXPECT_EQ(run.status, 255) << run.output;  // -1
  EXPECT_TRUE(run.output.ends_with("\n" + tree.path("Recycled/chiusa") + "\nINVALID HANDLE\n"));

  tree.folder("sparita");
  ChangeDir inside(tree.path("sparita"));
  fs::remove(tree.path("sparita"));
  run = runProgram(".", "ss", true);
  EXPECT_EQ(run.status, 255) << run.output;
  EXPECT_TRUE(run.output.starts_with("Impossibile leggere la cartella di lavoro (")) << run.output;
  EXPECT_EQ(snapshot(tree), expected);
  EXPECT_FALSE(tree.exists(REPORTS[0]));
}

// A folder in the way of a report: the run ends with a message before any removal, that folder too.
TEST(RunSequence, AReportNameTakenByAFolderEndsTheRunAndTheFolderStays) {
  for (const char* report : REPORTS) {
    TempTree tree;
    tree.folder(report);
    tree.folder("Vuota");
    ProgramRun run = runProgram(tree.root(), "s");
    EXPECT_EQ(run.status, 255) << report;
    EXPECT_NE(run.output.find(report), std::string::npos) << run.output;
    EXPECT_TRUE(fs::is_directory(tree.path(report)) && tree.exists("Vuota")) << report;
  }
}

}  // namespace
}  // namespace doppioni::testing
