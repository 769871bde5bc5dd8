#include "storage/store/candidates.hpp"

#include <algorithm>
#include <functional>

#include "storage/store/node_query.hpp"
#include "storage/store/store.hpp"

namespace tarnwick::store {

namespace {

// Whether a value can be equal to another whose key text differs: an object (the same members
// in another order print differently) or a double zero (0.0 and -0.0), at any depth. An index
// looked up with such a value would leave out nodes that the query matches.
bool has_unstable_key_text(const json::Value& v) {
  switch (v.kind()) {
    case json::Kind::object: return true;
    case json::Kind::double_: return v.get_double() == 0.0;
    case json::Kind::array: {
      const json::Array& a = v.get_array();
      return std::any_of(a.begin(), a.end(), has_unstable_key_text);
    }
    case json::Kind::null:
    case json::Kind::bool_:
    case json::Kind::int64:
    case json::Kind::uint64:
    case json::Kind::string: return false;
  }
  return false;
}

// A definition restricted to one node type holds no node of any other type, so it may answer
// only a query that accepts that type alone.
bool type_fits(const SecondaryIndexDefinition& def, const NodeQuery& query) {
  if (!def.node_type) return true;
  if (!query.node_types || query.node_types->empty()) return false;
  return std::all_of(query.node_types->begin(), query.node_types->end(),
                     [&](const std::string& t) { return t == *def.node_type; });
}

// The key text the index holds for the query's values of the definition's fields, written as
// the index writes a node's: the compact JSON of the array of values. None when a field has no
// value in the query or a value could be missed through its key text.
std::optional<std::string> lookup_key(const SecondaryIndexDefinition& def, const json::Object& attributes) {
  std::string key = "[";
  for (const std::string& field : def.fields) {
    const json::Value* v = attributes.if_contains(field);
    if (!v || has_unstable_key_text(*v)) return std::nullopt;
    if (key.size() > 1) key += ',';
    json::print(key, *v);
  }
  key += ']';
  return key;
}

// Whether holding the key already makes a node match: the query tests nothing but the index's
// fields (equal key texts mean equal values) and, at most, the one type the index holds.
bool index_decides(const SecondaryIndexDefinition& def, const NodeQuery& query) {
  const bool no_ranges = !query.attribute_ranges || query.attribute_ranges->empty();
  return query.attributes->size() == def.fields.size() && no_ranges && (!query.node_types || def.node_type);
}

}  // namespace

std::optional<IndexHit> Store::indexed_ids(const NodeQuery& query) const {
  if (!query.attributes || index_definitions_.empty()) return std::nullopt;
  for (const auto& [name, def] : index_definitions_) {
    if (!type_fits(def, query)) continue;
    const std::optional<std::string> key = lookup_key(def, *query.attributes);
    if (!key) continue;
    const auto entries = index_entries_.find(name);
    if (entries == index_entries_.end()) continue;
    const auto ids = entries->second.find(*key);
    if (ids != entries->second.end()) return IndexHit{&ids->second, &def};
  }
  return std::nullopt;
}

std::vector<const TextSet*> Store::type_sets(const std::vector<std::string>& types) const {
  std::vector<const TextSet*> sets;
  for (const std::string& type : types)
    if (const auto it = nodes_by_type_.find(type); it != nodes_by_type_.end()) sets.push_back(&it->second);
  // A type listed twice must not bring its nodes twice.
  std::sort(sets.begin(), sets.end(), std::less<>());
  sets.erase(std::unique(sets.begin(), sets.end()), sets.end());
  return sets;
}

std::optional<std::vector<const TextSet*>> Store::type_only_ids(const NodeQuery& query) const {
  if (!query.node_types || query.attributes || query.attribute_ranges) return std::nullopt;
  return type_sets(*query.node_types);
}

Candidates Store::select_candidates(const NodeQuery& query) const {
  Candidates c;
  if (query.candidate_ids) {
    c.rule = Candidates::Rule::Listed;
    c.listed = *query.candidate_ids;
    c.count = c.listed.size();
    return c;
  }
  if (const std::optional<IndexHit> hit = indexed_ids(query)) {
    c.rule = Candidates::Rule::Indexed;
    c.sets = {hit->ids};
    c.count = hit->ids->size();
    c.all_match = index_decides(*hit->definition, query);
    return c;
  }
  if (auto sets = type_only_ids(query)) {
    c.rule = Candidates::Rule::Typed;
    c.sets = std::move(*sets);
    for (const TextSet* s : c.sets) c.count += s->size();
    // The listed types are then the only condition, and the type sets hold exactly their nodes.
    c.all_match = true;
    return c;
  }
  c.rule = Candidates::Rule::Every;
  c.count = nodes_.size();
  if (query.node_types) {
    // Only nodes of the listed types can match, so walking their sets meets every match that
    // walking the whole map would, in an order no less arbitrary; the count stays the map's.
    c.rule = Candidates::Rule::Typed;
    c.sets = type_sets(*query.node_types);
    return c;
  }
  c.all_match = (!query.attributes || query.attributes->empty()) &&
                (!query.attribute_ranges || query.attribute_ranges->empty());
  return c;
}

}  // namespace tarnwick::store
