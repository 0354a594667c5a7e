// The run sequence of the real program: its transcript, the one question, the
// exit statuses and the runs that must stop before any report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "e2e/e2e_support.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

const char* const REPORTS[] = {"Rapporto_doppioni.txt", "Elenco_files_cancellati.txt",
                               "Rapporto_cartelle.txt", "Rapporto_rimozione_cartelle.txt"};
const char* const FILES[] = {"Thumbs.db", "c/~$bozza.doc", "Recycled/vecchio.txt"};
const std::string USER_ENDED = "\n\nProgramma terminato dall'utente\n";

// Something of each kind a deletion would act on, every folder open to all.
void fillTree(TempTree& tree) {
  for (const char* rel : FILES) tree.file(rel, "x");
  ASSERT_EQ(std::system(("chmod -R a+rwx '" + tree.root() + "'").c_str()), 0);
}

// Nothing deleted, and no report but the one written before the question.
void expectUntouched(const TempTree& tree, bool asked) {
  for (const char* rel : FILES) EXPECT_TRUE(tree.exists(rel)) << rel;
  for (const char* rel : REPORTS) EXPECT_EQ(tree.exists(rel), asked && rel == REPORTS[0]) << rel;
}

// The title, the working directory, three lines of credits (the last without
// its line feed), then from the first heading on: rest.
void expectTranscript(const std::string& output, const std::string& workDir, std::string rest) {
  std::string head = "ELIMINAZIONE DOPPIONI\n" + workDir + "\n\n";
  ASSERT_EQ(output.substr(0, head.size()), head) << output;
  std::size_t stage = output.find("\n\nPreparo l'elenco");
  ASSERT_NE(stage, std::string::npos) << output;
  std::string credits = output.substr(head.size(), stage - head.size());
  EXPECT_EQ(std::count(credits.begin(), credits.end(), '\n'), 2) << credits;
  EXPECT_EQ(("\n" + credits + "\n").find("\n\n"), std::string::npos) << credits;  // none empty
  EXPECT_EQ(output.substr(stage),
            "\n\nPreparo l'elenco dei files presenti\nElenco fatto, 0 files trovati\nLi ordino\n"
            "Cerco i files htm\nTrovati 0 files htm e 0 file collegati                       \n"
            "Cerco i doppioni\nTrovati 0 doppioni\nTrovo i files inutili\nTrovati 0 files "
            "inutili\nScrivo l'elenco dei file da cancellare\n\nPuoi consultare l'elenco dei "
            "files da cancellare\nmettendo a dormire il programma e aprendo il file di testo\n\n"
            "\"Rapporto_doppioni\" che sta nella cartella\n\n" +
                workDir + "\n\nVuoi cancellare i files ?  (s/n) " + rest);
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
    expectTranscript(run.output, tree.root(), rest);
    for (const char* rel : REPORTS) EXPECT_EQ(tree.exists(rel), status == 0 || rel == REPORTS[0]);
  }
}

TEST(RunSequence, AnyOtherAnswerOrTheEndOfInputDeletesNothing) {
  // What follows the answer is never read as a second chance.
  for (std::string keys : {"nss", "Nss", "\nss", "\rss", "\x1bss", " ss", "yss", ""}) {
    TempTree tree;
    fillTree(tree);
    ProgramRun run = runProgram(tree.root(), keys);
    EXPECT_EQ(run.status, 1) << keys;
    EXPECT_TRUE(run.output.ends_with(USER_ENDED)) << run.output;
    expectUntouched(tree, true);
  }
}

TEST(RunSequence, UnreadableFolderOrRemovedWorkingDirectoryEndsTheRunBeforeAnyReport) {
  // Unprivileged, since root reads every folder; in a bin, whose files would all go.
  TempTree tree;
  tree.file("Recycled/chiusa/dentro.txt", "x");
  fillTree(tree);
  std::filesystem::permissions(tree.path("Recycled/chiusa"), {});
  ProgramRun run = runProgram(tree.root(), "ss", true);
  EXPECT_EQ(run.status, 255) << run.output;  // -1
  EXPECT_TRUE(run.output.ends_with("\n" + tree.path("Recycled/chiusa") + "\nINVALID HANDLE\n"));
  expectUntouched(tree, false);

  tree.folder("sparita");
  ChangeDir inside(tree.path("sparita"));
  std::filesystem::remove(tree.path("sparita"));
  run = runProgram(".", "ss", true);
  EXPECT_EQ(run.status, 255) << run.output;
  EXPECT_NE(run.output.find("cartella di lavoro"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("Preparo l'elenco"), std::string::npos) << run.output;
  expectUntouched(tree, false);
}

}  // namespace
}  // namespace doppioni::testing
