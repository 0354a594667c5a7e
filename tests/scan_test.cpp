#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <utility>

#include "folders/folders.h"
#include "inventory/tree_reader.h"
#include "platform/platform.h"
#include "test_tree.h"

#ifndef _WIN32
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace doppioni {
namespace {

using testing::errorOf;
using testing::TempTree;
using testing::TestRun;

// The records of a scan, keyed by path below the tree's root ('/'-separated).
std::map<std::string, const FileRecord*> byPath(const RunContext& ctx, const TempTree& tree) {
  std::map<std::string, const FileRecord*> records;
  for (int i = 0; i < ctx.files.size(); ++i) {
    std::string path = std::string(dirOf(ctx, ctx.files[i])) + "/" + nameOf(ctx, ctx.files[i]);
    std::replace(path.begin(), path.end(), PATH_SEPARATOR, '/');
    records[path.substr(tree.root().size() + 1)] = &ctx.files[i];
  }
  return records;
}

#ifndef _WIN32
// What body returns (below 254) in a mount namespace of its own, where each folder named first
// ("" for the root) is also at the one named second; 255 when the mounts cannot be made.
int withBindMounts(const TempTree& tree,
                   const std::vector<std::pair<std::string, std::string>>& mounts,
                   const std::function<int()>& body) {
  pid_t child = ::fork();
  if (child == 0) {
    bool mounted = ::unshare(CLONE_NEWNS) == 0 &&
                   ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    for (const auto& [folder, at] : mounts) {
      mounted = mounted && ::mount(tree.path(folder).c_str(), tree.path(at).c_str(), nullptr,
                                   MS_BIND, nullptr) == 0;
    }
    ::_exit(mounted ? body() : 255);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 254;
}
#endif

// " bin" after a file below a recycle bin (any letter case): junk marked for deletion, its name's
// extension not counted; a file named so is no bin.
const std::vector<std::string> FILES = {
    "a.txt",     "sub/archivio.tar.gz", "sub/deeper/LEGGIMI", ".c/.profilo",
    "sub/nota.", "Recycled/a.doc bin",  "y/recycled/c bin",   "x/RECYCLED/deep/er/b.htm bin",
    "z/Recycled"};

// FILES, a sparse file past 4 GiB and, on POSIX, links to a folder, the root, a file and nowhere.
void makeFiles(TempTree& tree) {
  for (const std::string& file : FILES) tree.file(file.substr(0, file.find(' ')), "12345");
  tree.sparseFile("sub/big.bin", (std::uint64_t{5} << 32) + 7);
#ifndef _WIN32
  std::filesystem::create_directory_symlink(tree.path("sub"), tree.path("toFolder"));
  std::filesystem::create_directory_symlink(tree.root(), tree.path("sub/loop"));
  std::filesystem::create_symlink(tree.path("a.txt"), tree.path("toFile.txt"));
  std::filesystem::create_symlink(tree.path("nowhere"), tree.path("dangling"));
#endif
}

#ifndef _WIN32
// Below c, 300 folders past PATH_MAX, each with a sibling waiting while the chain goes on in the
// one listed first (past the folders kept open at once), and fondo.txt at the bottom.
struct Chain {
  std::string bottom, next, other;  // next and other: the names of the two folders of each level
};
Chain makeChain(TempTree& tree) {
  Chain chain{tree.path("c"), {}, {}};
  for (char c : {'b', 'c'}) tree.folder("c/" + std::string(20, c));
  FolderContents probe;
  listFolder(chain.bottom, ListingDetail::TYPES_ONLY, probe);
  chain.next = probe.name(probe.entries[0]), chain.other = probe.name(probe.entries[1]);
  testing::ChangeDir into(chain.bottom);  // only relative steps reach below PATH_MAX
  for (int depth = 0; depth < 300; ++depth, chain.bottom += "/" + chain.next) {
    std::filesystem::current_path(chain.next);
    std::filesystem::create_directory(chain.next);
    std::filesystem::create_directory(chain.other);
  }
  std::ofstream("fondo.txt") << "x";
  return chain;
}
#endif

// In both stages, also down the chain, where some folders are opened from far above.
TEST(TreeScan, AnyThreadCountWalksInTheOrderOfOneThread) {
  TempTree tree;
  makeFiles(tree);
#ifndef _WIN32
  makeChain(tree);
#endif
  auto walk = [&](int threads) {
    TestRun run;
    run.ctx.workerThreads = threads;
    EXPECT_FALSE(scanFolder(run.ctx, tree.root()).has_value());
    EXPECT_FALSE(listFolders(run.ctx, tree.root()).has_value());
    std::vector<std::string> order;
    for (int i = 0; i < run.ctx.files.size(); ++i)
      order.push_back(filePathOf(run.ctx, run.ctx.files[i]));
    for (const FolderRecord& f : run.ctx.folderTable) order.emplace_back(pathOf(run.ctx, f));
    return order;
  };
  for (int threads : {1, 2, 8}) EXPECT_EQ(walk(threads), walk(0)) << threads << " threads";
}

// A link has its own size and identity; a link to a folder is never walked; the work folder is no
// bin.
TEST(TreeScan, RecordsEachFileAndLinkAsItIsAndWhatABinHoldsAsJunk) {
  TempTree tree;
  makeFiles(tree);
  TestRun run;
  ASSERT_FALSE(scanFolder(run.ctx, tree.root()).has_value());
  auto records = byPath(run.ctx, tree);
  ASSERT_EQ(records.size(), FILES.size() + (PATH_SEPARATOR == '/' ? 3 : 1));  // no folder links
  for (const std::string& file : FILES) {
    const FileRecord& e = *records.at(file.substr(0, file.find(' ')));
    const bool junk = file.ends_with(" bin");
    EXPECT_TRUE(e.kind == (junk ? Kind::JUNK : Kind::NORMAL) && e.marked == junk &&
                e.ext == (junk ? EXT_RECYCLED : EXT_OF_NAME) && e.size == 5)
        << file;
  }
  EntryInfo info;
  ASSERT_EQ(errorOf(statEntry(tree.path("sub/big.bin"), info)), 0);
  const FileRecord& big = *records.at("sub/big.bin");
  EXPECT_TRUE(big.size == (std::uint64_t{5} << 32) + 7 && big.writeTime == info.writeTime);
#ifndef _WIN32
  EXPECT_EQ(records.at("toFile.txt")->size, tree.path("a.txt").size());
  EntryInfo own;  // the record holds the link's own identity, not its target's
  EXPECT_TRUE(errorOf(statEntry(tree.path("toFile.txt"), own)) == 0 &&
              records.at("toFile.txt")->fileId == own.id.digest() &&
              records.count("dangling") == 1);
#endif
  TestRun inside;
  ASSERT_FALSE(scanFolder(inside.ctx, tree.path("Recycled")).has_value());
  EXPECT_EQ(inside.ctx.files[0].kind, Kind::NORMAL) << "the working directory is no bin";
}

// Links to folders are no folders of the tree.
TEST(TreeScan, TheFolderStageRecordsEachFolderWithItsFilesAndDepthInPreOrder) {
  TempTree tree;
  makeFiles(tree);
  TestRun run;
  ASSERT_FALSE(listFolders(run.ctx, tree.root()).has_value());
  std::multiset<std::string> folders;
  const std::vector<FolderRecord>& table = run.ctx.folderTable;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const FolderRecord& e = table[i];
    std::string rel(pathOf(run.ctx, e).substr(tree.root().size() + 1)), up(pathOf(run.ctx, e));
    std::replace(rel.begin(), rel.end(), PATH_SEPARATOR, '/');
    folders.insert(rel + " " + std::to_string(e.fileCount) + " " +
                   std::to_string(e.depth - countBackslashes(tree.root())));
    std::string before = i > 0 ? std::string(pathOf(run.ctx, table[i - 1])) : up;
    EXPECT_TRUE((before + PATH_SEPARATOR).starts_with(up.substr(0, up.rfind(PATH_SEPARATOR) + 1)));
  }
  EXPECT_EQ(folders,
            (std::multiset<std::string>{"sub 3 1", "sub/deeper 1 2", ".c 1 1", "Recycled 1 1",
                                        "y 0 1", "y/recycled 1 2", "x 0 1", "x/RECYCLED 0 2",
                                        "x/RECYCLED/deep 0 3", "x/RECYCLED/deep/er 1 4", "z 1 1"}));
}

#ifndef _WIN32
// Each folder is removed only while it is the one seen, at the depth seen.
TEST(TreeScan, AChainPastPathMaxIsScannedAndRemovedFromTheBottomUp) {
  TempTree tree;
  auto [chain, next, other] = makeChain(tree);
  TestRun run;
  ASSERT_FALSE(scanFolder(run.ctx, tree.root()).has_value());
  EXPECT_EQ(byPath(run.ctx, tree).count(chain.substr(tree.root().size() + 1) + "/fondo.txt"), 1u);
  EXPECT_EQ(testing::deleteFile(chain + "/fondo.txt"), 0);
  EntryInfo top, seen;
  ASSERT_EQ(errorOf(statEntry(tree.root(), top)), 0);
  FolderPathCache way(top.id);  // as the removal goes: from the bottom up, the way down kept
  for (chain += "/" + next; chain != tree.path("c"); chain.resize(chain.rfind('/'))) {
    auto levels =
        static_cast<int>(std::count(chain.begin() + tree.root().size(), chain.end(), '/'));
    ASSERT_EQ(errorOf(statEntry(chain, seen)), 0);
    EXPECT_EQ(errorOf(way.removeFolder(chain, seen.id.digest() ^ 1, levels)), ENOENT)
        << "not the one seen";
    EXPECT_EQ(errorOf(way.removeFolder(chain, seen.id.digest(), levels + 1)), ENOENT)
        << "not that far down";
    EXPECT_EQ(errorOf(way.removeFolder(chain, seen.id.digest(), levels)), 0);
    EXPECT_EQ(errorOf(way.removeFolder(chain.substr(0, chain.rfind('/') + 1) + other, 0, levels)),
              0);
  }
}
#endif

#ifndef _WIN32
// Through a bind mount, in both stages, a loop back up too, also past the hundreds of folders that
// make the set of the folders walked grow (the root, at the end of a chain).
TEST(TreeScan, AFolderMetAgainAfterHundredsOfOthersIsWalkedOnce) {
  TempTree tree;
  tree.file("a.txt");
  tree.file("s/f");
  tree.file("x/hidden");
  tree.folder("t");
  std::string chain = "c";
  for (int depth = 1; depth < 900; ++depth) chain += "/c";
  tree.folder(chain + "/fine");
  int walked = withBindMounts(tree, {{"", chain + "/fine"}, {"s", "t"}, {"", "x"}}, [&] {
    TestRun run;
    if (scanFolder(run.ctx, tree.root()) || listFolders(run.ctx, tree.root())) return 254;
    return run.ctx.files.size() + (run.ctx.folderTable.size() == 901 ? 0 : 100);
  });
  EXPECT_TRUE(walked == 2 || walked == 255) << walked << ": a.txt, s/f and the chain once each";
}

// A folder that is its own ancestor through a bind mount: nothing below it is read.
TEST(TreeScan, NothingBelowAFolderThatIsItsOwnAncestorIsRead) {
  TempTree tree;
  tree.folder("x");
  int below = withBindMounts(tree, {{"", "x"}}, [&] {
    TreeReader reader(tree.root(), ListingDetail::FULL, 0, 0);
    reader.read(reader.root());
    ReadAheadFolder& x = *reader.root().children.at(0);
    reader.read(x);
    return static_cast<int>(x.children.size());
  });
  EXPECT_TRUE(below == 0 || below == 255) << below;
}
#endif

}  // namespace
}  // namespace doppioni
