// Complete runs of the real program answered "s": every report, and what the
// disk holds afterwards.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "e2e/e2e_support.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t SAVED = 1100000000;  // one write time for every copy

const std::set<std::string> REPORT_NAMES = {"Rapporto_doppioni.txt", "Elenco_files_cancellati.txt",
                                            "Rapporto_cartelle.txt",
                                            "Rapporto_rimozione_cartelle.txt"};

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

// The report with its timestamp line in a fixed form.
std::string withoutTime(const std::string& text) {
  static const std::regex stamp("Compilato il \\d\\d/\\d\\d/\\d{4} alle \\d\\d:\\d\\d:\\d\\d");
  return std::regex_replace(text, stamp, "Compilato il <ora>");
}

// Every file (or link) and every folder below root, relative, '/' between names.
struct DiskContents {
  std::set<std::string> files;
  std::set<std::string> folders;
};
DiskContents diskContents(const TempTree& tree) {
  DiskContents disk;
  for (auto& entry : fs::recursive_directory_iterator(tree.root())) {
    std::string rel = fs::relative(entry.path(), tree.root()).generic_string();
    if (entry.is_directory() && !entry.is_symlink()) {
      disk.folders.insert(rel);
    } else if (!REPORT_NAMES.count(rel)) {
      disk.files.insert(rel);
    }
  }
  return disk;
}

void makeOpenToAll(const TempTree& tree) {
  for (auto& entry : fs::recursive_directory_iterator(tree.root())) {
    if (entry.is_directory()) fs::permissions(entry.path(), fs::perms::all);
  }
}

