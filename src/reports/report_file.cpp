#include <ctime>

#include "console/console.h"
#include "reports/reports.h"

namespace doppioni {

ReportFile::ReportFile(const char* fileName) : fileName_(fileName) {
  // The one place that decides where a report goes: the working directory,
  // which is the process's current one.
  failure_ = named(createReport(fileName, handle_));
  if (failure_) handle_ = ReportHandle{};
  buffer_.reserve(FLUSH_AT + 4096);
}

ReportFile::~ReportFile() {
  // Whoever cares has closed it and heard how; here it only must not stay open.
  static_cast<void>(close());
}

std::optional<Failure> ReportFile::named(std::optional<Failure> failure) const {
  if (failure) failure->path = fileName_;
  return failure;
}

std::optional<Failure> ReportFile::reserve(std::uint64_t bytes) {
  if (!isOpen()) return failure_;
  return named(reserveReportRoom(handle_, bytes));
}

std::optional<Failure> ReportFile::flush() {
  if (isOpen() && !failure_ && !buffer_.empty()) failure_ = named(writeReport(handle_, buffer_));
  buffer_.clear();
  return failure_;
}

std::optional<std::uint64_t> ReportFile::offset() {
  // A failure is kept: the flush after the text to come tells it.
  static_cast<void>(flush());
  std::uint64_t at = 0;
  if (!isOpen() || reportOffset(handle_, at)) return std::nullopt;
  return at;
}

std::optional<Failure> ReportFile::overwrite(std::uint64_t at, std::string_view text) {
  if (!isOpen()) return failure_;
  return named(overwriteReport(handle_, at, text));
}

std::optional<Failure> ReportFile::close() {
  if (!isOpen()) return failure_;
  static_cast<void>(flush());  // kept, and told below
  std::optional<Failure> closed = named(closeReport(handle_));
  if (!failure_) failure_ = std::move(closed);
  return failure_;
}

void tellReportFailure(Progress& progress, const Failure& failure, std::string_view consequence) {
  std::string message;
  switch (failure.kind) {
    case FailureKind::REPORT_CREATE:
    case FailureKind::REPORT_RESERVE:  // without its room on disk the report is not begun
      message = "Impossibile creare il file ";
      break;
    case FailureKind::REPORT_WRITE:
    case FailureKind::REPORT_CLOSE:
    default:
      message = "Errore di scrittura nel file ";
      break;
  }
  message.append(failure.path).append(consequence).push_back('\n');
  progress.print(message);
}

AttemptList::InterruptHold::InterruptHold() {
  holdInterrupts();
}

AttemptList::InterruptHold::~InterruptHold() {
  releaseInterrupts();  // an interrupt noted ends the process here
}

AttemptList::AttemptList(Progress& progress, const char* fileName)
    : progress_(progress), file_(fileName) {}

AttemptList::~AttemptList() {
  progress_.flush();
}

bool AttemptList::start(std::uint64_t room, std::string_view noneDone) {
  std::optional<Failure> failure = file_.reserve(room);
  if (!failure) failure = file_.flush();
  if (!failure) return true;
  static_cast<void>(file_.close());  // it failed already: nothing more to tell
  // A list whose head could not be written was not made either.
  if (failure->kind == FailureKind::REPORT_WRITE) failure->kind = FailureKind::REPORT_CREATE;
  tellReportFailure(progress_, *failure, noneDone);
  return false;
}

int AttemptList::finish(bool written, std::string_view interruptedLine, std::string_view incomplete,
                        const std::function<void(std::string&)>& whole) {
  const bool interrupted = written && heldInterrupt() != 0;
  if (interrupted) {
    file_.text().append(interruptedLine);
  } else if (written && whole) {
    whole(file_.text());
  }
  std::optional<Failure> failure = file_.close();
  // A line refused by the system may have left no failure behind in the file.
  if (!failure && !written) failure = Failure{FailureKind::REPORT_WRITE, 0, file_.fileName()};
  if (failure) tellReportFailure(progress_, *failure, incomplete);
  return !failure && !interrupted ? 0 : -1;
}

void appendTimestampLine(std::string& out, const std::tm& time) {
  char line[64];
  std::size_t length =
      std::strftime(line, sizeof line, "Compilato il %d/%m/%Y alle %H:%M:%S\n\n", &time);
  out.append(line, length);
}

}  // namespace doppioni
