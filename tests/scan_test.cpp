#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "inventory/inventory.h"
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

using testing::TempTree;
using testing::TestRun;

// The records of a scan, keyed by path below the tree's root ('/'-separated).
std::map<std::string, const FileEntry*> byPath(const RunContext& ctx, const TempTree& tree) {
  std::map<std::string, const FileEntry*> records;
  for (int i = 0; i < ctx.count; ++i) {
    std::string path = std::string(dirOf(ctx, ctx.entries[i])) + "/" + nameOf(ctx, ctx.entries[i]);
    std::replace(path.begin(), path.end(), PATH_SEPARATOR, '/');
    records[path.substr(tree.root().size() + 1)] = &ctx.entries[i];
  }
  return records;
}

TEST(TreeScan, RecordsEveryFileWithItsFolderMetadataAndKind) {
  // Each file, then the extension its record shows: "___" below a recycle bin (any letter
  // case), where every file is junk marked for deletion; a file named so is no bin.
  const std::vector<std::string> files = {"a.txt .txt",
                                          "sub/archivio.tar.gz .gz",
                                          "sub/deeper/LEGGIMI _",
                                          ".cartella/.profilo .profilo",
                                          "sub/nota. .",
                                          "Recycled/a.doc ___",
                                          "x/RECYCLED/deep/er/b.htm ___",
                                          "y/recycled/c ___",
                                          "z/Recycled _",
                                          "z/notRecycled/d.txt .txt"};
  TempTree tree;
  for (const std::string& file : files) tree.file(file.substr(0, file.find(' ')), "12345");
  tree.setWriteTime("a.txt", 1111111111);
  tree.sparseFile("sub/big.bin", (std::uint64_t{5} << 32) + 7);

  TestRun run;
  ASSERT_EQ(scanFolder(run.ctx, tree.root()), 1);
  auto records = byPath(run.ctx, tree);
  ASSERT_EQ(records.size(), files.size() + 1);
  for (const std::string& file : files) {
    const FileEntry& e = *records.at(file.substr(0, file.find(' ')));
    const bool junk = file.ends_with(" ___");
    EXPECT_EQ(extOf(run.ctx, e), file.substr(file.find(' ') + 1)) << file;
    EXPECT_EQ(e.kind, junk ? KIND_JUNK : KIND_NORMAL) << file;
    EXPECT_EQ(e.deleteMark, junk ? 1 : 0) << file;
    EXPECT_TRUE(e.sizeLow == 5 && e.sizeHigh == 0) << file;
  }
  const FileEntry& a = *records.at("a.txt");
  EntryInfo info;
  ASSERT_EQ(statEntry(tree.path("a.txt"), info), 0);
  EXPECT_EQ(a.writeTime, info.writeTime);
  EXPECT_EQ(records.at("sub/big.bin")->sizeHigh, 5u);
  EXPECT_EQ(records.at("sub/big.bin")->sizeLow, 7u);
  EXPECT_TRUE(run.output.empty()) << "nothing is printed below 10000 files";

  TestRun inside;
  ASSERT_EQ(scanFolder(inside.ctx, tree.path("Recycled")), 1);
  EXPECT_EQ(inside.ctx.entries[0].kind, KIND_NORMAL) << "the working directory is no bin";
}

// Growth past the first records, in small steps below a bin, and a table that cannot grow.
TEST(TreeScan, TheTableGrowsAsTheScanGoes) {
  TempTree tree;
  for (int i = 0; i < TABLE_STEP + 5; ++i) tree.file("f/" + std::to_string(i));
  for (int i = 0; i < 3; ++i) tree.file("g/Recycled/" + std::to_string(i));
  TestRun run;
  ASSERT_EQ(scanFolder(run.ctx, tree.path("f")), 1);
  EXPECT_EQ(run.ctx.count, TABLE_STEP + 5);
  EXPECT_EQ(run.ctx.capacity, 2 * TABLE_STEP);
  // Without a terminal the line stays in the output as printed.
  EXPECT_EQ(run.output, "Trovati 10000 files                 \n");

  TestRun bin;
  bin.ctx.capacity = 2;  // pretend the table is almost full
  ASSERT_EQ(scanFolder(bin.ctx, tree.path("g")), 1);
  EXPECT_EQ(bin.ctx.capacity, 2 + RECYCLED_STEP);
  EXPECT_EQ(bin.output, "Trovati 2 files\n");

  TestRun full;
  full.ctx.capacity = full.ctx.capacityLimit = 2;
  EXPECT_EQ(scanFolder(full.ctx, tree.path("g")), -2);
  EXPECT_EQ(full.ctx.count, 2);
}

