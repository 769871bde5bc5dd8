// The log readers that build no record against the reader that builds every record
// (store/log_scan_agreement.hpp): on the lines of every fuzz corpus, and on record lines of every
// shape damaged byte by byte.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "store/log_scan_agreement.hpp"
#include "store/store_fuzz_case.hpp"

namespace tarnwick::test {
namespace {

std::string nested(std::size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); }

std::string record(std::string_view metadata) {
  return R"({"operationId":"o","sequence":1,"transactionId":"t","timestamp":1,"operations":[],"metadata":)" +
         std::string(metadata) + "}";
}

// Record lines of every shape the readers tell apart, each a byte or two from a fault.
std::vector<std::string> seed_lines() {
  return {
      R"({"operationId":"o1","sequence":1,"transactionId":"t1","timestamp":5,"operations":[]})",
      R"({"operationId":"o","sequence":2,"transactionId":"t","timestamp":-3,"operations":[{"operationType":"putNode","payload":{"id":"n","vector":{"__tarnwick_f32_hex":"3f800000c0200000"}}},{"operationType":"putVector","payload":{"vector":[1,2]}}],"actor":"a","baseRevision":4,"metadata":{"k":[1,2.5,null,true]}})",
      R"(["o",3,"t",1,[["deleteNode","n"],{"operationType":"putNode","payload":{"vector":{"__tarnwick_f32_hex":"0"}}}],null,null,{"x":1}])",
      R"({"operations":[{"payload":{"vector":{"__tarnwick_f32_hex":"3F800000"}},"operationType":"putVector"}],"sequence":18446744073709551615,"operationId":"a","transactionId":"b","timestamp":-9223372036854775808})",
      R"({"sequence":"x","sequence":9,"operationId":"o","transactionId":"t","timestamp":1,"operations":[{"operationType":"putNode","payload":{"vector":{"__tarnwick_f32_hex":"zz","__tarnwick_f32_hex":7}}}],"operations":[]})",
      R"( {"operation\u0049d":"\u006f\n","sequence":0,"transactionId":"t\u00e9","timestamp":9223372036854775807,"operations":[["x",null]],"baseRevision":null,"actor":null}  )",
      record("[1e308,-0,1e-400,0.5,1.7976931348623157e308,-1.7976931348623158e308,123456789012345678901234567890]"),
      record(nested(json::kMaxParseDepth - 2)),
      record(nested(json::kMaxParseDepth - 1)),
  };
}

// Every line the byte-by-byte damage of `line` gives: each byte replaced by a few that change the
// JSON or the record, each byte dropped, and the line cut short after each byte.
std::vector<std::string> damaged(const std::string& line) {
  static constexpr std::string_view kBytes = "\"0-e9g\\]},: \xff";
  std::vector<std::string> out;
  for (std::size_t i = 0; i < line.size(); ++i) {
    for (const char b : kBytes) {
      if (b == line[i]) continue;
      std::string changed = line;
      changed[i] = b;
      out.push_back(std::move(changed));
    }
    out.push_back(line.substr(0, i) + line.substr(i + 1));
    out.push_back(line.substr(0, i + 1));
  }
  return out;
}

std::vector<std::string> corpus_files() {
  std::vector<std::string> files;
  const auto root = std::filesystem::path(TARNWICK_SOURCE_DIR) / "fuzz" / "corpus";
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream file(entry.path(), std::ios::binary);
    files.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  return files;
}

TEST(MutationLogScan, SeedLinesAndTheirDamageReadAlike) {
  store::MutationLineScanner scanner;
  std::size_t accepted = 0, refused = 0, n = 0;
  const std::vector<std::string> seeds = seed_lines();
  for (const std::string& seed : seeds) {
    for (const std::string& line : damaged(seed)) {
      ASSERT_EQ(line_disagreement(scanner, line), "") << line;
      (scanner.scan(line) ? accepted : refused) += 1;
      // Whole logs cost the store's every reader: a sample suffices, the damaged line before the
      // last and as the last.
      if (++n % 48 != 0) continue;
      ASSERT_EQ(log_disagreement(seeds[0] + "\n" + line + "\n" + seeds[1]), "") << line;
      ASSERT_EQ(log_disagreement(seeds[0] + "\n" + line), "") << line;
    }
  }
  // The damage reaches both verdicts often enough to tell the readers apart.
  EXPECT_GT(accepted, 500u);
  EXPECT_GT(refused, 500u);
}

TEST(MutationLogScan, EveryCorpusInputReadsAlike) {
  std::size_t inputs = 0;
  for (const std::string& file : corpus_files()) {
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(file.data()), file.size());
    const auto disk = disk_from_fuzz_input(bytes);
    const auto log = disk->files.find(std::string(store::kMutationLogFile));
    if (log != disk->files.end()) {
      EXPECT_EQ(log_disagreement({reinterpret_cast<const char*>(log->second.data()), log->second.size()}), "");
    }
    EXPECT_EQ(log_disagreement(file), "");
    ++inputs;
  }
  EXPECT_GT(inputs, 10u);
}

}  // namespace
}  // namespace tarnwick::test
