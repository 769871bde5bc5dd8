#pragma once
// The inputs the fuzzers kept under fuzz/corpus, for the tests that run them through a reader.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

#include "json/json.hpp"
#include "storage/msgpack/bytes.hpp"

namespace tarnwick::test {

// Each kept input of one fuzzer, as its bytes.
inline std::vector<Bytes> fuzz_corpus(std::string_view name) {
  std::vector<Bytes> files;
  const auto dir = std::filesystem::path(TARNWICK_SOURCE_DIR) / "fuzz" / "corpus" / name;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return files;
}

// Each line of the kept mutation-log inputs that parses as a JSON object.
inline std::vector<json::Value> kept_log_objects() {
  std::vector<json::Value> objects;
  for (const Bytes& file : fuzz_corpus("mutation_log")) {
    const std::string_view text(reinterpret_cast<const char*>(file.data()), file.size());
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = std::min(text.find('\n', start), text.size());
      auto value = json::parse(text.substr(start, end - start));
      start = end + 1;
      if (value && value->if_object()) objects.push_back(std::move(*value));
    }
  }
  return objects;
}

}  // namespace tarnwick::test
