// The platform layer on the real file system, the same tests on every
// platform: what a listing gives, names that are not plain ASCII, paths
// longer than the system's usual limit, and the error numbers the reports
// show.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>

#include "test_tree.h"

namespace fs = std::filesystem;

namespace doppioni {
namespace {

using testing::ChangeDir;
using testing::TempTree;

std::map<std::string, EntryInfo> listByName(const std::string& path, int& error) {
  FolderContents listing;
  listFolder(path, ListingDetail::FULL, listing);
  error = listing.error;
  std::map<std::string, EntryInfo> result;
  for (const FolderEntry& entry : listing.entries) {
    result[std::string(listing.name(entry))] = entry.info;
  }
  return result;
}

std::map<std::string, EntryInfo> listByName(const std::string& path) {
  int error = 0;
  auto result = listByName(path, error);
  EXPECT_EQ(error, 0) << path;
  return result;
}

TEST(Platform, ListingGivesEveryEntryButTheDotsWithItsKind) {
  TempTree tree;
  tree.file("a.txt", "12345");
  tree.file(".nascosto", "ab");
  tree.folder("sub");
  tree.folder("vuota");

  auto entries = listByName(tree.root());
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_FALSE(entries.contains(".") || entries.contains(".."));
  const EntryInfo& a = entries.at("a.txt");
  EXPECT_TRUE(a.isRegular);
  EXPECT_FALSE(a.isFolder || a.isLink);
  EXPECT_EQ(a.sizeLow, 5u);
  EXPECT_EQ(a.sizeHigh, 0u);
  EntryInfo stat;
  ASSERT_EQ(statEntry(tree.path("a.txt"), stat), 0);
  EXPECT_EQ(a.writeTime, stat.writeTime);
  EXPECT_EQ(a.attrib, stat.attrib);
  EXPECT_TRUE(entries.at("sub").isFolder);
  EXPECT_FALSE(entries.at("sub").isRegular);

  // An empty folder is no error; a missing one, or a file, is.
  EXPECT_TRUE(listByName(tree.path("vuota")).empty());
  int error = 0;
  EXPECT_TRUE(listByName(tree.path("manca"), error).empty());
  EXPECT_EQ(error, ENOENT);
  listByName(tree.path("a.txt"), error);
  EXPECT_NE(error, 0);
}

TEST(Platform, NamesBeyondAsciiComeBackAsTheSameBytes) {
  TempTree tree;
  // Two-, three- and four-byte characters (the last one a surrogate pair in UTF-16).
  const std::string name = "caff\xC3\xA8 \xE2\x98\x95 \xF0\x9D\x84\x9E.txt";
  tree.file(name, "xyz");
  tree.file("nota.");  // a trailing dot is part of the name

  auto entries = listByName(tree.root());
  ASSERT_TRUE(entries.contains(name));
  EXPECT_EQ(entries.at(name).sizeLow, 3u);
  EXPECT_TRUE(entries.contains("nota."));

  EntryInfo info;
  EXPECT_EQ(statEntry(tree.path(name), info), 0);
  EXPECT_EQ(unlinkFile(tree.path(name)), 0);
  EXPECT_EQ(unlinkFile(tree.path("nota.")), 0);
  EXPECT_TRUE(listByName(tree.root()).empty());
}

#ifdef _WIN32
TEST(Platform, AnUnpairedSurrogateInANameRoundTrips) {
  TempTree tree;
  std::wstring wide(tree.root().begin(), tree.root().end());
  fs::path target(L"\\\\?\\" + wide + L"\\a\xD800z");
  std::error_code error;
  fs::create_directory(target, error);
  if (error) GTEST_SKIP() << "the file system refuses the name: " << error.message();

  const std::string name = "a\xED\xA0\x80z";
  auto entries = listByName(tree.root());
  ASSERT_TRUE(entries.contains(name));
  EXPECT_TRUE(entries.at(name).isFolder);
  EXPECT_EQ(removeFolder(tree.path(name)), 0);
  EXPECT_FALSE(fs::exists(target, error));
}

TEST(Platform, BytesThatAreNoTextNameNoFile) {
  TempTree tree;
  EntryInfo info;
  EXPECT_NE(statEntry(tree.root() + "\\\xFF", info), 0);
  EXPECT_NE(unlinkFile(tree.root() + "\\\xC3"), 0);
}
#else
TEST(Platform, NamesThatAreNoTextComeBackAsTheSameBytes) {
  TempTree tree;
  const std::string name = "vecchio\xE8\xFF";  // Latin-1 bytes, no UTF-8
  tree.file(name);
  auto entries = listByName(tree.root());
  ASSERT_TRUE(entries.contains(name));
  EXPECT_EQ(unlinkFile(tree.path(name)), 0);
}
#endif

// A chain of folders whose path is longer than the system's usual limit
// (260 characters on Windows, PATH_MAX elsewhere), with a file at the bottom.
std::string makeDeepFolder(TempTree& tree, std::size_t length, std::vector<std::string>& chain) {
  const std::string name(120, 'd');
  std::string path = tree.root();
#ifdef _WIN32
  std::string rel;
  while (path.size() < length) {
    rel += (rel.empty() ? "" : "/") + name;
    path += PATH_SEPARATOR + name;
    chain.push_back(path);
  }
  tree.file(rel + "/fine.txt", "1234");
#else
  // Only relative steps reach below PATH_MAX.
  ChangeDir start(tree.root());
  while (path.size() < length) {
    fs::create_directory(name);
    fs::current_path(name);
    path += PATH_SEPARATOR + name;
    chain.push_back(path);
  }
  std::FILE* file = std::fopen("fine.txt", "w");
  std::fputs("1234", file);
  std::fclose(file);
#endif
  return path;
}

TEST(Platform, PathsOfAnyLengthAreReachedWhole) {
#ifdef _WIN32
  constexpr std::size_t LENGTH = 1000;  // wine's Unix paths stop at 4096 bytes
#else
  constexpr std::size_t LENGTH = 5000;
#endif
  TempTree tree;
  std::vector<std::string> chain;
  std::string deep = makeDeepFolder(tree, LENGTH, chain);
  ASSERT_GT(deep.size(), LENGTH);

  auto entries = listByName(deep);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries.begin()->second.sizeLow, 4u);
  std::string file = deep + PATH_SEPARATOR + "fine.txt";
  EntryInfo info;
  ASSERT_EQ(statEntry(file, info), 0);
  EXPECT_EQ(info.sizeLow, 4u);
  EXPECT_EQ(makeWritable(file), 0);
  EXPECT_EQ(removeFolder(deep), ENOTEMPTY);
  EXPECT_EQ(unlinkFile(file), 0);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) EXPECT_EQ(removeFolder(*it), 0) << *it;
  EXPECT_TRUE(listByName(tree.root()).empty());
}

