#pragma once
// A node's data object taken from a snapshot as its bytes, without decoding it, when those bytes
// are exactly what decoding the object and writing it again gives: text keys, none repeated
// (reading keeps only the later value, so the bytes would change), each value in the one form
// the writer gives it (the smallest headers and integers, finite doubles as float64, no bin or
// ext, valid UTF-8). Any other data is declined, and the caller reads it as a value.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "storage/msgpack/cursor.hpp"

namespace tarnwick::format {

struct DataBytes {
  // Borrowed from the bytes the cursor reads.
  std::span<const std::uint8_t> bytes;
  // How deep it nests, its own map being level 1.
  std::size_t depth = 1;
};

// Takes the data object at the cursor when its bytes are in the writer's form and decode as the
// cursor's reader would decode them (the same limits of nesting and length); otherwise gives
// none and leaves the cursor where it was.
std::optional<DataBytes> take_data_bytes(msgpack::Cursor& c);

}  // namespace tarnwick::format
