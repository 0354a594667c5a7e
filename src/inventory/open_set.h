// A hash set of small keys in one array (open addressing, linear probing):
// no allocation per key, which a set of a hundred thousand folders would
// otherwise pay for in time and memory. One key value, `empty`, is never
// stored. The caller says which stored key is the one looked for, so that a
// key may stand for something it only refers to (a folder's path, by the
// folder's id); hashOf(key) hashes what it stands for.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace doppioni {

template <class Key, class HashOf>
class OpenSet {
 public:
  OpenSet(Key empty, HashOf hashOf) : empty_(empty), hashOf_(hashOf) {}

  // Room for count keys without growing.
  void reserve(std::size_t count) {
    std::size_t slots = 16;
    while (slots * 4 < count * 5) slots *= 2;  // at most 80% full
    if (slots > slots_.size()) rehash(slots);
  }

  // The stored key that same() accepts, and false; or key, stored now, and
  // true. hash is hashOf(key), which the caller may know already.
  template <class Same>
  std::pair<Key, bool> insert(const Key& key, std::size_t hash, Same same) {
    if ((used_ + 1) * 5 > slots_.size() * 4) rehash(slots_.empty() ? 1024 : slots_.size() * 2);
    std::size_t at = probe(hash, same);
    if (!(slots_[at] == empty_)) return {slots_[at], false};
    slots_[at] = key;
    ++used_;
    return {key, true};
  }

  // The stored key that same() accepts among those of that hash, or empty.
  template <class Same>
  Key find(std::size_t hash, Same same) const {
    return slots_.empty() ? empty_ : slots_[probe(hash, same)];
  }

 private:
  // The slot of the key that same() accepts, or the empty slot where it goes.
  template <class Same>
  std::size_t probe(std::size_t hash, Same same) const {
    std::size_t mask = slots_.size() - 1;
    std::size_t at = hash & mask;
    while (!(slots_[at] == empty_) && !same(slots_[at])) at = (at + 1) & mask;
    return at;
  }

  void rehash(std::size_t slots) {
    std::vector<Key> old = std::move(slots_);
    slots_.assign(slots, empty_);
    for (const Key& moved : old) {
      if (moved == empty_) continue;
      slots_[probe(hashOf_(moved), [](const Key&) { return false; })] = moved;
    }
  }

  Key empty_;
  HashOf hashOf_;
  std::vector<Key> slots_;
  std::size_t used_ = 0;
};

}  // namespace doppioni
