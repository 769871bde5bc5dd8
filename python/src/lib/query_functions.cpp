// The query functions read everything first (nodes, then edges, then the plan) into a snapshot
// that lives for the call only, and keep nothing afterwards.

#include "lib/query_functions.hpp"

#include <optional>
#include <span>
#include <string_view>
#include <string>
#include <utility>
#include <vector>

#include "lib/args.hpp"
#include "lib/direct_reader.hpp"
#include "lib/entry_points.hpp"
#include "lib/exceptions.hpp"
#include "lib/json_bridge.hpp"
#include "query/plan.hpp"
#include "query_exec/engine.hpp"

namespace tarnwick::py {

namespace {

constexpr const char* kEngineLabel = "tarnwick-native";

// A plan and the snapshot it runs over, read from the caller's arguments; nothing here refers
// to a Python object.
struct PreparedQuery {
  query::QueryPlan plan;
  query::GraphSnapshot snapshot;
};

// The general route, the reference for every result and error: each item becomes a JSON value
// and then a record. The first failure wins: no edge is looked at after a bad node, and the
// plan comes last.
PyResult<PreparedQuery> convert_input(std::span<const PyRef> nodes, std::span<const PyRef> edges, PyObject* plan,
                                      std::optional<std::string_view> aggregate_field) {
  auto node_records = records_from_py<Node>(nodes);
  if (!node_records) return error_set();
  auto edge_records = records_from_py<Edge>(edges);
  if (!edge_records) return error_set();
  auto plan_value = py_to_json(plan);
  if (!plan_value) return error_set();
  auto read = query::QueryPlan::deserialize(*plan_value);
  if (!read) return raise(ExceptionKind::TarnwickValueError, read.error().text());
  query::Projection projection = query::Projection::of(*read, aggregate_field);
  return PreparedQuery{std::move(*read),
                       query::GraphSnapshot(std::move(*node_records), std::move(*edge_records), std::move(projection))};
}

// The plan is read first, to know what to keep of each node, but only when reading it runs no
// Python code; whenever the direct reader declines, the general route starts over from the
// first node, so errors still come in the order nodes, edges, plan.
PyResult<PreparedQuery> prepare(std::span<const PyRef> nodes, std::span<const PyRef> edges, PyObject* plan,
                                std::optional<std::string_view> aggregate_field) {
  auto direct_plan = read_plan_directly(plan);
  if (direct_plan) {
    auto columns = read_graph_directly(nodes, edges, query::Projection::of(*direct_plan, aggregate_field));
    if (columns) return PreparedQuery{std::move(*direct_plan), query::GraphSnapshot(std::move(*columns))};
    if (columns.error() == DirectStop::Raised) return error_set();
  } else if (direct_plan.error() == DirectStop::Raised) {
    return error_set();
  }
  return convert_input(nodes, edges, plan, aggregate_field);
}

PyResult<PyRef> engine_info(PyObject&) {
  auto info = checked(PyTuple_New(3));
  if (!info) return error_set();
  const char* labels[] = {"python", kEngineLabel, "host"};
  for (Py_ssize_t i = 0; i < 3; ++i) {
    auto label = checked(PyUnicode_FromString(labels[i]));
    if (!label) return error_set();
    if (PyTuple_SetItem(info->get(), i, label->release()) != 0) return error_set();
  }
  return info;
}

PyResult<PyRef> execute_query_plan(PyObject&, FastArgs args) {
  static constexpr Parameter kParameters[] = {{"nodes", true}, {"edges", true}, {"plan", true}};
  auto bound = bind<3>({nullptr, "execute_query_plan", kParameters}, args);
  if (!bound) return error_set();
  auto nodes = list_arg((*bound)[0], "nodes");
  if (!nodes) return error_set();
  auto edges = list_arg((*bound)[1], "edges");
  if (!edges) return error_set();
  auto input = prepare(*nodes, *edges, (*bound)[2], std::nullopt);
  if (!input) return error_set();
  auto ids = query::execute(input->snapshot, input->plan, nullptr);
  if (!ids) return raise_core(std::move(ids).error());
  return texts_to_py(*ids);
}

PyResult<PyRef> aggregate_query_plan(PyObject&, FastArgs args) {
  static constexpr Parameter kParameters[] = {
      {"nodes", true}, {"edges", true}, {"plan", true}, {"field", true}, {"op", true}};
  auto bound = bind<5>({nullptr, "aggregate_query_plan", kParameters}, args);
  if (!bound) return error_set();
  auto nodes = list_arg((*bound)[0], "nodes");
  if (!nodes) return error_set();
  auto edges = list_arg((*bound)[1], "edges");
  if (!edges) return error_set();
  auto field = str_arg((*bound)[3], "field");
  if (!field) return error_set();
  auto op = str_arg((*bound)[4], "op");
  if (!op) return error_set();
  auto input = prepare(*nodes, *edges, (*bound)[2], *field);
  if (!input) return error_set();
  auto result = query::aggregate(input->snapshot, input->plan, *field, *op);
  if (!result) return raise_core(std::move(result).error());
  auto value = checked(PyFloat_FromDouble(result->value));
  if (!value) return error_set();
  auto count = checked(PyLong_FromUnsignedLongLong(result->count));
  if (!count) return error_set();
  auto pair = checked(PyTuple_New(2));
  if (!pair) return error_set();
  if (PyTuple_SetItem(pair->get(), 0, value->release()) != 0) return error_set();
  if (PyTuple_SetItem(pair->get(), 1, count->release()) != 0) return error_set();
  return pair;
}

}  // namespace

PyMethodDef engine_info_function() {
  return noargs_method<PyObject, &engine_info>("engine_info", "engine_info()\n--\n\n");
}

PyMethodDef execute_query_plan_function() {
  return fastcall_method<PyObject, &execute_query_plan>("execute_query_plan",
                                                        "execute_query_plan(nodes, edges, plan)\n--\n\n");
}

PyMethodDef aggregate_query_plan_function() {
  return fastcall_method<PyObject, &aggregate_query_plan>(
      "aggregate_query_plan", "aggregate_query_plan(nodes, edges, plan, field, op)\n--\n\n");
}

}  // namespace tarnwick::py
