// "snapshot.msgpack": the pull reader must accept exactly what the tree reader accepts, with
// the same contents, and a snapshot that reads must write and read back unchanged.

#include <cstdlib>

#include "storage/format/snapshot.hpp"
#include "storage/msgpack/decode.hpp"

using namespace tarnwick;
using namespace tarnwick::format;

namespace {

struct Refs {
  std::vector<SnapshotNodeRef> nodes;
  std::vector<SnapshotEdgeRef> edges;
  std::vector<SnapshotVectorRef> vectors;

  explicit Refs(const SnapshotData& d) {
    for (const auto& [id, n] : d.nodes)
      nodes.push_back({id, &n, n.vector ? std::optional(vector_ref(*n.vector)) : std::nullopt});
    for (const auto& [id, e] : d.edges) edges.push_back({id, &e});
    for (const auto& [id, v] : d.vectors) vectors.push_back({id, vector_ref(v)});
  }
  // Compared through the tree form, so that NaN payloads compare by their bits.
  msgpack::Msg msg(VectorPrecision p) const { return snapshot_to_msg(nodes, edges, vectors, p, true); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  msgpack::Cursor c{input};
  auto top = msgpack::decode_value(c);
  auto tree = top ? snapshot_from_msg(*top) : fail(top.error());
  auto pulled = pull_snapshot(input);
  auto decoded = decode_snapshot(input);
  if (pulled.has_value() != tree.has_value() || decoded.has_value() != tree.has_value()) std::abort();
  if (!tree) {
    auto named = snapshot_error(input);
    if (!named || named->text() != tree.error().text() || decoded.error().text() != tree.error().text()) std::abort();
    return 0;
  }
  const auto want = Refs(*tree).msg(tree->precision);
  if (!(Refs(*pulled).msg(pulled->precision) == want) || !(Refs(*decoded).msg(decoded->precision) == want))
    std::abort();

  // Written again in its own precision, it reads back the same (float32 files round only once).
  const Refs refs(*decoded);
  auto bytes = encode_snapshot_with_precision(refs.nodes, refs.edges, refs.vectors, decoded->precision, true);
  if (!bytes) return 0;  // data nested deeper than a file may hold
  auto back = decode_snapshot(*bytes);
  if (!back || !(Refs(*back).msg(back->precision) == want)) std::abort();
  return 0;
}
