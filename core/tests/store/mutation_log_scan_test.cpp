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
      // Escapes split every kept or compared string and key into pieces.
      R"({"operationId":"o\u0031","sequence":1,"transactionId":"\u0074","timestamp":1,"operations":[{"operation\u0054ype":"put\u004eode","pay\u006coad":{"vect\u006fr":{"__tarnwick_f32_\u0068ex":"3f80\u00300000"}}}]})",
  };
}

// Lines whose kept or compared strings and keys are escaped and longer than the parser's buffer
// for escaped text (4 KiB here), so that they come in several pieces; and numbers of hundreds of
// digits.
std::vector<std::string> long_token_lines() {
  const std::string hex = "\\u0033" + std::string(8191, 'a');  // an escape first: all of it goes through the buffer
  const std::string name = "\\u0078" + std::string(5000, 'k');
  const auto line = [](std::string_view operation_type, std::string_view payload, std::string_view id = "o") {
    return R"({"operationId":")" + std::string(id) + R"(","sequence":1,"transactionId":"t","timestamp":1,"operations":[{"operationType":")" +
           std::string(operation_type) + R"(","payload":)" + std::string(payload) + "}]}";
  };
  const auto packed = [](std::string_view text) { return R"({"vector":{"__tarnwick_f32_hex":")" + std::string(text) + R"("}})"; };
  return {
      line("putNode", packed(hex)),                                           // 8192 hex digits
      line("putNode", packed(hex.substr(0, hex.size() - 1))),                 // one short
      line("putNode", packed(hex.substr(0, 6000) + "g" + hex.substr(6001))),  // a fault in a later piece
      line("putNode", packed(hex), name),                                     // a long kept string
      line("put" + name, packed("zz")),                                       // a long operation type
      line("putNode", "{\"" + name + "\":1,\"vector\":" + packed(hex).substr(10)),  // a long key beside the vector
      "{\"" + name + "\":1," + line("putNode", "{}").substr(1),               // a long key in the record
      record("[" + std::string(300, '7') + ",0." + std::string(5000, '0') + "1]"),
      record(std::string(400, '7')),
      record(std::string(308, '9') + ".5e0"),
      record("-" + std::string(309, '9')),
  };
}

// Every line the byte-by-byte damage of `line` gives: each byte (or each `step`th) replaced by a
// few that change the JSON or the record, dropped, and the line cut short after it.
std::vector<std::string> damaged(const std::string& line, std::size_t step = 1) {
  static constexpr std::string_view kBytes = "\"0-e9g\\]},: \xff";
  std::vector<std::string> out;
  for (std::size_t i = 0; i < line.size(); i += step) {
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

TEST(MutationLogScan, LongTokensAndTheirDamageReadAlike) {
  store::MutationLineScanner scanner;
  std::size_t accepted = 0;
  for (const std::string& seed : long_token_lines()) {
    ASSERT_EQ(log_disagreement(seed + "\n" + seed), "") << seed.substr(0, 120);
    accepted += scanner.scan(seed);
    // A sample of the damage, in each piece and across the pieces' edges.
    for (const std::string& line : damaged(seed, 199)) ASSERT_EQ(line_disagreement(scanner, line), "") << line.substr(0, 120);
  }
  EXPECT_GT(accepted, 3u);
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
