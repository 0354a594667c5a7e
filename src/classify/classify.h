// The marks: saved web pages with their companion files, duplicate files and
// useless files. Each pass reads the marks of the passes before it.
#pragma once

#include "inventory/inventory.h"

namespace doppioni {

struct WebPageCounts {
  std::int32_t pages = 0;
  std::int64_t companions = 0;  // a file counts once for each page that claims its folder
};

// Gives every saved web page (an extension containing "htm") the kind PAGE
// and a page number, and every file directly in its companion folder
// ("<stem>_file" beside it) the kind PAGE_PART and the same number.
WebPageCounts markWebPages(RunContext& ctx);

// Marks every record with the name, size and write time of an earlier
// candidate (an ordinary file or a page) as a copy of the first such
// candidate in table order, whatever other records of that name stand
// between them; where one of those candidates lies in a kept folder
// (IN_KEPT_FOLDER), the first such is kept instead, and the others,
// the first in table order among them, are its copies. A duplicate page
// takes with it each companion file that the kept page's companion folder
// holds a copy of.
// Records for each marked copy the record kept for it. Returns the copies
// found, the companion files they take not counted.
std::int32_t markDuplicates(RunContext& ctx);

// Marks "Thumbs.db" (any case) and names beginning with "~$" or "~WRL" as
// junk, and makes every "Thumbs.db" writable at once. Returns the marks
// given, a name that two rules match counting twice.
std::int32_t markJunkFiles(RunContext& ctx);

}  // namespace doppioni
