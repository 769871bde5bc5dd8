// "mutations.jsonl" read three ways, on logs of one-node batches whose node carries about 200
// bytes of data and no vector, a packed float32 vector or a float64 array (384 dimensions):
//   LogScan      the pass the log readers use (sequence, timestamp and ids kept, nothing built);
//   LogReadFull  every line read into a record (what `mutation_log` returns);
//   LogValidate  the floor: the same JSON parser with a handler that does nothing.
// Then `latest_mutation_sequence` and `mutation_log_page(0, 10)` through a store on a 1M-line
// log without vectors, next to LogReadAndValidate, the cost of copying the file out of its
// storage and validating each line. Bytes per second are log bytes.

#include <benchmark/benchmark.h>

#include <boost/json/basic_parser_impl.hpp>

#include <random>
#include <string_view>

#include "json/parser_detail.hpp"
#include "model/records.hpp"
#include "storage/store/mutation_log.hpp"
#include "storage/store/store.hpp"
#include "storage/store/vector_packing.hpp"

namespace tarnwick::store {
namespace {

constexpr std::size_t kDimensions = 384;
constexpr std::size_t kThroughputLines = 20'000;
constexpr std::size_t kHistoryLines = 1'000'000;

enum class Vectors { none, f32, f64 };

MutationRecord one_node_batch(std::uint64_t sequence, Vectors vectors, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  Node n;
  n.id = "node-" + std::to_string(sequence);
  n.type = "memory";
  n.data["title"] = "memory number " + std::to_string(sequence) + " about the weather in the hills";
  n.data["text"] = "a note of some length, as an agent writes down what it saw and what it meant to do next";
  n.data["weight"] = unit(rng);
  n.data["tags"] = json::Array{"alpha", "beta", "gamma"};
  n.inserted_at = 1'700'000'000'000 + static_cast<std::int64_t>(sequence);
  n.updated_at = n.inserted_at;
  n.revision = 1;
  if (vectors != Vectors::none) {
    n.vector.emplace(kDimensions);
    for (double& d : *n.vector) d = vectors == Vectors::f32 ? static_cast<float>(unit(rng)) : unit(rng);
  }
  MutationRecord r;
  r.operation_id = "mutation-" + std::to_string(sequence);
  r.sequence = sequence;
  r.transaction_id = r.operation_id;
  r.timestamp = n.inserted_at;
  r.operations.push_back({"putNode", n.serialize()});
  return r;
}

std::string make_log(std::size_t lines, Vectors vectors) {
  std::mt19937_64 rng(7);
  const VectorPrecision precision = vectors == Vectors::f32 ? VectorPrecision::Float32 : VectorPrecision::Float64;
  std::string log;
  for (std::uint64_t i = 1; i <= lines; ++i) {
    (void)append_mutation_line(log, one_node_batch(i, vectors, rng), precision);
    log += '\n';
  }
  return log;
}

const std::string& log_of(Vectors vectors) {
  static const std::string logs[] = {make_log(kThroughputLines, Vectors::none),
                                     make_log(kThroughputLines, Vectors::f32),
                                     make_log(kThroughputLines, Vectors::f64)};
  return logs[static_cast<int>(vectors)];
}

std::string_view text_of(const Bytes& bytes) { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }

const std::string& history() {
  static const std::string log = make_log(kHistoryLines, Vectors::none);
  return log;
}

namespace bj = boost::json;

// A handler that keeps nothing: what is left is the parser's own check of the text.
struct NullHandler : json::detail::HandlerLimits {
  bool on_document_begin(bj::error_code&) { return true; }
  bool on_document_end(bj::error_code&) { return true; }
  bool on_object_begin(bj::error_code&) { return true; }
  bool on_object_end(std::size_t, bj::error_code&) { return true; }
  bool on_array_begin(bj::error_code&) { return true; }
  bool on_array_end(std::size_t, bj::error_code&) { return true; }
  bool on_key_part(bj::string_view, std::size_t, bj::error_code&) { return true; }
  bool on_key(bj::string_view, std::size_t, bj::error_code&) { return true; }
  bool on_string_part(bj::string_view, std::size_t, bj::error_code&) { return true; }
  bool on_string(bj::string_view, std::size_t, bj::error_code&) { return true; }
  bool on_number_part(bj::string_view, bj::error_code&) { return true; }
  bool on_int64(std::int64_t, bj::string_view, bj::error_code&) { return true; }
  bool on_uint64(std::uint64_t, bj::string_view, bj::error_code&) { return true; }
  bool on_double(double, bj::string_view, bj::error_code&) { return true; }
  bool on_bool(bool, bj::error_code&) { return true; }
  bool on_null(bj::error_code&) { return true; }
  bool on_comment_part(bj::string_view, bj::error_code&) { return true; }
  bool on_comment(bj::string_view, bj::error_code&) { return true; }
};

// The number of lines that are one valid JSON value each.
std::size_t validate_lines(std::string_view log) {
  bj::basic_parser<NullHandler> parser(json::detail::parse_options());
  std::size_t valid = 0;
  while (!log.empty()) {
    const std::size_t end = std::min(log.find('\n'), log.size());
    parser.reset();
    bj::error_code ec;
    const std::size_t used = parser.write_some(false, log.data(), end, ec);
    valid += !ec && used == end;
    log.remove_prefix(std::min(end + 1, log.size()));
  }
  return valid;
}

// Hands out copies of one log, as a storage object hands out the bytes it read.
class LogStorage final : public Storage {
 public:
  explicit LogStorage(const std::string& log) : log_(log) {}
  Result<std::optional<Bytes>> read(std::string_view name) override {
    if (name != kMutationLogFile) return std::optional<Bytes>();
    return std::optional<Bytes>(Bytes(log_.begin(), log_.end()));
  }
  Result<void> write(std::string_view, std::span<const std::uint8_t>) override { return {}; }
  Result<void> append(std::string_view, std::span<const std::uint8_t>) override { return {}; }
  Result<void> remove(std::string_view) override { return {}; }
  Result<bool> exists(std::string_view) override { return false; }
  Result<void> sync(std::string_view) override { return {}; }
  Result<void> sync_dir() override { return {}; }
  StorageCapabilities capabilities() override { return {}; }

