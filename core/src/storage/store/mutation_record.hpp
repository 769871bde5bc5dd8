#pragma once
// One entry of the mutation log and the changes it lists. Written as a JSON object whose keys
// follow the field order; the three optional fields leave no key when absent (never a null).
// Read from an object (unknown keys ignored, null in an optional field meaning absent) or from
// an array of the field values in order, at least the five required ones.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error/error.hpp"
#include "json/json.hpp"
#include "model/reader.hpp"

namespace tarnwick::store {

struct MutationOperation {
  std::string operation_type;  // "putNode", "deleteNode", ... (not checked on reading)
  json::Value payload;

  json::Value serialize() const;
  // Consumes `v`. Any payload is accepted, null included.
  static ReadResult<MutationOperation> deserialize(json::Value& v);
  friend bool operator==(const MutationOperation& a, const MutationOperation& b);
};

struct MutationRecord {
  std::string operation_id;
  std::uint64_t sequence = 0;
  std::string transaction_id;
  std::int64_t timestamp = 0;
  std::vector<MutationOperation> operations;
  std::optional<std::string> actor;
  std::optional<std::uint64_t> base_revision;
  std::optional<json::Value> metadata;

  json::Value serialize() const;
  // Consumes `v`.
  static ReadResult<MutationRecord> deserialize(json::Value& v);
  friend bool operator==(const MutationRecord& a, const MutationRecord& b);
};

// The metadata as written, or nullptr: a metadata value of null has no written form of its
// own (null reads back as absent), so every writer writes it as absent.
const json::Value* written_metadata(const MutationRecord& r);

// The operation kinds whose payload may carry a vector under "vector": only these are packed
// and unpacked.
bool carries_vector(std::string_view operation_type);

// Writes one payload vector into a line; may fail (a packing that refuses an element).
using VectorWriter = Result<void> (*)(std::string& out, const json::Array& vector);

// Appends the record's compact JSON text to `out`, byte for byte what
// json::print(record.serialize()) gives, except that the "vector" array of each object payload
// of a "putNode" or "putVector" operation is written by `write_vector`. Builds no JSON value.
// On failure `out` holds part of the line.
Result<void> write_record(std::string& out, const MutationRecord& record, VectorWriter write_vector);

// The parts of every record line around "timestamp"'s value and the operations: the head runs
// from the opening brace to `"timestamp":`, the tail from the optional fields to the closing
// brace.
void write_record_head(std::string& out, const MutationRecord& record);
void write_record_tail(std::string& out, const MutationRecord& record);

}  // namespace tarnwick::store
