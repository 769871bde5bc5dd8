#pragma once
// The JSON type names of the type schemas: "string", "number", "integer", "boolean", "object",
// "array", compared exactly.

#include <string_view>

#include "json/json.hpp"

namespace tarnwick::store {

// Whether `value` is of the named type. "number" takes every number, "integer" only numbers
// held as integers (never a double, not even 1.0); null and an unknown name match nothing.
bool matches_data_type(const json::Value& value, std::string_view type_name);

}  // namespace tarnwick::store
