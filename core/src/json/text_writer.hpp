#pragma once
// A sink of JSON events that prints compact text into a caller's buffer as the events come, the
// same bytes json::print gives for the value the events describe. Keys are printed as given
// strings, escaped. `out` must outlive the writer.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "json/json.hpp"

namespace tarnwick::json {

class TextWriter {
 public:
  explicit TextWriter(std::string& out) : out_(out) {}

  void begin_object() { open('{'); }
  void end_object() { close('}'); }
  void begin_array() { open('['); }
  void end_array() { close(']'); }
  void key(std::string_view k) {
    separate();
    print_string(out_, k);
    out_ += ':';
    comma_ = false;
  }
  void null() { next_value() += "null"; }
  void string(std::string_view s) { print_string(next_value(), s); }
  void int64(std::int64_t i) { print_integer(next_value(), i); }
  void uint64(std::uint64_t u) { print_integer(next_value(), u); }
  void number(double d) { print_double(next_value(), d); }
  void object(const Object& o) { print(next_value(), o); }
  void doubles(std::span<const double> values) {
    begin_array();
    for (double d : values) number(d);
    end_array();
  }

  // The buffer, placed for one value that the caller prints whole.
  std::string& next_value() {
    separate();
    comma_ = true;
    return out_;
  }

 private:
  void separate() {
    if (comma_) out_ += ',';
  }
  void open(char c) {
    separate();
    out_ += c;
    comma_ = false;
  }
  void close(char c) {
    out_ += c;
    comma_ = true;
  }

  std::string& out_;
  bool comma_ = false;  // whether the next value or key follows another
};

}  // namespace tarnwick::json
