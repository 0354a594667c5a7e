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

// A fresh folder below the system's temporary folder, removed with all it
// holds when the object goes.
class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::string& root() const { return root_; }
  // root, the separator, and rel with every '/' turned into the separator.
  std::string path(std::string_view rel) const;
  // Creates a file (and the folders on its way) holding content.
  void file(std::string_view rel, std::string_view content = "");
  // Creates a file of the given size without writing its bytes (sparse).
  void sparseFile(std::string_view rel, std::uint64_t size);
  void folder(std::string_view rel);
  // Sets a file's last-write time, in seconds since 1970.
  void setWriteTime(std::string_view rel, std::int64_t seconds);
  bool exists(std::string_view rel) const;

 private:
  std::string root_;
};

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

// The name and folder of a record, for readable assertions.
std::string describe(const RunContext& ctx, const FileEntry& e);

// Makes dir the current directory for the life of the object.
class ChangeDir {
 public:
  explicit ChangeDir(const std::string& dir);
  ~ChangeDir();

 private:
  std::filesystem::path previous_;
};

}  // namespace doppioni::testing
