// The mutation-log line of one batch of 100 nodes (about 1 KB of data and a 384-dimension vector
// each, two edges per node) at both precisions: printed straight from the records, against the
// route that copies every payload into a JSON value first and prints those values. Then one
// double of an embedding, the printer's commonest input. Bytes per second are line bytes.

#include <benchmark/benchmark.h>

#include <random>

#include "json/json.hpp"
#include "storage/store/batch_line.hpp"
#include "storage/store/vector_packing.hpp"

namespace tarnwick::store {
namespace {

constexpr std::size_t kNodes = 100;
constexpr std::size_t kDimensions = 384;

ChangeBatch make_batch(VectorPrecision precision) {
  std::mt19937_64 rng(42);
  std::normal_distribution<double> normal;
  ChangeBatch b;
  for (std::size_t i = 0; i < kNodes; ++i) {
    Node n;
    n.id = "node-" + std::to_string(i);
    n.type = "kind-" + std::to_string(i % 10);
    n.data["email"] = "user" + std::to_string(i) + "@example.org";
    n.data["title"] = "memory " + std::to_string(i);
    n.data["rank"] = static_cast<std::int64_t>(i);
    n.data["tags"] = json::Array{"alpha", "beta"};
    n.data["text"] = std::string(900, 'x');
    n.inserted_at = n.updated_at = 1'700'000'000'000 + static_cast<std::int64_t>(i);
    n.vector.emplace(kDimensions);
    for (double& d : *n.vector)
      d = precision == VectorPrecision::Float32 ? static_cast<double>(static_cast<float>(normal(rng))) : normal(rng);
    for (std::size_t back : {1, 7})
      b.put_edges.push_back({"edge-" + std::to_string(i) + "-" + std::to_string(back), n.id, "node-0", "follows",
                             std::nullopt, n.inserted_at, 0});
    b.put_nodes.push_back(std::move(n));
  }
  return b;
}

MutationRecord identity() {
  MutationRecord r;
  r.operation_id = r.transaction_id = "mutation-1";
  r.sequence = 1;
  return r;
}

VectorPrecision precision_of(const benchmark::State& state) {
  return state.range(0) ? VectorPrecision::Float32 : VectorPrecision::Float64;
}

void BM_BatchLine(benchmark::State& state) {
  const ChangeBatch batch = make_batch(precision_of(state));
  const MutationRecord record = identity();
  std::string line;
  for (auto _ : state) {
    const std::size_t at = start_batch_line(line, record, batch, precision_of(state));
    benchmark::DoNotOptimize(finish_batch_line(line, at, 1'700'000'000'000).data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
}

void BM_BatchLineThroughValues(benchmark::State& state) {
  const ChangeBatch batch = make_batch(precision_of(state));
  std::string line;
  for (auto _ : state) {
    MutationRecord record = identity();
    for (const Node& n : batch.put_nodes) record.operations.push_back({"putNode", n.serialize()});
    for (const Edge& e : batch.put_edges) record.operations.push_back({"putEdge", e.serialize()});
    line.clear();
    benchmark::DoNotOptimize(append_mutation_line(line, record, precision_of(state)));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
}

void BM_PrintEmbeddingDouble(benchmark::State& state) {
  std::mt19937_64 rng(7);
  std::normal_distribution<double> normal;
  std::vector<double> values(4096);
  for (double& d : values) d = normal(rng) * 0.05;
  std::string out;
  std::size_t i = 0;
  for (auto _ : state) {
    out.clear();
    json::print_double(out, values[i++ & 4095]);
    benchmark::DoNotOptimize(out.data());
  }
}

BENCHMARK(BM_BatchLine)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BatchLineThroughValues)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PrintEmbeddingDouble);

}  // namespace
}  // namespace tarnwick::store
