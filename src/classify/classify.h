// The marks: saved web pages with their companion files, duplicate files and
// useless files. Each pass reads the marks of the passes before it.
#pragma once

#include <string>
#include <string_view>

#include "console/text.h"
#include "inventory/inventory.h"

namespace doppioni {

// Gives every saved web page (an extension containing "htm") kind
// KIND_PAGE and a page number, and every file directly in its companion
// folder ("<stem>_file" beside it) kind KIND_PAGE_PART and the same number.
void markWebPages(RunContext& ctx);

// Marks every copy (same name, size and write time) after the first
// candidate of its run in table order; a duplicate page takes with it each
// companion file that the kept page's companion folder holds a copy of.
// Records for each marked copy the record kept for it. 0.
int markDuplicates(RunContext& ctx);

// Marks "Thumbs.db" (any case) and names beginning with "~$" or "~WRL" as
// junk, and makes every "Thumbs.db" writable at once.
void markJunkFiles(RunContext& ctx);

// The progress line the three passes share: "Esamino il N esimo file",
// then each pass's own trailing blanks and line feed (tail). line is reused.
inline void showExamined(RunContext& ctx, std::string& line, std::int32_t index,
                         std::string_view tail) {
  line.assign("Esamino il ");
  appendNumber(line, index);
  line.append(" esimo file");
  line.append(tail);
  ctx.console.progress(ctx.progressRow, line);
}

}  // namespace doppioni
