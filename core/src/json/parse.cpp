#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/value_stack.hpp>

#include <string>

#include "json/events.hpp"
#include "json/json.hpp"
#include "json/parser_detail.hpp"

namespace tarnwick::json {

namespace {

namespace bj = boost::json;

// Builds the value like Boost's own parser, except for the numbers (ExactNumbers).
class Handler : public detail::HandlerLimits {
 public:
  bj::value_stack stack;
  detail::ExactNumbers numbers;

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
  bool on_number_part(bj::string_view s, bj::error_code&) { return numbers.part(s), true; }
  bool on_int64(std::int64_t i, bj::string_view s, bj::error_code&) { return push(numbers.int64(i, s)); }
  bool on_uint64(std::uint64_t u, bj::string_view, bj::error_code&) { return push(numbers.uint64(u)); }
  bool on_double(double, bj::string_view s, bj::error_code& ec) {
    auto d = numbers.double_(s, ec);
    return d && push(*d);
  }
  bool on_bool(bool b, bj::error_code&) { return stack.push_bool(b), true; }
  bool on_null(bj::error_code&) { return stack.push_null(), true; }
  bool on_comment_part(bj::string_view, bj::error_code&) { return true; }
  bool on_comment(bj::string_view, bj::error_code&) { return true; }

 private:
  bool push(const Value& v) {
    switch (v.kind()) {
      case Kind::int64: stack.push_int64(v.get_int64()); break;
      case Kind::uint64: stack.push_uint64(v.get_uint64()); break;
      case Kind::double_: stack.push_double(v.get_double()); break;
      case Kind::null:
      case Kind::bool_:
      case Kind::string:
      case Kind::array:
      case Kind::object: break;  // numbers only
    }
    return true;
  }
};

}  // namespace

std::expected<Value, ParseError> parse(std::string_view text) {
  bj::basic_parser<Handler> parser(detail::parse_options());
  parser.handler().stack.reset();
  bj::error_code ec;
  const std::size_t used = parser.write_some(false, text.data(), text.size(), ec);
  if (!ec && used == text.size()) return parser.handler().stack.release();
  // Parsed in one piece, Boost stops at the start of the token it could not read; where the
  // fault was found byte by byte is known only to the event pass, so that pass tells it.
  if (auto located = parse_events(text).error) return std::unexpected(std::move(*located));
  if (!ec) ec = bj::error::extra_data;
  return std::unexpected(ParseError{detail::error_message(ec), used});
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
