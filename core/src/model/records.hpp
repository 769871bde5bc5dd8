#pragma once
// The memory-graph records. Plain values: copies are deep, nothing is shared between them.
// Field order matters — it is the key order of the JSON forms and of the array forms.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/json.hpp"
#include "model/reader.hpp"
#include "model/seeded_hash.hpp"

namespace tarnwick {

enum class MemoryClass : std::uint8_t { Episodic = 0, Semantic = 1, Procedural = 2, Entity = 3 };

std::string_view memory_class_name(MemoryClass c);
std::optional<MemoryClass> memory_class_from_name(std::string_view name);
// A name as a string, or an object whose one key is the name and whose value is null.
ReadResult<MemoryClass> read_memory_class(json::Value& v);

struct ContextActivation {
  double score = 0.0;
  std::int64_t last_meaningful_activation = 0;

  json::Value serialize() const;
  static ReadResult<ContextActivation> deserialize(json::Value& v);
  friend bool operator==(const ContextActivation&, const ContextActivation&) = default;
};

// Per-context activations. Keys are unique; entries keep the order they were first set in,
// which makes every write of a node reproducible.
class ContextMap {
 public:
  using Entry = std::pair<std::string, ContextActivation>;

  void set(std::string key, ContextActivation value);
  const ContextActivation* find(std::string_view key) const;
  const std::vector<Entry>& entries() const { return entries_; }
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  friend bool operator==(const ContextMap& a, const ContextMap& b) { return a.entries_ == b.entries_; }

 private:
  // A few contexts are found by scanning; from this many on, a seeded index keeps a caller's
  // thousands of contexts from costing a scan per key. Small maps draw no hash key at all.
  static constexpr std::size_t kIndexedFrom = 16;

  std::size_t position(std::string_view key) const;  // entries_.size() when absent

  std::vector<Entry> entries_;
  std::optional<TextMap<std::size_t>> index_;  // key -> position in entries_
};

struct NodeActivation {
  double score = 0.0;
  double importance = 0.0;
  std::uint64_t reinforcement_count = 0;
  std::int64_t last_meaningful_activation = 0;
  std::optional<double> inhibition;
  std::optional<std::int64_t> last_inhibited_at;
  std::optional<ContextMap> context;

  json::Value serialize() const;
  static ReadResult<NodeActivation> deserialize(json::Value& v);
  friend bool operator==(const NodeActivation&, const NodeActivation&) = default;
};

struct Node {
  std::string id;
  std::string type;
  json::Object data;
  std::optional<std::vector<double>> vector;
  std::int64_t inserted_at = 0;
  std::int64_t updated_at = 0;
  std::uint64_t revision = 0;
  std::optional<NodeActivation> activation;
  std::optional<MemoryClass> memory_class;
  std::optional<double> confidence;
  std::optional<std::string> source;
  std::optional<std::int64_t> observed_at;
  std::optional<std::vector<std::string>> derived_from;
  std::optional<std::string> supersedes;
  std::optional<std::vector<std::string>> contradicts;

  json::Value serialize() const;
  // Consumes `v`: strings and data are moved out of it.
  static ReadResult<Node> deserialize(json::Value& v);
  Node clone() const { return *this; }
  friend bool operator==(const Node&, const Node&) = default;
};

struct Edge {
  std::string id;
  std::string source;
  std::string target;
  std::string type;
  std::optional<json::Object> data;
  std::int64_t created_at = 0;
  std::uint64_t revision = 0;

  json::Value serialize() const;
  static ReadResult<Edge> deserialize(json::Value& v);
  Edge clone() const { return *this; }
  friend bool operator==(const Edge&, const Edge&) = default;
};

struct VectorEntry {
  std::string id;
  std::vector<double> vector;

  json::Value serialize() const;
  static ReadResult<VectorEntry> deserialize(json::Value& v);
  friend bool operator==(const VectorEntry&, const VectorEntry&) = default;
};

// One set of changes applied together. Any list may be empty; ids may repeat.
struct ChangeBatch {
  std::vector<Node> put_nodes;
  std::vector<std::string> delete_node_ids;
  std::vector<Edge> put_edges;
  std::vector<std::string> delete_edge_ids;
  std::vector<VectorEntry> put_vectors;
  std::vector<std::string> delete_vector_ids;
};

}  // namespace tarnwick
