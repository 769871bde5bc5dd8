#include "json/events.hpp"

#include <boost/json/basic_parser_impl.hpp>

#include <string>

#include "json/parser_detail.hpp"

namespace tarnwick::json {

namespace {

namespace bj = boost::json;

class EventHandler : public detail::HandlerLimits {
 public:
  std::vector<Event> events;
  std::size_t read = 0;  // bytes read, the one being fed included
  // Whether a byte is being fed (rather than the end of the text). Fed one byte at a time, the
  // parser learns that a number ended only from the byte after it, which is not the number's.
  bool feeding = true;

  std::size_t number_end() const { return feeding ? read - 1 : read; }

  bool on_document_begin(bj::error_code&) { return true; }
  bool on_document_end(bj::error_code&) { return true; }
  bool on_object_begin(bj::error_code&) { return push(EventKind::object_begin), true; }
  bool on_object_end(std::size_t, bj::error_code&) { return push(EventKind::object_end), true; }
  bool on_array_begin(bj::error_code&) { return push(EventKind::array_begin), true; }
  bool on_array_end(std::size_t, bj::error_code&) { return push(EventKind::array_end), true; }
  bool on_key_part(bj::string_view s, std::size_t, bj::error_code&) { return chars_.append(s), true; }
  bool on_key(bj::string_view s, std::size_t, bj::error_code&) { return push_chars(EventKind::key, s), true; }
  bool on_string_part(bj::string_view s, std::size_t, bj::error_code&) { return chars_.append(s), true; }
  bool on_string(bj::string_view s, std::size_t, bj::error_code&) { return push_chars(EventKind::scalar, s), true; }
  bool on_number_part(bj::string_view s, bj::error_code&) { return numbers_.part(s), true; }
  bool on_int64(std::int64_t i, bj::string_view s, bj::error_code&) { return push_number(numbers_.int64(i, s)); }
  bool on_uint64(std::uint64_t u, bj::string_view, bj::error_code&) { return push_number(numbers_.uint64(u)); }
  bool on_double(double, bj::string_view s, bj::error_code& ec) {
    auto d = numbers_.double_(s, ec);
    return d && push_number(std::move(*d));
  }
  bool on_bool(bool b, bj::error_code&) { return push(EventKind::scalar, Value(b)), true; }
  bool on_null(bj::error_code&) { return push(EventKind::scalar), true; }
  bool on_comment_part(bj::string_view, bj::error_code&) { return true; }
  bool on_comment(bj::string_view, bj::error_code&) { return true; }

 private:
  void push(EventKind kind, Value v = nullptr) { events.push_back(Event{kind, read, std::move(v)}); }
  void push_chars(EventKind kind, bj::string_view last) {
    chars_.append(last);
    push(kind, String(chars_));
    chars_.clear();
  }
  bool push_number(Value v) {
    events.push_back(Event{EventKind::scalar, number_end(), std::move(v)});
    return true;
  }

  std::string chars_;  // the pieces of a key or string
  detail::ExactNumbers numbers_;
};

}  // namespace

EventStream parse_events(std::string_view text) {
  bj::basic_parser<EventHandler> parser(detail::parse_options());
  EventHandler& h = parser.handler();
  bj::error_code ec;
  auto failed = [&](std::size_t offset) {
    // A number out of range is found only once it has ended; it is placed at its last digit.
    if (ec == bj::error::exponent_overflow) offset = h.number_end();
    return EventStream{std::move(h.events), ParseError{detail::error_message(ec), offset}};
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    h.read = i + 1;
    const std::size_t used = parser.write_some(true, text.data() + i, 1, ec);
    if (!ec && used == 1) continue;
    // The parser takes nothing after a complete value but blanks.
    if (!ec) ec = bj::error::extra_data;
    return failed(i + 1);
  }
  h.read = text.size();
  h.feeding = false;
  parser.write_some(false, nullptr, 0, ec);
  if (ec) return failed(text.size());
  return EventStream{std::move(h.events), std::nullopt};
}

}  // namespace tarnwick::json
