#include "storage/store/vector_packing.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <optional>

namespace tarnwick::store {

namespace {

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

// Every byte's two hex digits, so that a group is four lookups.
constexpr auto kHexPairs = [] {
  constexpr char kHex[] = "0123456789abcdef";
  std::array<char, 512> pairs{};
  for (int b = 0; b < 256; ++b) {
    pairs[2 * b] = kHex[b >> 4];
    pairs[2 * b + 1] = kHex[b & 15];
  }
  return pairs;
}();

char* put_group(char* at, std::uint32_t bits) {
  for (int shift = 24; shift >= 0; shift -= 8, at += 2)
    std::memcpy(at, &kHexPairs[2 * ((bits >> shift) & 0xff)], 2);
  return at;
}

// The packed text of `count` groups whose bits `bits_of(i)` gives, or its error, between the
// marker object's braces. `out` grows once.
template <class BitsOf>
Result<void> write_groups(std::string& out, std::size_t count, BitsOf bits_of) {
  out += "{\"";
  out += kPackedVectorKey;
  out += "\":\"";
  const std::size_t start = out.size();
  out.resize(start + 8 * count + 2);
  char* at = out.data() + start;
  for (std::size_t i = 0; i < count; ++i) {
    TARNWICK_TRY_ASSIGN(const std::uint32_t bits, bits_of(i));
    at = put_group(at, bits);
  }
  std::memcpy(at, "\"}", 2);
  return {};
}

Result<void> write_packed(std::string& out, const json::Array& vector) {
  return write_groups(out, vector.size(), [&](std::size_t i) -> Result<std::uint32_t> {
    const json::Value& e = vector[i];
    if (e.is_null()) return kNullBits;
    const std::optional<double> d = as_double(e);
    if (!d) return fail(corrupt("mutation vector contains a non-number"));
    return std::bit_cast<std::uint32_t>(static_cast<float>(*d));
  });
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
  const json::Value* text = packed ? packed->if_contains(kPackedVectorKey) : nullptr;
  return text ? text->if_string() : nullptr;
}

}  // namespace

void write_packed_vector(std::string& out, std::span<const double> values) {
  // A non-finite value's JSON form is null, which packs as the null pattern.
  (void)write_groups(out, values.size(), [&](std::size_t i) -> Result<std::uint32_t> {
    const double d = values[i];
    return std::isfinite(d) ? std::bit_cast<std::uint32_t>(static_cast<float>(d)) : kNullBits;
  });
}

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
