#pragma once
// Passing over values without building them, with exactly the checks of `decode_value`: a
// value skipped here decodes there, and the reverse.

#include "storage/msgpack/cursor.hpp"

namespace tarnwick::msgpack {

// Skips one whole value at `c.pos`. On failure the status and `c` name the same error that
// `decode_value` reports (see header_error).
HeaderStatus skip_value_status(Cursor& c);
// Skips what follows a header already read: the payload of a string or byte string, or the
// children of an array or map.
HeaderStatus skip_body_status(Cursor& c, const Header& h);

inline bool skip_value(Cursor& c) { return skip_value_status(c) == HeaderStatus::Ok; }
inline bool skip_body(Cursor& c, const Header& h) { return skip_body_status(c, h) == HeaderStatus::Ok; }

}  // namespace tarnwick::msgpack
