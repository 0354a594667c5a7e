// The reports the user reads, the report file they are written through, and
// the deletion of the marked files, which lists every attempt in one of them.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/inventory.h"
#include "platform/platform.h"

namespace doppioni {

inline constexpr const char* DUPLICATES_REPORT = "Rapporto_doppioni.txt";
inline constexpr const char* DELETED_LIST = "Elenco_files_cancellati.txt";
inline constexpr const char* FOLDER_REPORT = "Rapporto_cartelle.txt";
inline constexpr const char* REMOVAL_REPORT = "Rapporto_rimozione_cartelle.txt";

// A report file: always a new regular file of its own under its name in the
// working directory (see createReport), written in text mode ("\n" becomes
// CR LF on Windows). Text gathers in a buffer, handed to the system as it
// fills, or at once with flush() where each line must reach the disk before
// the program goes on. Its failures name it by its file name.
class ReportFile {
 public:
  explicit ReportFile(const char* fileName);
  ~ReportFile();
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;

  bool isOpen() const { return handle_.isOpen(); }
  // Text is appended here and written out as the buffer fills.
  std::string& text() { return buffer_; }
  // A failure to write is kept, and told by flush() and close().
  void write(std::string_view text) {
    buffer_.append(text);
    flushIfFull();
  }
  // Call after appending to text() directly.
  void flushIfFull() {
    if (buffer_.size() >= FLUSH_AT) static_cast<void>(flush());  // kept, as above
  }
  // Sets aside room on disk for `bytes` more bytes of text (each "\n" counted
  // twice, as on Windows); REPORT_RESERVE when the disk has no such room.
  [[nodiscard]] std::optional<Failure> reserve(std::uint64_t bytes);
  // Hands the text gathered so far to the system; the first failure the file
  // met (REPORT_CREATE when it could not be made; REPORT_WRITE once any of
  // its text could not be written, now and from then on).
  [[nodiscard]] std::optional<Failure> flush();
  // Hands the text gathered so far to the system and tells where the next
  // byte goes in the file; nothing when the system cannot tell.
  std::optional<std::uint64_t> offset();
  // Writes text (no line end in it) over the file's bytes at `at`, as when
  // a line already written must say otherwise.
  [[nodiscard]] std::optional<Failure> overwrite(std::uint64_t at, std::string_view text);
  // Writes what is left and closes the file; as flush(), and REPORT_CLOSE
  // when the closing failed.
  [[nodiscard]] std::optional<Failure> close();
  // The first failure the file met, from its creation on.
  const std::optional<Failure>& failure() const { return failure_; }
  const char* fileName() const { return fileName_; }

 private:
  static constexpr std::size_t FLUSH_AT = 1 << 16;

  // The failure, if any, with the file's name.
  [[nodiscard]] std::optional<Failure> named(std::optional<Failure> failure) const;

  const char* fileName_;
  ReportHandle handle_;
  std::string buffer_;
  std::optional<Failure> failure_;
};

// Tells the user that a report could not be created (REPORT_CREATE,
// REPORT_RESERVE), or not written whole (REPORT_WRITE, REPORT_CLOSE):
// "Impossibile creare il file NAME" / "Errore di scrittura nel file NAME",
// then what follows from it (": ..." or nothing) and a line feed.
void tellReportFailure(Progress& progress, const Failure& failure, std::string_view consequence);

// Appends a name or path to a report line with each line feed and carriage
// return written as '?', so that a name can never make a line of its own;
// every other byte as it is.
inline void appendReportText(std::string& out, std::string_view text) {
  std::size_t at = out.size();
  out.append(text);
  // Every byte is stored back, changed or not, over bounds taken once: the
  // compiler then handles many bytes an instruction, and a big report
  // appends millions of names.
  char* const end = out.data() + out.size();
  for (char* c = out.data() + at; c != end; ++c) {
    const char b = *c;
    *c = b == '\n' || b == '\r' ? '?' : b;
  }
}

// "Compilato il DD/MM/YYYY alle hh:mm:ss\n\n", from the local time given.
void appendTimestampLine(std::string& out, const std::tm& time);

// Writes "Rapporto_doppioni.txt": every record with its mark, kind, name,
// size and folder. The failure when it could not be written whole.
[[nodiscard]] std::optional<Failure> writeDuplicatesReport(const RunContext& ctx);

// A list of attempts, written as they are made: the deletion list and the
// removal report. While it lives an interrupt only notes itself, so that
// the attempts under way are finished and listed and the list closed
// first; when it goes, an interrupt noted ends the process.
class AttemptList {
 public:
  AttemptList(Progress& progress, const char* fileName);
  ~AttemptList();
  AttemptList(const AttemptList&) = delete;
  AttemptList& operator=(const AttemptList&) = delete;

