#include "json/parser_detail.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace tarnwick::json::detail {

std::string_view ExactNumbers::take(boost::json::string_view last) {
  if (pending_.empty()) return {last.data(), last.size()};
  pending_.append(last.data(), last.size());
  return pending_;
}

Value ExactNumbers::int64(std::int64_t i, boost::json::string_view last) {
  // "-0" has no integer form of its own: it reads as the double -0.0.
  const bool negative_zero = i == 0 && take(last).starts_with('-');
  pending_.clear();
  return negative_zero ? Value(-0.0) : Value(i);
}

Value ExactNumbers::uint64(std::uint64_t u) {
  pending_.clear();
  return Value(u);
}

std::optional<Value> ExactNumbers::double_(boost::json::string_view last, boost::json::error_code& ec) {
  // A view of the text: a double is read on every number of every line, so no copy is made
  // unless the rare out-of-range path needs a terminated string.
  const std::string_view text = take(last);
  double d = 0.0;
  auto [ptr, err] = std::from_chars(text.data(), text.data() + text.size(), d);
  if (err == std::errc::result_out_of_range) {
    // Underflow rounds towards zero as strtod does; only overflow is an error.
    d = std::strtod(std::string(text).c_str(), nullptr);
    if (std::isinf(d)) {
      pending_.clear();
      ec = boost::json::error::exponent_overflow;
      return std::nullopt;
    }
  } else if (err != std::errc() || ptr != text.data() + text.size()) {
    pending_.clear();
    ec = boost::json::error::syntax;
    return std::nullopt;
  }
  pending_.clear();
  return Value(d);
}

std::string error_message(const boost::json::error_code& ec) {
  namespace bj = boost::json;
  if (ec == bj::error::extra_data) return "trailing characters";
  if (ec == bj::error::incomplete) return "EOF while parsing a value";
  if (ec == bj::error::too_deep) return "recursion limit exceeded";
  if (ec == bj::error::exponent_overflow) return "number out of range";
  if (ec == bj::error::syntax) return "syntax error";
  return ec.message();
}

}  // namespace tarnwick::json::detail
