// A complete run of the real program answered "s": its reports and the disk afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <vector>

#include "e2e/e2e_support.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

namespace fs = std::filesystem;
using Lines = std::multiset<std::string>;

// The files or the folders below the tree's root, '/' between names.
Lines onDisk(const TempTree& tree, bool folders) {
  Lines found;
  for (const auto& entry : fs::recursive_directory_iterator(tree.root())) {
    if (entry.is_directory() == folders) found.insert(entry.path().lexically_relative(tree.root()));
  }
  return found;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> all;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) all.push_back(line);
  return all;
}

// A report's lines that name a folder below the root; they must come deepest first.
Lines folderLines(const TempTree& tree, const char* report) {
  Lines found;
  std::ptrdiff_t depth = PTRDIFF_MAX;
  for (const std::string& line : lines(readFile(tree.path(report)))) {
    if (line.find(tree.root() + "/") == std::string::npos) continue;
    EXPECT_LE(std::ranges::count(line, '/'), depth) << report << ": " << line;
    depth = std::ranges::count(line, '/');
    found.insert(line);
  }
  return found;
}

TEST(CompleteRun, EveryReportAndTheDiskAfterwards) {
  // Per file, in report order: its marks, the deletion (C, R refused, - not tried), its path.
  const std::vector<std::string> files = lines(
      "C 3 C Documenti/Thumbs.db\n  0 - A/cambiato.txt\nC 0 R B/cambiato.txt\n  0 - "
      "A/cresciuto.txt\n"
      "C 0 R B/cresciuto.txt\n  0 - A/datato.txt\nC 0 R B/datato.txt\n  2 - "
      "Pagine/index_file/foto.jpg\n  0 - A/illeggibile.txt\nC 0 R B/illeggibile.txt\n"
      "  2 - Copia/index_file/img.png\n"
      "C 2 R Modificata/index_file/img.png\nC 2 C Pagine/index_file/img.png\n"
      "  1 - Copia/index.htm\nC 1 R Modificata/index.htm\nC 1 C Pagine/index.htm\n"
      "  0 - A/legame.txt\nC 0 R B/legame.txt\n"
      "  0 - Foto/2004/mare.jpg\nC 0 C Foto/2005/mare.jpg\nC 0 R Foto/2006/mare.jpg\n"
      "C 0 R Link/mare.jpg\n  0 - note.txt\n  0 - A/null\nC 0 R Dev/null\n  0 - A/sparito.txt\n"
      "C 0 R B/sparito.txt\n  0 - A/tenuto.txt\nC 0 R B/tenuto.txt\nC 3 C Recycled/tubo\n"
      "C 3 C Recycled/Sotto/x.txt\nC 3 C Documenti/~$lettera.doc");
  // Per folder: its removal (r, n refused as not empty, - not tried), its path.
  const std::vector<std::string> folders = lines(
      "- A\n- B\n- Chiusa\n- Copia\n- Copia/index_file\n- Dev\nr Documenti\nn Foto\n- Foto/2004\n"
      "r Foto/2005\n- Foto/2006\n- Link\n- Modificata\n- Modificata/index_file\nn Pagine\n"
      "- Pagine/index_file\nr Recycled\nr Recycled/Sotto\nr Vuota");
  TempTree tree;
  Lines foldersLeft, attempts;
  for (const std::string& folder : folders) {
    std::string rel = folder.substr(2), path = tree.path(rel);
    tree.folder(rel);
    std::string refused = "\taccesso negato " + std::to_string(ENOTEMPTY);
    if (folder[0] != '-') attempts.insert(path + (folder[0] == 'r' ? "\trimossa" : refused));
    if (folder[0] != 'r') foldersLeft.insert(rel);
  }
  std::string report =
      "RAPPORTO DOPPIONI\n\nCompilato il <ora>\n\nC - da cancellare\n0 - normale\n1 - file htm\n"
      "2 - associato ad un htm\n3 - inutile\n\n";
  std::string deleted =
      "Elenco dei files cancellati\n\nCompilato il <ora>\n\n"
      "C - cancellato, R - accesso negato\n\n\n";
  std::string pageParts;  // tried after every other file, once their pages are
  Lines filesLeft = {"Rapporto_doppioni.txt", "Elenco_files_cancellati.txt",
                     "Rapporto_cartelle.txt", "Rapporto_rimozione_cartelle.txt"};
  for (const std::string& file : files) {
    std::string rel = file.substr(6), dir = fs::path(rel).parent_path();
    std::string name = fs::path(rel).filename();
    // A pipe is no copy of an empty file, though junk whatever it is.
    bool pipe = rel == "Dev/null" || name == "tubo";
    ASSERT_TRUE(!pipe || ::mkfifo(tree.path(rel).c_str(), 0600) == 0);
    if (rel == "Link/mare.jpg")
      fs::create_hard_link(tree.path("Foto/2004/mare.jpg"), tree.path(rel));
    if (!tree.exists(rel)) tree.file(rel, name == "null" ? "" : "x");
    tree.setWriteTime(rel, 1100000000);  // copies are copies only with one write time
    report += file.substr(0, 4) + name + (name == "null" || name == "tubo" ? " 0" : " 1") +
              " in ... " + (dir.empty() ? tree.root() : dir) + "\n";
    if (file[4] != '-')
      (file[2] == '2' ? pageParts : deleted) +=
          file[4] + (" " + name + " in " + tree.path(dir) + "\n");
    if (file[4] != 'C' && rel != "A/tenuto.txt" && rel != "B/sparito.txt") filesLeft.insert(rel);
  }
  // Read-only: Foto/2006/mare.jpg, and Thumbs.db until its mark; a copy that
  // cannot be read is never shown to be one. Run by "nobody" where root runs
  // it, since root lists and reads everything.
  std::string setUp =
      "cd " + tree.root() +
      " && chmod u-w Foto/2006/mare.jpg Documenti/Thumbs.db && chmod a-r B/illeggibile.txt";
  ASSERT_EQ(std::system((setUp + (::geteuid() == 0 ? " && chown -R 65534 ." : "")).c_str()), 0);
  ProgramRun run = runProgram(tree.root(), "sx", true, [&] {
    fs::remove(tree.path("A/tenuto.txt"));  // the kept copy goes: its copy must stay
    std::ofstream(tree.path("A/cresciuto.txt"), std::ios::app) << "x";
    tree.setWriteTime("B/datato.txt", 1200000000);
    fs::remove(tree.path("A/legame.txt"));  // now a link to its copy: that copy must stay
    fs::create_symlink(tree.path("B/legame.txt"), tree.path("A/legame.txt"));
    tree.file("B/cambiato.txt", "cambiato dopo");  // its write time as it was: its size tells
    tree.setWriteTime("B/cambiato.txt", 1100000000);
    fs::remove(tree.path("B/sparito.txt"));
    tree.file("Modificata/index.htm", "cambiata");          // its pictures must stay with it
    fs::permissions(tree.path("Chiusa"), fs::perms::none);  // listed, never tried
  });
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(withoutTime(readFile(tree.path("Rapporto_doppioni.txt"))),
            report + "fine del rapporto\n");
  EXPECT_EQ(withoutTime(readFile(tree.path("Elenco_files_cancellati.txt"))), deleted + pageParts);
  EXPECT_EQ(folderLines(tree, "Rapporto_rimozione_cartelle.txt"), attempts);
  const std::string totals =
      "Totale cartelle 19\nCartelle senza files 7\nCartelle rimosse 5\n"
      "Accesso negato a 2 cartelle\n\n";
  EXPECT_NE(readFile(tree.path("Rapporto_rimozione_cartelle.txt")).find(totals), std::string::npos);
  EXPECT_NE(run.output.find(totals), std::string::npos) << run.output;
  const std::string b(31, ' ');  // each attempt shows its name and folder, wiping 31 more
  EXPECT_NE(run.output.find("\nnull" + b + "\n" + tree.path("Dev") + b + "\n"), std::string::npos);
  fs::permissions(tree.path("Chiusa"), fs::perms::owner_all);
  EXPECT_EQ(onDisk(tree, false), filesLeft);
  EXPECT_EQ(onDisk(tree, true), foldersLeft);
}

