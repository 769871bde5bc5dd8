#include <charconv>
#include <cmath>
#include <cstring>

#include "json/json.hpp"

namespace tarnwick::json {

void print_double(std::string& out, double d) {
  if (!std::isfinite(d)) {
    out += "null";
    return;
  }
  // The shortest round-trip digits come from to_chars as d[.ddd]e±XX[X]; they are laid out
  // positionally for exponents -5 to 15 (an integral value keeps ".0") and as d[.ddd]e[-]N
  // beyond. Read in place, one append: a float64 vector prints hundreds of these per record.
  // Both buffers leave room for the fixed 16-byte copies below, which move at most 16 digits.
  char sci[64];
  const char* const sci_end = std::to_chars(sci, sci + sizeof sci, d, std::chars_format::scientific).ptr;
  char text[64];
  char* t = text;
  const char* lead = sci;
  if (*lead == '-') *t++ = *lead++;
  const char* e = sci_end[-4] == 'e' ? sci_end - 4 : sci_end - 5;
  const char* const fraction = lead + 2;
  const int n = e > lead + 1 ? static_cast<int>(e - fraction) : 0;  // digits after the first
  int exp = 0;
  for (const char* x = e + 2; x != sci_end; ++x) exp = exp * 10 + (*x - '0');
  if (e[1] == '-') exp = -exp;

  // Copies of a fixed size compile to a few moves; the bytes beyond `count` are overwritten next
  // or never read.
  const auto put = [&t](const char* from, int count) {
    std::memcpy(t, from, 16);
    t += count;
  };
  const auto zeros = [&t](int count) {
    std::memset(t, '0', 16);
    t += count;
  };
  if (exp < -5 || exp >= 16) {
    *t++ = *lead;
    if (n > 0) {
      *t++ = '.';
      put(fraction, n);
    }
    *t++ = 'e';
    t = std::to_chars(t, text + sizeof text, exp).ptr;
  } else if (exp < 0) {
    *t++ = '0';
    *t++ = '.';
    zeros(-exp - 1);
    *t++ = *lead;
    put(fraction, n);
  } else if (n <= exp) {
    *t++ = *lead;
    put(fraction, n);
    zeros(exp - n);
    *t++ = '.';
    *t++ = '0';
  } else {
    *t++ = *lead;
    put(fraction, exp);
    *t++ = '.';
    put(fraction + exp, n - exp);
  }
  out.append(text, t);
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
void print_digits(std::string& out, auto n) {
  char buf[24];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, n).ptr);
}
}  // namespace

void print_integer(std::string& out, std::int64_t i) { print_digits(out, i); }
void print_integer(std::string& out, std::uint64_t u) { print_digits(out, u); }

void print(std::string& out, const Object& o) {
  out += '{';
  bool first = true;
  for (const auto& kv : o) {
    if (!first) out += ',';
    first = false;
    print_string(out, kv.key());
    out += ':';
    print(out, kv.value());
  }
  out += '}';
}

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
    case Kind::object: print(out, v.get_object()); break;
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
