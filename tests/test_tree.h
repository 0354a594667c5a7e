// Helpers shared by the tests: temporary trees on disk, a run context that
// captures the console, and records built in memory.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

#include "console/console.h"
#include "inventory/inventory.h"

namespace doppioni::testing {

// A fresh folder in the system's temporary folder, removed whole with the object.
// Paths below it are given relative, with '/' between names.
class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;

  const std::string& root() const { return root_; }
  std::string path(std::string_view rel) const;                    // with the platform's separator
  void file(std::string_view rel, std::string_view content = "");  // folders on its way too
  void sparseFile(std::string_view rel, std::uint64_t size);       // no bytes written
  void folder(std::string_view rel);
  void setWriteTime(std::string_view rel, std::int64_t seconds);  // seconds since 1970
  bool exists(std::string_view rel) const;

 private:
  std::string root_;
};

// Copies by content, from a tree made by makeCopyCases: decoys of the same
// name, size and write time from the start, copies and kept copies whose
// bytes change while the question waits (the write time put back), a page
// whose companion file differs from its counterpart, empty files, and a
// copy differing only past the first piece read. changeCopyCases makes the
// changes; expectCopyCases checks, after the deletions, every line of the
// list and what is left on disk.
void makeCopyCases(TempTree& tree);
void changeCopyCases(TempTree& tree);
void expectCopyCases(const TempTree& tree);

// 7 March 2005, 09:05:41: the reports' timestamp in the tests.
std::tm fixedTime();

// A run context whose console keeps its output and whose clock is fixed.
struct TestRun {
  explicit TestRun(std::string keys = {});
  std::string output;
  Console console;
  RunContext ctx;
};

// Adds a record built in memory, as the scan would have added it.
FileEntry& addRecord(RunContext& ctx, std::string_view dir, std::string_view name,
                     std::uint64_t size = 0, std::uint64_t writeTime = 0);

// "folder|name" of a record, for readable assertions.
std::string describe(const RunContext& ctx, const FileEntry& e);

// Deletes the file or link at path as the deletion does, accepting it
// whatever it is: 0 or an error number.
int deleteFile(const std::string& path);

// Makes dir the current directory for the life of the object.
struct ChangeDir {
  explicit ChangeDir(const std::string& dir) { std::filesystem::current_path(dir); }
  ~ChangeDir() { std::filesystem::current_path(previous, error); }
  std::filesystem::path previous = std::filesystem::current_path();
  std::error_code error;
};

}  // namespace doppioni::testing
