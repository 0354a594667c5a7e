#include "console/number_format.h"

namespace doppioni {
namespace {

// Writes the digits of value backwards from end; returns where they start.
char* formatDigits(char* end, std::int64_t value) {
  // Work in unsigned so that the most negative value has a magnitude too.
  std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  char* at = end;
  do {
    *--at = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--at = '-';
  return at;
}

}  // namespace

void appendNumber(std::string& out, std::int64_t value) {
  char digits[24];
  char* end = digits + sizeof digits;
  char* start = formatDigits(end, value);
  out.append(start, end);
}

void appendPadded(std::string& out, std::int64_t value, int width) {
  char digits[24];
  char* end = digits + sizeof digits;
  char* start = formatDigits(end, value);
  for (auto length = end - start; length < width; ++length) out.push_back(' ');
  out.append(start, end);
}

void appendTwoDigits(std::string& out, int value) {
  if (value >= 0 && value < 10) out.push_back('0');
  appendNumber(out, value);
}

}  // namespace doppioni
