#pragma once
// A slow, literal HNSW over ordered maps of ids, for comparing the optimised index against:
// same graph, same entry point, same hits and scores to the bit. Where the index picks a fixed
// order in place of hash-map iteration, this follows the same rule: first interned id first.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "reference.hpp"

namespace tarnwick::testing {

class ReferenceHnsw {
 public:
  using Vec = std::vector<double>;
  struct Cand {
    std::string id;
    double d;
  };

  ReferenceHnsw(std::uint64_t m, std::uint64_t mmax0, std::uint64_t ef_construction, bool euclidean,
                std::uint32_t seed, bool float32)
      : m_(m), mmax0_(mmax0), efc_(ef_construction), euclidean_(euclidean), state_(seed), float32_(float32) {}

  static double draw(std::uint64_t& state) {
    const std::uint64_t mask = 0xFFFFFFFFull;
    state = (state + 0x6D2B79F5ull) & mask;
    std::uint64_t t = state;
    t = ((t ^ (t >> 15)) * (t | 1)) & mask;
    t = (((t + (((t ^ (t >> 7)) * (t | 61)) & mask)) & mask) ^ t);
    t ^= t >> 14;
    return double(t) / 4294967296.0;
  }

  std::uint32_t next_level() {
    double r = draw(state_);
    if (r == 0.0) r = std::pow(2.0, -32);
    const double mult = 1.0 / std::log(double(std::max<std::uint64_t>(m_, 2)));
    return std::uint32_t(std::max(0.0, std::floor(-(std::log(r) * mult))));
  }

  void add(const std::string& id, const Vec& values) {
    if (vectors.count(id)) remove(id);
    const std::uint32_t level = next_level();
    if (std::find(interned.begin(), interned.end(), id) == interned.end()) interned.push_back(id);
    vectors[id] = widen(values, float32_);
    if (vectors.size() == 1) {
      entry = id;
      max_level = int(level);
      levels[id] = level;
      layers[level][id];
      return;
    }
    const Vec q = vectors[id];
    std::string ep = *entry;
    for (int lev = max_level; lev > int(level); --lev) ep = greedy(q, ep, lev);
    for (int lc = std::min(max_level, int(level)); lc >= 0; --lc) {
      const std::vector<Cand> w = search_layer(q, ep, efc_, lc);
      const std::uint64_t cap = lc == 0 ? mmax0_ : m_;
      std::vector<std::string> chosen;
      for (const Cand& c : w) {
        if (chosen.size() == cap) break;
        chosen.push_back(c.id);
      }
      auto& layer = layers[lc];
      for (const auto& s : chosen) append_once(layer[id], s);
      for (const auto& s : chosen) append_once(layer[s], id);
      for (const auto& s : chosen) {
        if (layer[s].size() > cap && vectors.count(s)) shrink(s, lc, cap);
      }
      ep = w.front().id;
    }
    if (int(level) > max_level) {
      max_level = int(level);
      entry = id;
    }
    levels[id] = level;
  }

  void remove(const std::string& id) {
    if (!vectors.count(id)) return;
    vectors.erase(id);
    for (auto& [lev, layer] : layers) {
      auto own = layer.find(id);
      if (own == layer.end()) continue;
      const std::vector<std::string> list = own->second;
      layer.erase(own);
      for (const auto& n : list) {
        auto it = layer.find(n);
        if (it == layer.end()) continue;
        std::erase(it->second, id);
        if (it->second.empty()) layer.erase(it);
      }
    }
    levels.erase(id);
    if (entry == id) {
      entry.reset();
      for (int lev = max_level; lev >= 0 && !entry; --lev) {
        if (!layers.count(lev)) continue;
        for (const auto& name : interned) {
          if (layers[lev].count(name) && vectors.count(name)) {
            entry = name;
            break;
          }
        }
      }
      if (!entry && !vectors.empty()) {
        for (const auto& name : interned) {
          if (vectors.count(name)) {
            entry = name;
            break;
          }
        }
        max_level = int(levels.count(*entry) ? levels[*entry] : 0);
        return;
      }
    }
    while (max_level >= 0) {
      if (entry && max_level <= int(levels[*entry])) break;
      auto it = layers.find(std::uint32_t(max_level));
      if (it != layers.end() && !it->second.empty()) break;
      if (it != layers.end()) layers.erase(it);
      --max_level;
    }
  }

  void clear() {
    vectors.clear();
    levels.clear();
    layers.clear();
    interned.clear();
    entry.reset();
    max_level = -1;
  }

  void set_precision(bool float32) {
    if (float32 == float32_) return;
    std::vector<std::pair<std::string, Vec>> snapshot;
    for (const auto& name : interned) {
      if (vectors.count(name)) snapshot.emplace_back(name, vectors[name]);
    }
    clear();
    float32_ = float32;
    for (const auto& [name, v] : snapshot) add(name, v);
  }

