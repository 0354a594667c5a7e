// Deletion of the marked files, with the list of every attempt.
//
// The user answered on the report written before the question; the tree may
// have changed while the question waited. So a file is deleted only when it
// is still the file the scan saw, a copy only while the copy kept for it is
// still there, unchanged and a different file, and only when its bytes are
// the kept copy's, and a companion file of a marked page only with its page:
// otherwise the deletion is refused and listed like any other refusal.
//
// Each file is first checked and held (moved aside under a private name, or
// held by the handle that deletes it), then its line is handed to the
// system, and only then is it deleted: a run killed at any moment leaves no
// file gone without its line, and at most a file aside, which the next run
// puts back.
#include <cstring>
#include <vector>

#include "inventory/run_in_order.h"
#include "platform/platform.h"
#include "reports/reports.h"

namespace doppioni {
namespace {

constexpr std::string_view INTERRUPTED_LIST =
    "Programma interrotto: nessun altro file e' stato cancellato\n";

// What the list and the console say of the files that go: deleted, or, in
// a run with a destination, moved.
struct ListWords {
  std::string_view title, legend, interrupted, noneGone, incomplete;
};
constexpr ListWords DELETED_WORDS = {
    "Elenco dei files cancellati\n\n", "C - cancellato, R - accesso negato\n\n\n", INTERRUPTED_LIST,
    ": nessun file e' stato cancellato", ": l'elenco dei files cancellati e' incompleto"};
constexpr ListWords MOVED_WORDS = {
    "Elenco dei files spostati\n\n", "C - spostato, R - accesso negato\n\n\n",
    "Programma interrotto: nessun altro file e' stato spostato\n",
    ": nessun file e' stato spostato", ": l'elenco dei files spostati e' incompleto"};

// Files compared at once while the deletions go on: a disk not yet read
// serves several reads under way better than one, more than there are cores.
constexpr int COMPARING_THREADS = 8;

// Whether the entry on disk is still the one the record describes: the same
// file, where the scan could tell, of the same size and write time.
bool unchangedSinceScan(const EntryInfo& info, const FileEntry& record) {
  return !info.isFolder && info.size == record.size &&
         info.writeTime == record.writeTime &&
         (record.fileId == 0 || info.id.digest() == record.fileId);
}

// The copy kept for a record, open to read, as the scan saw it.
struct KeptCopy {
  const FileEntry* record = nullptr;
  std::string path;
  OpenFile file;
  EntryInfo info;
};

// Opens the copy kept for record `index` while it stands, unchanged, to take
// its place; false when it does not.
bool openKeptCopy(const RunContext& ctx, std::int32_t index, KeptCopy& kept) {
  std::int32_t at = ctx.entries[index].keptCopy;
  if (at < 0 || at >= ctx.count || at == index) return false;
  kept.record = &ctx.entries[at];
  // A kept copy that is going away itself keeps nothing.
  if (kept.record->marked) return false;
  kept.path = reachPathOf(ctx, *kept.record);
  return openToRead(kept.path, kept.file, kept.info) == 0 &&
         unchangedSinceScan(kept.info, *kept.record) && kept.info.id.known();
}

// Whether the kept copy is still, after the comparison, what it was before,
// and still at its place.
bool stillStanding(const KeptCopy& kept) {
  EntryInfo now, there;
  return openFileInfo(kept.file, now) == 0 && unchangedSinceScan(now, *kept.record) &&
         now.id == kept.info.id && statEntry(kept.path, there) == 0 && there.id == kept.info.id;
}

// The attempts of one run, each marked record tried once. A companion file
// of a marked page goes only when its page went: the companion files of
// marked pages are tried after every other marked file, once every page is
// settled.
class Attempts {
 public:
  // toRead: every file held open to read its bytes, as a move to another
  // volume reads them from the handle that holds the file on Windows.
  Attempts(const RunContext& ctx, bool toRead) : ctx_(ctx), toRead_(toRead) {
    for (std::int32_t i = 0; i < ctx.count; ++i) {
      const FileEntry& e = ctx.entries[i];
      if (!e.marked || e.kind != Kind::PAGE || e.pageId <= 0) continue;
      auto id = static_cast<std::size_t>(e.pageId);
      if (id >= pageRecord_.size()) pageRecord_.resize(id + 1, -1);
      pageRecord_[id] = i;
    }
    pageDeleted_.assign(pageRecord_.size(), 0);
  }