  ReportFile& file() { return file_; }
  // Sets room on disk aside for `room` bytes and writes what the text holds
  // so far; when it cannot, says so, ending with `noneDone`, and false: then
  // no attempt may be made.
  [[nodiscard]] bool start(std::uint64_t room, std::string_view noneDone);
  // Ends the list: with `interruptedLine` after an interrupt, else, when
  // every line was written, with what `whole` adds; closes it, and says so,
  // ending with `incomplete`, when it is not whole. 0, or -1 when the list
  // was interrupted or is not whole.
  [[nodiscard]] int finish(bool written, std::string_view interruptedLine,
                           std::string_view incomplete,
                           const std::function<void(std::string&)>& whole = {});

 private:
  struct InterruptHold {
    InterruptHold();
    ~InterruptHold();
  };
  InterruptHold hold_;  // first made, last gone
  Progress& progress_;
  ReportFile file_;
};

// One file that the deletion tries, as the plan has it.
struct PlannedDeletion {
  std::int32_t index = NO_COPY;  // its record
  bool compared = false;         // a copy, which goes only with its kept copy's bytes; junk goes
  std::int32_t kept = NO_COPY;   // for a copy: the record kept for it, NO_COPY when none can stay
  std::int32_t page = NO_COPY;   // a companion file of a marked page: that page's record
};

// The files to try, in the order they are tried: table order, but the
// companion files of marked pages after every other file, since each goes
// only when its page went.
struct DeletionOrder {
  std::vector<PlannedDeletion> first;
  std::vector<PlannedDeletion> followers;
};

// What the marks of the table say is to be deleted, and against what.
[[nodiscard]] DeletionOrder planDeletions(std::span<const FileRecord> table);

// Deletes the marked files that are unchanged since the scan (a copy only
// while the copy kept for it is still there, unchanged, and only when its
// bytes are the kept copy's) and lists every attempt in
// "Elenco_files_cancellati.txt": a file goes only once its line has been
// handed to the system. With a destination in the options, every file that
// would be deleted is moved there instead, and the list says so. 0; -1 when
// the list cannot be created or its room on disk reserved, in which case
// nothing is deleted, or when a line could not be written, which stops the
// deletions there (the message is on the console).
[[nodiscard]] int deleteMarkedFiles(RunContext& ctx, const Options& options = {},
                                    const BeforeAct& beforeEach = {});

// The last step for a held file whose line is written: deleted, or, with a
// destination in the options, moved there to its folder below the work
// folder, the copy made across volumes checked against it byte for byte.
// ENTRY_REFUSED when it could not, and the file is back (see deleteHeldFile).
[[nodiscard]] std::optional<Failure> disposeOfHeldFile(const RunContext& ctx,
                                                       const Options& options,
                                                       const FileRecord& record, HeldFile& held,
                                                       std::string& leftAt);

// What comparing two files' bytes found, and how many bytes it read.
struct ContentComparison {
  bool same = false;  // false too when either could not be read whole
  std::uint64_t bytesRead = 0;
};

// Compares the first `size` bytes of two open files, stopping at the first
// difference; with holesInBoth (both may have holes: EntryInfo::mayHaveHoles),
// holes that both files have there are not read, and a hole in one compares
// as zeros with the other's bytes.
[[nodiscard]] ContentComparison compareContents(const OpenFile& a, const OpenFile& b,
                                                std::uint64_t size, bool holesInBoth);

}  // namespace doppioni
