// "Rapporto_doppioni.txt": every record with its mark, kind, name, size and
// folder, for the user to read before deciding whether to delete.
#include <cstdint>
#include <string>
#include <string_view>

#include "console/number_format.h"
#include "reports/reports.h"

namespace doppioni {
namespace {

void reportFailure(const RunContext& ctx) {
  ctx.console.print(
      "Impossibile scrivere Rapporto_doppioni.txt: il programma termina senza cancellare nulla\n");
}

}  // namespace

int writeDuplicatesReport(const RunContext& ctx) {
  ReportFile report(DUPLICATES_REPORT);
  if (!report.isOpen()) {
    reportFailure(ctx);
    return -1;
  }
  const std::size_t workDirLength = ctx.workDir.size();
  const bool rootIsWorkDir = ctx.folders.root() == ctx.workDir;
  std::string whole;  // a folder's whole path, where the part below the root does not do

  std::string& out = report.text();
  out.append("RAPPORTO DOPPIONI\n\n");
  appendTimestampLine(out, ctx.clock());
  out.append(
      "C - da cancellare\n0 - normale\n1 - file htm\n2 - associato ad un htm\n3 - inutile\n\n");

  constexpr std::int32_t AHEAD = 16;
  for (std::int32_t i = 0; i < ctx.count; ++i) {
    // The names and folders lie in the order the tree was read, not in this
    // one: on a big table each would be a wait for memory, so they are asked
    // for early.
    if (i + AHEAD < ctx.count) {
      const FileEntry& later = ctx.entries[i + AHEAD];
      __builtin_prefetch(nameOf(ctx, later));
      const char* folder = ctx.folders.below(later.dir).data();
      for (int line = 0; line < 3; ++line) __builtin_prefetch(folder + 64 * line);
    }
    const FileEntry& e = ctx.entries[i];
    out.push_back(e.deleteMark == 1 ? 'C' : ' ');
    out.push_back(' ');
    appendNumber(out, static_cast<int>(e.kind));
    out.push_back(' ');
    appendReportText(out, nameOf(ctx, e));
    out.push_back(' ');
    appendNumber(out, static_cast<std::int64_t>((std::uint64_t{e.sizeHigh} << 32) | e.sizeLow));
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
    report.flushIfFull();
  }
  out.append("fine del rapporto\n");

  if (!report.close()) {
    reportFailure(ctx);
    return -1;
  }
  return 0;
}

}  // namespace doppioni
