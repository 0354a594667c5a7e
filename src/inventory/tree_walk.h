// The one walk of the tree that both the file scan and the folder census
// make: depth first, each folder's entries in listing order, a subfolder's
// whole contents where its parent's listing gives it. The stack is the
// walk's own, so no depth of tree can exhaust the call stack; worker threads
// read the folders ahead of it (TreeReader), and the walk itself stays in
// order and builds each folder's path as it goes down. Links to folders are
// never walked, the options' excluded folders never read, and a folder
// reached a second time (a bind mount) is passed over, so that nothing
// below it is met twice.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "inventory/inventory.h"
#include "inventory/options.h"
#include "platform/failure.h"
#include "platform/platform.h"

namespace doppioni {

// A folder the walk is in, as its visitor sees it.
struct WalkedFolder {
  const FolderContents* listing;
  std::uint32_t depth = 0;  // levels below the root
  bool recycled = false;    // named Recycled (any letter case), or below such a folder
  bool kept = false;        // one of the options' kept folders, or below one
  // Left to the visitor: the file scan notes the folder's path id here.
  std::optional<std::uint32_t> pathId = std::nullopt;
};

// What a walk does with what it meets. A failure returned stops the walk,
// which returns it.
class TreeVisitor {
 public:
  // Every entry of a folder, in listing order, folders and links included,
  // before the walk goes into it; folderPath is the folder's own path.
  [[nodiscard]] virtual std::optional<Failure> entry(WalkedFolder& /*folder*/,
                                                     std::string_view /*folderPath*/,
                                                     std::string_view /*name*/,
                                                     const EntryInfo& /*info*/, bool /*first*/) {
    return std::nullopt;
  }
  // A folder below the root, listed and new to the walk, before its entries.
  [[nodiscard]] virtual std::optional<Failure> folder(const WalkedFolder& /*folder*/,
                                                      std::string_view /*path*/) {
    return std::nullopt;
  }
  // A folder below the root that could not be listed (FOLDER_UNREADABLE):
  // the failure that ends the walk, or none to go on without it.
  [[nodiscard]] virtual std::optional<Failure> unreadable(std::string_view path,
                                                          std::uint32_t depth,
                                                          const Failure& failure) = 0;

 protected:
  ~TreeVisitor() = default;
};

// Walks the tree below path, reached by reachedBy (by path itself when
// empty), and notes its top folder in ctx.treeTop. FOLDER_UNREADABLE with
// the path when the top folder cannot be listed; NO_MEMORY when memory ran
// out for a listing.
[[nodiscard]] std::optional<Failure> walkTree(RunContext& ctx, const std::string& path,
                                              const std::string& reachedBy, const Options& options,
                                              ListingDetail detail, TreeVisitor& visitor);

}  // namespace doppioni
