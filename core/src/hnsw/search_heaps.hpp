#pragma once
// The two binary heaps of the layer search, over (slot, distance) items in the candidate order:
// by distance, and by id bytes when the distances are equal or either is NaN. Their exact push
// and pop fix the array order that the search later sorts, so they are written out here rather
// than taken from the standard library, whose heaps break ties differently.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "hnsw/slot_ids.hpp"

namespace tarnwick {

struct SlotDistance {
  std::uint32_t slot;
  double distance;
};

// -1, 0 or 1 as a is before, level with or after b in the candidate order.
inline int compare_candidates(const SlotDistance& a, const SlotDistance& b, const SlotIds& ids) {
  if (a.distance < b.distance) return -1;
  if (a.distance > b.distance) return 1;
  const int c = ids[a.slot].compare(ids[b.slot]);  // char_traits<char> compares bytes as unsigned
  return (c > 0) - (c < 0);
}

// The result heap keeps the furthest candidate on top.
struct FurthestOnTop {
  const SlotIds& ids;
  bool operator()(const SlotDistance& a, const SlotDistance& b) const { return compare_candidates(a, b, ids) > 0; }
};

// The candidate heap keeps the nearest candidate on top.
struct NearestOnTop {
  const SlotIds& ids;
  bool operator()(const SlotDistance& a, const SlotDistance& b) const { return compare_candidates(a, b, ids) < 0; }
};

template <class Higher>
void heap_sift_up(std::vector<SlotDistance>& heap, std::size_t i, Higher higher) {
  while (i > 0) {
    const std::size_t parent = (i - 1) / 2;
    if (!higher(heap[i], heap[parent])) return;
    std::swap(heap[i], heap[parent]);
    i = parent;
  }
}

template <class Higher>
void heap_push(std::vector<SlotDistance>& heap, SlotDistance item, Higher higher) {
  heap.push_back(item);
  heap_sift_up(heap, heap.size() - 1, higher);
}

// Takes the last item out; unless that empties the heap, returns the root, puts the last item at
// the root, walks it down to the bottom through the higher child (the right one unless the left
// is higher) and then sifts it up again.
template <class Higher>
SlotDistance heap_pop(std::vector<SlotDistance>& heap, Higher higher) {
  SlotDistance last = heap.back();
  heap.pop_back();
  if (heap.empty()) return last;
  std::swap(last, heap.front());
  const std::size_t end = heap.size();
  std::size_t hole = 0;
  std::size_t child = 1;
  while (child + 1 < end) {
    if (!higher(heap[child], heap[child + 1])) ++child;
    std::swap(heap[hole], heap[child]);
    hole = child;
    child = 2 * hole + 1;
  }
  if (child == end - 1) {
    std::swap(heap[hole], heap[child]);
    hole = child;
  }
  heap_sift_up(heap, hole, higher);
  return last;
}

}  // namespace tarnwick
