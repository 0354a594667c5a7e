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
// file gone without its line, and at most the files held then aside, each
// noted first, which the next run puts back.
#include <algorithm>
#include <cstring>
#include <vector>

#include "console/console.h"
#include "inventory/in_background.h"
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

// Files a thread checks and holds, one after the other, before the calling
// thread lists them in one write and hands them on to be deleted: handing
// over each file alone costs more than its deletion. Smaller batches where there are few
// files, so that each thread still has several.
constexpr std::size_t BATCH_MOST = 32;
constexpr std::size_t BATCHES_A_THREAD = 4;

// Whether the entry on disk is still the one the record describes: the same
// file, where the scan could tell, of the same size and write time.
bool unchangedSinceScan(const EntryInfo& info, const FileRecord& record) {
  return !info.isFolder && info.size == record.size && info.writeTime == record.writeTime &&
         (record.fileId == 0 || info.id.digest() == record.fileId);
}

// A deletion that the checks refused: the file stays as it is.
Failure refusedByCheck() {
  return Failure{FailureKind::ENTRY_REFUSED, ECANCELED, {}};
}

// The copy kept for a record, open to read, as the scan saw it.
struct KeptCopy {
  std::int32_t index = -1;
  const FileRecord* record = nullptr;
  std::string path;
  OpenFile file;
  EntryInfo info;
};

// Opens the copy kept for a planned copy while it stands, unchanged, to
// take its place; false when it does not. Copies of one kept copy follow
// one another: one still open from the last of them, and found unchanged
// after its comparison, is taken as it is.
bool openKeptCopy(const RunContext& ctx, const PlannedDeletion& copy, KeptCopy& kept) {
  if (copy.kept == NO_COPY) return false;
  if (kept.index == copy.kept && kept.file.isOpen()) return true;
  kept.index = copy.kept;
  kept.record = &ctx.files[copy.kept];
  kept.path = reachPathOf(ctx, *kept.record);
  kept.file.close();
  if (!openToRead(kept.path, kept.file, kept.info) && unchangedSinceScan(kept.info, *kept.record) &&
      kept.info.id.known()) {
    return true;
  }
  kept.file.close();
  return false;
}

// Whether the kept copy is still, after the comparison, what it was before,
// and still at its place; it is closed when not.
bool stillStanding(KeptCopy& kept) {
  EntryInfo now, there;
  if (!openFileInfo(kept.file, now) && unchangedSinceScan(now, *kept.record) &&
      now.id == kept.info.id && !statEntry(kept.path, there) && there.id == kept.info.id) {
    return true;
  }
  kept.file.close();
  return false;
}

// One file of a batch, and what became of it.
struct Attempt {
  std::int32_t index = -1;
  PreparedDeletion prepared;
  bool deleted = false;
};

// Carries out the plan's attempts, each planned file tried once. A
// companion file goes only when its page went, which is settled before it.
class Attempts {
 public:
  // toRead: every file held open to read its bytes, as a move to another
  // volume reads them from the handle that holds the file on Windows.
  Attempts(const RunContext& ctx, bool toRead, const BeforeAct& beforeEach)
      : ctx_(ctx),
        toRead_(toRead),
        beforeEach_(beforeEach),
        gone_(static_cast<std::size_t>(ctx.files.size())) {}

  // Checks and holds the planned files given, in their order, on any
  // thread: their moves aside are noted in the journal first, in one write.
  // An interrupt noted meanwhile ends the batch: no more files are tried.
  std::vector<Attempt> prepareBatch(const PlannedDeletion* planned, std::size_t count) {
    std::vector<DeletionPlan> plans(count);
    for (std::size_t i = 0; i < count; ++i) {
      const PlannedDeletion& file = planned[i];
      if (file.page != NO_COPY && !gone_[static_cast<std::size_t>(file.page)]) {
        plans[i].failure = refusedByCheck();
      } else {
        plans[i] = planDeletion(reachPathOf(ctx_, ctx_.files[file.index]), &journal_);
      }
    }
    noteDeletions(journal_, plans);
    std::vector<Attempt> batch(count);
    KeptCopy kept;
    for (std::size_t i = 0; i < count; ++i) {
      if (heldInterrupt() != 0) {
        batch.resize(i);
        break;
      }
      batch[i].index = planned[i].index;
      batch[i].prepared = prepare(planned[i], plans[i], kept);
    }
    return batch;
  }

