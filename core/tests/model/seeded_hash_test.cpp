#include <gtest/gtest.h>

#include <set>
#include <string>

#include "model/seeded_hash.hpp"

namespace tarnwick {
namespace {

TEST(SeededHash, StableWithinOneHasherAndKeyedPerHasher) {
  const SeededHash a;
  const SeededHash b;
  int differ = 0;
  std::set<std::size_t> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string key = "id-" + std::to_string(i);
    EXPECT_EQ(a(key), a(std::string_view(key)));
    differ += a(key) != b(key);
    seen.insert(a(key));
  }
  EXPECT_GT(differ, 990);       // a different random key moves (nearly) every hash
  EXPECT_EQ(seen.size(), 1000u);  // no collisions among short similar ids
  // Every length up to two words, so the tail handling is exercised.
  std::set<std::size_t> by_length;
  for (std::size_t n = 0; n <= 17; ++n) by_length.insert(a(std::string(n, 'x')));
  EXPECT_EQ(by_length.size(), 18u);
}

TEST(TextMap, LooksUpByStringView) {
  TextMap<int> m;
  m.emplace("alpha", 1);
  EXPECT_EQ(m.find(std::string_view("alpha"))->second, 1);
  EXPECT_EQ(m.find(std::string_view("beta")), m.end());
}

}  // namespace
}  // namespace tarnwick
