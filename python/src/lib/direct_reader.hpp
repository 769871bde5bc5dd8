#pragma once
// Reading records, plans and values in place, straight from the Python objects, without
// building a JSON value per item: apply's nodes, edges, vectors and metadata, and the query
// functions' arguments. Every key and value is still checked as the general conversion and the
// record readers would check it, fields nobody reads included; the query functions keep only
// what the plan reads.
//
// The direct reader runs no Python code and changes nothing. It takes only exact built-in
// types (dict, list, tuple, str, int within the signed 64-bit range, float, bool, None) in the
// object form of a record, and only values the records accept. At anything else, valid or not,
// it declines, and the caller runs the general conversion from the first item, which then gives
// the exact result or the exact error: everything the direct reader did was pure, so nothing
// observable differs.

#include <Python.h>

#include <expected>
#include <span>
#include <vector>

#include "json/json.hpp"
#include "lib/py_ref.hpp"
#include "model/records.hpp"
#include "query/plan.hpp"
#include "query_exec/graph_snapshot.hpp"

namespace tarnwick::py {

enum class DirectStop {
  Declined,  // no Python exception is pending: the general conversion decides
  Raised,    // a Python exception that must pass up unchanged is pending (MemoryError)
};

template <class T>
using DirectResult = std::expected<T, DirectStop>;

// The plan, when it is made of exact built-in types and reads as a valid plan.
DirectResult<query::QueryPlan> read_plan_directly(PyObject* plan);

// Any value the general conversion takes, as the JSON value it gives.
DirectResult<json::Value> read_value_directly(PyObject* object);

// Records (Node, Edge, VectorEntry) in the items' order.
template <class R>
DirectResult<std::vector<R>> read_records_directly(std::span<const PyRef> items);

// The nodes, then the edges, as snapshot columns that keep what `projection` names; edges
// are only checked when it keeps none. The items
// must stay alive while the columns are built; the columns own copies of all they keep.
DirectResult<query::SnapshotColumns> read_graph_directly(std::span<const PyRef> nodes, std::span<const PyRef> edges,
                                                         query::Projection projection);

}  // namespace tarnwick::py
