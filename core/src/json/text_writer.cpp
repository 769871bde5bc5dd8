#include "json/text_writer.hpp"

#include <charconv>

namespace tarnwick::json {

namespace {
void print_integer(std::string& out, auto i) {
  char buf[24];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, i).ptr);
}
}  // namespace

void TextWriter::int64(std::int64_t i) { print_integer(next_value(), i); }
void TextWriter::uint64(std::uint64_t u) { print_integer(next_value(), u); }

void TextWriter::object(const Object& o) {
  begin_object();
  for (const auto& kv : o) {
    key(kv.key());
    value(kv.value());
  }
  end_object();
}

void TextWriter::doubles(std::span<const double> values) {
  begin_array();
  for (double d : values) number(d);
  end_array();
}

}  // namespace tarnwick::json
