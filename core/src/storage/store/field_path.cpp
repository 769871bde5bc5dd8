#include "storage/store/field_path.hpp"

#include "storage/store/data_field.hpp"

namespace tarnwick::store {

namespace {
// The one path that names a node's own field rather than a key of its data.
constexpr std::string_view kTypeField = "type";

// Appends the node's type when `path` names it; false, appending nothing, for any other path.
bool printed_type(std::string& out, std::string_view type, std::string_view path) {
  if (path != kTypeField) return false;
  json::print_string(out, type);
  return true;
}
}  // namespace

const json::Value* value_at_path(const json::Object& object, std::string_view path) {
  const json::Object* current = &object;
  for (;;) {
    const std::size_t dot = path.find('.');
    const json::Value* v = current->if_contains(path.substr(0, dot));
    if (v == nullptr || dot == std::string_view::npos) return v;
    current = v->if_object();
    if (current == nullptr) return nullptr;
    path.remove_prefix(dot + 1);
  }
}

json::Value node_field(const Node& node, std::string_view path) {
  if (path == kTypeField) return json::Value(node.type);
  const json::Value* v = value_at_path(node.data, path);
  return v != nullptr ? *v : json::Value(nullptr);
}

bool print_node_field(std::string& out, const Node& node, std::string_view path) {
  if (printed_type(out, node.type, path)) return false;
  const json::Value* v = value_at_path(node.data, path);
  if (v == nullptr || v->is_null()) {
    out += "null";
    return true;
  }
  json::print(out, *v);
  return false;
}

bool print_node_field(std::string& out, const StoredNode& node, std::string_view path) {
  if (printed_type(out, node.type(), path)) return false;
  return DataField::at_path(node.data_bytes(), path).print(out);
}

}  // namespace tarnwick::store
