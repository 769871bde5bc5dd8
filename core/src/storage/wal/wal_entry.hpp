#pragma once
// One logged change of "wal.msgpack".

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "model/records.hpp"
#include "vector/vector_precision.hpp"

namespace tarnwick::format {

struct WalEntry {
  struct PutNode {
    Node node;
    friend bool operator==(const PutNode&, const PutNode&) = default;
  };
  struct DeleteNode {
    std::string id;
    friend bool operator==(const DeleteNode&, const DeleteNode&) = default;
  };
  struct PutEdge {
    Edge edge;
    friend bool operator==(const PutEdge&, const PutEdge&) = default;
  };
  struct DeleteEdge {
    std::string id;
    friend bool operator==(const DeleteEdge&, const DeleteEdge&) = default;
  };
  struct PutVector {
    std::string id;
    std::vector<double> vector;
    friend bool operator==(const PutVector&, const PutVector&) = default;
  };
  struct DeleteVector {
    std::string id;
    friend bool operator==(const DeleteVector&, const DeleteVector&) = default;
  };
  struct ClearAll {
    friend bool operator==(const ClearAll&, const ClearAll&) = default;
  };
  // The precision of the entries that follow; written as its own text whatever precision the
  // log is encoded in.
  struct SetPrecision {
    VectorPrecision precision = VectorPrecision::Float64;
    friend bool operator==(const SetPrecision&, const SetPrecision&) = default;
  };

  using Variant = std::variant<PutNode, DeleteNode, PutEdge, DeleteEdge, PutVector, DeleteVector, ClearAll,
                               SetPrecision>;
  Variant value;

  friend bool operator==(const WalEntry&, const WalEntry&) = default;
};

// The "kind" text of each variant, in variant order.
inline constexpr std::string_view kWalKinds[] = {"putNode",    "deleteNode",   "putEdge",  "deleteEdge",
                                                 "putVector", "deleteVector", "clearAll", "setPrecision"};

}  // namespace tarnwick::format
