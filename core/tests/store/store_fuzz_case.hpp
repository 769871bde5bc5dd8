#pragma once
// One fuzz case for the whole store: the input is split into the five files (each a flag byte,
// absent when even, then a 2-byte little-endian length, cut short at the end of the input), a
// store opened over them loads, answers a node query, takes a small batch and is opened again.
// Shared by the libFuzzer target and by the test that replays the kept corpus, so that every
// input the fuzzer once found interesting runs in every build.
//
// What must hold beyond "no crash": a batch the store acknowledged is there when the files are
// opened again.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>

#include "store/memory_storage.hpp"
#include "storage/store/node_query.hpp"
#include "storage/store/store.hpp"
#include "storage/store/verify_report.hpp"

namespace tarnwick::test {

inline constexpr std::string_view kStoreFiles[] = {"indexes.json", "schemas.json", "snapshot.msgpack", "wal.msgpack",
                                                   "mutations.jsonl"};

inline std::shared_ptr<Disk> disk_from_fuzz_input(std::span<const std::uint8_t> input) {
  auto disk = std::make_shared<Disk>();
  std::size_t p = 0;
  for (std::string_view name : kStoreFiles) {
    if (p + 3 > input.size()) break;
    const bool present = input[p] & 1;
    std::size_t length = input[p + 1] | std::size_t{input[p + 2]} << 8;
    p += 3;
    length = std::min(length, input.size() - p);
    if (present) disk->files[std::string(name)] = Bytes(input.begin() + p, input.begin() + p + length);
    p += length;
  }
  return disk;
}

inline void run_store_fuzz_case(std::span<const std::uint8_t> input) {
  auto disk = disk_from_fuzz_input(input);
  store::StoreOptions options;
  options.compact_threshold = 4;
  options.retention = store::MutationLogRetention{8, std::nullopt};
  bool acknowledged = false;
  {
    store::Store s(std::make_unique<MemoryStorage>(disk), options);
    if (!s.ensure_loaded()) return;
    (void)s.query_nodes(store::NodeQuery{});
    (void)s.verify();
    ChangeBatch batch;
    Node n;
    n.id = "fuzz-node";
    n.type = "note";
    n.vector = std::vector<double>{1.0, 2.0};
    batch.put_nodes.push_back(n);
    batch.delete_edge_ids.push_back("e");
    acknowledged = s.apply_with_identity(batch, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt)
                       .has_value();
  }
  store::Store again(std::make_unique<MemoryStorage>(disk), options);
  auto node = again.get_node("fuzz-node");
  if (acknowledged && (!node || !*node)) std::abort();
}

}  // namespace tarnwick::test
