// Removal of the folders that hold no files, deepest first, so that a whole
// subtree without files goes from the bottom up. Each folder is removed on
// its own and never recursively: one that is not empty stays, whatever it
// holds.
#include <vector>

#include "console/console.h"
#include "console/number_format.h"
#include "folders/folders.h"
#include "inventory/run_in_order.h"
#include "platform/platform.h"
#include "reports/reports.h"

namespace doppioni {
namespace {

// What a line adds to its folder's path at most: tab, "accesso negato ",
// an error number, and the line end (twice "\n" counts as on Windows).
constexpr std::uint64_t LONGER_FORM = 1 + 15 + 11 + 2;
constexpr std::string_view INTERRUPTED_REPORT =
    "Programma interrotto: nessun'altra cartella e' stata rimossa\n";

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

// What the removals came to.
struct Removals {
  std::int32_t tried = 0;
  std::int32_t removed = 0;
  std::int32_t failed = 0;
};

// Shows and reports the removal of a folder.
void reportRemoval(RunContext& ctx, const std::string& path, const std::optional<Failure>& failure,
                   std::string& out, Removals& done) {
  ++done.tried;
  ctx.progress.removing(path);

  appendReportText(out, path);
  out.push_back('\t');
  if (!failure) {
    ++done.removed;
    out.append("rimossa\n");
  } else {
    ++done.failed;
    out.append("accesso negato ");
    appendNumber(out, failure->error);
    out.push_back('\n');
  }
}

// Removes the folders without files among the first `last` of the table,
// deepest first, and reports each. Whether the report is still whole.
bool removeByDepth(RunContext& ctx, std::int32_t last, ReportFile& report, Removals& done,
                   const BeforeAct& beforeEach) {
  const std::vector<FolderRecord>& table = ctx.folderTable;
  bool written = true;
  std::vector<std::int32_t> level;
  // A chain of folders is removed from the bottom up: the way down to each
  // is kept, rather than walked from the top again for every one.
  FolderPathCache way(ctx.treeTop);
  const int topDepth = countBackslashes(ctx.folders.root());
  // Folders of one depth never hold one another: each depth is tried on a
  // few threads at once, and reported in table order before the next,
  // shallower depth is tried.
  for (std::int32_t first = 0; first < last && written && heldInterrupt() == 0;) {
    std::int32_t end = first;
    level.clear();
    while (end < last && table[end].depth == table[first].depth) {
      if (holdsNoFile(table[end])) level.push_back(end);
      ++end;
    }
    auto attempt = [&ctx, &table, &level, &way, &beforeEach, topDepth](std::size_t k) {
      const FolderRecord& folder = table[level[k]];
      const std::string path = reachPathOf(ctx, folder);
      if (beforeEach) beforeEach(path);
      return way.removeFolder(path, folder.id, folder.depth - topDepth);
    };
    auto show = [&](std::size_t k, const std::optional<Failure>& failure) {
      reportRemoval(ctx, pathOf(ctx, table[level[k]]), failure, report.text(), done);
    };
    runInOrder(threadCount(ctx), level.size(), attempt, show, [&] {
      written = !report.flush();
      return written && heldInterrupt() == 0;
    });
    first = end;
  }
  return written;
}

}  // namespace

int removeEmptyFolders(RunContext& ctx, const BeforeAct& beforeEach) {
  // As for the deletions: an interrupt lets the removals under way finish and
  // be reported first.
  AttemptList report(ctx.progress, REMOVAL_REPORT);
  // A table that misses folders could hold a folder without the ones inside
  // it: then nothing is tried.
  const std::vector<FolderRecord>& table = ctx.folderTable;
  const auto folders = static_cast<std::int32_t>(table.size());
  const std::int32_t last = ctx.folderTableIncomplete ? 0 : folders;
  std::string& out = report.file().text();
  out.append("Rapporto rimozione cartelle\n\n");
  appendTimestampLine(out, ctx.clock());
  // Room for every line in its longer form, and for the totals, before the
  // first removal. Every removal is accounted for in the report, or none is made.
  std::uint64_t room = 2 * out.size() + 2 * INTERRUPTED_REPORT.size() + 256;
  for (std::int32_t i = 0; i < last; ++i) {
    if (holdsNoFile(table[i])) room += ctx.folders.pathLength(table[i].path) + LONGER_FORM;
  }
  if (!report.start(room, ": nessuna cartella e' stata rimossa")) return -1;

  Removals done;
  const bool written = removeByDepth(ctx, last, report.file(), done, beforeEach);
  return report.finish(written, INTERRUPTED_REPORT, ": il rapporto e' incompleto",
                       [&](std::string& text) {
                         std::string summary;
                         appendSummary(summary, folders, done.tried, done.removed, done.failed);
                         ctx.progress.print(summary);
                         text.append("\n\n").append(summary).append("Fine rapporto\n");
                       });
}

}  // namespace doppioni
