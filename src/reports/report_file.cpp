#include "console/number_format.h"
#include "reports/reports.h"

namespace doppioni {

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

void tellCannotCreate(Console& console, const char* fileName, std::string_view consequence) {
  std::string message("Impossibile creare il file ");
  message.append(fileName).append(consequence).push_back('\n');
  console.print(message);
}

void tellWriteError(Console& console, const char* fileName, std::string_view consequence) {
  std::string message("Errore di scrittura nel file ");
  message.append(fileName).append(consequence).push_back('\n');
  console.print(message);
}

AttemptList::InterruptHold::InterruptHold() {
  holdInterrupts();
}

AttemptList::InterruptHold::~InterruptHold() {
  releaseInterrupts();  // an interrupt noted ends the process here
}

AttemptList::AttemptList(Console& console, const char* fileName)
    : console_(console), file_(fileName) {}

AttemptList::~AttemptList() {
  console_.flush();
}

bool AttemptList::start(std::uint64_t room, std::string_view noneDone) {
  if (file_.reserve(room) && file_.flush()) return true;
  file_.close();
  tellCannotCreate(console_, file_.fileName(), noneDone);
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
  if (!written) tellWriteError(console_, file_.fileName(), incomplete);
  return written && !interrupted ? 0 : -1;
}

void appendTimestampLine(std::string& out, const std::tm& time) {
  out.append("Compilato il ");
  appendTwoDigits(out, time.tm_mday);
  out.push_back('/');
  appendTwoDigits(out, time.tm_mon + 1);
  out.push_back('/');
  appendNumber(out, time.tm_year + 1900);
  out.append(" alle ");
  appendTwoDigits(out, time.tm_hour);
  out.push_back(':');
  appendTwoDigits(out, time.tm_min);
  out.push_back(':');
  appendTwoDigits(out, time.tm_sec);
  out.append("\n\n");
}

}  // namespace doppioni
