#pragma once
// Passing over values without building them, with exactly the checks of `decode_value`: a
// value skipped here decodes there, and the reverse.

#include "storage/msgpack/cursor.hpp"

namespace tarnwick::msgpack {

// Skips one whole value at `c.pos`; false when it would not decode.
bool skip_value(Cursor& c);
// Skips what follows a header already read: the payload of a string or byte string, or the
// children of an array or map.
bool skip_body(Cursor& c, const Header& h);

}  // namespace tarnwick::msgpack
