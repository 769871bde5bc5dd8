// "wal.msgpack": decode_wal must return the same readable prefix, overlong frames and stop as
// reading each frame through the `Msg` tree, and never fail.

#include <cstdlib>

#include "storage/msgpack/decode.hpp"
#include "storage/wal/wal.hpp"

using namespace tarnwick;
using namespace tarnwick::format;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  const WalContents got = decode_wal(input);

  std::size_t p = 0, read = 0, overlong = 0;
  WalStop stop = WalStop::End;
  while (p < size) {
    if (size - p < 4) {
      stop = WalStop::TornTail;
      break;
    }
    const std::size_t length = std::size_t{data[p]} << 24 | std::size_t{data[p + 1]} << 16 |
                               std::size_t{data[p + 2]} << 8 | data[p + 3];
    if (length > size - p - 4) {
      stop = WalStop::TornTail;
      break;
    }
    msgpack::Cursor c{input.subspan(p + 4, length)};
    auto m = msgpack::decode_value(c);
    auto entry = m ? wal_entry_from_msg(*m) : fail(m.error());
    if (!entry) {
      stop = WalStop::UnreadableFrame;
      break;
    }
    if (read >= got.entries.size() ||
        !(wal_entry_to_msg(*entry, VectorPrecision::Float64) ==
          wal_entry_to_msg(got.entries[read], VectorPrecision::Float64)))
      std::abort();
    const WalOverlongFrame frame{p, p + 4 + c.pos};
    if (c.pos < length && !(overlong < got.overlong_frames.size() && got.overlong_frames[overlong++] == frame))
      std::abort();
    ++read;
    p += 4 + length;
  }
  if (read != got.entries.size() || overlong != got.overlong_frames.size() || stop != got.stop) std::abort();
  return 0;
}
