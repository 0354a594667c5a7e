// The command line of the real program: what each kind of argument gets, on
// which stream, and that only a run scans or writes anything.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "e2e/e2e_support.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

TEST(CommandLine, EachKindOfArgumentGetsItsAnswerAndOnlyARunWritesAnything) {
  TempTree tree;
  tree.file("x.txt", "x");
  tree.file("sub/a/uno.txt", "uno");
  tree.folder("-x");
  const struct {
    std::string arguments;  // as the shell takes them, in the tree's root
    int status;
    std::string out, err;    // found in standard output and error ("" = nothing there)
    std::string ranIn = "";  // the folder that got the report, if any
  } cases[] = {
      {"--help", 0, "Uso: doppioni [--] [cartella]\n", ""},
      {"-h", 0, "Stato di uscita:", ""},
      {"--version", 0, "doppioni " DOPPIONI_VERSION "\n", ""},
      {"--bogus", 2, "", "doppioni: opzione sconosciuta \"--bogus\"\nPer l'uso: doppioni --help\n"},
      {"-x", 2, "", "opzione sconosciuta \"-x\""},
      {"sub x.txt", 2, "", "troppi argomenti"},
      {"-- sub x.txt", 2, "", "troppi argomenti"},
      {"x.txt", 2, "", "doppioni: \"x.txt\" non e' una cartella\n"},
      {"manca", 2, "", "la cartella \"manca\" non esiste\n"},
      {"''", 2, "", "argomento vuoto"},
      // A name's control bytes never reach the terminal.
      {"\"--a$(printf '\\033')[2J\"", 2, "", "opzione sconosciuta \"--a?[2J\"\n"},
      {"\"ma$(printf '\\t\\r\\177')nca\"", 2, "", "la cartella \"ma???nca\" non esiste\n"},
      // After "--" a folder may begin with '-', and "--help" is a folder too.
      {"-- --help", 2, "", "la cartella \"--help\" non esiste\n"},
      {"-- -x", 1, "ELIMINAZIONE DOPPIONI\n" + tree.path("-x") + "\n", "", "-x"},
      // As if started there: its path in the title, its report there.
      {"sub", 1, "ELIMINAZIONE DOPPIONI\n" + tree.path("sub") + "\n", "", "sub"},
      // Options before and after the folder, their folders read from where it started.
      {"--sposta-in -x --escludi a sub --tieni sub/a", 1, tree.path("sub") + "\n", "", "sub"},
      {"--tieni", 2, "", "doppioni: all'opzione --tieni manca la cartella\n"},
      {"--escludi -- a", 2, "", "all'opzione --escludi manca il nome della cartella\n"},
      {"--tieni x.txt", 2, "", "--tieni: \"x.txt\" non e' una cartella\n"},
      {"sub --tieni .", 2, "", "--tieni: la cartella \".\" non sta nell'albero da pulire\n"},
      {"--escludi a/b", 2, "", "\"a/b\" non e' il nome di una cartella"},
      {"--escludi ..", 2, "", "\"..\" non e' il nome di una cartella"},
      {"--escludi ''", 2, "", "argomento vuoto dopo --escludi\n"},
      {"--sposta-in sub/a sub", 2, "", "--sposta-in: la cartella \"sub/a\" sta nell'albero"},
      {"--sposta-in . sub", 2, "", "--sposta-in: la cartella \".\" contiene l'albero"},
      {"--sposta-in \"ma$(printf '\\t')nca\"", 2, "", "la cartella \"ma?nca\" non esiste\n"},
      {"--sposta-in -x --sposta-in -x", 2, "", "--sposta-in si indica una volta sola\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    int status = std::system(("cd " + tree.root() + " && echo n | " + reachableProgram() + " " +
                              c.arguments + " >sub/a/out 2>sub/a/err")
                                 .c_str());
    EXPECT_EQ(WEXITSTATUS(status), c.status);
    for (auto [name, expected] : {std::pair{"sub/a/out", c.out}, std::pair{"sub/a/err", c.err}}) {
      std::string got = readFile(tree.path(name));
      EXPECT_TRUE(expected.empty() ? got.empty() : got.find(expected) != std::string::npos) << got;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tree.root()), {}), 3);
    for (std::string folder : {"sub", "-x"}) {
      EXPECT_EQ(tree.exists(folder + "/Rapporto_doppioni.txt"), folder == c.ranIn) << folder;
      std::filesystem::remove(tree.path(folder + "/Rapporto_doppioni.txt"));
    }
  }
}

}  // namespace
}  // namespace doppioni::testing
