// The platform layer on the real file system, the same tests on every platform.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#ifndef _WIN32
#include <fcntl.h>  // AT_FDCWD, for renameat2
#endif

#include "test_tree.h"

namespace fs = std::filesystem;

namespace doppioni {
namespace {

using testing::deleteFile;
using testing::errorOf;
using testing::TempTree;

std::map<std::string, EntryInfo> listByName(const std::string& path) {
  FolderContents listing;
  listFolder(path, ListingDetail::FULL, listing);
  EXPECT_FALSE(listing.failure) << path;
  std::map<std::string, EntryInfo> result;
  for (const ListedEntry& e : listing.entries) result[std::string(listing.name(e))] = e.info;
  return result;
}

std::string contentOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(Platform, NamesAndPathsAreTheBytesGiven) {
  TempTree tree;
  // Two-, three- and four-byte characters (the last a surrogate pair in UTF-16), a trailing dot.
  std::vector<std::string> names = {"caff\xC3\xA8 \xE2\x98\x95 \xF0\x9D\x84\x9E.txt", "nota."};
  for (const std::string& name : names) tree.file("sub/" + name, "xyz");
#ifdef _WIN32
  // An unpaired surrogate, which NTFS allows in a name (wine does not), comes back the same.
  std::wstring root(tree.root().begin(), tree.root().end());
  if (std::ofstream(fs::path(L"\\\\?\\" + root + L"\\sub\\a\xD800z")) << "xyz") {
    names.push_back("a\xED\xA0\x80z");
  }
#else
  names.push_back("vecchio\xE8\xFF");  // Latin-1 bytes, no UTF-8
  tree.file("sub/" + names.back(), "xyz");
#endif
  const std::string twice(2, PATH_SEPARATOR);  // as joined below a drive root: no harm
  auto entries = listByName(tree.root() + twice + "sub");
  for (const std::string& name : names) {
    EXPECT_EQ(entries[name].size, 3u) << name;
    EntryInfo info;
    EXPECT_EQ(errorOf(statEntry(tree.root() + twice + "sub" + twice + name, info)), 0) << name;
    EXPECT_EQ(deleteFile(tree.path("sub/" + name)), 0) << name;
  }
}

#ifdef _WIN32  // elsewhere the scan's tests go past the system's limit
TEST(Platform, PathsOfAnyLengthAreReachedWhole) {
  TempTree tree;
  std::vector<std::string> chain{tree.root()};
  std::string rel;
  while (chain.back().size() < 1000) {  // wine's Unix paths stop at 4096 bytes
    rel += std::string(120, 'd') + "/";
    chain.push_back(chain.back() + PATH_SEPARATOR + std::string(120, 'd'));
  }
  tree.file(rel + "fine.txt", "1234");
  const std::string file = chain.back() + PATH_SEPARATOR + "fine.txt";
  EXPECT_EQ(listByName(chain.back())["fine.txt"].size, 4u);
  EntryInfo info;
  EXPECT_EQ(errorOf(statEntry(file, info)), 0);
  EXPECT_EQ(deleteFile(file), 0);
  for (; chain.size() > 1; chain.pop_back()) EXPECT_EQ(errorOf(removeFolder(chain.back())), 0);
}
#endif

TEST(Platform, ReadOnlyIsRefusedAndLinksAreNeverFollowed) {
  TempTree tree;
  tree.file("piena/a.txt", "1");
  tree.file("b.txt", "1");
  tree.folder("chiusa");
  for (const char* entry : {"piena/a.txt", "b.txt", "chiusa"}) {
    fs::permissions(tree.path(entry), fs::perms::owner_write, fs::perm_options::remove);
  }
  const std::string a = tree.path("piena/a.txt"), b = tree.path("b.txt");
  EXPECT_EQ(deleteFile(b), EACCES);
  EXPECT_EQ(errorOf(removeFolder(tree.path("piena"))), ENOTEMPTY);
  EXPECT_EQ(errorOf(makeWritable(b)), 0);
  EXPECT_EQ(deleteFile(b), 0);
  EXPECT_EQ(errorOf(removeFolder(tree.path("chiusa"))), 0);  // read-only or not

  std::error_code error;
  fs::create_directory_symlink(tree.path("piena"), tree.path("collegamento"), error);
  if (!error) fs::create_symlink(a, tree.path("rimando.txt"), error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  auto entries = listByName(tree.root());
  EXPECT_TRUE(entries["collegamento"].isLink && entries["collegamento"].isFolder);
  EXPECT_TRUE(entries["rimando.txt"].isLink && !entries["rimando.txt"].isRegular);
  EXPECT_EQ(errorOf(makeWritable(tree.path("rimando.txt"))), 0);
#ifndef _WIN32
  EntryInfo through;  // nor is a path ever walked through a link to a folder
  EXPECT_EQ(errorOf(statEntry(tree.path("collegamento/a.txt"), through)), ELOOP);
  // A file and the link trade names all the while the file's mode is changed.
  tree.file("c.txt");
  fs::create_hard_link(tree.path("c.txt"), tree.path("stesso"));
  const std::string c = tree.path("c.txt"), link = tree.path("rimando.txt");
  auto swap = [&] { ::renameat2(AT_FDCWD, c.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE); };
  std::jthread swapper([&](std::stop_token stop) {
    while (!stop.stop_requested()) swap();
  });
  for (int i = 0; i < 50000; ++i, static_cast<void>(makeWritable(c))) {
    fs::permissions(tree.path("stesso"), fs::perms::owner_write, fs::perm_options::remove);
  }
  swapper.request_stop();
  swapper.join();
  if (!fs::is_symlink(link)) swap();
#endif
  EXPECT_EQ(deleteFile(a), EACCES) << "the link's target stays read-only";
  EXPECT_EQ(deleteFile(tree.path("rimando.txt")), 0);
  EXPECT_TRUE(tree.exists("piena/a.txt") && !tree.exists("rimando.txt"));
}

TEST(Platform, AReportIsAlwaysAFreshFileOfItsOwn) {
  TempTree tree, outside;
  outside.file("altro", "mio");
  tree.file("vecchio", "il rapporto di prima");  // replaced, as any file at the name
  tree.folder("cartella");
  std::error_code error;  // where links cannot be made, plain new names are tried instead
  fs::create_hard_link(outside.path("altro"), tree.path("legame"), error);
  fs::create_symlink(outside.path("altro"), tree.path("rimando"), error);
  ReportHandle report;
  EXPECT_EQ(createReport(tree.path("cartella"), report).value().kind, FailureKind::REPORT_CREATE);
  for (std::string name : {"nuovo", "vecchio", "legame", "rimando"}) {
    ASSERT_FALSE(createReport(tree.path(name), report)) << name;
    EXPECT_FALSE(reserveReportRoom(report, 1 << 20) || writeReport(report, "a\nb") ||
                 closeReport(report));
    EXPECT_EQ(contentOf(tree.path(name)), PATH_SEPARATOR == '/' ? "a\nb" : "a\r\nb") << name;
  }
  EXPECT_EQ(contentOf(outside.path("altro")), "mio");
  EXPECT_EQ(listByName(tree.root()).size(), 5u) << "nothing left under a private name";
}

// One run at a time: a tree held is held in its folder, below it and above it, never beside it.
TEST(Platform, ATreeIsHeldByOneRunAtATime) {
  TempTree tree;
  tree.folder("a/b");
  tree.folder("c");
  {
    TreeLock held, beside;
    ASSERT_EQ(errorOf(lockTree(tree.path("a"), held)), 0);
    for (const char* other : {"a", "a/b", ""}) {
      TreeLock second;
      std::optional<Failure> busy = lockTree(tree.path(other), second);
      EXPECT_TRUE(busy && busy->kind == FailureKind::TREE_HELD) << other;
      EXPECT_TRUE(second.held.empty()) << other;
    }
    EXPECT_EQ(errorOf(lockTree(tree.path("c"), beside)), 0);
  }
  TreeLock again;
  EXPECT_EQ(errorOf(lockTree(tree.path("a/b"), again)), 0) << "let go when it goes";
}

}  // namespace
}  // namespace doppioni
