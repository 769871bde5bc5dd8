#include "storage/store/stored_node.hpp"

#include <cstring>
#include <utility>

#include "storage/format/record_reader.hpp"
#include "storage/msgpack/format.hpp"
#include "storage/msgpack/writer.hpp"

namespace tarnwick::store {

namespace {

bool has_tail(const Node& n) {
  return n.activation || n.memory_class || n.confidence || n.source || n.observed_at || n.derived_from ||
         n.supersedes || n.contradicts;
}

std::unique_ptr<Node> tail_of(Node&& n, bool own_id) {
  if (!own_id && !has_tail(n)) return nullptr;
  auto tail = std::make_unique<Node>();
  if (own_id) tail->id = std::move(n.id);
  tail->activation = std::move(n.activation);
  tail->memory_class = n.memory_class;
  tail->confidence = n.confidence;
  tail->source = std::move(n.source);
  tail->observed_at = n.observed_at;
  tail->derived_from = std::move(n.derived_from);
  tail->supersedes = std::move(n.supersedes);
  tail->contradicts = std::move(n.contradicts);
  return tail;
}

}  // namespace

StoredNode::StoredNode(std::string_view key, Node&& node, const format::DataBytes& data)
    : type_(std::move(node.type)),
      own_id_(node.id != key),
      inserted_at_(node.inserted_at),
      updated_at_(node.updated_at),
      revision_(node.revision),
      tail_(tail_of(std::move(node), own_id_)) {
  // An empty map is the one form of one byte, and is kept as no bytes.
  if (data.bytes.size() > 1) keep_data(data.bytes, data.depth);
}

StoredNode::StoredNode(std::string_view key, Node&& node) : StoredNode(key, std::move(node), format::DataBytes{}) {
  if (node.data.empty()) return;
  msgpack::Writer out;
  format::write_data_object(node.data, out);
  // Data nested within the value depth limit always has a form, so the writer cannot fail here.
  keep_data({out.written_at(0), out.size()}, json::nesting_depth(node.data));
}

void StoredNode::keep_data(std::span<const std::uint8_t> bytes, std::size_t depth) {
  data_depth_ = static_cast<std::uint16_t>(depth);
  data_size_ = static_cast<std::uint32_t>(bytes.size());
  data_ = std::make_unique_for_overwrite<std::uint8_t[]>(data_size_);
  std::memcpy(data_.get(), bytes.data(), data_size_);
}

json::Object StoredNode::data() const {
  json::Object out;
  if (data_size_ == 0) return out;
  msgpack::Cursor c{data_bytes()};
  format::read_data_object(c, out);
  return out;
}

std::span<const std::uint8_t> StoredNode::data_bytes() const {
  static constexpr std::uint8_t kEmptyMap[] = {msgpack::marker::kFixmap};
  if (data_size_ == 0) return kEmptyMap;
  return {data_.get(), data_size_};
}

Node StoredNode::to_node(std::string_view key) const {
  Node n = tail_ ? *tail_ : Node{};
  if (!own_id_) n.id = key;
  n.type = type_;
  n.data = data();
  n.inserted_at = inserted_at_;
  n.updated_at = updated_at_;
  n.revision = revision_;
  return n;
}

format::NodeFields StoredNode::fields(std::string_view key) const {
  return {own_id_ ? std::string_view(tail_->id) : key,
          type_,
          nullptr,
          data_bytes(),
          data_depth_,
          inserted_at_,
          updated_at_,
          revision_,
          tail_.get()};
}

}  // namespace tarnwick::store
