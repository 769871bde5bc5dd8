#pragma once
// Encoding a `Msg` tree.

#include "storage/msgpack/msg.hpp"
#include "storage/msgpack/writer.hpp"

namespace tarnwick::msgpack {

// Appends the encoding of `value`, every part in its smallest form. A length or nesting with
// no MessagePack form is recorded in `out` (see Writer).
void encode(const Msg& value, Writer& out);

}  // namespace tarnwick::msgpack
