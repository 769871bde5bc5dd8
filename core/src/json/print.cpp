#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "json/json.hpp"

namespace tarnwick::json {

void print_double(std::string& out, double d) {
  if (!std::isfinite(d)) {
    out += "null";
    return;
  }
  // Shortest round-trip digits, laid out positionally for 1e-5 <= |d| < 1e16 and as d.ddde[-]N
  // otherwise. Comparing with the two bounds as doubles decides exactly as the decimal exponent
  // of the shortest digits would: no double below a bound has shortest digits at or above it.
  // No allocation: a float64 vector prints hundreds of these per record.
  char buf[40];
  const double magnitude = std::fabs(d);
  if (magnitude == 0.0 || (magnitude >= 1e-5 && magnitude < 1e16)) {
    const auto fixed = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed);
    out.append(buf, fixed.ptr);
    if (std::find(buf, fixed.ptr, '.') == fixed.ptr) out += ".0";
    return;
  }
  const auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  std::string_view sci(buf, r.ptr);
  if (sci.front() == '-') {
    out += '-';
    sci.remove_prefix(1);
  }
  const std::size_t e = sci.find('e');
  char digit_buf[24];
  int n = 0;
  for (char c : sci.substr(0, e))
    if (c != '.') digit_buf[n++] = c;
  const std::string_view digits(digit_buf, static_cast<std::size_t>(n));
  std::string_view exp_text = sci.substr(e + 1);
  if (exp_text.front() == '+') exp_text.remove_prefix(1);
  int exp = 0;
  std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exp);

  if (exp < -5 || exp >= 16) {
    out += digits[0];
    if (n > 1) (out += '.').append(digits.substr(1));
    out += 'e';
    char exp_buf[8];
    out.append(exp_buf, std::to_chars(exp_buf, exp_buf + sizeof exp_buf, exp).ptr);
  } else if (exp < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exp - 1), '0');
    out += digits;
  } else if (n <= exp + 1) {
    out += digits;
    out.append(static_cast<std::size_t>(exp + 1 - n), '0');
    out += ".0";
  } else {
    out.append(digits.substr(0, static_cast<std::size_t>(exp + 1)));
    out += '.';
    out.append(digits.substr(static_cast<std::size_t>(exp + 1)));
  }
}

void print_string(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  const auto plain = [](char c) { return static_cast<unsigned char>(c) >= 0x20 && c != '"' && c != '\\'; };
  out += '"';
  // Texts are mostly plain: copy each run of characters that need no escape at once.
  for (std::size_t i = 0; i < s.size();) {
    std::size_t run = i;
    while (run < s.size() && plain(s[run])) ++run;
    out.append(s.data() + i, run - i);
    if (run == s.size()) break;
    const char c = s[run];
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: {
        const auto u = static_cast<unsigned char>(c);
        const char escaped[] = {'\\', 'u', '0', '0', kHex[u >> 4], kHex[u & 15]};
        out.append(escaped, sizeof escaped);
      }
    }
    i = run + 1;
  }
  out += '"';
}

namespace {
void print_integer(std::string& out, auto n) {
  char buf[24];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, n).ptr);
}
}  // namespace

void print(std::string& out, const Value& v) {
  switch (v.kind()) {
    case Kind::null: out += "null"; break;
    case Kind::bool_: out += v.get_bool() ? "true" : "false"; break;
    case Kind::int64: print_integer(out, v.get_int64()); break;
    case Kind::uint64: print_integer(out, v.get_uint64()); break;
    case Kind::double_: print_double(out, v.get_double()); break;
    case Kind::string: print_string(out, v.get_string()); break;
    case Kind::array: {
      out += '[';
      bool first = true;
      for (const Value& e : v.get_array()) {
        if (!first) out += ',';
        first = false;
        print(out, e);
      }
      out += ']';
      break;
    }
    case Kind::object: {
      out += '{';
      bool first = true;
      for (const auto& kv : v.get_object()) {
        if (!first) out += ',';
        first = false;
        print_string(out, kv.key());
        out += ':';
        print(out, kv.value());
      }
      out += '}';
      break;
    }
  }
}

std::string print(const Value& v) {
  std::string out;
  print(out, v);
  return out;
}

// Boost's own comparison already follows the rules (integer kinds by value, never equal to a
// double; object key order ignored); this is the one place that relies on it.
bool equal(const Value& a, const Value& b) { return a == b; }

std::string describe(const Value& v) {
  switch (v.kind()) {
    case Kind::null: return "null";
    case Kind::bool_: return v.get_bool() ? "boolean `true`" : "boolean `false`";
    case Kind::int64: return "integer `" + std::to_string(v.get_int64()) + "`";
    case Kind::uint64: return "integer `" + std::to_string(v.get_uint64()) + "`";
    case Kind::double_: {
      std::string out = "floating point `";
      print_double(out, v.get_double());
      return out + "`";
    }
    case Kind::string: {
      std::string out = "string ";
      print_string(out, v.get_string());
      return out;
    }
    case Kind::array: return "sequence";
    case Kind::object: return "map";
  }
  return {};
}

}  // namespace tarnwick::json
