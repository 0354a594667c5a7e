#include "console/text.h"
#include "reports/reports.h"

namespace doppioni {

ReportFile::ReportFile(const char* fileName) : fileName_(fileName) {
  file_ = std::fopen(fileName, "w");
  buffer_.reserve(FLUSH_AT + 4096);
}

ReportFile::~ReportFile() {
  close();
}

void ReportFile::flushBuffer() {
  if (file_ != nullptr && !buffer_.empty() &&
      std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
    failed_ = true;
  }
  buffer_.clear();
}

bool ReportFile::close() {
  if (file_ == nullptr) return false;
  flushBuffer();
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
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
