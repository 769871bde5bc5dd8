#include "model/text_reader.hpp"

namespace tarnwick {

TextReader::TextReader(std::string_view text) : text_(text), stream_(json::parse_events(text)) {}

ReadError TextReader::placed(ReadError e, std::size_t end) const {
  if (e.line != 0) return e;
  const json::Position p = json::position_of(text_, end);
  e.line = p.line;
  e.column = p.column;
  return e;
}

ReadResult<const json::Event*> TextReader::peek() {
  if (next_ < stream_.events.size()) return &stream_.events[next_];
  // Every event before the fault was taken: the reader has reached it. A text without a fault
  // ends after one whole value, which no reader reads past.
  const json::ParseError fault = stream_.error.value_or(json::ParseError{"EOF while parsing a value", text_.size()});
  return std::unexpected(placed(ReadError{fault.message}, fault.offset));
}

ReadResult<const json::Event*> TextReader::next() {
  auto e = peek();
  if (e) {
    ++next_;
    last_end_ = (*e)->end;
  }
  return e;
}

ReadResult<json::Value> TextReader::take_value() {
  TARNWICK_TRY_ASSIGN(auto e, next());
  const json::Event& event = *e;
  switch (event.kind) {
    case json::EventKind::scalar: return event.value;
    case json::EventKind::array_begin: {
      json::Array out;
      for (;;) {
        TARNWICK_TRY_ASSIGN(auto p, peek());
        if (p->kind == json::EventKind::array_end) break;
        auto v = take_value();
        if (!v) return v;
        out.push_back(std::move(*v));
      }
      (void)next();
      return json::Value(std::move(out));
    }
    case json::EventKind::object_begin: {
      json::Object out;
      for (;;) {
        TARNWICK_TRY_ASSIGN(auto k, next());
        if (k->kind == json::EventKind::object_end) break;
        auto v = take_value();
        if (!v) return v;
        out.insert_or_assign(k->value.get_string(), std::move(*v));
      }
      return json::Value(std::move(out));
    }
    case json::EventKind::object_end:
    case json::EventKind::array_end:
    case json::EventKind::key: break;
  }
  assert(false && "the parser hands out no value that starts with this event");
  return read_fail("expected a value");
}

ReadResult<void> TextReader::skip_value() {
  TARNWICK_TRY(take_value());
  return {};
}

ReadResult<void> TextReader::finish() {
  if (!stream_.error) return {};
  return std::unexpected(placed(ReadError{stream_.error->message}, stream_.error->offset));
}

ReadResult<std::vector<std::string>> read_string_list(TextReader& in) {
  return read_list(in, [](TextReader& element) { return element.read(read_string); });
}

ReadResult<TextMap<std::string>> read_string_map(TextReader& in) {
  TARNWICK_TRY_ASSIGN(auto first, in.peek());
  if (first->kind != json::EventKind::object_begin)
    return in.read([](json::Value& v) -> ReadResult<TextMap<std::string>> { return invalid_type(v, "a map"); });
  (void)in.next();
  TextMap<std::string> out;
  for (;;) {
    TARNWICK_TRY_ASSIGN(auto k, in.next());
    if (k->kind == json::EventKind::object_end) return out;
    TARNWICK_TRY_ASSIGN(auto v, in.read(read_string));
    out.insert_or_assign(std::string(k->value.get_string()), std::move(v));
  }
}

}  // namespace tarnwick
