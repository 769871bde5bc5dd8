// One MessagePack value: the tree decoder and the skipper must agree on every input, and a
// value that decodes must encode and decode back to itself.

#include <cstdlib>

#include "storage/msgpack/decode.hpp"
#include "storage/msgpack/encode.hpp"
#include "storage/msgpack/skip.hpp"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  msgpack::Cursor c{input};
  auto value = msgpack::decode_value(c);
  msgpack::Cursor s{input};
  const bool skipped = msgpack::skip_value(s);
  if (skipped != value.has_value() || (skipped && s.pos != c.pos)) std::abort();
  if (!value) return 0;

  msgpack::Writer w;
  msgpack::encode(*value, w);
  auto bytes = std::move(w).finish();
  if (!bytes) std::abort();
  msgpack::Cursor again{*bytes};
  auto back = msgpack::decode_value(again);
  if (!back || !(*back == *value) || again.pos != bytes->size()) std::abort();
  return 0;
}
