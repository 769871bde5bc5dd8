// Telling damage from what a crash can leave, over what `decode_wal` read. The store writes every
// frame exactly and a torn append leaves a prefix of what it wrote, possibly followed by zeros
// where the file grew before its data reached the disk; no MessagePack value is a prefix of
// another. Anything else is damage to real data, which the store refuses rather than drop.

#include <algorithm>
#include <optional>
#include <string>

#include "storage/msgpack/skip.hpp"
#include "storage/wal/wal.hpp"

namespace tarnwick::format {

namespace {

TarnwickError unreadable_frame(std::size_t offset) {
  return corrupt("unreadable WAL frame at byte " + std::to_string(offset));
}

// Where the one whole value at the start of `bytes` ends, if there is one.
std::optional<std::size_t> value_end(std::span<const std::uint8_t> bytes) {
  msgpack::Cursor c{bytes};
  if (!msgpack::skip_value(c)) return std::nullopt;
  return c.pos;
}

// A torn piece of a value: reading it runs out of bytes.
bool cut_short(std::span<const std::uint8_t> bytes) {
  msgpack::Cursor c{bytes};
  return msgpack::skip_value_status(c) == msgpack::HeaderStatus::Truncated;
}

bool all_zero(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// Where the file's final run of zero bytes starts; its size when the last byte is not zero.
std::size_t final_zeros_start(std::span<const std::uint8_t> bytes) {
  std::size_t end = bytes.size();
  while (end > 0 && bytes[end - 1] == 0) --end;
  return end;
}

// The stopping frame whose length runs past the end: a whole entry before the final zeros.
bool whole_entry_before_zeros(std::span<const std::uint8_t> bytes, std::size_t body_start) {
  const std::size_t zeros = final_zeros_start(bytes);
  if (zeros <= body_start) return false;
  const auto room = bytes.subspan(body_start, zeros - body_start);
  const auto end = value_end(room);
  return end && pull_wal_entry(room.first(*end)).has_value();
}

Result<void> check_wal_stop(const WalContents& wal, std::span<const std::uint8_t> bytes) {
  if (wal.stop != WalStop::UnreadableFrame) return {};
  const std::size_t length = wal_frame_length(bytes, wal.stop_offset);
  const std::size_t body_start = wal.stop_offset + kWalFrameHeaderSize;
  const std::size_t zeros = final_zeros_start(bytes);
  const bool torn = length == 0 ? zeros <= wal.stop_offset
                                : zeros <= body_start ||
                                      (zeros < body_start + length &&
                                       cut_short(bytes.subspan(body_start, zeros - body_start)));
  if (torn) return {};
  return fail(unreadable_frame(wal.stop_offset));
}

Result<void> check_wal_lengths(const WalContents& wal, std::span<const std::uint8_t> bytes) {
  // A frame before the stop whose body outlasts its entry: reading would go on at a wrong offset
  // unless all that follows the entry is zeros.
  for (const WalOverlongFrame& f : wal.overlong_frames)
    if (!all_zero(bytes.subspan(f.value_end))) return fail(unreadable_frame(f.offset));
  const std::size_t p = wal.stop_offset;
  const bool declared_past_end = wal.stop == WalStop::TornTail && bytes.size() - p >= kWalFrameHeaderSize;
  if (declared_past_end && whole_entry_before_zeros(bytes, p + kWalFrameHeaderSize)) return fail(unreadable_frame(p));
  return {};
}

}  // namespace

Result<WalContents> decode_wal_refusing_damage(std::span<const std::uint8_t> bytes) {
  WalContents wal = decode_wal(bytes);
  TARNWICK_TRY(check_wal_lengths(wal, bytes));
  TARNWICK_TRY(check_wal_stop(wal, bytes));
  return wal;
}

}  // namespace tarnwick::format
