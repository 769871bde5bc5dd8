#include "error/error.hpp"
#include "error/overload.hpp"

namespace tarnwick {

namespace {
using std::to_string;
}  // namespace

std::string_view TarnwickError::code() const {
  static constexpr std::string_view kCodes[] = {
      "invalid_argument", "dimension_mismatch", "range_out_of_bounds", "conflict", "resource_limit",
      "closed",           "format_version",     "corrupt_data",        "storage",  "not_implemented"};
  static_assert(std::size(kCodes) == std::variant_size_v<Variant>);
  return kCodes[v_.index()];
}

std::string TarnwickError::text() const {
  std::string out(code());
  out += ": ";
  std::visit(Overload{
                 [&](const err::DimensionMismatch& e) {
                   out += "expected " + to_string(e.expected) + " dimensions, got " + to_string(e.got);
                 },
                 [&](const err::Conflict& e) {
                   out += "record " + e.record + " has revision " + to_string(e.actual) + ", expected " +
                          to_string(e.expected);
                 },
                 [&](const err::ResourceLimit& e) { out += e.name + " exceeded limit " + to_string(e.limit); },
                 [&](const err::Closed&) { out += "operation on a closed store"; },
                 [&](const err::FormatVersion& e) { out += "unsupported version " + to_string(e.version); },
                 [&](const auto& e) { out += e.message; },
             },
             v_);
  return out;
}

}  // namespace tarnwick
