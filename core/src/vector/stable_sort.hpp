#pragma once
// A stable merge sort that stays well defined for any `before` relation, NaN comparisons
// included (std::stable_sort requires a strict weak order, which float comparisons with NaN are
// not). Under a strict weak order the result is the one every stable sort gives. Where a NaN makes
// the relation inconsistent the result is still deterministic, but it follows the merge pattern:
// an item can pass an earlier one that it was never compared with (a NaN among them included).

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace tarnwick {

// `buffer` is working memory that a caller may keep from one sort to the next.
template <class T, class Before>
void stable_sort_by(std::vector<T>& items, Before before, std::vector<T>& buffer) {
  const std::size_t n = items.size();
  if (n < 2) return;
  buffer.resize(n);
  for (std::size_t width = 1; width < n; width *= 2) {
    for (std::size_t lo = 0; lo < n; lo += 2 * width) {
      const std::size_t mid = std::min(lo + width, n);
      const std::size_t hi = std::min(lo + 2 * width, n);
      std::size_t left = lo, right = mid, out = lo;
      while (left < mid && right < hi) {
        if (before(items[right], items[left])) {
          buffer[out++] = std::move(items[right++]);
        } else {
          buffer[out++] = std::move(items[left++]);
        }
      }
      while (left < mid) buffer[out++] = std::move(items[left++]);
      while (right < hi) buffer[out++] = std::move(items[right++]);
    }
    items.swap(buffer);
  }
}

template <class T, class Before>
void stable_sort_by(std::vector<T>& items, Before before) {
  std::vector<T> buffer;
  stable_sort_by(items, before, buffer);
}

}  // namespace tarnwick
