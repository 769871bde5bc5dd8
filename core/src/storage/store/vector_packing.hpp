#pragma once
// The packed form of float32 vectors inside mutation records. In a float32 store the "vector"
// array of each "putNode" and "putVector" object payload is written as
// {"__tarnwick_f32_hex": text}: per element, the 32 bits of the float32 as 8 lower-case hex
// digits, most significant first ([1, -2.5] -> "3f800000c0200000"). A null element is written
// as the NaN "7fc00000", which reads back as null, so that a record read back can always be
// written again. Reading unpacks whatever the store's precision, accepting either case of hex
// digit; a NaN or an infinity reads as null, every other value as a double.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "error/error.hpp"
#include "json/json.hpp"
#include "storage/store/mutation_record.hpp"
#include "vector/vector_precision.hpp"

namespace tarnwick::store {

// The one key of a packed vector's object.
inline constexpr std::string_view kPackedVectorKey = "__tarnwick_f32_hex";

// Which vector arrays a float32 line packs. A float64 line packs none.
enum class Packing : std::uint8_t {
  // Every one. An element that is not a number or null fails with CorruptData
  // "mutation vector contains a non-number".
  Every,
  // Only arrays whose every element is exactly a float32 value (or null); any other array is
  // kept as it is. Rewriting an old history must not round vectors that a store opened at the
  // wrong precision would otherwise lose.
  ExactOnly,
};

// The record's line, without the line feed. Fails as `Packing::Every` says.
Result<std::string> pack_mutation_vectors(const MutationRecord& record, VectorPrecision precision);

// Appends the record's line, without the line feed, to a reused buffer. On failure `out` holds
// part of the line.
Result<void> append_mutation_line(std::string& out, const MutationRecord& record, VectorPrecision precision,
                                  Packing packing = Packing::Every);

// Appends the packed form of a record's vector (the marker object), as `Packing::Every` writes
// the array of the same values.
void write_packed_vector(std::string& out, std::span<const double> values);

// The values of a packed text. Fails with CorruptData "invalid packed Float32 mutation vector"
// when its length is not a multiple of 8 or a group holds a non-hex character.
Result<json::Array> unpack_f32_hex(std::string_view text);

// Replaces every packed vector of a parsed record object by its array, in place. Array-form
// records and array-form operations are left alone. Fails as `unpack_f32_hex`.
Result<void> unpack_mutation_vectors(json::Value& record);

// Whether every packed vector the record already holds would unpack when its line is read
// back; fails as `unpack_f32_hex`.
Result<void> check_packed_vectors(const MutationRecord& record);

}  // namespace tarnwick::store
