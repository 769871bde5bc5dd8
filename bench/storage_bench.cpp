// Snapshot and write-ahead-log throughput: a snapshot of 100k nodes with 384-dimension vectors
// (each vector inside its node and again in the vector list, as the store writes them) at
// float32 and float64, and one log frame of a one-node batch. Bytes per second are file bytes.

#include <benchmark/benchmark.h>

#include <random>

#include "storage/format/snapshot.hpp"
#include "storage/wal/wal.hpp"

namespace tarnwick::format {
namespace {

constexpr std::size_t kNodes = 100'000;
constexpr std::size_t kDimensions = 384;

Node make_node(std::size_t i, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  Node n;
  n.id = "node-" + std::to_string(i);
  n.type = "memory";
  n.data["title"] = "memory number " + std::to_string(i);
  n.data["weight"] = unit(rng);
  n.data["tags"] = json::Array{"alpha", "beta"};
  n.inserted_at = 1'700'000'000'000 + static_cast<std::int64_t>(i);
  n.updated_at = n.inserted_at;
  n.revision = 1;
  n.vector.emplace(kDimensions);
  for (double& d : *n.vector) d = unit(rng);
  return n;
}

struct Graph {
  std::vector<Node> nodes;
  std::vector<std::vector<float>> f32;  // the vectors as a float32 store holds them

  Graph() {
    std::mt19937_64 rng(42);
    nodes.reserve(kNodes);
    for (std::size_t i = 0; i < kNodes; ++i) nodes.push_back(make_node(i, rng));
    for (const auto& n : nodes) f32.emplace_back(n.vector->begin(), n.vector->end());
  }

  Bytes encode(VectorPrecision p) const {
    std::vector<SnapshotNodeRef> refs;
    std::vector<SnapshotVectorRef> vectors;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
      VectorRef v = p == VectorPrecision::Float32 ? VectorRef(std::span<const float>(f32[i])) : vector_ref(*nodes[i].vector);
      refs.push_back({nodes[i].id, &nodes[i], v});
      vectors.push_back({nodes[i].id, v});
    }
    return *encode_snapshot_with_precision(refs, {}, vectors, p, true);
  }
};

const Graph& graph() {
  static const Graph g;
  return g;
}

void BM_SnapshotEncode(benchmark::State& state) {
  const auto p = static_cast<VectorPrecision>(state.range(0));
  const Graph& g = graph();
  std::size_t bytes = 0;
  for (auto _ : state) {
    Bytes out = g.encode(p);
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_SnapshotDecode(benchmark::State& state) {
  const auto p = static_cast<VectorPrecision>(state.range(0));
  const Bytes file = graph().encode(p);
  for (auto _ : state) {
    auto data = decode_snapshot(file);
    if (!data || data->nodes.size() != kNodes) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(data);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
}

std::vector<WalEntry> one_node_batch() {
  std::mt19937_64 rng(7);
  return {WalEntry{WalEntry::PutNode{make_node(1, rng)}}};
}

void BM_WalFrameEncode(benchmark::State& state) {
  const auto p = static_cast<VectorPrecision>(state.range(0));
  const auto batch = one_node_batch();
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto out = encode_wal_with_precision(batch, p);
    bytes = out->size();
    benchmark::DoNotOptimize(out->data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void BM_WalFrameDecode(benchmark::State& state) {
  const auto p = static_cast<VectorPrecision>(state.range(0));
  const Bytes file = *encode_wal_with_precision(one_node_batch(), p);
  for (auto _ : state) {
    auto read = decode_wal(file);
    if (read.entries.size() != 1) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(read);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
}

// What the store's reading adds to decoding: the checks that tell damage from a torn tail.
void BM_WalFrameDecodeAndCheck(benchmark::State& state) {
  const auto p = static_cast<VectorPrecision>(state.range(0));
  const Bytes file = *encode_wal_with_precision(one_node_batch(), p);
  for (auto _ : state) {
    auto read = decode_wal_refusing_damage(file);
    if (!read) state.SkipWithError("check failed");
    benchmark::DoNotOptimize(read);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
}

// Argument: 0 = float64, 1 = float32.
BENCHMARK(BM_SnapshotEncode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SnapshotDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WalFrameEncode)->Arg(0)->Arg(1);
BENCHMARK(BM_WalFrameDecode)->Arg(0)->Arg(1);
BENCHMARK(BM_WalFrameDecodeAndCheck)->Arg(0)->Arg(1);

}  // namespace
}  // namespace tarnwick::format
