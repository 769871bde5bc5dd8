#include <gtest/gtest.h>

#include "storage/msgpack/decode.hpp"
#include "storage/msgpack/encode.hpp"
#include "storage/wal/wal.hpp"
#include "test_support.hpp"

namespace tarnwick::format {
namespace {

using msgpack::Msg;
using test::hex;

Bytes encode(const std::vector<WalEntry>& entries, VectorPrecision p = VectorPrecision::Float64) {
  auto bytes = encode_wal_with_precision(entries, p);
  EXPECT_TRUE(bytes);
  // The frames are the tree encodings of each entry behind their lengths.
  Bytes framed;
  for (const auto& e : entries) {
    msgpack::Writer w;
    msgpack::encode(wal_entry_to_msg(e, p), w);
    Bytes body = std::move(w).finish().value();
    for (int shift = 24; shift >= 0; shift -= 8) framed.push_back(static_cast<std::uint8_t>(body.size() >> shift));
    framed.insert(framed.end(), body.begin(), body.end());
  }
  EXPECT_EQ(*bytes, framed);
  return *bytes;
}

Bytes frame(const Msg& body_msg) {
  msgpack::Writer w;
  msgpack::encode(body_msg, w);
  Bytes body = std::move(w).finish().value();
  Bytes out(4 + body.size());
  for (std::size_t i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(body.size() >> (24 - 8 * i));
  std::copy(body.begin(), body.end(), out.begin() + 4);
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// One entry map read by the tree path, checked against the pull reader on its bytes.
std::string entry_error(const Msg& m) {
  auto tree = wal_entry_from_msg(m);
  const Bytes f = frame(m);
  auto pulled = pull_wal_entry(std::span(f).subspan(4));
  EXPECT_EQ(pulled.has_value(), tree.has_value());
  if (pulled && tree) {
    EXPECT_EQ(*pulled, *tree);
  }
  return tree ? "ok" : tree.error().text();
}

TEST(Wal, FramesOfFixedEntries) {
  EXPECT_EQ(encode({WalEntry{WalEntry::ClearAll{}}}),
            hex("00 00 00 0f 81 a4 6b 69 6e 64 a8 63 6c 65 61 72 41 6c 6c"));
  EXPECT_EQ(encode({WalEntry{WalEntry::DeleteNode{"a"}}}),
            hex("00 00 00 16 82 a4 6b 69 6e 64 aa 64 65 6c 65 74 65 4e 6f 64 65 a2 69 64 a1 61"));
  const Bytes set_f32 = hex("00 00 00 25 82 a4 6b 69 6e 64 ac 73 65 74 50 72 65 63 69 73 69 6f 6e a9 70 72 65 63 69"
                            "73 69 6f 6e a7 66 6c 6f 61 74 33 32");
  EXPECT_EQ(set_f32.size(), 41u);
  EXPECT_EQ(encode({WalEntry{WalEntry::SetPrecision{VectorPrecision::Float32}}}, VectorPrecision::Float64), set_f32);
  EXPECT_EQ(encode({WalEntry{WalEntry::SetPrecision{VectorPrecision::Float32}}}, VectorPrecision::Float32), set_f32);
  EXPECT_EQ(encode({WalEntry{WalEntry::PutVector{"v", {1.0, 0.5}}}}, VectorPrecision::Float32),
            hex("00 00 00 36 83 a4 6b696e64 a9 707574566563746f72 a2 6964 a1 76 a6 766563746f72"
                "81 ae 5f5f7461726e7769636b5f663332 c4 08 0000803f 0000003f"));
  EXPECT_TRUE(encode({}).empty());
}

TEST(Wal, EveryKindRoundTrips) {
  test::RecordGenerator gen(11);
  for (VectorPrecision p : {VectorPrecision::Float64, VectorPrecision::Float32}) {
    const bool exact = p == VectorPrecision::Float32;
    std::vector<WalEntry> entries = {
        WalEntry{WalEntry::SetPrecision{p}},        WalEntry{WalEntry::PutNode{gen.node(exact)}},
        WalEntry{WalEntry::DeleteNode{gen.text()}}, WalEntry{WalEntry::PutEdge{gen.edge()}},
        WalEntry{WalEntry::DeleteEdge{""}},         WalEntry{WalEntry::PutVector{gen.text(), gen.vector(exact)}},
        WalEntry{WalEntry::DeleteVector{"v"}},      WalEntry{WalEntry::ClearAll{}},
        WalEntry{WalEntry::PutNode{gen.node(exact)}},
    };
    auto read = decode_wal(encode(entries, p));
    EXPECT_EQ(read.entries, entries);
    EXPECT_EQ(read.stop, WalStop::End);
  }
}

TEST(Wal, ReadingStopsAtTheFirstFrameItCannotRead) {
  const Bytes a = encode({WalEntry{WalEntry::DeleteNode{"a"}}});
  const Bytes b = encode({WalEntry{WalEntry::DeleteEdge{"b"}}});
  const std::vector<WalEntry> just_a = {WalEntry{WalEntry::DeleteNode{"a"}}};

  for (std::size_t n = 0; n < 4; ++n) {
    auto r = decode_wal(Bytes(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n)));
    EXPECT_TRUE(r.entries.empty());
    EXPECT_EQ(r.stop, n == 0 ? WalStop::End : WalStop::TornTail);
  }
  Bytes short_body = a;  // a value that needs more than its frame, which must not read into the next
  short_body[3] -= 1;
  const struct {
    Bytes wal;
    std::size_t entries;  // how many of just_a come back
    WalStop stop;
  } cases[] = {
      {concat({a, Bytes(b.begin(), b.end() - 1)}), 1, WalStop::TornTail},  // declares more bytes than remain
      {concat({a, hex("00 00 00")}), 1, WalStop::TornTail},                 // 1 to 3 bytes after the last frame
      // An empty or unknown frame is complete but unreadable, and nothing after it is read.
      {concat({a, hex("00 00 00 00"), b}), 1, WalStop::UnreadableFrame},
      {concat({a, frame(Msg::map({{"kind", Msg::str("renameNode")}})), b}), 1, WalStop::UnreadableFrame},
      {concat({frame(Msg::map({{"kind", Msg::str("setPrecision")}, {"precision", Msg::str("FLOAT32")}})), a}), 0,
       WalStop::UnreadableFrame},
      {concat({short_body, hex("61")}), 0, WalStop::UnreadableFrame},
  };
  for (const auto& c : cases) {
    const auto r = decode_wal(c.wal);
    EXPECT_EQ(r.entries, std::vector<WalEntry>(just_a.begin(), just_a.begin() + static_cast<std::ptrdiff_t>(c.entries)));
    EXPECT_EQ(r.stop, c.stop);
  }
  // A body that holds more than one value: the rest is ignored.
  Bytes padded = a;
  padded[3] += 2;
  padded.push_back(0xc1);
  padded.push_back(0xc1);
  auto extra = decode_wal(concat({padded, b}));
  EXPECT_EQ(extra.entries.size(), 2u);
  EXPECT_EQ(extra.stop, WalStop::End);
}

TEST(Wal, EntryErrors) {
  for (const Msg& m : {Msg::map({}), Msg::integer(1), Msg::map({{"kind", Msg::integer(1)}})})
    EXPECT_EQ(entry_error(m), "corrupt_data: wal entry missing kind");
  EXPECT_EQ(entry_error(Msg::map({{"kind", Msg::str("PutNode")}})), "corrupt_data: unknown wal kind PutNode");
  EXPECT_EQ(entry_error(Msg::map({{"kind", Msg::str("putNode")}})), "corrupt_data: putNode missing node");
  EXPECT_EQ(entry_error(Msg::map({{"kind", Msg::str("putNode")}, {"node", Msg()}})), "corrupt_data: node missing id");
  EXPECT_EQ(entry_error(Msg::map({{"kind", Msg::str("putEdge")}})), "corrupt_data: putEdge missing edge");
  EXPECT_EQ(entry_error(Msg::map({{"kind", Msg::str("deleteNode")}, {"id", Msg::integer(1)}})),
            "corrupt_data: wal entry missing id");
  EXPECT_EQ(entry_error(Msg::map({{"kind", Msg::str("deleteVector")}})), "corrupt_data: wal entry missing id");
  EXPECT_EQ(entry_error(Msg::map({{"kind", Msg::str("putVector")}, {"vector", Msg::array({})}})),
            "corrupt_data: wal entry missing id");
  EXPECT_EQ(entry_error(Msg::map({{"kind", Msg::str("putVector")}, {"id", Msg::str("v")}, {"vector", Msg()}})),
            "corrupt_data: putVector missing vector");
  EXPECT_EQ(entry_error(Msg::map({{"kind", Msg::str("putVector")}, {"id", Msg::str("v")}, {"vector", Msg::map({})}})),
            "corrupt_data: vector must be a numeric array or packed Float32 map");
  EXPECT_EQ(entry_error(Msg::map({{"kind", Msg::str("setPrecision")}})), "corrupt_data: invalid WAL vector precision");
  // The first key counts; kinds need nothing beyond their own keys.
  EXPECT_EQ(entry_error(Msg::map({{"kind", Msg::str("clearAll")}, {"kind", Msg::integer(1)}, {"node", Msg::bin({})}})),
            "ok");
  EXPECT_EQ(entry_error(Msg::map({{"id", Msg::str("x")}, {"kind", Msg::str("deleteEdge")}, {"id", Msg::integer(1)}})),
            "ok");
}

}  // namespace
}  // namespace tarnwick::format
