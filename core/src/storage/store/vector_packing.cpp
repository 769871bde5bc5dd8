#include "storage/store/vector_packing.hpp"

#include <bit>
#include <cstdint>
#include <optional>

namespace tarnwick::store {

namespace {

constexpr std::string_view kMarker = "__tarnwick_f32_hex";
constexpr std::uint32_t kNullBits = 0x7fc00000;  // the quiet NaN, read back as null

std::optional<double> as_double(const json::Value& v) {
  switch (v.kind()) {
    case json::Kind::double_: return v.get_double();
    case json::Kind::int64: return static_cast<double>(v.get_int64());
    case json::Kind::uint64: return static_cast<double>(v.get_uint64());
    case json::Kind::null:
    case json::Kind::bool_:
    case json::Kind::string:
    case json::Kind::array:
    case json::Kind::object: return std::nullopt;
  }
  return std::nullopt;
}

// An integer is a float32 value when its odd part fits the 24-bit significand.
bool fits_f32(std::uint64_t magnitude) {
  return magnitude == 0 || (magnitude >> std::countr_zero(magnitude)) < (std::uint64_t{1} << 24);
}

bool is_exact_f32(const json::Value& v) {
  switch (v.kind()) {
    case json::Kind::null: return true;  // packs as the null pattern
    case json::Kind::double_: {
      const double d = v.get_double();
      return static_cast<double>(static_cast<float>(d)) == d;
    }
    case json::Kind::int64: {
      const std::int64_t i = v.get_int64();
      return fits_f32(i < 0 ? 0 - static_cast<std::uint64_t>(i) : static_cast<std::uint64_t>(i));
    }
    case json::Kind::uint64: return fits_f32(v.get_uint64());
    case json::Kind::bool_:
    case json::Kind::string:
    case json::Kind::array:
    case json::Kind::object: return false;
  }
  return false;
}

Result<void> write_plain(std::string& out, const json::Array& vector) {
  out += '[';
  bool first = true;
  for (const json::Value& e : vector) {
    if (!first) out += ',';
    first = false;
    json::print(out, e);
  }
  out += ']';
  return {};
}

Result<void> write_packed(std::string& out, const json::Array& vector) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "{\"";
  out += kMarker;
  out += "\":\"";
  out.reserve(out.size() + 8 * vector.size() + 2);
  for (const json::Value& e : vector) {
    std::uint32_t bits = kNullBits;
    if (!e.is_null()) {
      const std::optional<double> d = as_double(e);
      if (!d) return fail(corrupt("mutation vector contains a non-number"));
      bits = std::bit_cast<std::uint32_t>(static_cast<float>(*d));
    }
    char group[8];
    for (int i = 7; i >= 0; --i, bits >>= 4) group[i] = kHex[bits & 0xf];
    out.append(group, sizeof group);
  }
  out += "\"}";
  return {};
}

Result<void> write_packed_if_exact(std::string& out, const json::Array& vector) {
  for (const json::Value& e : vector)
    if (!is_exact_f32(e)) return write_plain(out, vector);
  return write_packed(out, vector);
}

VectorWriter writer_for(VectorPrecision precision, Packing packing) {
  switch (precision) {
    case VectorPrecision::Float64: return write_plain;
    case VectorPrecision::Float32: break;
  }
  switch (packing) {
    case Packing::Every: return write_packed;
    case Packing::ExactOnly: return write_packed_if_exact;
  }
  return write_packed;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The packed text of an operation's payload: its "vector" value when that is an object whose
// marker key holds a string. Anything else is not packed and stays as it is.
const json::String* packed_text(std::string_view operation_type, const json::Value& payload) {
  const json::Object* p = payload.if_object();
  if (!p || !carries_vector(operation_type)) return nullptr;
  const json::Value* vector = p->if_contains("vector");
  const json::Object* packed = vector ? vector->if_object() : nullptr;
  const json::Value* text = packed ? packed->if_contains(kMarker) : nullptr;
  return text ? text->if_string() : nullptr;
}

}  // namespace

Result<std::string> pack_mutation_vectors(const MutationRecord& record, VectorPrecision precision) {
  std::string line;
  TARNWICK_TRY(append_mutation_line(line, record, precision));
  return line;
}

Result<void> append_mutation_line(std::string& out, const MutationRecord& record, VectorPrecision precision,
                                  Packing packing) {
  return write_record(out, record, writer_for(precision, packing));
}

Result<json::Array> unpack_f32_hex(std::string_view text) {
  if (text.size() % 8 != 0) return fail(corrupt("invalid packed Float32 mutation vector"));
  json::Array values;
  values.reserve(text.size() / 8);
  for (std::size_t at = 0; at < text.size(); at += 8) {
    std::uint32_t bits = 0;
    for (std::size_t i = at; i < at + 8; ++i) {
      const int digit = hex_digit(text[i]);
      if (digit < 0) return fail(corrupt("invalid packed Float32 mutation vector"));
      bits = (bits << 4) | static_cast<std::uint32_t>(digit);
    }
    values.push_back(json::number(static_cast<double>(std::bit_cast<float>(bits))));
  }
  return values;
}

Result<void> unpack_mutation_vectors(json::Value& record) {
  json::Object* r = record.if_object();
  json::Value* ops = r ? r->if_contains("operations") : nullptr;
  json::Array* list = ops ? ops->if_array() : nullptr;
  if (!list) return {};
  for (json::Value& element : *list) {
    json::Object* op = element.if_object();
    if (!op) continue;
    const json::Value* type = op->if_contains("operationType");
    json::Value* payload = op->if_contains("payload");
    if (!type || !type->is_string() || !payload) continue;
    const json::String* text = packed_text(type->get_string(), *payload);
    if (!text) continue;
    TARNWICK_TRY_ASSIGN(json::Array values, unpack_f32_hex(*text));
    payload->get_object()["vector"] = json::Value(std::move(values));
  }
  return {};
}

Result<void> check_packed_vectors(const MutationRecord& record) {
  for (const MutationOperation& op : record.operations)
    if (const json::String* text = packed_text(op.operation_type, op.payload)) TARNWICK_TRY(unpack_f32_hex(*text));
  return {};
}

}  // namespace tarnwick::store
