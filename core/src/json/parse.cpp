#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/value_stack.hpp>

#include <charconv>
#include <cmath>
#include <string>

#include "json/json.hpp"

namespace tarnwick::json {

namespace {

namespace bj = boost::json;

// Builds the value like Boost's own parser, except that every double is re-read from its
// text with std::from_chars: Boost's number parsing is not correctly rounded.
class Handler {
 public:
  static constexpr std::size_t max_object_size = Object::max_size();
  static constexpr std::size_t max_array_size = Array::max_size();
  static constexpr std::size_t max_key_size = String::max_size();
  static constexpr std::size_t max_string_size = String::max_size();

  bj::value_stack stack;
  std::string number;  // the parts of a number split across input chunks

  std::string_view take_number(bj::string_view last) {
    if (number.empty()) return {last.data(), last.size()};
    number.append(last.data(), last.size());
    return number;
  }

  bool on_document_begin(bj::error_code&) { return true; }
  bool on_document_end(bj::error_code&) { return true; }
  bool on_object_begin(bj::error_code&) { return true; }
  bool on_object_end(std::size_t n, bj::error_code&) { return stack.push_object(n), true; }
  bool on_array_begin(bj::error_code&) { return true; }
  bool on_array_end(std::size_t n, bj::error_code&) { return stack.push_array(n), true; }
  bool on_key_part(bj::string_view s, std::size_t, bj::error_code&) { return stack.push_chars(s), true; }
  bool on_key(bj::string_view s, std::size_t, bj::error_code&) { return stack.push_key(s), true; }
  bool on_string_part(bj::string_view s, std::size_t, bj::error_code&) { return stack.push_chars(s), true; }
  bool on_string(bj::string_view s, std::size_t, bj::error_code&) { return stack.push_string(s), true; }
  bool on_number_part(bj::string_view s, bj::error_code&) { return number.append(s.data(), s.size()), true; }
  bool on_int64(std::int64_t i, bj::string_view s, bj::error_code&) {
    // "-0" has no integer form of its own: it reads as the double -0.0.
    if (i == 0 && take_number(s).starts_with('-')) return stack.push_double(-0.0), true;
    number.clear();
    return stack.push_int64(i), true;
  }
  bool on_uint64(std::uint64_t u, bj::string_view, bj::error_code&) {
    number.clear();
    return stack.push_uint64(u), true;
  }
  bool on_double(double, bj::string_view s, bj::error_code& ec) {
    const std::string text(take_number(s));
    number.clear();
    double d = 0.0;
    auto [ptr, err] = std::from_chars(text.data(), text.data() + text.size(), d);
    if (err == std::errc::result_out_of_range) {
      // Underflow rounds towards zero as strtod does; only overflow is an error.
      d = std::strtod(text.c_str(), nullptr);
      if (std::isinf(d)) {
        ec = bj::error::exponent_overflow;
        return false;
      }
    } else if (err != std::errc() || ptr != text.data() + text.size()) {
      ec = bj::error::syntax;
      return false;
    }
    return stack.push_double(d), true;
  }
  bool on_bool(bool b, bj::error_code&) { return stack.push_bool(b), true; }
  bool on_null(bj::error_code&) { return stack.push_null(), true; }
  bool on_comment_part(bj::string_view, bj::error_code&) { return true; }
  bool on_comment(bj::string_view, bj::error_code&) { return true; }
};

std::string message_for(const bj::error_code& ec) {
  if (ec == bj::error::extra_data) return "trailing characters";
  if (ec == bj::error::incomplete) return "EOF while parsing a value";
  if (ec == bj::error::too_deep) return "recursion limit exceeded";
  if (ec == bj::error::exponent_overflow) return "number out of range";
  if (ec == bj::error::syntax) return "syntax error";
  return ec.message();
}

}  // namespace

std::expected<Value, ParseError> parse(std::string_view text) {
  bj::parse_options options;
  options.max_depth = kMaxParseDepth;
  bj::basic_parser<Handler> parser(options);
  parser.handler().stack.reset();
  bj::error_code ec;
  const std::size_t used = parser.write_some(false, text.data(), text.size(), ec);
  if (!ec && used < text.size()) ec = bj::error::extra_data;
  if (ec) return std::unexpected(ParseError{message_for(ec), used});
  return parser.handler().stack.release();
}

Position position_of(std::string_view text, std::size_t offset) {
  Position p;
  for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++p.line;
      p.column = 0;
    } else {
      ++p.column;
    }
  }
  return p;
}

std::string with_position(std::string_view message, std::string_view text, std::size_t offset) {
  const Position p = position_of(text, offset);
  std::string out(message);
  out += " at line " + std::to_string(p.line) + " column " + std::to_string(p.column);
  return out;
}

}  // namespace tarnwick::json