TEST(TreeScan, ReadingAheadOnThreadsGivesTheSameWalk) {
  TempTree tree;
  for (int i = 0; i < 400; ++i) {
    std::string folder =
        std::to_string(i % 7) + "/" + std::to_string(i % 13) + "/" + std::to_string(i % 3) + "/";
    tree.file(folder + "f" + std::to_string(i));
    if (i % 50 == 0) tree.folder(folder + "vuota");
  }
  tree.file("1/Recycled/x/y/cestinato");
  auto walkOrder = [&](int threads) {
    TestRun run;
    run.ctx.workerThreads = threads;
    EXPECT_EQ(scanFolder(run.ctx, tree.root()), 1);
    std::vector<std::string> order;
    for (int i = 0; i < run.ctx.count; ++i) {
      const FileEntry& e = run.ctx.entries[i];
      order.push_back(testing::describe(run.ctx, e) + std::to_string(e.kind));
    }
    return order;
  };
  std::vector<std::string> alone = walkOrder(0);
  EXPECT_EQ(alone.size(), 401u);
  for (int threads : {1, 2, 4}) EXPECT_EQ(walkOrder(threads), alone) << threads << " threads";
}

#ifndef _WIN32

TEST(TreeScan, LinksAreNeverFollowedAndPathsPastTheSystemLimitAreWalkedWhole) {
  namespace fs = std::filesystem;
  TempTree tree;
  tree.file("real/inside.txt", "abc");
  tree.file("target.txt", "0123456789");
  fs::create_directory_symlink(tree.path("real"), tree.path("toFolder"));
  fs::create_symlink(tree.path("target.txt"), tree.path("toFile.txt"));
  fs::create_symlink(tree.path("nowhere"), tree.path("dangling"));
  fs::create_directory_symlink(tree.root(), tree.path("real/loop"));
  std::string deep = tree.path("real");
  {
    testing::ChangeDir into(deep);  // only relative steps reach below PATH_MAX
    for (const std::string name(200, 'n'); deep.size() < 5000; deep += "/" + name) {
      fs::create_directory(name);
      fs::current_path(name);
    }
    std::ofstream("fondo.txt") << "x";
  }
  TestRun run;
  ASSERT_EQ(scanFolder(run.ctx, tree.root()), 1);
  auto records = byPath(run.ctx, tree);
  EXPECT_EQ(records.size(), 5u);  // a link to a folder is no file, and never walked
  // A link to a file is an entry of its own, with the link's own size.
  const FileEntry& link = *records.at("toFile.txt");
  EXPECT_EQ(link.sizeLow, tree.path("target.txt").size());
  EntryInfo own;  // the record holds the link's own identity, not its target's
  EXPECT_TRUE(statEntry(tree.path("toFile.txt"), own) == 0 && link.fileId == own.id.digest());
  EXPECT_EQ(records.count("dangling"), 1u);
  EXPECT_EQ(records.count(deep.substr(tree.root().size() + 1) + "/fondo.txt"), 1u);
  // The tree's own removal would stop at the system limit.
  EXPECT_EQ(unlinkFile(deep + "/fondo.txt"), 0);
  for (; deep != tree.path("real"); deep.resize(deep.rfind('/'))) EXPECT_EQ(removeFolder(deep), 0);
}

TEST(TreeScan, AFolderReachedTwiceThroughBindMountsIsWalkedOnce) {
  if (::geteuid() != 0) GTEST_SKIP() << "a bind mount needs root";
  TempTree tree;
  tree.file("a/one.txt");
  tree.folder("a/inner");
  tree.folder("b/mnt");
  std::string root = tree.root();
  pid_t child = ::fork();
  if (child == 0) {  // a mount namespace of its own, so nothing outlives the test
    bool mounted = ::unshare(CLONE_NEWNS) == 0 &&
                   ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                   ::mount((root + "/a").c_str(), (root + "/b/mnt").c_str(), nullptr, MS_BIND,
                           nullptr) == 0 &&  // a second path to a folder
                   ::mount(root.c_str(), (root + "/a/inner").c_str(), nullptr, MS_BIND,
                           nullptr) == 0;  // and a loop back to the top
    if (!mounted) ::_exit(100);
    TestRun run;
    ::_exit(scanFolder(run.ctx, root) == 1 ? run.ctx.count : 99);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  if (WEXITSTATUS(status) == 100) GTEST_SKIP() << "no mount namespace here";
  EXPECT_EQ(WEXITSTATUS(status), 1) << "one.txt enters the table once";
}

#endif

}  // namespace
}  // namespace doppioni
