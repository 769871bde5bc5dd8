#include <string>

#include "storage/format/precision.hpp"
#include "storage/format/pull.hpp"
#include "storage/format/record_msg.hpp"
#include "storage/format/record_reader.hpp"
#include "storage/msgpack/skip.hpp"
#include "storage/wal/wal.hpp"
#include "storage/wal/wal_keys.hpp"

namespace tarnwick::format {

using msgpack::Msg;

namespace {

std::optional<std::size_t> kind_index(std::string_view text) {
  for (std::size_t i = 0; i < std::size(kWalKinds); ++i)
    if (kWalKinds[i] == text) return i;
  return std::nullopt;
}

enum Kind { kPutNode, kDeleteNode, kPutEdge, kDeleteEdge, kPutVector, kDeleteVector, kClearAll, kSetPrecision };

Result<std::string> entry_id(const Msg& m) {
  const Msg* id = m.get(wal_key::kId);
  if (!id || !id->is(Msg::Kind::Str)) return fail(corrupt("wal entry missing " + std::string(wal_key::kId)));
  return id->as_str();
}

// ---- pull ----

enum Slot { kSlotKind, kSlotNode, kSlotEdge, kSlotId, kSlotVector, kSlotPrecision, kSlots };
constexpr std::string_view kSlotKeys[] = {wal_key::kKind,   wal_key::kNode,   wal_key::kEdge,
                                          wal_key::kId,     wal_key::kVector, wal_key::kPrecision};

// Where the value of each key's first pair starts.
struct Slots {
  std::span<const std::uint8_t> body;
  std::optional<std::size_t> at[kSlots];

