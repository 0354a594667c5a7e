#include <ctime>

#include "console/console.h"
#include "reports/reports.h"

namespace doppioni {
namespace {

void tellReportFailure(Progress& progress, std::string_view failure, const char* fileName,
                       std::string_view consequence) {
  std::string message(failure);
  message.append(fileName).append(consequence).push_back('\n');
  progress.print(message);
}

}  // namespace

ReportFile::ReportFile(const char* fileName) : fileName_(fileName) {
  // The one place that decides where a report goes: the working directory,
  // which is the process's current one.
  if (createReport(fileName, handle_)) handle_ = ReportHandle{};
  buffer_.reserve(FLUSH_AT + 4096);
}

ReportFile::~ReportFile() {
  close();
}

bool ReportFile::reserve(std::uint64_t bytes) {
  return isOpen() && !reserveReportRoom(handle_, bytes);
}

bool ReportFile::flush() {
  if (isOpen() && !failed_ && !buffer_.empty() && writeReport(handle_, buffer_)) {
    failed_ = true;
  }
  buffer_.clear();
  return isOpen() && !failed_;
}

std::optional<std::uint64_t> ReportFile::offset() {
  flush();
  std::uint64_t at = 0;
  if (!isOpen() || reportOffset(handle_, at)) return std::nullopt;
  return at;
}

bool ReportFile::overwrite(std::uint64_t at, std::string_view text) {
  return isOpen() && !overwriteReport(handle_, at, text);
}

bool ReportFile::close() {
  if (!isOpen()) return false;
  flush();
  if (closeReport(handle_)) failed_ = true;
  return !failed_;
}

void tellCannotCreate(Progress& progress, const char* fileName, std::string_view consequence) {
  tellReportFailure(progress, "Impossibile creare il file ", fileName, consequence);
}

void tellWriteError(Progress& progress, const char* fileName, std::string_view consequence) {
  tellReportFailure(progress, "Errore di scrittura nel file ", fileName, consequence);
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
  if (file_.reserve(room) && file_.flush()) return true;
  file_.close();
  tellCannotCreate(progress_, file_.fileName(), noneDone);
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
  written = file_.close() && written;
  if (!written) tellWriteError(progress_, file_.fileName(), incomplete);
  return written && !interrupted ? 0 : -1;
}

void appendTimestampLine(std::string& out, const std::tm& time) {
  char line[64];
  std::size_t length =
      std::strftime(line, sizeof line, "Compilato il %d/%m/%Y alle %H:%M:%S\n\n", &time);
  out.append(line, length);
}

}  // namespace doppioni
