#include "driver/console_progress.h"

#include "console/number_format.h"

namespace doppioni {
namespace {

// A line drawn on a row that may hold a longer one ends in blanks that cover
// the rest of it; the transcript keeps those blanks too, so each count stays
// as it is.
//
// The growth line of a scan below a recycle bin takes this row, the title's
// last, rather than the scan's progress row.
constexpr int RECYCLED_GROWTH_ROW = 6;
// After "Trovati N files" on the scan's progress row when the table grew at
// the first entry of a folder, and when it grew at any other.
constexpr std::string_view GROWTH_BLANKS_FIRST_ENTRY = "                ";
constexpr std::string_view GROWTH_BLANKS = "                 ";
// After "Esamino il N esimo file" in the web page pass and in the junk pass;
// the duplicates pass has none.
constexpr std::string_view PAGES_PROGRESS_BLANKS = "                ";
constexpr std::string_view JUNK_PROGRESS_BLANKS = "               ";
// After the name and after the folder of the file being deleted.
constexpr std::string_view DELETION_PROGRESS_BLANKS = "                               ";
// After "Rimuovo <folder>" while the empty folders are removed.
constexpr std::string_view REMOVAL_PROGRESS_BLANKS = "                      ";

}  // namespace

void ConsoleProgress::begin(Phase phase, std::string_view heading) {
  console_.print(heading);
  phase_ = phase;
  row_ = console_.cursorRow();
}

void ConsoleProgress::tableGrew(std::int32_t count, bool recycled, bool firstEntry) {
  line_.assign("Trovati ");
  appendNumber(line_, count);
  line_.append(" files");
  if (recycled) {
    show(RECYCLED_GROWTH_ROW, {});
  } else {
    show(row_, firstEntry ? GROWTH_BLANKS_FIRST_ENTRY : GROWTH_BLANKS);
  }
}

void ConsoleProgress::examining(std::int32_t index) {
  line_.assign("Esamino il ");
  appendNumber(line_, index);
  line_.append(" esimo file");
  show(row_, phase_ == Phase::WEB_PAGES ? PAGES_PROGRESS_BLANKS
             : phase_ == Phase::JUNK    ? JUNK_PROGRESS_BLANKS
                                        : std::string_view());
}

// Name and folder in one text, so that a terminal draws both or neither.
void ConsoleProgress::deleting(std::string_view name, std::string_view folder) {
  line_.clear();
  console_.appendName(line_, name);
  line_.append(DELETION_PROGRESS_BLANKS).push_back('\n');
  console_.appendName(line_, folder);
  show(row_, DELETION_PROGRESS_BLANKS);
}

void ConsoleProgress::removing(std::string_view path) {
  line_.assign("Rimuovo ");
  console_.appendName(line_, path);
  show(row_, REMOVAL_PROGRESS_BLANKS);
}

void ConsoleProgress::show(int row, std::string_view blanks) {
  line_.append(blanks).push_back('\n');
  console_.progress(row, line_);
}

}  // namespace doppioni
