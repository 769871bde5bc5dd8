#pragma once
// A JSON text as the stream of events a pull reader walks, each marked with how far the text
// had been read when the event was complete. Readers that must say where a fault lies (the
// definition files read straight into records) walk this instead of a parsed value: an object
// here keeps a key given twice, and every key and value knows where it ends.
//
// The text is fed to Boost's parser one byte at a time, so a syntax fault is placed at the very
// byte that revealed it. Definition files are small; values meant to be fast use `parse`.

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "json/json.hpp"

namespace tarnwick::json {

enum class EventKind { object_begin, object_end, array_begin, array_end, key, scalar };

struct Event {
  EventKind kind;
  // Bytes read when the event was complete: through the bracket, the key's or string's closing
  // quote, the literal's last letter, or the number's last digit.
  std::size_t end = 0;
  Value value;  // the key as a string, or the scalar; null otherwise
};

// The events of every value completed before the first fault, and that fault (with the same
// text and offset `parse` gives), if any. Numbers follow `parse`: exact doubles, "-0" a double.
struct EventStream {
  std::vector<Event> events;
  std::optional<ParseError> error;
};
EventStream parse_events(std::string_view text);

}  // namespace tarnwick::json
