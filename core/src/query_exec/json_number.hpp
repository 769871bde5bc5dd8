#pragma once
// How the engine reads numbers out of JSON values (json/json.hpp).

#include "json/json.hpp"

namespace tarnwick::query {

using json::as_double;
using json::finite_number;

}  // namespace tarnwick::query