  // Notes, on the calling thread, what became of the file of record `index`.
  void settled(std::int32_t index, bool deleted, const std::string& leftAt) {
    gone_[static_cast<std::size_t>(index)] = deleted;
    if (leftAt.empty()) return;
    anyLeftAside_ = true;
    // Where the file stays: it was moved aside for its check and a new
    // file took its name meanwhile.
    const FileRecord& record = ctx_.files[index];
    std::string line("Il file ");
    ctx_.progress.appendName(line, filePathOf(ctx_, record));
    line.append(" non e' stato cancellato e ora si chiama ");
    ctx_.progress.appendName(line, dirOf(ctx_, record) + PATH_SEPARATOR + leftAt);
    ctx_.progress.print(line + ": un altro file ha preso il suo nome\n");
  }

  // Once no file is held any more: the journal goes, unless a file stays
  // aside, which the next run then tries to put back again.
  void finish() { closeAsideJournal(journal_, !anyLeftAside_); }

 private:
  // Checks and holds a planned file.
  PreparedDeletion prepare(const PlannedDeletion& file, DeletionPlan& plan, KeptCopy& kept) {
    const FileRecord& record = ctx_.files[file.index];
    const bool junk = !file.compared;
    if (!plan.failure && !junk && !openKeptCopy(ctx_, file, kept)) plan.failure = refusedByCheck();
    // Junk goes whatever it is; a copy only as a regular file, never as a
    // second name for the file kept in its place, and only with its bytes.
    auto accept = [&](const EntryInfo& info, const OpenFile& content) {
      bool sound = unchangedSinceScan(info, record) &&
                   (junk || (info.isRegular && info.id.known() && !(info.id == kept.info.id)));
      if (beforeEach_) beforeEach_(plan.path);
      if (!sound || junk) return sound;
      EntryInfo after;
      return content.isOpen() && kept.record->size == record.size &&
             compareContents(content, kept.file, record.size,
                             info.mayHaveHoles && kept.info.mayHaveHoles)
                 .same &&
             !openFileInfo(content, after) && unchangedSinceScan(after, record) &&
             stillStanding(kept);
    };
    return prepareDeletion(plan, !junk || toRead_, &journal_, accept);
  }

  const RunContext& ctx_;
  const bool toRead_;
  const BeforeAct& beforeEach_;  // once a file is checked, before it goes
  std::vector<bool> gone_;       // record -> whether its file went (written on the calling thread)
  AsideJournal journal_;
  bool anyLeftAside_ = false;
};

// Shows and lists the attempts of a batch, and hands their lines to the
// system in one write; where each line starts in the list goes to lineAt.
// Whether every line was written.
bool listBatch(RunContext& ctx, ReportFile& list, const std::vector<Attempt>& batch,
               std::vector<std::uint64_t>& lineAt) {
  std::optional<std::uint64_t> at = list.offset();
  if (!at) return false;
  std::string& out = list.text();
  for (std::size_t i = 0; i < batch.size(); ++i) {
    const FileRecord& record = ctx.files[batch[i].index];
    ctx.progress.deleting(nameOf(ctx, record), dirOf(ctx, record));
    // Each line before this one ends in one line end (a name's are '?').
    lineAt.push_back(*at + out.size() + i * (REPORT_LINE_END_BYTES - 1));
    out.append(!batch[i].prepared.failure ? "C " : "R ");
    appendReportText(out, nameOf(ctx, record));
    out.append(" in ");
    appendReportText(out, dirOf(ctx, record));
    out.push_back('\n');
  }
  return !list.flush();
}