// While the question waits, the copy is replaced by another file of its size, write time and
// bytes (made before the old one goes, so that it cannot take its place on the disk): the
// user never saw it, and it stays.
TEST(CompleteRun, AFileReplacedByAnotherOfTheSameSizeAndTimeIsNotDeleted) {
  TempTree tree;
  for (const char* rel : {"A/x.txt", "B/x.txt"}) {
    tree.file(rel, "x");
    tree.setWriteTime(rel, 1100000000);
  }
  ProgramRun run = runProgram(tree.root(), "sx", false, [&] {
    tree.file("B/nuovo", "x");
    tree.setWriteTime("B/nuovo", 1100000000);
    fs::rename(tree.path("B/nuovo"), tree.path("B/x.txt"));
  });
  EXPECT_TRUE(tree.exists("B/x.txt")) << run.output;
  EXPECT_TRUE(readFile(tree.path("Elenco_files_cancellati.txt"))
                  .ends_with("\n\nR x.txt in " + tree.path("B") + "\n"));
}

// Runs the program on the copies' cases, answering "s" once they changed.
void runCopyCases(TempTree& tree) {
  makeCopyCases(tree);
  ProgramRun run = runProgram(tree.root(), "sx", false, [&tree] { changeCopyCases(tree); });
  EXPECT_EQ(run.status, 0) << run.output;
  expectCopyCases(tree);
}