  // Whether the record is a companion file that goes only with its page.
  bool followsPage(const FileEntry& record) const {
    return record.kind == Kind::PAGE_PART && markedPageOf(record) >= 0;
  }

  // Checks and holds the file of record `index`; on any thread.
  PreparedDeletion prepare(std::int32_t index) {
    const FileEntry& record = ctx_.entries[index];
    if (followsPage(record) && !pageDeleted_[static_cast<std::size_t>(record.pageId)]) {
      return PreparedDeletion{ECANCELED, {}, {}};
    }
    const bool junk = record.kind == Kind::JUNK;
    KeptCopy kept;
    if (!junk && !openKeptCopy(ctx_, index, kept)) return PreparedDeletion{ECANCELED, {}, {}};
    const std::string path = reachPathOf(ctx_, record);
    // Junk goes whatever it is; a copy only as a regular file, never as a
    // second name for the file kept in its place, and only with its bytes.
    auto accept = [&](const EntryInfo& info, const OpenFile& content) {
      bool sound = unchangedSinceScan(info, record) &&
                   (junk || (info.isRegular && info.id.known() && !(info.id == kept.info.id)));
      if (ctx_.beforeDeletion) ctx_.beforeDeletion(path);
      if (!sound || junk) return sound;
      EntryInfo after;
      return content.isOpen() && kept.record->size == record.size &&
             compareContents(content, kept.file, record.size).same &&
             openFileInfo(content, after) == 0 && unchangedSinceScan(after, record) &&
             stillStanding(kept);
    };
    return prepareDeletion(path, !junk || toRead_, &journal_, accept);
  }

  // Notes, on the calling thread, what became of the file of record `index`.
  void settled(std::int32_t index, bool deleted, const std::string& leftAt) {
    const FileEntry& record = ctx_.entries[index];
    if (record.kind == Kind::PAGE && markedPageOf(record) == index) {
      pageDeleted_[static_cast<std::size_t>(record.pageId)] = deleted ? 1 : 0;
    }
    if (leftAt.empty()) return;
    anyLeftAside_ = true;
    // Where the file stays: it was moved aside for its check and a new
    // file took its name meanwhile.
    std::string line("Il file ");
    ctx_.console.appendName(line, filePathOf(ctx_, record));
    line.append(" non e' stato cancellato e ora si chiama ");
    ctx_.console.appendName(line, dirOf(ctx_, record) + PATH_SEPARATOR + leftAt);
    ctx_.console.print(line + ": un altro file ha preso il suo nome\n");
  }

  // Once no file is held any more: the journal goes, unless a file stays
  // aside, which the next run then tries to put back again.
  void finish() { closeAsideJournal(journal_, !anyLeftAside_); }

 private:
  // The marked page a record belongs to (for a page, itself); -1 for none.
  std::int32_t markedPageOf(const FileEntry& record) const {
    auto id = static_cast<std::size_t>(record.pageId);
    return record.pageId > 0 && id < pageRecord_.size() ? pageRecord_[id] : -1;
  }

