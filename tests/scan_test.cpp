#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "inventory/inventory.h"
#include "platform/platform.h"
#include "test_tree.h"

#ifndef _WIN32
#include <fcntl.h>
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
    const FileEntry& e = ctx.entries[i];
    std::string path(dirOf(ctx, e));
    path = path.substr(tree.root().size());
    std::replace(path.begin(), path.end(), PATH_SEPARATOR, '/');
    path += "/";
    path += nameOf(ctx, e);
    records[path.substr(1)] = &e;
  }
  return records;
}

TEST(TreeScan, RecordsEveryFileWithItsFolderAndMetadata) {
  TempTree tree;
  tree.file("a.txt", "12345");
  tree.file("sub/archivio.tar.gz", "x");
  tree.file("sub/deeper/LEGGIMI");
  tree.file(".cartella/.profilo", "ab");
  tree.file("sub/nota.");
  tree.folder("vuota");
  tree.setWriteTime("a.txt", 1111111111);
  tree.sparseFile("sub/big.bin", (std::uint64_t{5} << 32) + 7);

  TestRun run;
  ASSERT_EQ(scanFolder(run.ctx, tree.root()), 1);
  auto records = byPath(run.ctx, tree);
  ASSERT_EQ(records.size(), 6u);

  const FileEntry& a = *records.at("a.txt");
  EXPECT_EQ(dirOf(run.ctx, a), tree.root());
  EXPECT_EQ(a.sizeLow, 5u);
  EXPECT_EQ(a.sizeHigh, 0u);
  EXPECT_EQ(a.kind, KIND_NORMAL);
  EXPECT_EQ(a.deleteMark, 0);
  EXPECT_EQ(a.pageId, 0);
  EXPECT_EQ(extOf(run.ctx, a), ".txt");
  EntryInfo info;
  ASSERT_EQ(statEntry(tree.path("a.txt"), info), 0);
  EXPECT_EQ(a.writeTime, info.writeTime);

  EXPECT_EQ(dirOf(run.ctx, *records.at("sub/deeper/LEGGIMI")), tree.path("sub/deeper"));
  EXPECT_EQ(extOf(run.ctx, *records.at("sub/deeper/LEGGIMI")), "_");
  EXPECT_EQ(extOf(run.ctx, *records.at("sub/archivio.tar.gz")), ".gz");
  EXPECT_EQ(extOf(run.ctx, *records.at(".cartella/.profilo")), ".profilo");
  EXPECT_EQ(extOf(run.ctx, *records.at("sub/nota.")), ".");
  EXPECT_EQ(records.at("sub/big.bin")->sizeHigh, 5u);
  EXPECT_EQ(records.at("sub/big.bin")->sizeLow, 7u);
  EXPECT_TRUE(run.output.empty()) << "nothing is printed below 10000 files";
}

TEST(TreeScan, EverythingBelowARecycleBinIsJunk) {
  TempTree tree;
  tree.file("Recycled/a.doc");
  tree.file("x/RECYCLED/deep/er/b.htm");
  tree.file("y/recycled/c");
  tree.file("z/Recycled");  // a file of that name is an ordinary file
  tree.file("z/notRecycled/d.txt");

  TestRun run;
  ASSERT_EQ(scanFolder(run.ctx, tree.root()), 1);
  auto records = byPath(run.ctx, tree);
  for (const char* junk : {"Recycled/a.doc", "x/RECYCLED/deep/er/b.htm", "y/recycled/c"}) {
    const FileEntry& e = *records.at(junk);
    EXPECT_EQ(e.kind, KIND_JUNK) << junk;
    EXPECT_EQ(e.deleteMark, 1) << junk;
    EXPECT_EQ(extOf(run.ctx, e), "___") << junk;
  }
  for (const char* normal : {"z/Recycled", "z/notRecycled/d.txt"}) {
    EXPECT_EQ(records.at(normal)->kind, KIND_NORMAL) << normal;
    EXPECT_EQ(records.at(normal)->deleteMark, 0) << normal;
  }
}

