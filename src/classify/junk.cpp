// Useless files, known by their names: Windows' thumbnail caches and the
// scratch files that Office leaves behind.
#include <cstdint>
#include <string>
#include <string_view>

#include "classify/classify.h"
#include "platform/platform.h"

namespace doppioni {
namespace {

void markJunk(FileRecord& e, std::int32_t& count) {
  e.marked = true;
  e.kind = Kind::JUNK;
  ++count;
}

}  // namespace

std::int32_t markJunkFiles(RunContext& ctx) {
  std::int32_t junk = 0;
  for (std::int32_t i = 0; i < ctx.files.size(); ++i) {
    ctx.progress.examining(i);

    // The rules were read off the name when the record was made.
    FileRecord& e = ctx.files[i];
    if (e.traits & NAME_THUMBS_DB) {
      markJunk(e, junk);
      // Made writable now, so that the deletion is not refused; the outcome
      // of the deletion itself is what gets reported. A file with a second
      // name stays read-only, and its deletion is refused.
      static_cast<void>(makeWritable(reachPathOf(ctx, e)));
    }
    if (e.traits & NAME_OFFICE_TEMP) markJunk(e, junk);
    if (e.traits & NAME_WRL_TEMP) markJunk(e, junk);
  }
  return junk;
}

}  // namespace doppioni
