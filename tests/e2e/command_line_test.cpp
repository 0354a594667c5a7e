// The command line of the real program: what each kind of argument gets,
// on which stream, and that only a run scans or writes anything.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "e2e/e2e_support.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

struct Case {
  std::string arguments;  // as the shell gets them, in the tree's root
  int status;
  std::string out;  // found in standard output ("" = empty)
  std::string err;  // found in standard error ("" = empty)
};

TEST(CommandLine, EachKindOfArgumentGetsItsAnswerAndOnlyARunWritesAnything) {
  TempTree tree;
  tree.file("x.txt", "x");
  tree.file("sub/a/uno.txt", "uno");
  tree.file("sub/b/uno.txt", "uno");
  const std::string sub = tree.path("sub");
  const Case cases[] = {
      {"--help", 0, "Uso: doppioni [cartella]", ""},
      {"-h", 0, "Stato di uscita:", ""},
      {"--version", 0, "doppioni " DOPPIONI_VERSION "\n", ""},
      {"--bogus", 2, "", "doppioni: opzione sconosciuta \"--bogus\"\nPer l'uso: doppioni --help\n"},
      {"-", 2, "", "opzione sconosciuta"},
      {"sub x.txt", 2, "", "troppi argomenti"},
      {"x.txt", 2, "", "doppioni: \"x.txt\" non e' una cartella\nPer l'uso: doppioni --help\n"},
      {"manca", 2, "", "la cartella \"manca\" non esiste"},
      {"''", 2, "", "argomento vuoto"},
      // A run there as if started there: its title, its report, its question.
      {"sub", 1, "ELIMINAZIONE DOPPIONI\n" + sub + "\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const std::string out = tree.path("../out"), err = tree.path("../err");
    int status = std::system(("cd '" + tree.root() + "' && echo n | '" + reachableProgram() + "' " +
                              c.arguments + " >'" + out + "' 2>'" + err + "'")
                                 .c_str());
    EXPECT_EQ(WEXITSTATUS(status), c.status);
    for (auto [file, expected] : {std::pair{out, c.out}, std::pair{err, c.err}}) {
      std::string got = readFile(file);
      EXPECT_TRUE(expected.empty() ? got.empty() : got.find(expected) != std::string::npos) << got;
      std::filesystem::remove(file);
    }
    EXPECT_FALSE(tree.exists("Rapporto_doppioni.txt"));
    EXPECT_EQ(tree.exists("sub/Rapporto_doppioni.txt"), c.status == 1);
  }
  EXPECT_NE(readFile(tree.path("sub/Rapporto_doppioni.txt")).find("uno.txt"), std::string::npos);
}

}  // namespace
}  // namespace doppioni::testing
