#pragma once
// Reading records straight from JSON text, for the files written by hand ("schemas.json",
// "indexes.json"). The record tables and texts are those of reading from a value (reader.hpp);
// in addition a key given twice in one record object is refused, and every fault carries the
// line and column where a streaming reader meets it (json/json.hpp, `position_of`):
//   a value of the wrong kind      at the value's last byte;
//   a key given twice              at the repeated key's closing quote;
//   a missing field                at the record's closing brace;
//   an array too short or too long at its closing bracket;
//   a syntax fault                 at the byte that revealed it, found only when reading gets
//                                  there, so a fault met earlier in the text wins.
// Keys that name no field are skipped unexamined (a syntax fault inside still counts).

#include <bitset>
#include <cassert>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/events.hpp"
#include "model/reader.hpp"
#include "model/seeded_hash.hpp"

namespace tarnwick {

// A cursor over the events of one JSON text. `text` must outlive the reader.
class TextReader {
 public:
  explicit TextReader(std::string_view text);

  // The next event, without or with taking it; the text's fault, placed, when it failed first.
  ReadResult<const json::Event*> peek();
  ReadResult<const json::Event*> next();
  // The next whole value; of two equal keys in an object the later wins, as in `json::parse`.
  ReadResult<json::Value> take_value();
  ReadResult<void> skip_value();
  // The next value through a value reader of the kit; a failure is placed at the value's end.
  template <class F>
  auto read(F read_value) -> std::invoke_result_t<F, json::Value&> {
    TARNWICK_TRY_ASSIGN(auto v, take_value());
    auto r = read_value(v);
    if (!r) return std::unexpected(placed(std::move(r).error(), last_end_));
    return r;
  }
  // Once the top value is read: the fault after it (trailing characters), if any.
  ReadResult<void> finish();

  // `e` with the line and column of `end` bytes read, unless it has a place already.
  ReadError placed(ReadError e, std::size_t end) const;
  std::unexpected<ReadError> fail_at(std::unexpected<ReadError> e, std::size_t end) const {
    return std::unexpected(placed(std::move(e).error(), end));
  }

 private:
  std::string_view text_;
  json::EventStream stream_;
  std::size_t next_ = 0;      // index of the next event
  std::size_t last_end_ = 0;  // end of the last event taken
};

// Reads one JSON text whole with `read` (a function of TextReader&), then refuses anything but
// blanks after the value.
template <class F>
auto read_text(std::string_view text, F read) -> std::invoke_result_t<F, TextReader&> {
  TextReader in(text);
  auto r = read(in);
  if (!r) return r;
  TARNWICK_TRY(in.finish());
  return r;
}

// A JSON array read element by element with `read` (a function of TextReader&).
template <class F>
auto read_list(TextReader& in, F read)
    -> ReadResult<std::vector<typename std::invoke_result_t<F, TextReader&>::value_type>> {
  using List = std::vector<typename std::invoke_result_t<F, TextReader&>::value_type>;
  TARNWICK_TRY_ASSIGN(auto first, in.peek());
  if (first->kind != json::EventKind::array_begin)
    return in.read([](json::Value& v) -> ReadResult<List> { return invalid_type(v, "a sequence"); });
  (void)in.next();
  List out;
  for (;;) {
    TARNWICK_TRY_ASSIGN(auto e, in.peek());
    if (e->kind == json::EventKind::array_end) break;
    TARNWICK_TRY_ASSIGN(auto r, read(in));
    out.push_back(std::move(r));
  }
  (void)in.next();
  return out;
}

// Null means absent; anything else is read by `read` (a function of TextReader&).
template <class F>
auto read_optional(TextReader& in, F read)
    -> ReadResult<std::optional<typename std::invoke_result_t<F, TextReader&>::value_type>> {
  TARNWICK_TRY_ASSIGN(auto e, in.peek());
  if (e->kind == json::EventKind::scalar && e->value.is_null()) {
    (void)in.next();
    return std::nullopt;
  }
  TARNWICK_TRY_ASSIGN(auto r, read(in));
  return std::optional(std::move(r));
}

ReadResult<std::vector<std::string>> read_string_list(TextReader& in);
// An object of strings; of two equal keys the later value wins.
ReadResult<TextMap<std::string>> read_string_map(TextReader& in);

namespace text_detail {

template <class R>
ReadResult<R> read_record_object(TextReader& in, const RecordSpec<R, TextReader>& spec, R record) {
  const auto fields = spec.fields;
  assert(fields.size() <= 64 && "the given-field set holds 64 fields");
  std::bitset<64> given;
  (void)in.next();
  for (;;) {
    TARNWICK_TRY_ASSIGN(auto e, in.next());
    const json::Event& event = *e;
    if (event.kind == json::EventKind::object_end) {
      for (std::size_t i = 0; i < fields.size(); ++i)
        if (fields[i].required && !given[i]) return in.fail_at(missing_field(fields[i].key), event.end);
      return record;
    }
    const std::string_view key = event.value.get_string();
    std::size_t i = 0;
    while (i < fields.size() && fields[i].key != key) ++i;
    if (i == fields.size()) {
      TARNWICK_TRY(in.skip_value());
      continue;
    }
    if (given[i]) return in.fail_at(duplicate_field(key), event.end);
    given[i] = true;
    TARNWICK_TRY(fields[i].read(in, record));
  }
}

template <class R>
ReadResult<R> read_record_array(TextReader& in, const RecordSpec<R, TextReader>& spec, R record) {
  const auto fields = spec.fields;
  (void)in.next();
  std::size_t count = 0;  // elements met so far
  for (;;) {
    TARNWICK_TRY_ASSIGN(auto e, in.peek());
    if (e->kind == json::EventKind::array_end) break;
    // Elements past the last field are only counted, for the error.
    TARNWICK_TRY(count < fields.size() ? fields[count].read(in, record) : in.skip_value());
    ++count;
  }
  const std::size_t end = (*in.next())->end;
  if (count > fields.size()) return in.fail_at(invalid_length(count, "fewer elements in array"), end);
  for (std::size_t i = count; i < fields.size(); ++i)
    if (fields[i].required) return in.fail_at(invalid_length(i, spec.array_description), end);
  return record;
}

}  // namespace text_detail

// Reads a record from an object or an array, with the rules of the value form (reader.hpp).
template <class R>
ReadResult<R> read_record(TextReader& in, const RecordSpec<R, TextReader>& spec, R record = R{}) {
  TARNWICK_TRY_ASSIGN(auto first, in.peek());
  switch (first->kind) {
    case json::EventKind::object_begin: return text_detail::read_record_object(in, spec, std::move(record));
    case json::EventKind::array_begin: return text_detail::read_record_array(in, spec, std::move(record));
    case json::EventKind::object_end:
    case json::EventKind::array_end:
    case json::EventKind::key:
    case json::EventKind::scalar: break;
  }
  return in.read([&](json::Value& v) -> ReadResult<R> { return invalid_type(v, spec.description); });
}

}  // namespace tarnwick
