// Useless files, known by their names: Windows' thumbnail caches and the
// scratch files that Office leaves behind.
#include <cstdint>
#include <string>
#include <string_view>

#include "classify/classify.h"
#include "console/text.h"
#include "platform/platform.h"

namespace doppioni {
namespace {

// Only the letters A to Z fold: names are bytes, not text in some locale.
bool isThumbsDb(std::string_view name) {
  constexpr std::string_view THUMBS = "thumbs.db";
  if (name.size() != THUMBS.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != THUMBS[i]) return false;
  }
  return true;
}

void markJunk(FileEntry& e, std::int32_t& count) {
  e.deleteMark = 1;
  e.kind = KIND_JUNK;
  ++count;
}

}  // namespace

void markJunkFiles(RunContext& ctx) {
  std::int32_t junk = 0;
  std::string line;
  std::string path;
  for (std::int32_t i = 0; i < ctx.count; ++i) {
    line.assign("Esamino il ");
    appendNumber(line, i);
    line.append(" esimo file               \n");
    ctx.console.progress(ctx.progressRow, line);

    FileEntry& e = ctx.entries[i];
    std::string_view name = nameOf(ctx, e);
    if (isThumbsDb(name)) {
      markJunk(e, junk);
      // Made writable now, so that the deletion is not refused; the outcome
      // of the deletion itself is what gets reported.
      path.assign(dirOf(ctx, e));
      path.push_back(PATH_SEPARATOR);
      path.append(name);
      makeWritable(path);
    }
    if (name.starts_with("~$")) markJunk(e, junk);
    if (name.starts_with("~WRL")) markJunk(e, junk);
  }

  line.assign("Trovati ");
  appendNumber(line, junk);
  line.append(" files inutili\n");
  ctx.console.print(line);
}

}  // namespace doppioni
