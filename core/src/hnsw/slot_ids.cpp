#include "hnsw/slot_ids.hpp"

namespace tarnwick {

SlotIds::SlotIds() : texts_(std::make_unique<Texts>()), slots_(0, Hash{texts_.get(), {}}, Equal{texts_.get()}) {}

std::uint32_t SlotIds::find(std::string_view id) const {
  const auto it = slots_.find(id);
  return it == slots_.end() ? kNoSlot : *it;
}

std::uint32_t SlotIds::intern(std::string_view id) {
  if (const std::uint32_t slot = find(id); slot != kNoSlot) return slot;
  const std::uint32_t slot = size();
  texts_->bytes.insert(texts_->bytes.end(), id.begin(), id.end());
  texts_->ends.push_back(texts_->bytes.size());
  slots_.insert(slot);
  return slot;
}

void SlotIds::clear() { *this = SlotIds(); }

}  // namespace tarnwick