TEST(CompleteRun, ACopyGoesOnlyWithTheKeptCopysBytes) {
  TempTree tree;
  runCopyCases(tree);
}

// A new disk image of a USB disk's file system, mounted on a folder through
// FUSE as Linux mounts such disks, for as long as it lives.
struct UsbDisk {
  TempTree image;
  std::string folder, loop;
  bool mounted = false;
  UsbDisk(const std::string& kind, const std::string& on) : folder(on) {
    std::string file = image.path("disco.img");
    if (::geteuid() != 0 || std::system(("truncate -s 64M " + file).c_str()) != 0) return;
    if (kind == "ntfs") {
      mounted = std::system(("(mkntfs -F -Q -q " + file + " && ntfs-3g " + file + " " + on +
                             ") >/dev/null 2>&1")
                                .c_str()) == 0;
      return;
    }
    // exfat-fuse wants a block device: the image through a loop device.
    loop = image.path("loop");
    mounted = std::system(("(mkfs.exfat " + file + " && losetup -f --show " + file + " >" + loop +
                           " && mount.exfat-fuse $(cat " + loop + ") " + on + ") >/dev/null 2>&1")
                              .c_str()) == 0;
  }
  ~UsbDisk() {
    if (mounted) std::system(("umount " + folder).c_str());
    if (!loop.empty()) std::system(("losetup -d $(cat " + loop + ") 2>/dev/null").c_str());
  }
};

TEST(CompleteRun, OnUsbDisksTooWhereRenamesCannotRefuseToReplace) {
  for (const char* kind : {"ntfs", "exfat"}) {
    SCOPED_TRACE(kind);
    TempTree tree;
    UsbDisk disk(kind, tree.root());
    if (!disk.mounted) {
      std::cout << "[  SKIPPED ] no " << kind << " disk image could be mounted (needs root, "
                << "ntfs-3g, exfatprogs, exfat-fuse and a loop device)\n";
      continue;
    }
    runCopyCases(tree);
  }
}

}  // namespace
}  // namespace doppioni::testing
