#include "console/number_format.h"

#include <charconv>

namespace doppioni {

void appendNumber(std::string& out, std::int64_t value) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void appendPadded(std::string& out, std::int64_t value, int width) {
  char digits[24];
  const auto length = std::to_chars(digits, digits + sizeof digits, value).ptr - digits;
  if (length < width) out.append(static_cast<std::size_t>(width - length), ' ');
  out.append(digits, static_cast<std::size_t>(length));
}

}  // namespace doppioni
