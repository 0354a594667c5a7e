// Deletion of the marked files, with the list of every attempt.
//
// The user answered on the report written before the question; the tree may
// have changed while the question waited. So a file is deleted only when it
// is still the file the scan saw, and a copy only while the copy kept for it
// is still there, unchanged and a different file: otherwise the deletion is
// refused and listed like any other refusal.
#include <vector>

#include "inventory/in_order.h"
#include "platform/platform.h"
#include "reports/reports.h"

namespace doppioni {
namespace {

constexpr std::string_view BLANKS_31 = "                               ";

// Whether the entry on disk is still the one the record describes.
bool unchangedSinceScan(const EntryInfo& info, const FileEntry& record) {
  return !info.isFolder && info.sizeHigh == record.sizeHigh && info.sizeLow == record.sizeLow &&
         info.writeTime == record.writeTime;
}

// Whether the copy kept for record `index` is still there to take its place.
bool keptCopyStands(const RunContext& ctx, std::int32_t index, const EntryInfo& copy) {
  std::int32_t kept = ctx.entries[index].keptCopy;
  if (kept < 0 || kept >= ctx.count || kept == index) return false;
  const FileEntry& keptRecord = ctx.entries[kept];
  // A kept copy that is going away itself keeps nothing.
  if (keptRecord.deleteMark == 1) return false;
  EntryInfo info;
  if (statEntry(filePathOf(ctx, keptRecord), info) != 0) return false;
  if (!info.isRegular || !unchangedSinceScan(info, keptRecord)) return false;
  // A second name for the same file frees nothing and loses everything; when
  // the platform cannot tell files apart, no risk is taken.
  return info.id.known() && copy.id.known() && !(info.id == copy.id);
}

// Deletes the file of record `index` when that is safe; true when it was deleted.
bool deleteIfSafe(const RunContext& ctx, std::int32_t index) {
  const FileEntry& record = ctx.entries[index];
  std::string path = filePathOf(ctx, record);
  EntryInfo info;
  if (statEntry(path, info) != 0 || !unchangedSinceScan(info, record)) return false;
  if (record.kind != KIND_JUNK && !keptCopyStands(ctx, index, info)) return false;
  return unlinkFile(path) == 0;
}

}  // namespace

int deleteMarkedFiles(RunContext& ctx) {
  ReportFile list(DELETED_LIST);
  if (!list.isOpen()) {
    tellCannotCreate(ctx.console, DELETED_LIST, ": nessun file e' stato cancellato");
    return -1;
  }
  std::string& out = list.text();
  out.append("Elenco dei files cancellati\n\n");
  appendTimestampLine(out, ctx.clock());
  out.append("C - cancellato, R - accesso negato\n\n\n");

  // The attempts run on a few threads, the waiting for the file system
  // shared out; each one depends on nothing another changes (a kept copy is
  // never marked itself), and the list and the console follow table order.
  std::vector<std::int32_t> marked;
  for (std::int32_t i = 0; i < ctx.count; ++i) {
    if (ctx.entries[i].deleteMark == 1) marked.push_back(i);
  }
  std::string lines;
  auto attempt = [&ctx, &marked](std::size_t k) { return deleteIfSafe(ctx, marked[k]) ? 1 : 0; };
  runInOrder(threadCount(ctx), marked.size(), attempt, [&](std::size_t k, int deleted) {
    const FileEntry& record = ctx.entries[marked[k]];
    std::string_view dir = dirOf(ctx, record);
    const char* name = nameOf(ctx, record);

    // Name and folder in one text, so that a terminal draws both or neither.
    lines.assign(name);
    lines.append(BLANKS_31);
    lines.push_back('\n');
    lines.append(dir);
    lines.append(BLANKS_31);
    lines.push_back('\n');
    ctx.console.progress(ctx.progressRow, lines);

    out.append(deleted ? "C " : "R ");
    out.append(name);
    out.append(" in ");
    out.append(dir);
    out.push_back('\n');
    list.flushIfFull();
  });

  if (!list.close()) {
    tellWriteError(ctx.console, DELETED_LIST, ": l'elenco dei files cancellati e' incompleto");
  }
  return 0;
}

}  // namespace doppioni
