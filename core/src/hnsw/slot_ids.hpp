#pragma once
// The ids of an index's slots, each held once: their bytes end to end in one block, and a hash
// set of slot numbers that finds a slot by its id's text. A map from string to slot beside a
// vector of strings would hold every id twice, plus a node and a pointer per entry.

#include <boost/unordered/unordered_flat_set.hpp>

#include <cstdint>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

#include "model/seeded_hash.hpp"

namespace tarnwick {

class SlotIds {
 public:
  static constexpr std::uint32_t kNoSlot = std::numeric_limits<std::uint32_t>::max();

  SlotIds();

  std::uint32_t size() const { return static_cast<std::uint32_t>(texts_->ends.size()); }
  // The id of a slot; invalidated by the next intern.
  std::string_view operator[](std::uint32_t slot) const { return texts_->text(slot); }
  // The slot of an id, kNoSlot when it has none.
  std::uint32_t find(std::string_view id) const;
  // The slot of an id, opening the next slot for an id not seen before.
  std::uint32_t intern(std::string_view id);
  void clear();

 private:
  // Behind a pointer so that the set's hasher and comparer, which read it, survive a move.
  struct Texts {
    std::vector<char> bytes;
    std::vector<std::size_t> ends;  // by slot
    std::string_view text(std::uint32_t slot) const {
      const std::size_t begin = slot == 0 ? 0 : ends[slot - 1];
      return {bytes.data() + begin, ends[slot] - begin};
    }
  };
  struct Hash {
    using is_transparent = void;
    const Texts* texts;
    SeededHash hash;
    std::size_t operator()(std::string_view id) const noexcept { return hash(id); }
    std::size_t operator()(std::uint32_t slot) const noexcept { return hash(texts->text(slot)); }
  };
  struct Equal {
    using is_transparent = void;
    const Texts* texts;
    bool operator()(std::uint32_t a, std::uint32_t b) const { return a == b; }
    bool operator()(std::uint32_t slot, std::string_view id) const { return texts->text(slot) == id; }
    bool operator()(std::string_view id, std::uint32_t slot) const { return texts->text(slot) == id; }
  };

  std::unique_ptr<Texts> texts_;
  boost::unordered_flat_set<std::uint32_t, Hash, Equal> slots_;
};

}  // namespace tarnwick
