// Whether a copy's bytes are the kept copy's: read in large pieces, compared
// as they come, given up at the first difference. Holes, where the system
// tells them, are not read: a stretch that is a hole in both files is zeros
// in both.
#include <algorithm>
#include <cstring>
#include <memory>

#include "reports/reports.h"

namespace doppioni {
namespace {

// Bytes read from each file at a time. The system reads ahead on its own
// (told that the files are read through once), so what counts here is that
// both pieces stay in the processor's cache while they are compared: on
// cached files 128 KiB pieces compare in about two thirds of the time of
// 1 MiB ones, and on files not yet read they are no slower.
constexpr std::uint64_t PIECE = 128 << 10;

bool allZero(const char* bytes, std::size_t length) {
  return length == 0 || (bytes[0] == 0 && std::memcmp(bytes, bytes + 1, length - 1) == 0);
}

}  // namespace

ContentComparison compareContents(const OpenFile& a, const OpenFile& b, std::uint64_t size,
                                  bool holesInBoth) {
  ContentComparison result;
  const auto piece = static_cast<std::size_t>(std::min(size, PIECE));
  auto bytesA = std::make_unique_for_overwrite<char[]>(piece);
  auto bytesB = std::make_unique_for_overwrite<char[]>(piece);
  auto read = [&](const OpenFile& file, std::uint64_t at, char* bytes, std::size_t length) {
    std::size_t got = 0;
    const bool failed = readAt(file, at, bytes, length, got).has_value();
    result.bytesRead += got;
    return !failed && got == length;
  };
  for (std::uint64_t at = 0; at < size;) {
    // Holes are looked for only where both files may have them: elsewhere
    // every byte of one is read anyway, and reading the other's costs no more.
    const DataStretch inA = holesInBoth ? nextData(a, at, size) : DataStretch{at, size};
    const DataStretch inB = holesInBoth ? nextData(b, at, size) : DataStretch{at, size};
    const std::uint64_t begin = std::min(inA.begin, inB.begin);
    if (begin >= size) break;  // holes in both up to the end
    // From begin to end each file is all data or all hole.
    const bool dataA = inA.begin == begin, dataB = inB.begin == begin;
    const std::uint64_t end = std::min(dataA ? inA.end : inA.begin, dataB ? inB.end : inB.begin);
    for (at = begin; at < end;) {
      const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(piece, end - at));
      if ((dataA && !read(a, at, bytesA.get(), length)) ||
          (dataB && !read(b, at, bytesB.get(), length))) {
        return result;  // cut short or unreadable: not shown to be the same
      }
      const bool same = dataA && dataB ? std::memcmp(bytesA.get(), bytesB.get(), length) == 0
                                       : allZero(dataA ? bytesA.get() : bytesB.get(), length);
      if (!same) return result;
      at += length;
    }
  }
  result.same = true;
  return result;
}

}  // namespace doppioni
