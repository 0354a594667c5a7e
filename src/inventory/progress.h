// What the passes show while they work. The driver decides how it looks
// (its words, its row on the screen, the blanks that cover a longer line):
// a pass only says where it is.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace doppioni {

class Progress {
 public:
  virtual ~Progress() = default;
  // The scan's table grew to hold more than `count` files, at a folder's
  // first entry or at another, below a recycle bin or not.
  virtual void tableGrew(std::int32_t count, bool recycled, bool firstEntry) = 0;
  // A marking pass is at record `index`.
  virtual void examining(std::int32_t index) = 0;
  // The deletion tries the file `name` in `folder`.
  virtual void deleting(std::string_view name, std::string_view folder) = 0;
  // The folder removal tries the folder at `path`.
  virtual void removing(std::string_view path) = 0;
  // A message on lines of its own (it ends in a line feed).
  virtual void print(std::string_view text) = 0;
  // Appends a file or folder name to a message so that it shows safely.
  virtual void appendName(std::string& text, std::string_view name) const = 0;
  // Everything shown so far is out, before the process may end.
  virtual void flush() = 0;
};

}  // namespace doppioni