  std::vector<std::pair<std::string, double>> query(const Vec& q, std::uint64_t top_k, std::uint64_t ef,
                                                    double threshold) {
    std::vector<std::pair<std::string, double>> out;
    if (top_k == 0 || !entry) return out;
    std::string ep = *entry;
    for (int lev = max_level; lev >= 1; --lev) ep = greedy(q, ep, lev);
    for (const Cand& c : search_layer(q, ep, ef, 0)) {
      const double score = 1.0 - c.d;
      if (score >= threshold) out.emplace_back(c.id, score);
      if (out.size() == top_k) break;
    }
    return out;
  }

  std::vector<std::string> neighbours(const std::string& id, int lc) const {
    std::vector<std::string> out;
    const auto layer = layers.find(std::uint32_t(lc));
    if (layer == layers.end()) return out;
    const auto list = layer->second.find(id);
    if (list == layer->second.end()) return out;
    for (const auto& n : list->second) {
      if (vectors.count(n)) out.push_back(n);
    }
    return out;
  }

  std::map<std::string, Vec> vectors;
  std::map<std::string, std::uint32_t> levels;
  std::map<std::uint32_t, std::map<std::string, std::vector<std::string>>> layers;
  std::vector<std::string> interned;
  std::optional<std::string> entry;
  int max_level = -1;

 private:
  static void append_once(std::vector<std::string>& list, const std::string& id) {
    if (std::find(list.begin(), list.end(), id) == list.end()) list.push_back(id);
  }

  double dist(const Vec& q, const std::string& id) const {
    const Vec& v = vectors.at(id);
    return q.size() != v.size() ? 1.0 : 1.0 - ref_similarity(q, v, euclidean_);
  }

  static bool less(const Cand& a, const Cand& b) {
    if (a.d < b.d) return true;
    if (a.d > b.d) return false;
    return a.id < b.id;
  }

  // Binary heap on a vector; `above(x, y)` says x belongs nearer the root than y.
  template <class Above>
  static void push(std::vector<Cand>& h, Cand c, Above above) {
    h.push_back(std::move(c));
    up(h, h.size() - 1, above);
  }
  template <class Above>
  static void up(std::vector<Cand>& h, std::size_t i, Above above) {
    if (i == 0) return;
    const std::size_t p = (i - 1) / 2;
    if (above(h[i], h[p])) {
      std::swap(h[i], h[p]);
      up(h, p, above);
    }
  }
  template <class Above>
  static Cand pop(std::vector<Cand>& h, Above above) {
    Cand last = h.back();
    h.pop_back();
    if (h.empty()) return last;
    Cand top = h[0];
    h[0] = last;
    std::size_t i = 0;
    for (;;) {
      const std::size_t l = 2 * i + 1;
      if (l >= h.size()) break;
      std::size_t pick = l;
      if (l + 1 < h.size() && !above(h[l], h[l + 1])) pick = l + 1;
      std::swap(h[i], h[pick]);
      i = pick;
    }
    up(h, i, above);
    return top;
  }

  std::vector<Cand> search_layer(const Vec& q, const std::string& ep, std::uint64_t ef, int lc) const {
    const auto further = [](const Cand& a, const Cand& b) { return less(b, a); };
    const auto nearer = [](const Cand& a, const Cand& b) { return less(a, b); };
    std::set<std::string> seen{ep};
    std::vector<Cand> cands{{ep, dist(q, ep)}};
    std::vector<Cand> found = cands;
    while (!cands.empty()) {
      const Cand c = pop(cands, nearer);
      if (c.d > found[0].d) break;
      for (const auto& n : neighbours(c.id, lc)) {
        if (!seen.insert(n).second) continue;
        const double d = dist(q, n);
        if (found.size() < ef || d < found[0].d) {
          push(cands, {n, d}, nearer);
          push(found, {n, d}, further);
          if (found.size() > ef) pop(found, further);
        }
      }
    }
    std::stable_sort(found.begin(), found.end(), [](const Cand& a, const Cand& b) { return a.d < b.d; });
    if (found.size() > ef) found.resize(ef);
    return found;
  }

  std::string greedy(const Vec& q, std::string cur, int lc) const {
    double cur_d = dist(q, cur);
    std::set<std::string> seen{cur};
    for (bool moved = true; moved;) {
      moved = false;
      for (const auto& n : neighbours(cur, lc)) {
        if (!seen.insert(n).second) continue;
        const double d = dist(q, n);
        if (d < cur_d) {
          cur = n;
          cur_d = d;
          moved = true;
        }
      }
    }
    return cur;
  }

  void shrink(const std::string& s, int lc, std::uint64_t cap) {
    std::vector<Cand> scored;
    for (const auto& x : layers[lc][s]) {
      if (vectors.count(x)) scored.push_back({x, dist(vectors[s], x)});
    }
    std::stable_sort(scored.begin(), scored.end(), less);
    std::vector<std::string> kept;
    for (const Cand& c : scored) {
      if (kept.size() == cap) break;
      kept.push_back(c.id);
    }
    layers[lc][s] = kept;
  }

  std::uint64_t m_, mmax0_, efc_;
  bool euclidean_;
  std::uint64_t state_;
  bool float32_;
};

}  // namespace tarnwick::testing
