#pragma once
// "wal.msgpack": a plain sequence of frames, each a 4-byte big-endian body length followed by
// the body, one MessagePack map holding one entry. No header, count, checksum or end marker:
// the file grows by whole frames, so only its tail can be torn.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "error/error.hpp"
#include "storage/msgpack/bytes.hpp"
#include "storage/msgpack/msg.hpp"
#include "storage/msgpack/writer.hpp"
#include "storage/wal/wal_entry.hpp"

namespace tarnwick::format {

inline constexpr std::size_t kWalFrameHeaderSize = 4;

// One frame per entry, in order; nothing for no entries. Node and vector payloads are written
// in `precision`. Fails only for a value that has no MessagePack form.
Result<Bytes> encode_wal_with_precision(std::span<const WalEntry> entries, VectorPrecision precision);
// The same written into `out`, which must be empty, and handed on from there without a copy.
Result<std::span<const std::uint8_t>> encode_wal_into(std::span<const WalEntry> entries, VectorPrecision precision,
                                                      msgpack::Writer& out);

// Why reading stopped.
enum class WalStop : std::uint8_t {
  End,             // at the end of the input, after the last frame
  TornTail,        // 1 to 3 bytes left, or a frame whose body runs past the end
  UnreadableFrame  // a complete frame whose body is not a valid entry
};

// A frame read whose body goes on after its entry, which the store never writes.
struct WalOverlongFrame {
  std::size_t offset = 0;     // of its length prefix
  std::size_t value_end = 0;  // where its entry ends in the file

  bool operator==(const WalOverlongFrame&) const = default;
};

struct WalContents {
  std::vector<WalEntry> entries;  // every entry before the stop, in file order
  std::vector<WalOverlongFrame> overlong_frames;  // among those entries' frames, in file order
  WalStop stop = WalStop::End;
  std::size_t stop_offset = 0;  // where reading stopped: the end, or the stopping frame's length prefix
};

// The readable prefix of a log; never fails.
WalContents decode_wal(std::span<const std::uint8_t> bytes);

// The store's reading of "wal.msgpack": `decode_wal`, refusing damage that it would read as a
// torn tail (wal_damage.cpp), with corrupt_data "unreadable WAL frame at byte {offset of the
// frame's length prefix}"; anything a crash can leave reads as `decode_wal` reads it.
// Damage is
//   - an unreadable frame that is not torn: a torn frame's bytes are zeros from its body on (from
//     its length prefix on, for a zero-length frame), or, before the file's final run of zero
//     bytes, which begins within its body, its body holds only a value cut short;
//   - an enlarged length prefix: a frame whose declared length runs past the end of the file, yet
//     whose body begins with one whole, readable entry that ends at or before the file's final run
//     of zero bytes (the end of the file when the last byte is not zero), since a tear cannot
//     leave a whole entry; or a frame within the file whose entry ends before its body does, with
//     a byte that is not zero somewhere after the entry, since reading would go on at a wrong
//     offset. Only the frames before the stop and the stopping frame are looked at.
Result<WalContents> decode_wal_refusing_damage(std::span<const std::uint8_t> bytes);

// The body length declared by the frame whose 4-byte prefix starts at `offset` (within `bytes`).
std::size_t wal_frame_length(std::span<const std::uint8_t> bytes, std::size_t offset);

// The tree forms of one entry, and the pull reader of one frame body alone (none whenever the
// tree path would report an error), which also gives where in the body the entry's map ends.
msgpack::Msg wal_entry_to_msg(const WalEntry& entry, VectorPrecision precision);
Result<WalEntry> wal_entry_from_msg(const msgpack::Msg& m);
std::optional<WalEntry> pull_wal_entry(std::span<const std::uint8_t> body, std::size_t* value_end = nullptr);

}  // namespace tarnwick::format