 private:
  const std::string& log_;
};

Vectors vectors_of(const benchmark::State& state) { return static_cast<Vectors>(state.range(0)); }

void BM_LogScan(benchmark::State& state) {
  const std::string& log = log_of(vectors_of(state));
  for (auto _ : state) {
    std::uint64_t last = 0;
    if (!scan_mutation_log(log, [&](std::string_view, const LineFacts& f) { last = f.sequence; }))
      state.SkipWithError("log refused");
    benchmark::DoNotOptimize(last);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * log.size()));
}

void BM_LogReadFull(benchmark::State& state) {
  const std::string& log = log_of(vectors_of(state));
  for (auto _ : state) benchmark::DoNotOptimize(read_mutation_log(log));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * log.size()));
}

void BM_LogValidate(benchmark::State& state) {
  const std::string& log = log_of(vectors_of(state));
  for (auto _ : state) benchmark::DoNotOptimize(validate_lines(log));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * log.size()));
}

void BM_LogReadAndValidate(benchmark::State& state) {
  LogStorage storage(history());
  for (auto _ : state) benchmark::DoNotOptimize(validate_lines(text_of(**storage.read(kMutationLogFile))));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * history().size()));
}

void BM_LatestMutationSequence(benchmark::State& state) {
  Store store(std::make_unique<LogStorage>(history()), StoreOptions{});
  for (auto _ : state) benchmark::DoNotOptimize(store.latest_mutation_sequence());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * history().size()));
}

void BM_MutationLogPage(benchmark::State& state) {
  Store store(std::make_unique<LogStorage>(history()), StoreOptions{});
  for (auto _ : state) benchmark::DoNotOptimize(store.mutation_log_page(0, 10));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * history().size()));
}

// 0: no vectors; 1: packed float32; 2: float64 arrays.
BENCHMARK(BM_LogScan)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LogReadFull)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LogValidate)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LogReadAndValidate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LatestMutationSequence)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MutationLogPage)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarnwick::store