TEST(Platform, DoubledSeparatorsReachTheSameEntry) {
  TempTree tree;
  tree.file("sub/a.txt");
  EntryInfo plain, doubled;
  ASSERT_EQ(statEntry(tree.path("sub/a.txt"), plain), 0);
  std::string path = tree.root() + PATH_SEPARATOR + PATH_SEPARATOR + "sub" + PATH_SEPARATOR +
                     PATH_SEPARATOR + "a.txt";
  ASSERT_EQ(statEntry(path, doubled), 0);
  EXPECT_EQ(plain.id, doubled.id);
  EXPECT_EQ(listByName(tree.root() + PATH_SEPARATOR + PATH_SEPARATOR + "sub").size(), 1u);
#ifdef _WIN32
  // A drive root ends in a separator: joined paths below it hold two.
  std::string drive = tree.root().substr(0, 3);
  EXPECT_FALSE(listByName(drive).empty());
  EXPECT_EQ(statEntry(drive + "\\" + tree.root().substr(3), plain), 0);
  EXPECT_TRUE(plain.isFolder);
#endif
}

TEST(Platform, ReadOnlyEntriesAreRefusedUntilMadeWritable) {
  TempTree tree;
  tree.file("sola-lettura.txt", "x");
  std::string path = tree.path("sola-lettura.txt");
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);

  EXPECT_EQ(unlinkFile(path), EACCES);
  EXPECT_TRUE(tree.exists("sola-lettura.txt"));
  EXPECT_EQ(makeWritable(path), 0);
  EXPECT_EQ(makeWritable(path), 0) << "a writable file stays as it is";
  EXPECT_EQ(unlinkFile(path), 0);
  EXPECT_FALSE(tree.exists("sola-lettura.txt"));
  EXPECT_EQ(unlinkFile(path), ENOENT);
  EXPECT_EQ(makeWritable(path), ENOENT);

  // A read-only folder is made writable the same way, and then removed.
  tree.folder("cartella");
  std::string folder = tree.path("cartella");
  fs::permissions(folder, fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_EQ(makeWritable(folder), 0);
  EXPECT_NE(fs::status(folder).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_EQ(removeFolder(folder), 0);
}

TEST(Platform, FolderRemovalGivesTheRuntimesErrorNumbers) {
  TempTree tree;
  tree.file("piena/a.txt");
  tree.folder("vuota");
  tree.file("file.txt");
  EXPECT_EQ(removeFolder(tree.path("piena")), ENOTEMPTY);
  EXPECT_EQ(removeFolder(tree.path("manca")), ENOENT);
  EXPECT_NE(removeFolder(tree.path("file.txt")), 0);
  EXPECT_TRUE(tree.exists("file.txt"));
  EXPECT_EQ(removeFolder(tree.path("vuota")), 0);
  EXPECT_FALSE(tree.exists("vuota"));
  EXPECT_NE(unlinkFile(tree.path("piena")), 0) << "a folder is no file";
  EXPECT_TRUE(tree.exists("piena/a.txt"));
}

TEST(Platform, StatEntryTellsOneFileFromAnother) {
  TempTree tree;
  tree.file("a.txt", "1");
  tree.file("b.txt", "1");
  tree.folder("sub");
  std::error_code error;
  fs::create_hard_link(tree.path("a.txt"), tree.path("sub/legame.txt"), error);

  EntryInfo a, again, b, sub;
  ASSERT_EQ(statEntry(tree.path("a.txt"), a), 0);
  ASSERT_EQ(statEntry(tree.path("a.txt"), again), 0);
  ASSERT_EQ(statEntry(tree.path("b.txt"), b), 0);
  ASSERT_EQ(statEntry(tree.path("sub"), sub), 0);
  EXPECT_TRUE(a.id.known());
  EXPECT_EQ(a.id, again.id);
  EXPECT_NE(a.id, b.id);
  EXPECT_NE(a.id, sub.id);
  EXPECT_TRUE(sub.isFolder);
  EXPECT_TRUE(a.isRegular);
  if (!error) {
    EntryInfo link;
    ASSERT_EQ(statEntry(tree.path("sub/legame.txt"), link), 0);
    EXPECT_EQ(link.id, a.id) << "a hard link is the same file";
  }
  EXPECT_EQ(statEntry(tree.path("manca"), a), ENOENT);
}

TEST(Platform, LinksAreSeenAndNeverFollowed) {
  TempTree tree;
  tree.file("cartella/dentro.txt");
  tree.file("bersaglio.txt");
  std::error_code error;
  fs::create_directory_symlink(tree.path("cartella"), tree.path("collegamento"), error);
  if (!error) fs::create_symlink(tree.path("bersaglio.txt"), tree.path("rimando.txt"), error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  fs::permissions(tree.path("bersaglio.txt"), fs::perms::owner_write, fs::perm_options::remove);

  auto entries = listByName(tree.root());
  EXPECT_TRUE(entries.at("collegamento").isLink);
  EXPECT_TRUE(entries.at("collegamento").isFolder);
  EXPECT_FALSE(entries.at("collegamento").isRegular);
  EXPECT_TRUE(entries.at("rimando.txt").isLink);
  EXPECT_FALSE(entries.at("rimando.txt").isRegular);

  EntryInfo info;
  ASSERT_EQ(statEntry(tree.path("collegamento"), info), 0);
  EXPECT_TRUE(info.isLink);
  EXPECT_EQ(makeWritable(tree.path("rimando.txt")), 0);
  EXPECT_EQ(unlinkFile(tree.path("bersaglio.txt")), EACCES) << "the link's target stays read-only";
  EXPECT_EQ(unlinkFile(tree.path("rimando.txt")), 0);
  EXPECT_TRUE(tree.exists("bersaglio.txt"));
  EXPECT_FALSE(tree.exists("rimando.txt"));
}

TEST(Platform, CurrentDirectoryIsTheFolderWeAreIn) {
  TempTree tree;
  tree.folder("qui");
  ChangeDir inside(tree.path("qui"));
  std::string path;
  ASSERT_EQ(currentDirectory(path), 0);
  EntryInfo here, expected;
  ASSERT_EQ(statEntry(path, here), 0);
  ASSERT_EQ(statEntry(tree.path("qui"), expected), 0);
  EXPECT_EQ(here.id, expected.id);
  // A relative path starts from there.
  tree.file("qui/vicino.txt");
  EXPECT_EQ(statEntry("vicino.txt", here), 0);
  EXPECT_EQ(unlinkFile("vicino.txt"), 0);
}

}  // namespace
}  // namespace doppioni
