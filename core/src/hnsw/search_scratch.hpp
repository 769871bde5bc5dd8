#pragma once
// Working memory of one thread's searches and insertions, kept from one call to the next so that
// neither allocates once it has grown. Queries only read the index and may run on several threads
// at once, so nothing mutable lives in the index itself. The visited set is an array of epoch
// stamps by slot: starting a search is one increment instead of clearing a set. Stamps of two
// bytes keep more of the array in cache; it is cleared once every 65535 searches.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "hnsw/search_heaps.hpp"

namespace tarnwick {

struct SearchScratch {
  std::vector<std::uint16_t> visited;
  std::uint16_t epoch = 0;
  std::vector<SlotDistance> candidates;
  std::vector<SlotDistance> results;
  std::vector<SlotDistance> found;  // the last layer search's answer, nearest first
  std::vector<SlotDistance> sorting;  // the merge sort's other half
  std::vector<std::uint32_t> batch;
  std::vector<double> batch_distances;
  // Of an insertion: the new vector at float64.
  std::vector<double> inserted;
  // Of pruning a list: its owner's vector at float64, its live links and their distances.
  std::vector<double> owner;
  std::vector<std::uint32_t> live;
  std::vector<double> live_distances;
  std::vector<SlotDistance> pruned;
  // Of mixed lengths: the slots of the query's length and where their distances go.
  std::vector<std::uint32_t> matching;
  std::vector<std::size_t> where;
  std::vector<double> similarities;

  void start(std::size_t slot_count) {
    if (visited.size() < slot_count) visited.resize(slot_count, 0);
    if (++epoch == 0) {
      std::fill(visited.begin(), visited.end(), 0);
      epoch = 1;
    }
  }
  bool visit(std::uint32_t slot) {
    if (visited[slot] == epoch) return false;
    visited[slot] = epoch;
    return true;
  }
};

// The calling thread's scratch.
SearchScratch& thread_scratch();

}  // namespace tarnwick
