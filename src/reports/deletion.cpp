// Deletion of the marked files, with the list of every attempt.
//
// The user answered on the report written before the question; the tree may
// have changed while the question waited. So a file is deleted only when it
// is still the file the scan saw, a copy only while the copy kept for it is
// still there, unchanged and a different file, and a companion file of a
// marked page only with its page: otherwise the deletion is refused and
// listed like any other refusal.
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "inventory/run_in_order.h"
#include "platform/platform.h"
#include "reports/reports.h"

namespace doppioni {
namespace {

constexpr std::string_view INTERRUPTED_LIST =
    "Programma interrotto: nessun altro file e' stato cancellato\n";

// Whether the entry on disk is still the one the record describes: the same
// file, where the scan could tell, of the same size and write time.
bool unchangedSinceScan(const EntryInfo& info, const FileEntry& record) {
  return !info.isFolder && info.sizeHigh == record.sizeHigh && info.sizeLow == record.sizeLow &&
         info.writeTime == record.writeTime &&
         (record.fileId == 0 || info.id.digest() == record.fileId);
}

// The identity of the copy kept for record `index` while it stands to take
// its place; unknown (no id) when it does not.
FileId standingKeptCopy(const RunContext& ctx, std::int32_t index) {
  std::int32_t kept = ctx.entries[index].keptCopy;
  if (kept < 0 || kept >= ctx.count || kept == index) return {};
  const FileEntry& keptRecord = ctx.entries[kept];
  // A kept copy that is going away itself keeps nothing.
  if (keptRecord.deleteMark == 1) return {};
  EntryInfo info;
  if (statEntry(reachPathOf(ctx, keptRecord), info) != 0) return {};
  if (!info.isRegular || !unchangedSinceScan(info, keptRecord)) return {};
  return info.id;
}

// The attempts of one run, each marked record tried once. A companion file
// of a marked page goes only when its page went, so it needs the page's
// outcome first: the companion files of marked pages are tried after every
// other marked file, so that a page is never deleted before its own turn
// (and its line); a companion file whose page is still under way on another
// thread waits for it.
class Attempts {
 public:
  explicit Attempts(const RunContext& ctx) : ctx_(ctx) {
    for (std::int32_t i = 0; i < ctx.count; ++i) {
      const FileEntry& e = ctx.entries[i];
      if (e.deleteMark != 1 || e.kind != Kind::PAGE || e.pageId <= 0) continue;
      auto id = static_cast<std::size_t>(e.pageId);
      if (id >= pageRecord_.size()) pageRecord_.resize(id + 1, -1);
      pageRecord_[id] = i;
    }
    pageTried_ = std::vector<std::once_flag>(pageRecord_.size());
    pageDeleted_.assign(pageRecord_.size(), 0);
  }

  // Tries the file of record `index`, once, and tells whether it was deleted.
  bool deleted(std::int32_t index) {
    const FileEntry& record = ctx_.entries[index];
    std::int32_t page = markedPageOf(record);
    if (page == index) {
      auto id = static_cast<std::size_t>(record.pageId);
      std::call_once(pageTried_[id], [&] { pageDeleted_[id] = attempt(index) ? 1 : 0; });
      return pageDeleted_[id] != 0;
    }
    if (page >= 0 && record.kind == Kind::PAGE_PART && !deleted(page)) return false;
    return attempt(index);
  }

  // Whether the record is a companion file that goes only with its page.
  bool followsPage(const FileEntry& record) const {
    return record.kind == Kind::PAGE_PART && markedPageOf(record) >= 0;
  }

  // Tells where the file of record `index` stays if it was moved aside for
  // its check and a new file took its name meanwhile.
  void tellLeftAside(Console& console, std::int32_t index) {
    std::lock_guard lock(mutex_);
    auto found = leftAside_.find(index);
    if (found == leftAside_.end()) return;
    std::string line("Il file ");
    console.appendName(line, filePathOf(ctx_, ctx_.entries[index]));
    line.append(" non e' stato cancellato e ora si chiama ");
    console.appendName(line, dirOf(ctx_, ctx_.entries[index]) + PATH_SEPARATOR + found->second);
    console.print(line + ": un altro file ha preso il suo nome\n");
  }

