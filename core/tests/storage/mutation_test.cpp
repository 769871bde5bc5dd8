// Seeded random damage to valid files, fed to every decoding entry point. Under the sanitizer
// build this is the crash, leak and overflow check that the fuzz targets make at larger scale;
// everywhere it checks that the pull readers and the tree readers agree on every input.

#include <gtest/gtest.h>

#include "storage/format/snapshot.hpp"
#include "storage/msgpack/decode.hpp"
#include "storage/msgpack/encode.hpp"
#include "storage/msgpack/skip.hpp"
#include "storage/wal/wal.hpp"
#include "test_support.hpp"

namespace tarnwick::format {
namespace {

using msgpack::Msg;

// Snapshot contents compared through their encodings, so that NaN payloads compare by bits.
Msg canonical(const SnapshotData& d) {
  std::vector<SnapshotNodeRef> nodes;
  std::vector<SnapshotEdgeRef> edges;
  std::vector<SnapshotVectorRef> vectors;
  for (const auto& [id, n] : d.nodes)
    nodes.push_back({id, &n, n.vector ? std::optional(vector_ref(*n.vector)) : std::nullopt});
  for (const auto& [id, e] : d.edges) edges.push_back({id, &e});
  for (const auto& [id, v] : d.vectors) vectors.push_back({id, vector_ref(v)});
  return snapshot_to_msg(nodes, edges, vectors, d.precision, true);
}

Msg canonical(const std::vector<WalEntry>& entries) {
  Msg::Array out;
  for (const auto& e : entries) out.push_back(wal_entry_to_msg(e, VectorPrecision::Float64));
  return Msg::array(std::move(out));
}

// The log read frame by frame through the tree path: the reference for decode_wal.
WalContents reference_wal(std::span<const std::uint8_t> bytes) {
  WalContents out;
  std::size_t p = 0;
  while (p < bytes.size()) {
    if (bytes.size() - p < 4) {
      out.stop = WalStop::TornTail;
      return out;
    }
    const std::size_t length = std::size_t{bytes[p]} << 24 | std::size_t{bytes[p + 1]} << 16 |
                               std::size_t{bytes[p + 2]} << 8 | bytes[p + 3];
    if (length > bytes.size() - p - 4) {
      out.stop = WalStop::TornTail;
      return out;
    }
    msgpack::Cursor c{bytes.subspan(p + 4, length)};
    auto m = msgpack::decode_value(c);
    auto entry = m ? wal_entry_from_msg(*m) : fail(m.error());
    if (!entry) {
      out.stop = WalStop::UnreadableFrame;
      return out;
    }
    out.entries.push_back(std::move(*entry));
    if (c.pos < length) out.overlong_frames.push_back({p, p + 4 + c.pos});
    p += 4 + length;
  }
  return out;
}

class Mutator {
 public:
  explicit Mutator(std::uint64_t seed) : rng_(seed) {}

  Bytes mutate(Bytes b) {
    for (int n = pick(1, 3); n > 0; --n) {
      if (b.empty()) b.push_back(0);
      const std::size_t at = static_cast<std::size_t>(pick(0, static_cast<int>(b.size()) - 1));
      static constexpr std::uint8_t kMarkers[] = {0xc1, 0xc0, 0xdc, 0xdd, 0xde, 0xdf, 0xff, 0x00, 0x7f, 0x80,
                                                  0x8f, 0x90, 0xa0, 0xbf, 0xcf, 0xca, 0xcb, 0xd9, 0xdb, 0xc6};
      switch (pick(0, 5)) {
        case 0: b[at] ^= static_cast<std::uint8_t>(1 << pick(0, 7)); break;
        case 1: b[at] = kMarkers[pick(0, std::size(kMarkers) - 1)]; break;
        case 2: b.resize(at); break;
        case 3: b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(pick(0, 255))); break;
        case 4: b.erase(b.begin() + static_cast<std::ptrdiff_t>(at),
                        b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), at + pick(1, 16))));
                break;
        default: b[at] = static_cast<std::uint8_t>(pick(0, 255)); break;
      }
    }
    return b;
  }

 private:
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  std::mt19937_64 rng_;
};

