#include "storage/store/data_type.hpp"

namespace tarnwick::store {

bool matches_data_type(const json::Value& value, std::string_view type_name) {
  if (type_name == "string") return value.is_string();
  if (type_name == "number") return value.is_number();
  if (type_name == "integer") return value.is_int64() || value.is_uint64();
  if (type_name == "boolean") return value.is_bool();
  if (type_name == "object") return value.is_object();
  if (type_name == "array") return value.is_array();
  return false;
}

}  // namespace tarnwick::store
