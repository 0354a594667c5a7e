// "Rapporto_doppioni.txt": every record with its mark, kind, name, size and
// folder, for the user to read before deciding whether to delete.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/number_format.h"
#include "inventory/run_in_order.h"
#include "reports/reports.h"

namespace doppioni {
namespace {

// Records whose lines are made at a time: about 150 KB of text.
constexpr std::int32_t LINES_A_PIECE = 1024;

// Appends the lines of records [begin, end); whole is room for a path.
void appendLines(const RunContext& ctx, std::int32_t begin, std::int32_t end, std::string& out,
                 std::string& whole) {
  const std::size_t workDirLength = ctx.workDir.size();
  const bool rootIsWorkDir = ctx.folders.root() == ctx.workDir;
  for (std::int32_t i = begin; i < end; ++i) {
    const FileRecord& e = ctx.files[i];
    out.push_back(e.marked ? 'C' : ' ');
    out.push_back(' ');
    appendNumber(out, static_cast<int>(e.kind));
    out.push_back(' ');
    appendReportText(out, nameOf(ctx, e));
    out.push_back(' ');
    appendNumber(out, static_cast<std::int64_t>(e.size));
    out.append(" in ... ");
    // The folder below the working directory; a file in the working
    // directory itself shows the whole path.
    std::string_view below = ctx.folders.below(e.dir);
    if (!below.empty() && rootIsWorkDir) {
      appendReportText(out, below);
    } else {
      whole.clear();
      ctx.folders.appendPath(e.dir, whole);
      std::string_view dir = whole;
      appendReportText(out, dir.size() > workDirLength ? dir.substr(workDirLength + 1) : dir);
    }
    out.push_back('\n');
  }
}

}  // namespace

std::optional<Failure> writeDuplicatesReport(const RunContext& ctx) {
  ReportFile report(DUPLICATES_REPORT);
  if (!report.isOpen()) return report.failure();

  std::string& out = report.text();
  out.append("RAPPORTO DOPPIONI\n\n");
  appendTimestampLine(out, ctx.clock());
  out.append(
      "C - da cancellare\n0 - normale\n1 - file htm\n2 - associato ad un htm\n3 - inutile\n\n");

  // The lines are made a piece at a time on worker threads, while the pieces
  // before are written: on a big table making them is most of the work.
  // Piece k goes to slot k % slots, which the piece before it in that slot
  // has left by then.
  const int threads = threadCount(ctx);
  const std::size_t slots = static_cast<std::size_t>(std::max(threads, 1));
  std::vector<std::string> pieces(slots), wholes(slots);
  const std::size_t count =
      (static_cast<std::size_t>(ctx.files.size()) + LINES_A_PIECE - 1) / LINES_A_PIECE;
  auto make = [&](std::size_t k) {
    std::string& piece = pieces[k % slots];
    piece.clear();
    auto begin = static_cast<std::int32_t>(k * LINES_A_PIECE);
    appendLines(ctx, begin, std::min(begin + LINES_A_PIECE, ctx.files.size()), piece,
                wholes[k % slots]);
    return 0;
  };
  auto write = [&](std::size_t k, int) { report.write(pieces[k % slots]); };
  runInOrder(threads, count, make, write, [] { return true; });
  out.append("fine del rapporto\n");
  return report.close();
}

}  // namespace doppioni
