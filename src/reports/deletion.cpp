// Deletion of the marked files, with the list of every attempt.
//
// The user answered on the report written before the question; the tree may
// have changed while the question waited. So a file is deleted only when it
// is still the file the scan saw, and a copy only while the copy kept for it
// is still there, unchanged and a different file: otherwise the deletion is
// refused and listed like any other refusal.
#include <cstring>
#include <vector>

#include "inventory/in_order.h"
#include "platform/platform.h"
#include "reports/reports.h"

namespace doppioni {
namespace {

constexpr std::string_view BLANKS_31 = "                               ";
// Attempts made between two writes of the list: few, since a process killed
// outright may leave at most one batch unlisted.
constexpr std::size_t LIST_BATCH = 64;
constexpr std::string_view INTERRUPTED_LIST =
    "Programma interrotto: nessun altro file e' stato cancellato\n";

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
  // An interrupt from here on only notes itself: the batch in progress is
  // finished and listed, and the list closed, before the process ends.
  holdInterrupts();
  std::vector<std::int32_t> marked;
  for (std::int32_t i = 0; i < ctx.count; ++i) {
    if (ctx.entries[i].deleteMark == 1) marked.push_back(i);
  }
  ReportFile list(DELETED_LIST);
  std::string& out = list.text();
  out.append("Elenco dei files cancellati\n\n");
  appendTimestampLine(out, ctx.clock());
  out.append("C - cancellato, R - accesso negato\n\n\n");
  // Its whole size is known now ("C " and "R " are as long), so its room on
  // disk is taken before the first deletion: a full disk cannot leave one
  // off the list.
  std::uint64_t room = out.size() + 8 + 2 * INTERRUPTED_LIST.size();
  for (std::int32_t index : marked) {
    const FileEntry& record = ctx.entries[index];
    room += 2 * 2 + std::strlen(nameOf(ctx, record)) + 4 + dirOf(ctx, record).size();
  }
  if (!list.reserve(room) || !list.flush()) {
    list.close();
    tellCannotCreate(ctx.console, DELETED_LIST, ": nessun file e' stato cancellato");
    ctx.console.flush();
    releaseInterrupts();
    return -1;
  }

  // The attempts run on a few threads, the waiting for the file system
  // shared out; each one depends on nothing another changes (a kept copy is
  // never marked itself), and the list and the console follow table order.
  // Each batch's lines reach the system before the next batch starts.
  std::string lines;
  auto attempt = [&ctx, &marked](std::size_t k) { return deleteIfSafe(ctx, marked[k]) ? 1 : 0; };
  auto show = [&](std::size_t k, int deleted) {
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
  };
  bool written = true;
  runInOrder(threadCount(ctx), marked.size(), LIST_BATCH, attempt, show, [&] {
    written = list.flush();
    return written && heldInterrupt() == 0;
  });

  bool interrupted = written && heldInterrupt() != 0;
  if (interrupted) out.append(INTERRUPTED_LIST);
  written = list.close() && written;
  if (!written) {
    tellWriteError(ctx.console, DELETED_LIST, ": l'elenco dei files cancellati e' incompleto");
  }
  ctx.console.flush();
  releaseInterrupts();  // an interrupt noted ends the process here
  return written && !interrupted ? 0 : -1;
}

}  // namespace doppioni