TEST(TreeScan, AWorkingDirectoryNamedRecycledIsNotABin) {
  TempTree tree;
  tree.file("Recycled/a.doc");
  TestRun run;
  ASSERT_EQ(scanFolder(run.ctx, tree.path("Recycled")), 1);
  ASSERT_EQ(run.ctx.count, 1);
  EXPECT_EQ(run.ctx.entries[0].kind, KIND_NORMAL);
}

TEST(TreeScan, GrowthShowsTheCountOnTheProgressRow) {
  TempTree tree;
  for (int i = 0; i < TABLE_STEP + 5; ++i) tree.file("f/" + std::to_string(i));
  TestRun run;
  run.ctx.progressRow = 9;
  ASSERT_EQ(scanFolder(run.ctx, tree.root()), 1);
  EXPECT_EQ(run.ctx.count, TABLE_STEP + 5);
  EXPECT_EQ(run.ctx.capacity, 2 * TABLE_STEP);
  // Without a terminal the line stays in the output as printed.
  EXPECT_EQ(run.output, "Trovati 10000 files                 \n");
}

TEST(TreeScan, BelowARecycleBinTheTableGrowsInSmallSteps) {
  TempTree tree;
  for (int i = 0; i < 3; ++i) tree.file("Recycled/" + std::to_string(i));
  TestRun run;
  run.ctx.capacity = 2;  // pretend the table is almost full
  ASSERT_EQ(scanFolder(run.ctx, tree.root()), 1);
  EXPECT_EQ(run.ctx.capacity, 2 + RECYCLED_STEP);
  EXPECT_EQ(run.output, "Trovati 2 files\n");
}

TEST(TreeScan, AFullTableEndsTheScanWithMinusTwo) {
  TempTree tree;
  for (int i = 0; i < 3; ++i) tree.file("a/" + std::to_string(i));
  TestRun run;
  run.ctx.capacity = 2;
  run.ctx.capacityLimit = 2;
  EXPECT_EQ(scanFolder(run.ctx, tree.root()), -2);
  EXPECT_EQ(run.ctx.count, 2);
}

TEST(TreeScan, AMissingFolderIsReportedWithItsPath) {
  TempTree tree;
  TestRun run;
  std::string missing = tree.path("manca");
  EXPECT_EQ(scanFolder(run.ctx, missing), -4);
  EXPECT_EQ(run.output, listingPattern(missing) + "\n");
}

TEST(TreeScan, ReadingAheadOnThreadsGivesTheSameWalk) {
  TempTree tree;
  for (int i = 0; i < 400; ++i) {
    std::string folder = std::to_string(i % 7) + "/" + std::to_string(i % 13) + "/" +
                         std::to_string(i % 3) + "/";
    tree.file(folder + "f" + std::to_string(i));
    if (i % 50 == 0) tree.folder(folder + "vuota" + std::to_string(i));
  }
  tree.file("1/Recycled/x/y/cestinato");
  auto walkOrder = [&](int threads) {
    TestRun run;
    run.ctx.workerThreads = threads;
    EXPECT_EQ(scanFolder(run.ctx, tree.root()), 1);
    std::vector<std::string> order;
    for (int i = 0; i < run.ctx.count; ++i) {
      order.push_back(testing::describe(run.ctx, run.ctx.entries[i]) +
                      std::to_string(run.ctx.entries[i].kind));
    }
    return order;
  };
  std::vector<std::string> alone = walkOrder(0);
  EXPECT_EQ(alone.size(), 401u);
  for (int threads : {1, 2, 4}) EXPECT_EQ(walkOrder(threads), alone) << threads << " threads";
}

#ifndef _WIN32

