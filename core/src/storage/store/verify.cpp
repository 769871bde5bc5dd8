// Verification of the stored files, without loading the store: the snapshot, the index
// definitions and the mutation log. Faults inside the files are listed and the checks go on;
// only a closed store, a failing read or an unreadable mutation log fail the call.
#include <algorithm>
#include <cmath>

#include "model/text_reader.hpp"
#include "model/validate.hpp"
#include "storage/format/snapshot.hpp"
#include "storage/store/store.hpp"
#include "storage/store/verify_report.hpp"

namespace tarnwick::store {

namespace {

using Issues = std::vector<std::string>;

std::string_view as_text(const Bytes& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Issues carry the entry id of each record, never the record's own id field.
void check_snapshot(const format::SnapshotData& snapshot, Issues& issues) {
  TextSet node_ids;
  node_ids.reserve(snapshot.nodes.size());
  for (const auto& [id, node] : snapshot.nodes) node_ids.insert(id);
  for (const auto& [id, node] : snapshot.nodes)
    if (auto valid = validate_node(node); !valid) issues.push_back("node " + id + ": " + valid.error().text());
  for (const auto& [id, edge] : snapshot.edges) {
    if (auto valid = validate_edge(edge); !valid) issues.push_back("edge " + id + ": " + valid.error().text());
    if (!node_ids.contains(edge.source)) issues.push_back("edge " + id + ": missing source " + edge.source);
    if (!node_ids.contains(edge.target)) issues.push_back("edge " + id + ": missing target " + edge.target);
  }
  for (const auto& [id, values] : snapshot.vectors)
    if (!std::all_of(values.begin(), values.end(), [](double d) { return std::isfinite(d); }))
      issues.push_back("vector " + id + ": contains non-finite values");
}

// "fields" must be a non-empty array of distinct strings (the empty string counts as one).
bool fields_usable(const json::Object& definition) {
  const json::Value* fields = definition.if_contains("fields");
  const json::Array* list = fields ? fields->if_array() : nullptr;
  if (!list || list->empty()) return false;
  TextSet distinct;
  for (const json::Value& f : *list) {
    const json::String* s = f.if_string();
    if (!s || !distinct.insert(std::string(*s)).second) return false;
  }
  return true;
}

// Every element is looked at, whatever was found before it; other keys and their types are not.
void check_definitions(const std::vector<json::Value>& definitions, Issues& issues) {
  TextSet names;
  for (std::size_t i = 0; i < definitions.size(); ++i) {
    const json::Object* definition = definitions[i].if_object();
    const json::Value* name_value = definition ? definition->if_contains("name") : nullptr;
    const json::String* name_text = name_value ? name_value->if_string() : nullptr;
    if (!name_text) {
      issues.push_back("index metadata: index " + std::to_string(i) + ": missing name");
      continue;
    }
    const std::string name(*name_text);
    if (name.empty() || !names.insert(name).second)
      issues.push_back("index metadata: index " + name + ": duplicate or empty name");
    if (!fields_usable(*definition)) issues.push_back("index metadata: index " + name + ": fields must not be empty");
  }
}

// Read as an array of arbitrary JSON values, with the faults placed as the loader places them; a
// text that is no such array is one issue.
void check_index_file(std::string_view text, Issues& issues) {
  auto definitions = read_text(text, [](TextReader& in) {
    return read_list(in, [](TextReader& element) { return element.take_value(); });
  });
  if (!definitions) {
    issues.push_back("index metadata: " + definitions.error().text());
    return;
  }
  check_definitions(*definitions, issues);
}

}  // namespace

Result<VerifyReport> Store::verify() {
  if (closed_) return fail(err::Closed{});
  VerifyReport report;
  TARNWICK_TRY_ASSIGN(const std::optional<Bytes> snapshot_bytes, storage_->read(kSnapshotFile));
  if (snapshot_bytes) {
    if (auto snapshot = format::decode_snapshot(*snapshot_bytes); !snapshot) {
      report.errors.push_back("snapshot: " + snapshot.error().text());
    } else {
      report.node_count = snapshot->nodes.size();
      report.edge_count = snapshot->edges.size();
      report.vector_count = snapshot->vectors.size();
      check_snapshot(*snapshot, report.errors);
    }
  }
  TARNWICK_TRY_ASSIGN(const std::optional<Bytes> index_bytes, storage_->read(kIndexesFile));
  if (index_bytes) check_index_file(as_text(*index_bytes), report.errors);
  TARNWICK_TRY_ASSIGN(report.mutation_count, mutation_log_length());
  report.ok = report.errors.empty();
  return report;
}

}  // namespace tarnwick::store