std::vector<Bytes> valid_snapshots() {
  std::vector<Bytes> out;
  for (std::uint64_t seed = 0; seed < 8; ++seed) {
    test::RecordGenerator gen(seed + 100);
    std::vector<std::pair<std::string, Node>> nodes;
    std::vector<std::pair<std::string, Edge>> edges;
    std::vector<std::pair<std::string, std::vector<double>>> vectors;
    for (int i = 0; i < 3; ++i) {
      Node n = gen.node(false);
      nodes.emplace_back(n.id, std::move(n));
      edges.emplace_back("e", gen.edge());
      vectors.emplace_back("v", gen.vector(false));
    }
    SnapshotData d{std::move(nodes), std::move(edges), std::move(vectors),
                   seed % 2 ? VectorPrecision::Float32 : VectorPrecision::Float64};
    msgpack::Writer w;
    msgpack::encode(canonical(d), w);
    out.push_back(std::move(w).finish().value());
  }
  return out;
}

std::vector<Bytes> valid_logs() {
  std::vector<Bytes> out;
  for (std::uint64_t seed = 0; seed < 8; ++seed) {
    test::RecordGenerator gen(seed + 200);
    std::vector<WalEntry> entries = {
        WalEntry{WalEntry::SetPrecision{VectorPrecision::Float32}}, WalEntry{WalEntry::PutNode{gen.node(true)}},
        WalEntry{WalEntry::PutEdge{gen.edge()}}, WalEntry{WalEntry::PutVector{"v", gen.vector(true)}},
        WalEntry{WalEntry::DeleteNode{"n"}}, WalEntry{WalEntry::ClearAll{}}};
    out.push_back(encode_wal_with_precision(entries, seed % 2 ? VectorPrecision::Float32 : VectorPrecision::Float64)
                      .value());
  }
  return out;
}

TEST(Mutation, SnapshotReadersAgreeOnDamagedFiles) {
  Mutator mutator(1);
  const auto files = valid_snapshots();
  int readable = 0;
  for (int round = 0; round < 1500; ++round) {
    const Bytes bytes = mutator.mutate(files[round % files.size()]);
    msgpack::Cursor c{bytes};
    auto top = msgpack::decode_value(c);
    msgpack::Cursor s{bytes};
    ASSERT_EQ(msgpack::skip_value(s), top.has_value());
    if (top) {
      ASSERT_EQ(s.pos, c.pos);
    }
    auto tree = top ? snapshot_from_msg(*top) : fail(top.error());
    auto pulled = pull_snapshot(bytes);
    auto decoded = decode_snapshot(bytes);
    ASSERT_EQ(pulled.has_value(), tree.has_value()) << round;
    ASSERT_EQ(decoded.has_value(), tree.has_value()) << round;
    if (tree) {
      ++readable;
      EXPECT_EQ(canonical(*pulled), canonical(*tree)) << round;
      EXPECT_EQ(canonical(*decoded), canonical(*tree)) << round;
      EXPECT_FALSE(snapshot_error(bytes)) << round;
    } else {
      auto named = snapshot_error(bytes);
      ASSERT_TRUE(named) << round;
      EXPECT_EQ(named->text(), tree.error().text()) << round;
      EXPECT_EQ(decoded.error().text(), tree.error().text()) << round;
    }
  }
  // The damage must leave some files readable, or the comparison above proves little.
  EXPECT_GT(readable, 50);
}

TEST(Mutation, LogReadersAgreeOnDamagedFiles) {
  Mutator mutator(2);
  const auto files = valid_logs();
  int partial = 0, overlong = 0;
  for (int round = 0; round < 1500; ++round) {
    const Bytes bytes = mutator.mutate(files[round % files.size()]);
    auto got = decode_wal(bytes);
    auto want = reference_wal(bytes);
    ASSERT_EQ(got.stop, want.stop) << round;
    ASSERT_EQ(got.entries.size(), want.entries.size()) << round;
    EXPECT_EQ(canonical(got.entries), canonical(want.entries)) << round;
    // The damage checks take where an entry ends before its frame from here.
    EXPECT_EQ(got.overlong_frames, want.overlong_frames) << round;
    overlong += !want.overlong_frames.empty();
    partial += !got.entries.empty() && got.stop != WalStop::End;
  }
  EXPECT_GT(partial, 50);
  EXPECT_GT(overlong, 20);
}

}  // namespace
}  // namespace tarnwick::format
