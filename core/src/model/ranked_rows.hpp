#pragma once
// Picking the first `count` rows of a list as a stable sort would order them. Each row carries
// its position in the list, and the position breaks ties, so the order is total and a partial
// sort gives exactly the prefix that a full stable sort would.

#include <algorithm>
#include <cstddef>
#include <vector>

namespace tarnwick {

struct RankedRow {
  double key;  // never NaN
  std::size_t position;
};

// Arranges the first min(count, rows.size()) rows, the rest being left in no order. With
// `descending` larger keys come first; equal keys keep their positions' order either way.
inline void rank_prefix(std::vector<RankedRow>& rows, std::size_t count, bool descending) {
  const auto before = [descending](const RankedRow& a, const RankedRow& b) {
    if (a.key != b.key) return descending ? a.key > b.key : a.key < b.key;
    return a.position < b.position;
  };
  if (count >= rows.size())
    std::sort(rows.begin(), rows.end(), before);
  else
    std::partial_sort(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(count), rows.end(), before);
}

}  // namespace tarnwick
