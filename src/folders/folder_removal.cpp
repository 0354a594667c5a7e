// Removal of the folders that hold no files, deepest first, so that a whole
// subtree without files goes from the bottom up. Each folder is removed on
// its own and never recursively: one that is not empty stays, whatever it
// holds.
#include <vector>
#include "console/text.h"

#include "folders/folders.h"
#include "inventory/in_order.h"
#include "platform/platform.h"
#include "reports/reports.h"

namespace doppioni {
namespace {

constexpr std::string_view BLANKS_22 = "                      ";

void appendSummary(std::string& out, std::int32_t folders, std::int32_t tried, std::int32_t removed,
                   std::int32_t failed) {
  out.append("Totale cartelle ");
  appendNumber(out, folders);
  out.append("\nCartelle senza files ");
  appendNumber(out, tried);
  out.append("\nCartelle rimosse ");
  appendNumber(out, removed);
  out.append("\nAccesso negato a ");
  appendNumber(out, failed);
  out.append(" cartelle\n\n");
}

}  // namespace

int removeEmptyFolders(RunContext& ctx) {
  ReportFile report(REMOVAL_REPORT);
  if (!report.isOpen()) {
    // Every removal is accounted for in the report, or none is made.
    tellCannotCreate(ctx.console, REMOVAL_REPORT, ": nessuna cartella e' stata rimossa");
    return 1;
  }
  std::string& out = report.text();
  out.append("Rapporto rimozione cartelle\n\n");
  appendTimestampLine(out, ctx.clock());

  std::int32_t tried = 0;
  std::int32_t removed = 0;
  std::int32_t failed = 0;
  // A table that misses folders could hold a folder without the ones inside
  // it: then nothing is tried.
  std::int32_t last = ctx.folderTableIncomplete ? 0 : ctx.count;
  std::vector<std::int32_t> level;
  std::string line;
  // Folders of one depth never hold one another: each depth is tried on a
  // few threads at once, and reported in table order before the next,
  // shallower depth is tried.
  for (std::int32_t first = 0; first < last;) {
    std::int32_t end = first;
    level.clear();
    while (end < last && ctx.entries[end].depth == ctx.entries[first].depth) {
      if (ctx.entries[end].fileCount == 0) level.push_back(end);
      ++end;
    }
    auto attempt = [&ctx, &level](std::size_t k) {
      std::string path(dirOf(ctx, ctx.entries[level[k]]));
      makeWritable(path);
      return removeFolder(path);
    };
    runInOrder(threadCount(ctx), level.size(), attempt, [&](std::size_t k, int error) {
      std::string_view path = dirOf(ctx, ctx.entries[level[k]]);
      ++tried;
      line.assign("Rimuovo ");
      line.append(path);
      line.append(BLANKS_22);
      line.push_back('\n');
      ctx.console.progress(ctx.progressRow, line);

      appendReportText(out, path);
      out.push_back('\t');
      if (error == 0) {
        ++removed;
        out.append("rimossa\n");
      } else {
        ++failed;
        out.append("accesso negato ");
        appendNumber(out, error);
        out.push_back('\n');
      }
      report.flushIfFull();
    });
    first = end;
  }

  std::string summary;
  appendSummary(summary, ctx.count, tried, removed, failed);
  ctx.console.print(summary);
  out.append("\n\n");
  out.append(summary);
  out.append("Fine rapporto\n");
  if (!report.close()) {
    tellWriteError(ctx.console, REMOVAL_REPORT, ": il rapporto e' incompleto");
  }
  return 1;
}

}  // namespace doppioni