// A batch whose lines are written, where each line starts in the list.
struct ListedBatch {
  std::vector<Attempt> batch;
  std::vector<std::uint64_t> lineAt;
};

// Deletes the files held of a listed batch, on any thread.
void disposeOfBatch(const RunContext& ctx, const Options& options, ListedBatch& listed) {
  for (Attempt& tried : listed.batch) {
    PreparedDeletion& prepared = tried.prepared;
    if (prepared.failure) continue;
    tried.deleted =
        !disposeOfHeldFile(ctx, options, ctx.files[tried.index], prepared.held, prepared.leftAt);
  }
}

// Settles the attempts of a batch once its files are disposed of, or not
// tried: every file not gone is back under its name, and a line that says
// "C" of it is made "R". Whether every such line could be made "R".
bool settleBatch(ReportFile& list, Attempts& attempts, ListedBatch& listed) {
  bool whole = true;
  for (std::size_t i = 0; i < listed.batch.size(); ++i) {
    Attempt& tried = listed.batch[i];
    giveBack(tried.prepared.held, tried.prepared.leftAt);  // nothing goes unlisted
    if (!tried.deleted && !tried.prepared.failure && i < listed.lineAt.size() &&
        list.overwrite(listed.lineAt[i], "R")) {
      whole = false;
    }
    attempts.settled(tried.index, tried.deleted, tried.prepared.leftAt);
  }
  return whole;
}

// Lines that cannot be written: the files of the batch go back under their
// names, and a line that went in all the same is made "R" as far as the
// list still takes it.
void withdrawBatch(ReportFile& list, ListedBatch& listed) {
  std::optional<std::uint64_t> end = list.offset();
  std::size_t written = 0;
  while (written < listed.lineAt.size() && end && *end > listed.lineAt[written]) ++written;
  listed.lineAt.resize(written);
  for (Attempt& tried : listed.batch) giveBack(tried.prepared.held, tried.prepared.leftAt);
}

// Room on disk for the list: its whole size is known now ("C " and "R " are
// as long), so it is taken before the first deletion, and a full disk cannot
// leave one off the list.
std::uint64_t listRoom(const RunContext& ctx, std::size_t head, const DeletionOrder& order) {
  std::uint64_t room = head + 8 + 2 * INTERRUPTED_LIST.size();
  for (const std::vector<PlannedDeletion>* round : {&order.first, &order.followers}) {
    for (const PlannedDeletion& file : *round) {
      const FileRecord& record = ctx.files[file.index];
      room += 2 * 2 + std::strlen(nameOf(ctx, record)) + 4 + ctx.folders.pathLength(record.dir);
    }
  }
  return room;
}

// Files whose lines are written, deleted while the next are checked and
// listed: a big file's deletion takes the system a while.
constexpr int DISPOSING_THREADS = 4;
using Disposals = InBackground<ListedBatch>;

int comparingThreads(const RunContext& ctx) {
  return ctx.workerThreads >= 0 ? ctx.workerThreads : COMPARING_THREADS;
}

