// Helpers shared by the tests: temporary trees on disk, a run context that
// records what it shows, and records built in memory.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

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

// What the phases show, as plain values: their messages in `output`, and in
// `shown` each record examined ("3 ") and each growth of the table ("+2 ",
// "+2bin " below a recycle bin).
struct RecordingProgress : Progress {
  void tableGrew(std::int32_t count, bool recycled, bool) override {
    shown += "+" + std::to_string(count) + (recycled ? "bin " : " ");
  }
  void examining(std::int32_t index) override { shown += std::to_string(index) + " "; }
  void deleting(std::string_view, std::string_view) override {}
  void removing(std::string_view) override {}
  void print(std::string_view text) override { output.append(text); }
  void appendName(std::string& text, std::string_view name) const override { text.append(name); }
  void flush() override {}
  std::string output, shown;
};

// A run context that records what it shows, with a fixed clock.
struct TestRun {
  TestRun();
  RecordingProgress progress;
  std::string& output = progress.output;
  RunContext ctx;
};

// Adds a record built in memory, as the scan would have added it.
FileRecord& addRecord(RunContext& ctx, std::string_view dir, std::string_view name,
                      std::uint64_t size = 0, std::uint64_t writeTime = 0);

// "folder|name" of a record, for readable assertions.
std::string describe(const RunContext& ctx, const FileRecord& e);

// The error number of a call's failure; 0 when it did not fail.
inline int errorOf(const std::optional<Failure>& failure) {
  return failure ? failure->error : 0;
}

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
