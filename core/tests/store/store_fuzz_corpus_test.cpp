// Replays every input the store fuzzer kept (fuzz/corpus/store) through the same case, so that
// each build, the sanitized one included, runs what the fuzzer once found.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "store/store_fuzz_case.hpp"

namespace tarnwick::test {
namespace {

TEST(StoreFuzzCorpus, EveryKeptInputRunsClean) {
  const std::filesystem::path corpus = std::filesystem::path(TARNWICK_SOURCE_DIR) / "fuzz" / "corpus" / "store";
  std::size_t inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    std::ifstream file(entry.path(), std::ios::binary);
    const Bytes input((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    run_store_fuzz_case(input);
    ++inputs;
  }
  EXPECT_GT(inputs, 10u);
}

}  // namespace
}  // namespace tarnwick::test