// Tries the planned files of a round, in batches on a few threads, lists
// each attempt and has the files listed disposed of; false once the list is
// not whole.
bool deleteRound(RunContext& ctx, Attempts& attempts, Disposals& disposals,
                 const std::vector<PlannedDeletion>& round, ReportFile& list) {
  const int threads = comparingThreads(ctx);
  const std::size_t files = round.size();
  const std::size_t size = std::clamp<std::size_t>(
      files / (static_cast<std::size_t>(std::max(threads, 1)) * BATCHES_A_THREAD), 1, BATCH_MOST);
  bool written = true;
  auto settle = [&](ListedBatch& listed) {
    if (!settleBatch(list, attempts, listed)) written = false;
  };
  auto attempt = [&](std::size_t b) {
    return attempts.prepareBatch(round.data() + b * size, std::min(size, files - b * size));
  };
  auto show = [&](std::size_t, std::vector<Attempt>& batch) {
    ListedBatch listed{std::move(batch), {}};
    if (written && listBatch(ctx, list, listed.batch, listed.lineAt)) {
      disposals.give(std::move(listed), settle);
      return;
    }
    if (written) withdrawBatch(list, listed);
    written = false;
    settle(listed);
  };
  try {
    runInOrder(threads, (files + size - 1) / size, attempt, show,
               [&] { return written && heldInterrupt() == 0; });
  } catch (...) {
    disposals.takeBack(true, settle);  // the files listed go, or their lines say R
    throw;
  }
  disposals.takeBack(true, settle);
  return written;
}

}  // namespace

DeletionOrder planDeletions(std::span<const FileRecord> table) {
  // Page number -> its marked page's record.
  std::vector<std::int32_t> markedPage;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const FileRecord& e = table[i];
    if (!e.marked || e.kind != Kind::PAGE || e.pageId <= 0) continue;
    auto id = static_cast<std::size_t>(e.pageId);
    if (id >= markedPage.size()) markedPage.resize(id + 1, NO_COPY);
    markedPage[id] = static_cast<std::int32_t>(i);
  }
  DeletionOrder order;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const FileRecord& e = table[i];
    if (!e.marked) continue;
    PlannedDeletion file{static_cast<std::int32_t>(i), e.kind != Kind::JUNK, e.keptCopy, NO_COPY};
    // A kept copy that is out of the table, the copy itself, or going away
    // itself keeps nothing.
    if (file.kept < 0 || static_cast<std::size_t>(file.kept) >= table.size() ||
        file.kept == file.index || table[static_cast<std::size_t>(file.kept)].marked) {
      file.kept = NO_COPY;
    }
    auto id = static_cast<std::size_t>(e.pageId);
    if (e.kind == Kind::PAGE_PART && e.pageId > 0 && id < markedPage.size())
      file.page = markedPage[id];
    (file.page != NO_COPY ? order.followers : order.first).push_back(file);
  }
  return order;
}

int deleteMarkedFiles(RunContext& ctx, const Options& options, const BeforeAct& beforeEach) {
  const DeletionOrder order = planDeletions(ctx.files.records());
  AttemptList list(ctx.progress, DELETED_LIST);
  std::string& out = list.file().text();
  const ListWords& words = options.moves() ? MOVED_WORDS : DELETED_WORDS;
  out.append(words.title);
  appendTimestampLine(out, ctx.clock());
  out.append(words.legend);
  if (!list.start(listRoom(ctx, out.size(), order), words.noneGone)) return -1;

  // The files are checked and compared on a few threads, in batches, the
  // waiting for the disk shared out; each check depends on nothing another
  // changes (a kept copy is never marked itself), and a companion file's
  // page is settled before it, in a round of its own. The list, the
  // deletions and the console follow the order of the table.
  Attempts attempts(ctx, options.moves(), beforeEach);
  // A move may make folders at the destination: one at a time.
  const int disposing = comparingThreads(ctx) == 0 ? 0 : options.moves() ? 1 : DISPOSING_THREADS;
  Disposals disposals(disposing, 2 * static_cast<std::size_t>(std::max(disposing, 1)),
                      [&](ListedBatch& listed) { disposeOfBatch(ctx, options, listed); });
  bool written = true;
  for (const std::vector<PlannedDeletion>* round : {&order.first, &order.followers}) {
    if (!written || heldInterrupt() != 0) break;
    written = deleteRound(ctx, attempts, disposals, *round, list.file());
  }
  attempts.finish();
  return list.finish(written, words.interrupted, words.incomplete);
}

}  // namespace doppioni
