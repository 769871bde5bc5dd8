#pragma once
// What the parser that builds values (parse.cpp) and the one that lists events (events.cpp)
// share: number events of Boost's basic_parser turned into JSON values, and the error texts.

#include <boost/json/error.hpp>
#include <boost/json/parse_options.hpp>
#include <boost/json/string_view.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json/json.hpp"

namespace tarnwick::json::detail {

// The options every parse of JSON text runs with: standard JSON, nested at most kMaxParseDepth.
inline boost::json::parse_options parse_options() {
  boost::json::parse_options options;
  options.max_depth = kMaxParseDepth;
  return options;
}

// The size limits Boost's basic_parser asks of a handler: those of the value type.
struct HandlerLimits {
  static constexpr std::size_t max_object_size = Object::max_size();
  static constexpr std::size_t max_array_size = Array::max_size();
  static constexpr std::size_t max_key_size = String::max_size();
  static constexpr std::size_t max_string_size = String::max_size();
};

// Boost's own number parsing is not correctly rounded, so every double is re-read from its
// text with std::from_chars.
class ExactNumbers {
 public:
  // A piece of a number split across input chunks.
  void part(boost::json::string_view s) { pending_.append(s.data(), s.size()); }

  // Each takes the last piece of the number's text and gives its value.
  Value int64(std::int64_t i, boost::json::string_view last);
  Value uint64(std::uint64_t u);
  // None, with `ec` set, when the number is beyond the double range.
  std::optional<Value> double_(boost::json::string_view last, boost::json::error_code& ec);

 private:
  std::string_view take(boost::json::string_view last);
  std::string pending_;
};

// The text of a parse failure: "trailing characters", "EOF while parsing a value", ...
std::string error_message(const boost::json::error_code& ec);

}  // namespace tarnwick::json::detail
