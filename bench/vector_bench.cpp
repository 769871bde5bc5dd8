// Vector index benchmarks: similarity kernels, brute-force queries and HNSW build and query.
// Run on demand: build with -DTARNWICK_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=Release.
// The corpus is 100k standard normal vectors of 128 dimensions, a hard case for graph search:
// recall is far lower than on clustered data at the same ef.

#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "hnsw/hnsw_index.hpp"
#include "vector/batch_scoring.hpp"
#include "vector/exact_index.hpp"
#include "vector/stored_vector.hpp"

namespace tarnwick {
namespace {

constexpr std::size_t kCorpus = 100'000;
constexpr std::size_t kDims = 128;
constexpr std::size_t kQueries = 200;

std::vector<std::vector<double>> random_vectors(std::size_t count, std::size_t dims, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> value(0.0, 1.0);
  std::vector<std::vector<double>> out(count, std::vector<double>(dims));
  for (auto& v : out) {
    for (double& x : v) x = value(rng);
  }
  return out;
}

const std::vector<std::vector<double>>& corpus() {
  static const auto data = random_vectors(kCorpus, kDims, 1);
  return data;
}

const std::vector<std::vector<double>>& queries() {
  static const auto data = random_vectors(kQueries, kDims, 2);
  return data;
}

VectorPrecision precision_of(const benchmark::State& state) {
  return state.range(0) == 32 ? VectorPrecision::Float32 : VectorPrecision::Float64;
}

// One query against 16 stored rows per call (one batch of the AVX2 kernel, half one of the
// AVX-512 kernel), cycling through rows that stay in the core's caches.
void BM_ScoreBatch(benchmark::State& state) {
  constexpr std::uint32_t kRows = 64;
  const auto precision = precision_of(state);
  const auto metric = state.range(2) == 0 ? DistanceMetric::Cosine : DistanceMetric::Euclidean;
  const auto dims = static_cast<std::size_t>(state.range(1));
  const auto rows = random_vectors(kRows, dims, 3);
  VectorArena arena(precision);
  for (std::uint32_t slot = 0; slot < rows.size(); ++slot) arena.put(slot, rows[slot]);
  const auto q = random_vectors(1, dims, 4)[0];
  const PreparedQuery prepared(q, metric);
  std::vector<std::uint32_t> slots(16);
  double out[16];
  std::uint32_t next = 0;
  for (auto _ : state) {
    for (auto& s : slots) s = next++ % kRows;
    score_slots(prepared, arena, slots, out);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * slots.size()));
}
BENCHMARK(BM_ScoreBatch)->ArgsProduct({{64, 32}, {128, 768}, {0, 1}})->ArgNames({"bits", "dims", "euclid"});

// The one-pair path (StoredVector::similarity_to), for comparison with the batch kernels.
void BM_SimilarityPair(benchmark::State& state) {
  const auto precision = precision_of(state);
  const auto dims = static_cast<std::size_t>(state.range(1));
  const auto v = random_vectors(2, dims, 5);
  const auto a = StoredVector::make(v[0], VectorPrecision::Float64);
  const auto b = StoredVector::make(v[1], precision);
  for (auto _ : state) benchmark::DoNotOptimize(a.similarity_to(b, DistanceMetric::Cosine));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_SimilarityPair)->ArgsProduct({{64, 32}, {128, 768}})->ArgNames({"bits", "dims"});

void BM_ExactQuery(benchmark::State& state) {
  ExactIndex index(DistanceMetric::Cosine, precision_of(state));
  for (std::size_t i = 0; i < kCorpus; ++i) (void)index.add(std::to_string(i), corpus()[i]);
  std::size_t next = 0;
  for (auto _ : state) benchmark::DoNotOptimize(index.query(queries()[next++ % kQueries], 10, -1.0));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_ExactQuery)->Arg(64)->Arg(32)->ArgName("bits")->Unit(benchmark::kMillisecond);

// Built once per precision by BM_HnswBuild and reused by BM_HnswQuery.
std::map<int, std::unique_ptr<HnswIndex>>& built() {
  static std::map<int, std::unique_ptr<HnswIndex>> indexes;
  return indexes;
}

std::unique_ptr<HnswIndex> build(VectorPrecision precision) {
  auto index = std::make_unique<HnswIndex>(*HnswIndex::new_with_precision(HnswConfig{}, 7, precision));
  for (std::size_t i = 0; i < kCorpus; ++i) (void)index->add(std::to_string(i), corpus()[i]);
  return index;
}

void BM_HnswBuild(benchmark::State& state) {
  for (auto _ : state) built()[static_cast<int>(state.range(0))] = build(precision_of(state));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kCorpus));
}
BENCHMARK(BM_HnswBuild)->Arg(64)->Arg(32)->ArgName("bits")->Iterations(1)->Unit(benchmark::kSecond);

// Reports recall@10 against the brute-force answer beside the query rate.
void BM_HnswQuery(benchmark::State& state) {
  const int bits = static_cast<int>(state.range(0));
  if (!built().contains(bits)) built()[bits] = build(precision_of(state));
  const HnswIndex& index = *built()[bits];
  const auto ef = static_cast<std::uint64_t>(state.range(1));
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(index.query_with_ef_search(queries()[next++ % kQueries], 10, ef, -1.0));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));

  ExactIndex exact(DistanceMetric::Cosine, precision_of(state));
  for (std::size_t i = 0; i < kCorpus; ++i) (void)exact.add(std::to_string(i), corpus()[i]);
  std::size_t hits = 0;
  for (const auto& q : queries()) {
    const auto truth = *exact.query(q, 10, -1.0);
    const auto found = *index.query_with_ef_search(q, 10, ef, -1.0);
    for (const auto& t : truth) {
      for (const auto& f : found) hits += f.id == t.id;
    }
  }
  state.counters["recall@10"] = static_cast<double>(hits) / static_cast<double>(10 * kQueries);
}
BENCHMARK(BM_HnswQuery)->ArgsProduct({{64, 32}, {10, 50, 200}})->ArgNames({"bits", "ef"});

}  // namespace
}  // namespace tarnwick
