// The driver's way of showing the passes' progress: each line on the
// console, rewritten in place on the row below its phase's heading.
#pragma once

#include <string>
#include <string_view>

#include "console/console.h"
#include "inventory/progress.h"

namespace doppioni {

// The phases under a heading of their own; each pads its lines in its own way.
enum class Phase { SCAN, WEB_PAGES, DUPLICATES, JUNK, DELETION, FOLDERS, REMOVAL };

class ConsoleProgress : public Progress {
 public:
  explicit ConsoleProgress(Console& console) : console_(console) {}

  // A phase begins: its heading, then its progress lines on the row below.
  void begin(Phase phase, std::string_view heading);

  void tableGrew(std::int32_t count, bool recycled, bool firstEntry) override;
  void examining(std::int32_t index) override;
  void deleting(std::string_view name, std::string_view folder) override;
  void removing(std::string_view path) override;
  void print(std::string_view text) override { console_.print(text); }
  void appendName(std::string& text, std::string_view name) const override {
    console_.appendName(text, name);
  }
  void flush() override { console_.flush(); }

 private:
  // Ends the line being built with blanks and a line feed, and shows it on row.
  void show(int row, std::string_view blanks);

  Console& console_;
  Phase phase_ = Phase::SCAN;
  int row_ = 1;
  std::string line_;  // the line being built, reused
};

}  // namespace doppioni
