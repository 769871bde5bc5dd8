#pragma once
// `Cursor`: the read position over borrowed input bytes, and the reading of one value's
// header. Both decoders (the `Msg` tree decoder and the record pull readers) go through
// `read_header`, so they accept exactly the same inputs.

#include <cstddef>
#include <cstdint>
#include <span>

#include "error/error.hpp"
#include "storage/msgpack/msg.hpp"

namespace tarnwick::msgpack {

struct Cursor {
  std::span<const std::uint8_t> data;
  std::size_t pos = 0;
  // Arrays and maps open around `pos`; readers raise it while they read a container's children.
  std::size_t depth = 0;

  std::size_t remaining() const { return data.size() - pos; }
  // The next n bytes, or "truncated msgpack" with `pos` unchanged.
  Result<std::span<const std::uint8_t>> take(std::uint64_t n);
  // The same without an error value, for the pull readers.
  const std::uint8_t* take_raw(std::uint64_t n) {
    if (n > remaining()) return nullptr;
    const std::uint8_t* p = data.data() + pos;
    pos += n;
    return p;
  }
};

// Room to reserve for n claimed entries before they are read: never more than the bytes left
// (each entry takes at least one) nor kMaxReserve, whatever a corrupt count says.
std::size_t reserve_bound(std::uint64_t n, const Cursor& c);

// One value's header: its kind, and either its scalar or the length that follows.
struct Header {
  Msg::Kind kind = Msg::Kind::Nil;
  std::uint64_t length = 0;  // Bin and Str: bytes; Array: elements; Map: pairs
  bool boolean = false;
  Msg::Int integer;
  double number = 0.0;
};

enum class HeaderStatus : std::uint8_t { Ok, Truncated, UnexpectedMarker, TooDeep };

// Reads a header at `c.pos`. An array or map header is refused (TooDeep) when `c.depth`
// containers are already open at the limit. On failure `c.pos` is left on the marker.
HeaderStatus read_header(Cursor& c, Header& h);

// The error for a failed header at `c.pos`.
TarnwickError header_error(HeaderStatus status, const Cursor& c);
TarnwickError truncated();

}  // namespace tarnwick::msgpack
