// The last step of a deletion, or of a move in its place: the seam where a
// run with a destination moves what another run deletes, every check before
// it the same.
#include "reports/reports.h"

namespace doppioni {

std::optional<Failure> disposeOfHeldFile(const RunContext& ctx, const Options& options,
                                         const FileRecord& record, HeldFile& held,
                                         std::string& leftAt) {
  if (!options.moves()) return deleteHeldFile(held, leftAt);
  // Its folders below the work folder come along: Backup/2023/foto.jpg goes
  // to Backup/2023/foto.jpg below the destination.
  std::string to(ctx.folders.below(record.dir));
  if (!to.empty()) to.push_back(PATH_SEPARATOR);
  to.append(nameOf(ctx, record));
  auto sameBytes = [](const OpenFile& original, const OpenFile& copy, std::uint64_t size) {
    return compareContents(original, copy, size, true).same;
  };
  return moveHeldFile(held, options.moveTo, to, sameBytes, leftAt);
}

}  // namespace doppioni