  std::optional<pull::Cursor> cursor(Slot s) const {
    if (!at[s]) return std::nullopt;
    return pull::Cursor{body, *at[s], 1};
  }
  std::optional<std::string> text(Slot s) const {
    auto c = cursor(s);
    pull::Header h;
    std::string out;
    if (!c || !pull::header(*c, h) || h.kind != pull::Kind::Str || !read_text_body(*c, h, out)) return std::nullopt;
    return out;
  }
};

}  // namespace

Result<WalEntry> wal_entry_from_msg(const Msg& m) {
  const Msg* kind = m.get(wal_key::kKind);
  if (!kind || !kind->is(Msg::Kind::Str)) return fail(corrupt("wal entry missing kind"));
  const auto k = kind_index(kind->as_str());
  if (!k) return fail(corrupt("unknown wal kind " + kind->as_str()));
  switch (*k) {
    case kPutNode: {
      const Msg* node = m.get(wal_key::kNode);
      if (!node) return fail(corrupt("putNode missing node"));
      TARNWICK_TRY_ASSIGN(auto n, msg_to_node(*node));
      return WalEntry{WalEntry::PutNode{std::move(n)}};
    }
    case kPutEdge: {
      const Msg* edge = m.get(wal_key::kEdge);
      if (!edge) return fail(corrupt("putEdge missing edge"));
      TARNWICK_TRY_ASSIGN(auto e, msg_to_edge(*edge));
      return WalEntry{WalEntry::PutEdge{std::move(e)}};
    }
    case kPutVector: {
      TARNWICK_TRY_ASSIGN(auto id, entry_id(m));
      const Msg* vector = m.get(wal_key::kVector);
      if (!vector || !(vector->is(Msg::Kind::Array) || vector->is(Msg::Kind::Map)))
        return fail(corrupt("putVector missing vector"));
      TARNWICK_TRY_ASSIGN(auto values, msg_vector_f64(*vector));
      return WalEntry{WalEntry::PutVector{std::move(id), std::move(values)}};
    }
    case kDeleteNode:
    case kDeleteEdge:
    case kDeleteVector: {
      TARNWICK_TRY_ASSIGN(auto id, entry_id(m));
      if (*k == kDeleteNode) return WalEntry{WalEntry::DeleteNode{std::move(id)}};
      if (*k == kDeleteEdge) return WalEntry{WalEntry::DeleteEdge{std::move(id)}};
      return WalEntry{WalEntry::DeleteVector{std::move(id)}};
    }
    case kClearAll:
      return WalEntry{WalEntry::ClearAll{}};
    default: {
      const Msg* p = m.get(wal_key::kPrecision);
      auto precision = p && p->is(Msg::Kind::Str) ? precision_from_text(p->as_str()) : std::nullopt;
      if (!precision) return fail(corrupt("invalid WAL vector precision"));
      return WalEntry{WalEntry::SetPrecision{*precision}};
    }
  }
}

std::optional<WalEntry> pull_wal_entry(std::span<const std::uint8_t> body, std::size_t* value_end) {
  // First pass: check that the whole map decodes and note where each key's first value starts.
  Slots slots{body, {}};
  pull::Cursor c{body};
  pull::Header map;
  if (!pull::header(c, map) || map.kind != pull::Kind::Map) return std::nullopt;
  const bool ok = pull::for_each_first(c, map, kSlotKeys, [&](int k, pull::Cursor& cc) {
    slots.at[k] = cc.pos;
    return msgpack::skip_value(cc);
  });
  if (!ok) return std::nullopt;
  if (value_end) *value_end = c.pos;

  const auto kind = slots.text(kSlotKind);
  const auto k = kind ? kind_index(*kind) : std::nullopt;
  if (!k) return std::nullopt;
  switch (*k) {
    case kPutNode: {
      auto nc = slots.cursor(kSlotNode);
      Node n;
      if (!nc || !read_node(*nc, n)) return std::nullopt;
      return WalEntry{WalEntry::PutNode{std::move(n)}};
    }
    case kPutEdge: {
      auto ec = slots.cursor(kSlotEdge);
      Edge e;
      if (!ec || !read_edge(*ec, e)) return std::nullopt;
      return WalEntry{WalEntry::PutEdge{std::move(e)}};
    }
    case kPutVector: {
      auto id = slots.text(kSlotId);
      auto vc = slots.cursor(kSlotVector);
      pull::Header h;
      std::vector<double> values;
      if (!id || !vc || !pull::header(*vc, h) || !(h.kind == pull::Kind::Array || h.kind == pull::Kind::Map) ||
          !read_vector_body(*vc, h, values))
        return std::nullopt;
      return WalEntry{WalEntry::PutVector{std::move(*id), std::move(values)}};
    }
    case kDeleteNode:
    case kDeleteEdge:
    case kDeleteVector: {
      auto id = slots.text(kSlotId);
      if (!id) return std::nullopt;
      if (*k == kDeleteNode) return WalEntry{WalEntry::DeleteNode{std::move(*id)}};
      if (*k == kDeleteEdge) return WalEntry{WalEntry::DeleteEdge{std::move(*id)}};
      return WalEntry{WalEntry::DeleteVector{std::move(*id)}};
    }
    case kClearAll:
      return WalEntry{WalEntry::ClearAll{}};
    default: {
      auto text = slots.text(kSlotPrecision);
      auto precision = text ? precision_from_text(*text) : std::nullopt;
      if (!precision) return std::nullopt;
      return WalEntry{WalEntry::SetPrecision{*precision}};
    }
  }
}

WalContents decode_wal(std::span<const std::uint8_t> bytes) {
  WalContents out;
  std::size_t p = 0;
  while (true) {
    const std::size_t left = bytes.size() - p;
    out.stop_offset = p;
    if (left == 0) return out;  // WalStop::End
    if (left < kWalFrameHeaderSize) break;
    const std::size_t length = wal_frame_length(bytes, p);
    if (length > left - kWalFrameHeaderSize) break;
    std::size_t value_end = 0;
    auto entry = pull_wal_entry(bytes.subspan(p + kWalFrameHeaderSize, length), &value_end);
    if (!entry) {
      out.stop = WalStop::UnreadableFrame;
      return out;
    }
    out.entries.push_back(std::move(*entry));
    if (value_end < length) out.overlong_frames.push_back({p, p + kWalFrameHeaderSize + value_end});
    p += kWalFrameHeaderSize + length;
  }
  out.stop = WalStop::TornTail;
  return out;
}

std::size_t wal_frame_length(std::span<const std::uint8_t> bytes, std::size_t offset) {
  std::size_t length = 0;
  for (std::size_t i = 0; i < kWalFrameHeaderSize; ++i) length = (length << 8) | bytes[offset + i];
  return length;
}

}  // namespace tarnwick::format