// Runs the program with its question answered through a pipe: beforeAnswer
// runs while the question waits, then keys are typed.
ProgramRun runAnswering(const std::string& dir, const std::function<void()>& beforeAnswer,
                        std::string_view keys, bool unprivileged) {
  ProgramRun run;
  char outName[] = "/tmp/doppioni-out-XXXXXX";
  int out = ::mkstemp(outName);
  int pipeEnds[2];
  if (out < 0 || ::pipe(pipeEnds) != 0) return run;
  std::vector<std::string> args;
  if (unprivileged && ::geteuid() == 0) {
    args = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
  }
  args.push_back(DOPPIONI_BINARY);
  pid_t child = ::fork();
  if (child == 0) {
    ::dup2(pipeEnds[0], STDIN_FILENO);
    ::close(pipeEnds[1]);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(out, STDERR_FILENO);
    if (::chdir(dir.c_str()) != 0) ::_exit(121);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(122);
  }
  ::close(pipeEnds[0]);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (readFile(outName).find("(s/n) ") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  beforeAnswer();
  if (::write(pipeEnds[1], keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) {
    ADD_FAILURE() << "the answer could not be typed";
  }
  ::close(pipeEnds[1]);
  int status = 0;
  ::waitpid(child, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  ::close(out);
  run.output = readFile(outName);
  ::unlink(outName);
  return run;
}

TEST(CompleteRunTest, DeletesTheMarkedFilesAndRemovesTheFoldersLeftEmpty) {
  TempTree tree;
  tree.file("note.txt", "n");
  tree.file("Foto/2004/mare.jpg", "onde");
  tree.file("Foto/2005/mare.jpg", "onde");
  tree.file("Foto/2006/mare.jpg", "onde");
  tree.file("Copia/solo.txt", "s");
  tree.file("Documenti/solo.txt", "s");
  tree.file("Documenti/lettera.doc", "testo");
  tree.file("Documenti/~$lettera.doc", "blocco");
  tree.file("Documenti/Thumbs.db", "tt");
  tree.file("Copia2/index.htm", "<html>");
  tree.file("Copia2/index_file/img.png", "png");
  tree.file("Pagine/index.htm", "<html>");
  tree.file("Pagine/index_file/img.png", "png");
  tree.file("Recycled/vecchio.txt", "v");
  tree.file("Recycled/Sotto/x.txt", "x");
  tree.folder("Vuota/A/B");
  for (const char* copy :
       {"Foto/2004/mare.jpg", "Foto/2005/mare.jpg", "Foto/2006/mare.jpg", "Copia/solo.txt",
        "Documenti/solo.txt", "Copia2/index.htm", "Copia2/index_file/img.png", "Pagine/index.htm",
        "Pagine/index_file/img.png"}) {
    tree.setWriteTime(copy, SAVED);
  }
  fs::permissions(tree.path("Documenti/solo.txt"), fs::perms::owner_write,
                  fs::perm_options::remove);

  ProgramRun run = runProgram(tree.root(), "sx");
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string& r = tree.root();

  EXPECT_EQ(withoutTime(readFile(tree.path("Rapporto_doppioni.txt"))),
            "RAPPORTO DOPPIONI\n\nCompilato il <ora>\n\n"
            "C - da cancellare\n0 - normale\n1 - file htm\n2 - associato ad un htm\n"
            "3 - inutile\n\n"
            "C 3 Thumbs.db 2 in ... Documenti\n"
            "  2 img.png 3 in ... Copia2/index_file\n"
            "C 2 img.png 3 in ... Pagine/index_file\n"
            "  1 index.htm 6 in ... Copia2\n"
            "C 1 index.htm 6 in ... Pagine\n"
            "  0 lettera.doc 5 in ... Documenti\n"
            "  0 mare.jpg 4 in ... Foto/2004\n"
            "C 0 mare.jpg 4 in ... Foto/2005\n"
            "C 0 mare.jpg 4 in ... Foto/2006\n"
            "  0 note.txt 1 in ... " +
                r +
                "\n"
                "  0 solo.txt 1 in ... Copia\n"
                "C 0 solo.txt 1 in ... Documenti\n"
                "C 3 vecchio.txt 1 in ... Recycled\n"
                "C 3 x.txt 1 in ... Recycled/Sotto\n"
                "C 3 ~$lettera.doc 6 in ... Documenti\n"
                "fine del rapporto\n");

  EXPECT_EQ(withoutTime(readFile(tree.path("Elenco_files_cancellati.txt"))),
            "Elenco dei files cancellati\n\nCompilato il <ora>\n\n"
            "C - cancellato, R - accesso negato\n\n\n"
            "C Thumbs.db in " +
                r +
                "/Documenti\n"
                "C img.png in " +
                r +
                "/Pagine/index_file\n"
                "C index.htm in " +
                r +
                "/Pagine\n"
                "C mare.jpg in " +
                r +
                "/Foto/2005\n"
                "C mare.jpg in " +
                r +
                "/Foto/2006\n"
                "R solo.txt in " +
                r +
                "/Documenti\n"
                "C vecchio.txt in " +
                r +
                "/Recycled\n"
                "C x.txt in " +
                r +
                "/Recycled/Sotto\n"
                "C ~$lettera.doc in " +
                r + "/Documenti\n");

  // Folders of one depth come in the order the system lists them: compare
  // the lines as sets, and the depths as an order.
  int d = static_cast<int>(std::count(r.begin(), r.end(), '/'));
  auto folderLine = [&](int files, int depth, const std::string& rel) {
    std::string line = std::to_string(files);
    line.insert(0, 4 - std::min<std::size_t>(4, line.size()), ' ');
    std::string deep = std::to_string(d + depth);
    deep.insert(0, 3 - std::min<std::size_t>(3, deep.size()), ' ');
    return line + "    " + deep + "    " + r + "/" + rel;
  };
  std::vector<std::string> report =
      lines(withoutTime(readFile(tree.path("Rapporto_cartelle.txt"))));
  ASSERT_EQ(report.size(), 23u);
  EXPECT_EQ(std::vector<std::string>(report.begin(), report.begin() + 6),
            (std::vector<std::string>{"Compilato il <ora>", "", "Numero cartelle: 15", "",
                                      "files slashes cartella", ""}));
  EXPECT_EQ(std::vector<std::string>(report.end() - 2, report.end()),
            (std::vector<std::string>{"", "fine del rapporto"}));
  std::vector<std::string> folderLines(report.begin() + 6, report.end() - 2);
  for (std::size_t i = 1; i < folderLines.size(); ++i) {
    EXPECT_GE(folderLines[i - 1].substr(8, 3), folderLines[i].substr(8, 3)) << "deepest first";
  }
  EXPECT_EQ(
      std::set<std::string>(folderLines.begin(), folderLines.end()),
      (std::set<std::string>{folderLine(1, 1, "Copia"), folderLine(1, 1, "Copia2"),
                             folderLine(1, 2, "Copia2/index_file"), folderLine(2, 1, "Documenti"),
                             folderLine(0, 1, "Foto"), folderLine(1, 2, "Foto/2004"),
                             folderLine(0, 2, "Foto/2005"), folderLine(0, 2, "Foto/2006"),
                             folderLine(0, 1, "Pagine"), folderLine(0, 2, "Pagine/index_file"),
                             folderLine(0, 1, "Recycled"), folderLine(0, 2, "Recycled/Sotto"),
                             folderLine(0, 1, "Vuota"), folderLine(0, 2, "Vuota/A"),
                             folderLine(0, 3, "Vuota/A/B")}));

  std::vector<std::string> removal =
      lines(withoutTime(readFile(tree.path("Rapporto_rimozione_cartelle.txt"))));
  ASSERT_EQ(removal.size(), 22u);
  std::set<std::string> attempts(removal.begin() + 4, removal.begin() + 14);
  std::string foto = r + "/Foto\taccesso negato ";
  ASSERT_EQ(attempts.count(foto + std::to_string(ENOTEMPTY)), 1u);
  EXPECT_EQ(attempts,
            (std::set<std::string>{r + "/Vuota/A/B\trimossa", r + "/Vuota/A\trimossa",
                                   r + "/Vuota\trimossa", r + "/Foto/2005\trimossa",
                                   r + "/Foto/2006\trimossa", foto + std::to_string(ENOTEMPTY),
                                   r + "/Pagine/index_file\trimossa", r + "/Pagine\trimossa",
                                   r + "/Recycled/Sotto\trimossa", r + "/Recycled\trimossa"}));
  EXPECT_EQ(removal[0], "Rapporto rimozione cartelle");
  EXPECT_EQ(std::vector<std::string>(removal.begin() + 14, removal.end()),
            (std::vector<std::string>{"", "", "Totale cartelle 15", "Cartelle senza files 10",
                                      "Cartelle rimosse 9", "Accesso negato a 1 cartelle", "",
                                      "Fine rapporto"}));
  EXPECT_NE(run.output.find("Trovate 15 cartelle \n"), std::string::npos);
  EXPECT_NE(run.output.find("Totale cartelle 15\nCartelle senza files 10\nCartelle rimosse 9\n"
                            "Accesso negato a 1 cartelle\n\n"),
            std::string::npos);

  DiskContents disk = diskContents(tree);
  EXPECT_EQ(disk.files, (std::set<std::string>{"note.txt", "Foto/2004/mare.jpg", "Copia/solo.txt",
                                               "Documenti/solo.txt", "Documenti/lettera.doc",
                                               "Copia2/index.htm", "Copia2/index_file/img.png"}));
  EXPECT_EQ(disk.folders, (std::set<std::string>{"Copia", "Copia2", "Copia2/index_file",
                                                 "Documenti", "Foto", "Foto/2004"}));
  for (const std::string& name : REPORT_NAMES) EXPECT_TRUE(tree.exists(name)) << name;
}

TEST(CompleteRunTest, ChangesMadeWhileTheQuestionWaitsAreRespected) {
  TempTree tree;
  tree.file("A/tenuto.txt", "t");
  tree.file("B/tenuto.txt", "t");
  tree.file("C/tenuto.txt", "t");
  tree.file("A/cambiato.txt", "c");
  tree.file("B/cambiato.txt", "c");
  tree.file("A/sparito.txt", "s");
  tree.file("B/sparito.txt", "s");
  tree.file("Chiusa/dentro/x.txt", "x");
  tree.folder("Chiusa/vuota");
  tree.folder("Vuota");
  for (const char* copy : {"A/tenuto.txt", "B/tenuto.txt", "C/tenuto.txt", "A/cambiato.txt",
                           "B/cambiato.txt", "A/sparito.txt", "B/sparito.txt"}) {
    tree.setWriteTime(copy, SAVED);
  }
  makeOpenToAll(tree);  // an unprivileged run deletes and removes here too

  ProgramRun run = runAnswering(
      tree.root(),
      [&] {
        fs::remove(tree.path("A/tenuto.txt"));  // the kept copy goes: both copies must stay
        tree.file("B/cambiato.txt", "cambiato dopo");
        fs::remove(tree.path("B/sparito.txt"));
        fs::permissions(tree.path("Chiusa"), fs::perms::none);
      },
      "sx", /*unprivileged=*/true);
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string& r = tree.root();

  EXPECT_EQ(withoutTime(readFile(tree.path("Elenco_files_cancellati.txt"))),
            "Elenco dei files cancellati\n\nCompilato il <ora>\n\n"
            "C - cancellato, R - accesso negato\n\n\n"
            "R cambiato.txt in " +
                r +
                "/B\n"
                "R sparito.txt in " +
                r +
                "/B\n"
                "R tenuto.txt in " +
                r +
                "/B\n"
                "R tenuto.txt in " +
                r + "/C\n");
  fs::permissions(tree.path("Chiusa"), fs::perms::all);
  DiskContents disk = diskContents(tree);
  EXPECT_EQ(disk.files,
            (std::set<std::string>{"A/cambiato.txt", "B/cambiato.txt", "A/sparito.txt",
                                   "B/tenuto.txt", "C/tenuto.txt", "Chiusa/dentro/x.txt"}));

  // Run as an unprivileged user, the closed folder cannot be listed.
  std::string folders = readFile(tree.path("Rapporto_cartelle.txt"));
  std::string removal = readFile(tree.path("Rapporto_rimozione_cartelle.txt"));
  std::string depth = std::to_string(std::count(r.begin(), r.end(), '/') + 1);
  EXPECT_NE(folders.find("  -4      " + depth + "    " + r + "/Chiusa\n"), std::string::npos)
      << folders;
  EXPECT_EQ(folders.find(r + "/Chiusa/"), std::string::npos) << "never walked";
  EXPECT_EQ(removal.find("Chiusa"), std::string::npos) << "never tried";
  EXPECT_TRUE(tree.exists("Chiusa/vuota"));
  EXPECT_NE(removal.find("Totale cartelle 5\nCartelle senza files 1\nCartelle rimosse 1\n"),
            std::string::npos)
      << removal;
  EXPECT_FALSE(tree.exists("Vuota"));
  EXPECT_TRUE(fs::is_directory(tree.root()));
}

}  // namespace
}  // namespace doppioni::testing
