#pragma once
// The engine ranks through the shared prefix sort (model/ranked_rows.hpp).

#include "model/ranked_rows.hpp"

namespace tarnwick::query {

using tarnwick::rank_prefix;
using tarnwick::RankedRow;

}  // namespace tarnwick::query
