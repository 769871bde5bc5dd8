#pragma once
// How the store holds a node between operations: the fields every node has, inline; the data
// object as the MessagePack bytes a snapshot writes for it (a fraction of the heap a
// `json::Object` takes, and copied as is into each snapshot); the activation and the optional
// fields, which few nodes set, out of line. The id is the key it is stored under and the vector
// lives in the store's vector map, so neither is kept here. A `Node` is built only at the
// boundary: for a caller, or for a schema check; queries and index keys read the bytes.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "json/json.hpp"
#include "model/records.hpp"
#include "storage/format/data_bytes.hpp"
#include "storage/format/record_writer.hpp"

namespace tarnwick::store {

class StoredNode {
 public:
  // Keeps everything but the vector; the node's own id only when it is not `key`, the id it is
  // stored under.
  StoredNode(std::string_view key, Node&& node);
  // The same for a node whose data is left out of it and given as the bytes writing it gives.
  StoredNode(std::string_view key, Node&& node, const format::DataBytes& data);

  std::string_view type() const { return type_; }
  json::Object data() const;
  // The data as its bytes in the snapshot writer's form, for reading a few fields in place
  // (data_field.hpp); an empty object is its one-byte map.
  std::span<const std::uint8_t> data_bytes() const;
  // The node as it was stored under `key`, without a vector.
  Node to_node(std::string_view key) const;
  // What the snapshot writer reads, borrowing this node and `key`.
  format::NodeFields fields(std::string_view key) const;
  // Asks the cache for the data bytes ahead of `fields`; reads nothing of them itself.
  void prefetch_data() const {
    constexpr std::size_t kCacheLine = 64;
    for (std::size_t at = 0; at < data_size_; at += kCacheLine) __builtin_prefetch(data_.get() + at);
  }

 private:
  void keep_data(std::span<const std::uint8_t> bytes, std::size_t depth);

  std::string type_;
  std::unique_ptr<std::uint8_t[]> data_;  // none for an empty object
  std::uint32_t data_size_ = 0;
  bool own_id_ = false;  // the node's own id differs from its key and is kept in `tail_`
  // How deep the data nests, the object itself being level 1: the snapshot writer places the
  // bytes deeper within the file and must refuse them as it would the object.
  std::uint16_t data_depth_ = 1;
  std::int64_t inserted_at_ = 0;
  std::int64_t updated_at_ = 0;
  std::uint64_t revision_ = 0;
  // The activation and the optional fields after it, and the node's own id when `own_id_`; all
  // else in it is left empty. None when the node has none of these.
  std::unique_ptr<Node> tail_;
};

}  // namespace tarnwick::store
