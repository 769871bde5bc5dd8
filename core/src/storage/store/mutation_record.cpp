#include "storage/store/mutation_record.hpp"

#include <string>

namespace tarnwick::store {

const json::Value* written_metadata(const MutationRecord& r) {
  return r.metadata && !r.metadata->is_null() ? &*r.metadata : nullptr;
}

namespace {

ReadResult<json::Value> read_any(json::Value& v) { return std::move(v); }

void write_key(std::string& out, std::string_view key) {
  json::print_string(out, key);
  out += ':';
}

Result<void> write_payload(std::string& out, const MutationOperation& op, VectorWriter write_vector) {
  const json::Object* payload = op.payload.if_object();
  if (!payload || !carries_vector(op.operation_type)) {
    json::print(out, op.payload);
    return {};
  }
  out += '{';
  bool first = true;
  for (const auto& kv : *payload) {
    if (!first) out += ',';
    first = false;
    write_key(out, kv.key());
    if (const json::Array* vector = kv.value().if_array(); vector && kv.key() == "vector") {
      TARNWICK_TRY(write_vector(out, *vector));
    } else {
      json::print(out, kv.value());
    }
  }
  out += '}';
  return {};
}

}  // namespace

bool carries_vector(std::string_view operation_type) {
  return operation_type == "putNode" || operation_type == "putVector";
}

// ---- MutationOperation ----------------------------------------------------------------------

json::Value MutationOperation::serialize() const {
  json::Object o;
  o.reserve(2);
  o.emplace("operationType", operation_type);
  o.emplace("payload", payload);
  return o;
}

ReadResult<MutationOperation> MutationOperation::deserialize(json::Value& v) {
  using Op = MutationOperation;
  static constexpr FieldSpec<Op> kFields[] = {
      {"operationType", true, [](json::Value& x, Op& r) { return assign(r.operation_type, read_string(x)); }},
      {"payload", true, [](json::Value& x, Op& r) { return assign(r.payload, read_any(x)); }},
  };
  static constexpr RecordSpec<Op> kSpec{"struct MutationOperation", "struct MutationOperation with 2 elements",
                                        kFields};
  return read_record(v, kSpec);
}

bool operator==(const MutationOperation& a, const MutationOperation& b) {
  return a.operation_type == b.operation_type && json::equal(a.payload, b.payload);
}

// ---- MutationRecord -------------------------------------------------------------------------

json::Value MutationRecord::serialize() const {
  json::Object o;
  o.reserve(8);
  o.emplace("operationId", operation_id);
  o.emplace("sequence", sequence);
  o.emplace("transactionId", transaction_id);
  o.emplace("timestamp", timestamp);
  json::Array ops;
  ops.reserve(operations.size());
  for (const MutationOperation& op : operations) ops.push_back(op.serialize());
  o.emplace("operations", std::move(ops));
  if (actor) o.emplace("actor", *actor);
  if (base_revision) o.emplace("baseRevision", *base_revision);
  if (const json::Value* m = written_metadata(*this)) o.emplace("metadata", *m);
  return o;
}

ReadResult<MutationRecord> MutationRecord::deserialize(json::Value& v) {
  using R = MutationRecord;
  static constexpr FieldSpec<R> kFields[] = {
      {"operationId", true, [](json::Value& x, R& r) { return assign(r.operation_id, read_string(x)); }},
      {"sequence", true, [](json::Value& x, R& r) { return assign(r.sequence, read_u64(x)); }},
      {"transactionId", true, [](json::Value& x, R& r) { return assign(r.transaction_id, read_string(x)); }},
      {"timestamp", true, [](json::Value& x, R& r) { return assign(r.timestamp, read_i64(x)); }},
      {"operations", true,
       [](json::Value& x, R& r) { return assign(r.operations, read_list(x, MutationOperation::deserialize)); }},
      {"actor", false, [](json::Value& x, R& r) { return assign(r.actor, read_optional(x, read_string)); }},
      {"baseRevision", false,
       [](json::Value& x, R& r) { return assign(r.base_revision, read_optional(x, read_u64)); }},
      {"metadata", false, [](json::Value& x, R& r) { return assign(r.metadata, read_optional(x, read_any)); }},
  };
  static constexpr RecordSpec<R> kSpec{"struct MutationRecord", "struct MutationRecord with 8 elements", kFields};
  return read_record(v, kSpec);
}

bool operator==(const MutationRecord& a, const MutationRecord& b) {
  const bool same_metadata = a.metadata.has_value() == b.metadata.has_value() &&
                             (!a.metadata || json::equal(*a.metadata, *b.metadata));
  return a.operation_id == b.operation_id && a.sequence == b.sequence && a.transaction_id == b.transaction_id &&
         a.timestamp == b.timestamp && a.operations == b.operations && a.actor == b.actor &&
         a.base_revision == b.base_revision && same_metadata;
}

void write_record_head(std::string& out, const MutationRecord& record) {
  out += "{\"operationId\":";
  json::print_string(out, record.operation_id);
  out += ",\"sequence\":";
  json::print_integer(out, record.sequence);
  out += ",\"transactionId\":";
  json::print_string(out, record.transaction_id);
  out += ",\"timestamp\":";
}

void write_record_tail(std::string& out, const MutationRecord& record) {
  if (record.actor) {
    out += ",\"actor\":";
    json::print_string(out, *record.actor);
  }
  if (record.base_revision) {
    out += ",\"baseRevision\":";
    json::print_integer(out, *record.base_revision);
  }
  if (const json::Value* m = written_metadata(record)) {
    out += ",\"metadata\":";
    json::print(out, *m);
  }
  out += '}';
}

Result<void> write_record(std::string& out, const MutationRecord& record, VectorWriter write_vector) {
  write_record_head(out, record);
  json::print_integer(out, record.timestamp);
  out += ",\"operations\":[";
  bool first = true;
  for (const MutationOperation& op : record.operations) {
    if (!first) out += ',';
    first = false;
    out += "{\"operationType\":";
    json::print_string(out, op.operation_type);
    out += ",\"payload\":";
    TARNWICK_TRY(write_payload(out, op, write_vector));
    out += '}';
  }
  out += ']';
  write_record_tail(out, record);
  return {};
}

}  // namespace tarnwick::store
