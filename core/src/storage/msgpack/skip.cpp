#include "storage/msgpack/skip.hpp"

namespace tarnwick::msgpack {

bool skip_value(Cursor& c) {
  Header h;
  return read_header(c, h) == HeaderStatus::Ok && skip_body(c, h);
}

bool skip_body(Cursor& c, const Header& h) {
  switch (h.kind) {
    case Msg::Kind::Bin:
    case Msg::Kind::Str:
      return c.take_raw(h.length) != nullptr;
    case Msg::Kind::Array:
    case Msg::Kind::Map: {
      const std::uint64_t values = h.kind == Msg::Kind::Map ? 2 * h.length : h.length;
      ++c.depth;
      for (std::uint64_t i = 0; i < values; ++i)
        if (!skip_value(c)) return false;
      --c.depth;
      return true;
    }
    default:
      return true;
  }
}

}  // namespace tarnwick::msgpack
