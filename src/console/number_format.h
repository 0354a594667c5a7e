// Cheap number formatting for console lines and reports, which print
// millions of lines in a big run.
#pragma once

#include <cstdint>
#include <string>

namespace doppioni {

// Appends value in decimal, like "%d" / "%lld".
void appendNumber(std::string& out, std::int64_t value);

// Appends value right-aligned in width characters, like "%4d"; a wider
// number simply takes more room.
void appendPadded(std::string& out, std::int64_t value, int width);

}  // namespace doppioni
