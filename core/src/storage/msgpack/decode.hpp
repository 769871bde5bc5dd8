#pragma once
// Decoding one MessagePack value into a `Msg` tree. Every failure is corrupt_data.

#include <cstdint>

#include "error/error.hpp"
#include "storage/msgpack/cursor.hpp"
#include "storage/msgpack/msg.hpp"

namespace tarnwick::msgpack {

// Reads exactly one value at `c.pos` and leaves the cursor just behind it; what follows is not
// looked at.
Result<Msg> decode_value(Cursor& c);
// The n elements, or n key/value pairs, that follow an array or map header.
Result<Msg::Array> decode_array(Cursor& c, std::uint64_t n);
Result<Msg::Map> decode_map(Cursor& c, std::uint64_t n);

}  // namespace tarnwick::msgpack
