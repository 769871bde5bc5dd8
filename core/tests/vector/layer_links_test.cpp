#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "hnsw/layer_links.hpp"

namespace tarnwick {
namespace {

using List = std::vector<std::uint32_t>;

List as_list(const LayerLinks& links, std::uint32_t slot) {
  const auto held = links.list(slot);
  return List(held.begin(), held.end());
}

// Without a link cap (a huge m or mmax0) one node can collect links from every other, as happens
// with many equal vectors. That one long list must not widen every other node's storage with it.
// Rows addressed by slot and rows mapped from slots must hold the same lists.
class LayerLinksRows : public ::testing::TestWithParam<LayerLinks::Rows> {};

TEST_P(LayerLinksRows, OneLongListDoesNotWidenEveryRow) {
  constexpr std::uint32_t kNodes = 3000;
  LayerLinks links(std::numeric_limits<std::size_t>::max(), GetParam());
  for (std::uint32_t slot = 0; slot < kNodes; ++slot) {
    links.append_unique(slot, (slot + 1) % kNodes);
    links.append_unique(0, slot);
  }
  // Slot 0 linked to 1 first, so the later append of 1 found it held.
  List hub{1, 0};
  for (std::uint32_t slot = 2; slot < kNodes; ++slot) hub.push_back(slot);
  EXPECT_EQ(as_list(links, 0), hub);
  EXPECT_EQ(as_list(links, 1234), List{1235});
  // A row for each node and one entry per link, within a small constant factor.
  EXPECT_LT(links.held_entries(), std::size_t{kNodes} * 300);

  // The long list shrinks back, is replaced, dropped and its row reused; the others are intact.
  for (std::uint32_t target = 3; target < kNodes; ++target) links.remove_target(0, target);
  EXPECT_EQ(as_list(links, 0), (List{1, 0, 2}));
  List long_list(kNodes - 1);
  for (std::uint32_t k = 0; k < long_list.size(); ++k) long_list[k] = kNodes - 1 - k;
  links.assign(0, long_list);
  EXPECT_EQ(as_list(links, 0), long_list);
  links.assign(0, List{7, 8});
  EXPECT_EQ(as_list(links, 0), (List{7, 8}));
  links.assign(0, long_list);
  links.erase_list(0);
  EXPECT_FALSE(links.has_list(0));
  links.append_unique(kNodes, 5);
  EXPECT_EQ(as_list(links, kNodes), List{5});
  EXPECT_EQ(as_list(links, 2999), List{0});
  EXPECT_EQ(links.list_count(), std::size_t{kNodes});
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, LayerLinksRows,
                         ::testing::Values(LayerLinks::Rows::BySlot, LayerLinks::Rows::Mapped));

}  // namespace
}  // namespace tarnwick