 private:
  // The marked page a record belongs to (for a page, itself); -1 for none.
  std::int32_t markedPageOf(const FileEntry& record) const {
    auto id = static_cast<std::size_t>(record.pageId);
    return record.pageId > 0 && id < pageRecord_.size() ? pageRecord_[id] : -1;
  }

  bool attempt(std::int32_t index) {
    const FileEntry& record = ctx_.entries[index];
    const bool junk = record.kind == Kind::JUNK;
    FileId kept = junk ? FileId{} : standingKeptCopy(ctx_, index);
    if (!junk && !kept.known()) return false;
    const std::string path = reachPathOf(ctx_, record);
    // Junk goes whatever it is; a copy only as a regular file, and never as
    // a second name for the file kept in its place.
    auto accept = [&](const EntryInfo& info) {
      bool sound = unchangedSinceScan(info, record) &&
                   (junk || (info.isRegular && info.id.known() && !(info.id == kept)));
      if (ctx_.beforeDeletion) ctx_.beforeDeletion(path);
      return sound;
    };
    CheckedDeletion done = deleteCheckedFile(path, accept);
    if (!done.leftAt.empty()) {
      std::lock_guard lock(mutex_);
      leftAside_[index] = std::move(done.leftAt);
    }
    return done.error == 0;
  }

  const RunContext& ctx_;
  std::vector<std::int32_t> pageRecord_;  // page number -> its marked page record, or -1
  std::vector<std::once_flag> pageTried_;
  std::vector<char> pageDeleted_;  // written once, under pageTried_
  std::mutex mutex_;
  std::map<std::int32_t, std::string> leftAside_;  // record -> the name it stays under
};

}  // namespace

int deleteMarkedFiles(RunContext& ctx) {
  // An interrupt from here on only notes itself: the attempts under way are
  // finished and listed, and the list closed, before the process ends.
  holdInterrupts();
  // Table order, but the companion files of marked pages after the rest.
  Attempts attempts(ctx);
  std::vector<std::int32_t> marked, followers;
  for (std::int32_t i = 0; i < ctx.count; ++i) {
    const FileEntry& record = ctx.entries[i];
    if (record.deleteMark == 1) (attempts.followsPage(record) ? followers : marked).push_back(i);
  }
  marked.insert(marked.end(), followers.begin(), followers.end());
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
    room += 2 * 2 + std::strlen(nameOf(ctx, record)) + 4 + ctx.folders.pathLength(record.dir);
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
  // never marked itself) but a companion file on its page, which Attempts
  // sees to; the list and the console follow the order of `marked`. Each line reaches
  // the system before more than one attempt a thread follows it.
  std::string lines;
  auto attempt = [&attempts, &marked](std::size_t k) {
    return attempts.deleted(marked[k]) ? 1 : 0;
  };
  auto show = [&](std::size_t k, int deleted) {
    const FileEntry& record = ctx.entries[marked[k]];
    const std::string dir = dirOf(ctx, record);
    const char* name = nameOf(ctx, record);

    // Name and folder in one text, so that a terminal draws both or neither.
    lines.clear();
    ctx.console.appendName(lines, name);
    lines.append(DELETION_PROGRESS_BLANKS);
    lines.push_back('\n');
    ctx.console.appendName(lines, dir);
    lines.append(DELETION_PROGRESS_BLANKS);
    lines.push_back('\n');
    ctx.console.progress(ctx.progressRow, lines);

    out.append(deleted ? "C " : "R ");
    appendReportText(out, name);
    out.append(" in ");
    appendReportText(out, dir);
    out.push_back('\n');
    attempts.tellLeftAside(ctx.console, marked[k]);
  };
  bool written = true;
  runInOrder(threadCount(ctx), marked.size(), attempt, show, [&] {
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
