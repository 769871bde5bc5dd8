#include <gtest/gtest.h>

#include <limits>

#include "model/validate.hpp"

namespace tarnwick {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Node valid_node() {
  Node n;
  n.id = "n";
  n.type = "t";
  return n;
}

NodeActivation valid_activation() { return NodeActivation{0.5, 0.5, 0, 0, std::nullopt, std::nullopt, std::nullopt}; }

std::string error_of(const Result<>& r) { return r ? "ok" : r.error().text(); }

TEST(ValidateNode, RulesInOrder) {
  Node n = valid_node();
  EXPECT_EQ(error_of(validate_node(n)), "ok");
  n.id = "";
  n.type = "";
  EXPECT_EQ(error_of(validate_node(n)), "invalid_argument: node id must not be empty");
  n.id = " ";
  EXPECT_EQ(error_of(validate_node(n)), "invalid_argument: node type must not be empty");
  n.type = "t";
  n.inserted_at = -1;
  n.vector = std::vector<double>{kInf};
  EXPECT_EQ(error_of(validate_node(n)), "range_out_of_bounds: node timestamps must be finite non-negative numbers");
  n.inserted_at = 0;
  n.updated_at = -1;
  EXPECT_EQ(error_of(validate_node(n)), "range_out_of_bounds: node timestamps must be finite non-negative numbers");
  n.updated_at = 0;
  EXPECT_EQ(error_of(validate_node(n)), "invalid_argument: vector must contain finite values");
  n.vector = std::vector<double>{};
  n.activation = valid_activation();
  n.activation->score = kNaN;
  n.confidence = 2.0;
  EXPECT_EQ(error_of(validate_node(n)), "range_out_of_bounds: activation.score must be a finite number in [0, 1]");
  n.activation->score = 1.0;
  EXPECT_EQ(error_of(validate_node(n)), "range_out_of_bounds: confidence must be a finite number in [0, 1]");
}

TEST(ValidateActivation, UnitIntervalIncludesBothBoundsAndNegativeZero) {
  NodeActivation a = valid_activation();
  for (double ok : {0.0, 1.0, -0.0}) {
    a.score = ok;
    EXPECT_EQ(error_of(validate_activation(a)), "ok") << ok;
  }
  for (double bad : {1.0000001, kNaN, -kInf, -1e-300}) {
    a.score = bad;
    EXPECT_EQ(error_of(validate_activation(a)), "range_out_of_bounds: activation.score must be a finite number in [0, 1]");
  }
  a.score = 0.5;
  a.importance = 1.5;
  EXPECT_EQ(error_of(validate_activation(a)),
            "range_out_of_bounds: activation.importance must be a finite number in [0, 1]");
  a.importance = 0.5;
  a.last_meaningful_activation = -1;
  EXPECT_EQ(error_of(validate_activation(a)),
            "range_out_of_bounds: activation.lastMeaningfulActivation must be a finite non-negative number");
}

TEST(ValidateActivation, InhibitionNeedsLastInhibitedAt) {
  const std::string need =
      "range_out_of_bounds: activation.lastInhibitedAt must be a finite non-negative number when inhibition is set";
  NodeActivation a = valid_activation();
  a.last_inhibited_at = -5;
  EXPECT_EQ(error_of(validate_activation(a)), "ok");
  a.inhibition = 0.5;
  EXPECT_EQ(error_of(validate_activation(a)), need);
  a.last_inhibited_at.reset();
  EXPECT_EQ(error_of(validate_activation(a)), need);
  a.inhibition = 2.0;
  EXPECT_EQ(error_of(validate_activation(a)),
            "range_out_of_bounds: activation.inhibition must be a finite number in [0, 1]");
}

TEST(ValidateActivation, ContextEntriesNameTheirKey) {
  NodeActivation a = valid_activation();
  a.context = ContextMap{};
  a.context->set("home", ContextActivation{0.1, 1});
  a.context->set("work", ContextActivation{2.0, 1});
  EXPECT_EQ(error_of(validate_activation(a)),
            "range_out_of_bounds: activation.context[work].score must be a finite number in [0, 1]");
  a.context->set("work", ContextActivation{0.2, -1});
  EXPECT_EQ(error_of(validate_activation(a)),
            "range_out_of_bounds: activation.context[work].lastMeaningfulActivation must be a finite non-negative number");
}

TEST(ValidateProvenance, RulesInOrder) {
  Node n = valid_node();
  n.observed_at = -1;
  n.source = "";
  EXPECT_EQ(error_of(validate_provenance(n)), "range_out_of_bounds: observedAt must be a finite non-negative number");
  n.observed_at = 0;
  EXPECT_EQ(error_of(validate_provenance(n)), "invalid_argument: source must not be empty");
  n.source = "s";
  n.supersedes = "";
  EXPECT_EQ(error_of(validate_provenance(n)), "invalid_argument: supersedes must not be empty");
  n.supersedes = "x";
  n.derived_from = std::vector<std::string>{"a", ""};
  n.contradicts = std::vector<std::string>{""};
  EXPECT_EQ(error_of(validate_provenance(n)), "invalid_argument: derivedFrom must contain only non-empty strings");
  n.derived_from = std::vector<std::string>{};
  EXPECT_EQ(error_of(validate_provenance(n)), "invalid_argument: contradicts must contain only non-empty strings");
  n.contradicts = std::vector<std::string>{"a", "a"};
  EXPECT_EQ(error_of(validate_provenance(n)), "ok");
}

TEST(ValidateBatch, NodesThenEdgesThenVectors) {
  ChangeBatch b;
  b.put_nodes = {valid_node(), valid_node()};
  b.put_nodes[1].type = "";
  b.put_edges = {Edge{"e", "", "b", "t", std::nullopt, 0, 0}};
  b.put_vectors = {VectorEntry{"", {}}};
  EXPECT_EQ(error_of(validate_batch(b)), "invalid_argument: node type must not be empty");
  b.put_nodes[1].type = "t";
  EXPECT_EQ(error_of(validate_batch(b)), "invalid_argument: edge source, type, and target must not be empty");
  b.put_edges[0] = Edge{"", "a", "b", "t", std::nullopt, -1, 0};
  EXPECT_EQ(error_of(validate_batch(b)), "range_out_of_bounds: edge createdAt must be finite non-negative");
  b.put_edges[0].created_at = 0;
  EXPECT_EQ(error_of(validate_batch(b)), "invalid_argument: vector id must not be empty");
  b.put_vectors[0] = VectorEntry{"v", {1.0, kNaN}};
  EXPECT_EQ(error_of(validate_batch(b)), "invalid_argument: vector must contain finite values");
  b.put_vectors[0].vector = {};
  EXPECT_EQ(error_of(validate_batch(b)), "ok");
}

TEST(ValidateBatch, DeletesAreNotChecked) {
  ChangeBatch b;
  b.delete_node_ids = {"", "x", "x"};
  b.delete_edge_ids = {""};
  b.delete_vector_ids = {""};
  EXPECT_EQ(error_of(validate_batch(b)), "ok");
}

}  // namespace
}  // namespace tarnwick
