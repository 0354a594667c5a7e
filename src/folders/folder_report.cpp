// The folder report: every folder with its file count and depth, deepest
// first, which is also the order the removal tries them in.
#include <algorithm>

#include "console/number_format.h"
#include "folders/folders.h"
#include "reports/reports.h"

namespace doppioni {
namespace {

// The count the report shows for a folder that could not be listed.
constexpr std::int32_t UNREADABLE_SHOWN = -4;

}  // namespace

void sortFoldersByDepth(RunContext& ctx) {
  // Stable, so folders of one depth keep the scan's order and the report
  // reads the same from one run to the next.
  std::stable_sort(
      ctx.folderTable.begin(), ctx.folderTable.end(),
      [](const FolderRecord& a, const FolderRecord& b) { return compareFolderDepth(a, b) < 0; });
}

int compareFolderDepth(const FolderRecord& a, const FolderRecord& b) {
  return b.depth - a.depth;
}

std::optional<Failure> writeFolderReport(const RunContext& ctx) {
  ReportFile report(FOLDER_REPORT);
  if (!report.isOpen()) return report.failure();
  std::string& out = report.text();
  appendTimestampLine(out, ctx.clock());
  out.append("Numero cartelle: ");
  appendNumber(out, static_cast<std::int32_t>(ctx.folderTable.size()));
  out.append("\n\nfiles slashes cartella\n\n");
  for (const FolderRecord& record : ctx.folderTable) {
    appendPadded(out, record.unreadable ? UNREADABLE_SHOWN : record.fileCount, 4);
    out.append("    ");
    appendPadded(out, record.depth, 3);
    out.append("    ");
    appendReportText(out, pathOf(ctx, record));
    out.push_back('\n');
    report.flushIfFull();
  }
  out.append("\nfine del rapporto\n");
  return report.close();
}

}  // namespace doppioni