TEST(TreeScan, LinksAreNeverFollowed) {
  TempTree tree;
  tree.file("real/inside.txt", "abc");
  tree.file("target.txt", "0123456789");
  std::filesystem::create_directory_symlink(tree.path("real"), tree.path("toFolder"));
  std::filesystem::create_symlink(tree.path("target.txt"), tree.path("toFile.txt"));
  std::filesystem::create_symlink(tree.path("nowhere"), tree.path("dangling"));
  std::filesystem::create_directory_symlink(tree.root(), tree.path("real/loop"));

  TestRun run;
  ASSERT_EQ(scanFolder(run.ctx, tree.root()), 1);
  auto records = byPath(run.ctx, tree);
  EXPECT_EQ(records.size(), 4u);
  EXPECT_EQ(records.count("toFolder/inside.txt"), 0u);
  // A link to a file is an entry of its own, with the link's own size.
  const FileEntry& link = *records.at("toFile.txt");
  EXPECT_EQ(link.sizeLow, tree.path("target.txt").size());
  EXPECT_TRUE(S_ISLNK(link.attrib));
  EXPECT_EQ(records.count("dangling"), 1u);
}

TEST(TreeScan, PathsLongerThanTheSystemLimitAreWalkedWhole) {
  TempTree tree;
  std::string name(200, 'n');
  std::string deep = tree.root();
  {
    testing::ChangeDir into(tree.root());
    for (int level = 0; level < 25; ++level) {  // about 5000 characters
      ASSERT_EQ(::mkdir(name.c_str(), 0777), 0);
      ASSERT_EQ(::chdir(name.c_str()), 0);
      deep += "/" + name;
    }
    int fd = ::open("fondo.txt", O_CREAT | O_WRONLY, 0666);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
  ASSERT_GT(deep.size(), 4096u);

  TestRun run;
  ASSERT_EQ(scanFolder(run.ctx, tree.root()), 1);
  ASSERT_EQ(run.ctx.count, 1);
  EXPECT_EQ(dirOf(run.ctx, run.ctx.entries[0]), deep);

  EntryInfo info;
  EXPECT_EQ(statEntry(deep + "/fondo.txt", info), 0);
  EXPECT_EQ(unlinkFile(deep + "/fondo.txt"), 0);
  for (int level = 0; level < 25; ++level) {
    ASSERT_EQ(removeFolder(deep), 0);
    deep.resize(deep.rfind('/'));
  }
}

// Runs body in a child process (as the user nobody when dropUser is set and
// the tests run as root) and returns its exit code.
template <typename Body>
int inChild(bool dropUser, Body body) {
  pid_t child = ::fork();
  if (child == 0) {
    if (dropUser && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(120);
    }
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

TEST(TreeScan, AnUnreadableFolderEndsTheScan) {
  TempTree tree;
  tree.file("a/visible.txt");
  tree.file("b/hidden/secret.txt");
  tree.file("c/after.txt");
  ASSERT_EQ(::chmod(tree.path("b/hidden").c_str(), 0), 0);
  std::string root = tree.root();
  int code = inChild(true, [&] {
    TestRun run;
    int result = scanFolder(run.ctx, root);
    bool named = run.output == root + "/b/hidden\n";
    return result == -4 && named ? 0 : 1;
  });
  EXPECT_EQ(code, 0);
}

TEST(TreeScan, AFolderReachedTwiceIsWalkedOnce) {
  if (::geteuid() != 0) GTEST_SKIP() << "a bind mount needs root";
  TempTree tree;
  tree.file("a/one.txt");
  tree.file("a/inner/two.txt");
  tree.folder("b/mnt");
  std::string root = tree.root();
  int code = inChild(false, [&] {
    if (::unshare(CLONE_NEWNS) != 0) return 100;
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 101;
    if (::mount((root + "/a").c_str(), (root + "/b/mnt").c_str(), nullptr, MS_BIND, nullptr) != 0)
      return 102;
    // A mount of the tree inside itself would loop forever if walked.
    if (::mount(root.c_str(), (root + "/a/inner").c_str(), nullptr, MS_BIND, nullptr) != 0)
      return 103;
    TestRun run;
    if (scanFolder(run.ctx, root) != 1) return 99;
    int ones = 0;
    for (int i = 0; i < run.ctx.count; ++i) {
      ones += std::string(nameOf(run.ctx, run.ctx.entries[i])) == "one.txt";
    }
    return ones;
  });
  if (code >= 100) GTEST_SKIP() << "no mount namespace here (" << code << ")";
  EXPECT_EQ(code, 1) << "one.txt enters the table once, under a or under b/mnt";
}

#endif

}  // namespace
}  // namespace doppioni