  const RunContext& ctx_;
  const bool toRead_;
  std::vector<std::int32_t> pageRecord_;  // page number -> its marked page record, or -1
  std::vector<char> pageDeleted_;         // page number -> whether its page went
  AsideJournal journal_;
  bool anyLeftAside_ = false;
};

// Shows the file being tried: name and folder in one text, so that a
// terminal draws both or neither.
void showAttempt(RunContext& ctx, const FileEntry& record, std::string& lines) {
  lines.clear();
  ctx.console.appendName(lines, nameOf(ctx, record));
  lines.append(DELETION_PROGRESS_BLANKS);
  lines.push_back('\n');
  ctx.console.appendName(lines, dirOf(ctx, record));
  lines.append(DELETION_PROGRESS_BLANKS);
  lines.push_back('\n');
  ctx.console.progress(ctx.progressRow, lines);
}

// Lists the attempt on a file and, when it is held, deletes it once its
// line has reached the system. A file whose line cannot be written, or that
// cannot be deleted after all, goes back under its name, its line (when
// written) made "R". Whether the list is still whole.
bool listAndDelete(RunContext& ctx, const Options& options, ReportFile& list,
                   const FileEntry& record, PreparedDeletion& prepared, bool& deleted) {
  deleted = false;
  std::optional<std::uint64_t> at = list.offset();
  if (!at) {
    giveBack(prepared.held, prepared.leftAt);
    return false;
  }
  std::string& out = list.text();
  out.append(prepared.error == 0 ? "C " : "R ");
  appendReportText(out, nameOf(ctx, record));
  out.append(" in ");
  appendReportText(out, dirOf(ctx, record));
  out.push_back('\n');
  bool written = list.flush();
  if (prepared.error != 0) return written;
  if (!written) {
    giveBack(prepared.held, prepared.leftAt);
    std::optional<std::uint64_t> end = list.offset();
    if (end && *end > *at) list.overwrite(*at, "R");  // some of the line went in
    return false;
  }
  deleted = disposeOfHeldFile(ctx, options, record, prepared.held, prepared.leftAt) == 0;
  return deleted || list.overwrite(*at, "R");
}

// Room on disk for the list: its whole size is known now ("C " and "R " are
// as long), so it is taken before the first deletion, and a full disk cannot
// leave one off the list.
std::uint64_t listRoom(const RunContext& ctx, const std::string& head,
                       const std::vector<std::int32_t>& marked) {
  std::uint64_t room = head.size() + 8 + 2 * INTERRUPTED_LIST.size();
  for (std::int32_t index : marked) {
    const FileEntry& record = ctx.entries[index];
    room += 2 * 2 + std::strlen(nameOf(ctx, record)) + 4 + ctx.folders.pathLength(record.dir);
  }
  return room;
}

}  // namespace

int deleteMarkedFiles(RunContext& ctx, const Options& options) {
  // An interrupt from here on only notes itself: the attempts under way are
  // finished and listed, and the list closed, before the process ends.
  holdInterrupts();
  // Table order, but the companion files of marked pages after the rest.
  Attempts attempts(ctx, options.moves());
  std::vector<std::int32_t> marked, followers;
  for (std::int32_t i = 0; i < ctx.count; ++i) {
    const FileEntry& record = ctx.entries[i];
    if (record.marked) (attempts.followsPage(record) ? followers : marked).push_back(i);
  }
  ReportFile list(DELETED_LIST);
  std::string& out = list.text();
  const ListWords& words = options.moves() ? MOVED_WORDS : DELETED_WORDS;
  out.append(words.title);
  appendTimestampLine(out, ctx.clock());
  out.append(words.legend);
  std::uint64_t room = listRoom(ctx, out, marked) + listRoom(ctx, {}, followers);
  if (!list.reserve(room) || !list.flush()) {
    list.close();
    tellCannotCreate(ctx.console, DELETED_LIST, words.noneGone);
    ctx.console.flush();
    releaseInterrupts();
    return -1;
  }

  // The files are checked and compared on a few threads, the waiting for
  // the disk shared out; each check depends on nothing another changes (a
  // kept copy is never marked itself), and a companion file's page is
  // settled before it, in a round of its own. The list, the deletions and
  // the console follow the order of the table.
  const int threads = ctx.workerThreads >= 0 ? ctx.workerThreads : COMPARING_THREADS;
  bool written = true;
  std::string lines;
  for (const std::vector<std::int32_t>* round : {&marked, &followers}) {
    if (!written || heldInterrupt() != 0) break;
    auto attempt = [&](std::size_t k) { return attempts.prepare((*round)[k]); };
    auto show = [&](std::size_t k, PreparedDeletion& prepared) {
      const FileEntry& record = ctx.entries[(*round)[k]];
      showAttempt(ctx, record, lines);
      bool deleted = false;
      if (written) {
        written = listAndDelete(ctx, options, list, record, prepared, deleted);
      } else {
        giveBack(prepared.held, prepared.leftAt);  // nothing goes unlisted
      }
      attempts.settled((*round)[k], deleted, prepared.leftAt);
    };
    runInOrder(threads, round->size(), attempt, show,
               [&] { return written && heldInterrupt() == 0; });
  }

  attempts.finish();
  bool interrupted = written && heldInterrupt() != 0;
  if (interrupted) out.append(words.interrupted);
  written = list.close() && written;
  if (!written) {
    tellWriteError(ctx.console, DELETED_LIST, words.incomplete);
  }
  ctx.console.flush();
  releaseInterrupts();  // an interrupt noted ends the process here
  return written && !interrupted ? 0 : -1;
}

}  // namespace doppioni
