#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "json/events.hpp"
#include "json/json.hpp"

namespace tarnwick::json {
namespace {

std::string printed(const Value& v) { return print(v); }

std::string printed_double(double d) {
  std::string out;
  print_double(out, d);
  return out;
}

Value parsed(std::string_view text) {
  auto v = parse(text);
  EXPECT_TRUE(v.has_value()) << text << ": " << (v ? "" : v.error().message);
  return v ? *v : Value();
}

// Integral doubles keep a fraction; positional from 1e-5 up to 1e16, exponent form outside.
TEST(JsonPrintDouble, LayoutFollowsTheMagnitude) {
  const std::pair<double, const char*> cases[] = {
      {1.0, "1.0"}, {0.0, "0.0"}, {-0.0, "-0.0"}, {-12.0, "-12.0"}, {1e15, "1000000000000000.0"},
      {0.5, "0.5"}, {1e-5, "0.00001"}, {1.5e-5, "0.000015"}, {123.456, "123.456"},
      {9999999999999998.0, "9999999999999998.0"}, {0.1 + 0.2, "0.30000000000000004"},
      {1e16, "1e16"}, {1e20, "1e20"}, {1e-7, "1e-7"}, {-1.5e-7, "-1.5e-7"}, {9.999e-6, "9.999e-6"},
      {1.2345678901234568e17, "1.2345678901234568e17"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e308"}, {5e-324, "5e-324"},
  };
  for (const auto& [d, text] : cases) EXPECT_EQ(printed_double(d), text) << text;
}

// The layout rule written from the shortest scientific digits, as plainly as possible.
std::string reference_layout(double d) {
  char buf[40];
  std::string sci(buf, std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific).ptr);
  std::string sign;
  if (sci[0] == '-') sign = "-", sci.erase(0, 1);
  const std::size_t e = sci.find('e');
  std::string digits = sci.substr(0, e);
  std::erase(digits, '.');
  const int exp = std::stoi(sci.substr(e + 1));
  const int n = static_cast<int>(digits.size());
  if (exp < -5 || exp >= 16) return sign + digits[0] + (n > 1 ? "." + digits.substr(1) : "") + "e" + std::to_string(exp);
  if (exp < 0) return sign + "0." + std::string(-exp - 1, '0') + digits;
  if (n <= exp + 1) return sign + digits + std::string(exp + 1 - n, '0') + ".0";
  return sign + digits.substr(0, exp + 1) + "." + digits.substr(exp + 1);
}

// The printer the log format was first written with: fixed notation inside the bounds, the
// digits laid out by hand outside them.
std::string first_printer(double d) {
  const double magnitude = std::fabs(d);
  if (magnitude != 0.0 && (magnitude < 1e-5 || magnitude >= 1e16)) return reference_layout(d);
  char buf[400];
  std::string fixed(buf, std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed).ptr);
  return fixed.find('.') == std::string::npos ? fixed + ".0" : fixed;
}

// Families of doubles where a layout slip would show: any bit pattern, subnormals, powers of
// ten and their neighbours, both bounds, integers around 2^53, float32 values, embedding-like
// values. TARNWICK_DOUBLE_CASES raises the count for a long run.
double drawn_double(std::mt19937_64& rng, int family) {
  const auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
  const double sign = (rng() & 1) ? -1.0 : 1.0;
  switch (family) {
    case 0: return std::bit_cast<double>(rng());
    case 1: return sign * std::bit_cast<double>(rng() & ((std::uint64_t{1} << 52) - 1));
    case 2: {
      const double p = std::pow(10.0, static_cast<int>(rng() % 632) - 323);
      return sign * std::nextafter(p, (rng() % 3 == 0) ? 0.0 : (rng() % 2 ? p : HUGE_VAL));
    }
    case 3: return uniform(-10, 10) * std::pow(10.0, static_cast<int>(rng() % 30) - 10);
    case 4: return sign * (9007199254740992.0 + static_cast<double>(static_cast<std::int64_t>(rng() % 4096) - 2048));
    case 5: return sign * static_cast<double>(rng() % 100000);
    case 6: return static_cast<double>(static_cast<float>(uniform(-1, 1)));
    default: return uniform(-1, 1);
  }
}

TEST(JsonPrintDouble, MatchesTheFirstPrinterOnEveryFamily) {
  const char* wanted = std::getenv("TARNWICK_DOUBLE_CASES");
  const long count = wanted ? std::atol(wanted) : 300000;
  std::mt19937_64 rng(99);
  for (long i = 0; i < count; ++i) {
    const double d = drawn_double(rng, static_cast<int>(i % 8));
    if (!std::isfinite(d)) continue;
    ASSERT_EQ(printed_double(d), first_printer(d)) << std::bit_cast<std::uint64_t>(d);
  }
  for (double d : {1e-5, std::nextafter(1e-5, 0.0), std::nextafter(1e-5, 1.0), 1e16, std::nextafter(1e16, 0.0), 0.0,
                   -0.0, 1e300, 5e-324, std::numeric_limits<double>::max(), std::numeric_limits<double>::min()})
    EXPECT_EQ(printed_double(d), first_printer(d));
}

TEST(JsonPrintDouble, NonFiniteIsNull) {
  EXPECT_EQ(printed_double(std::numeric_limits<double>::quiet_NaN()), "null");
  EXPECT_EQ(printed_double(-std::numeric_limits<double>::infinity()), "null");
  EXPECT_TRUE(number(std::numeric_limits<double>::infinity()).is_null());
  EXPECT_TRUE(number(2.0).is_double());
}

TEST(JsonPrintDouble, RandomDoublesRoundTripThroughPrintAndParse) {
  std::mt19937_64 rng(12345);
  for (int i = 0; i < 200000; ++i) {
    const double d = (i % 2) ? std::bit_cast<double>(rng())
                             : std::uniform_real_distribution<double>(-1e7, 1e7)(rng);
    if (!std::isfinite(d)) continue;
    const std::string text = printed_double(d);
    ASSERT_NE(text.find_first_of(".e"), std::string::npos) << text;
    ASSERT_EQ(text.find('+'), std::string::npos) << text;
    auto back = parse(text);
    ASSERT_TRUE(back && back->is_double()) << text;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(back->get_double()), std::bit_cast<std::uint64_t>(d)) << text;
    // Shortest: the same double printed with one significant digit fewer does not read back.
    std::string sig;
    for (char c : text.substr(0, text.find('e')))
      if (c >= '0' && c <= '9') sig += c;
    sig.erase(0, std::min(sig.find_first_not_of('0'), sig.size() - 1));
    while (sig.size() > 1 && sig.back() == '0') sig.pop_back();
    if (sig.size() > 1) {
      char fewer[64];
      std::snprintf(fewer, sizeof fewer, "%.*e", static_cast<int>(sig.size()) - 2, d);
      ASSERT_NE(std::strtod(fewer, nullptr), d) << text << " vs " << fewer;
    }
  }
}

TEST(JsonPrint, CompactWithMinimalStringEscapes) {
  Value v = Object{{"b", Array{1, -2, 3.5, nullptr, true}}, {"a", "q\"\\\n\x01/\x7f"}};
  v.as_object()["u"] = std::numeric_limits<std::uint64_t>::max();
  EXPECT_EQ(printed(v), R"({"b":[1,-2,3.5,null,true],"a":"q\"\\\n\u0001/)"
                        "\x7f"
                        R"(","u":18446744073709551615})");
  EXPECT_EQ(printed(Object{}), "{}");
  EXPECT_EQ(printed(Array{}), "[]");
}

TEST(JsonParse, NumbersAreExactAndTyped) {
  EXPECT_TRUE(parsed("5").is_int64());
  EXPECT_TRUE(parsed("-9223372036854775808").is_int64());
  EXPECT_EQ(parsed("18446744073709551615").get_uint64(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_TRUE(parsed("18446744073709551616").is_double());
  EXPECT_TRUE(parsed("5.0").is_double());
  EXPECT_EQ(parsed("0.1").get_double(), 0.1);
  EXPECT_EQ(parsed("1.7161392603081718e+277").get_double(), 1.7161392603081718e+277);
  EXPECT_EQ(parsed("-97570.19231092371").get_double(), -97570.19231092371);
  EXPECT_TRUE(std::signbit(parsed("-0").get_double()));
  EXPECT_EQ(parsed("1e-400").get_double(), 0.0);
}

TEST(JsonParse, RefusesNumbersBeyondTheDoubleRange) {
  auto v = parse("1e400");
  ASSERT_FALSE(v);
  EXPECT_EQ(v.error().message, "number out of range");
}

// Where each refusal is placed is checked by the table of errors below.
TEST(JsonParse, OnlyWhitespaceMayFollowTheValueAndNestingStopsBelow128) {
  EXPECT_TRUE(parse(" {\"a\": [1, 2]} \n\t "));
  EXPECT_FALSE(parse("{\"a\":1 // c\n}"));
  EXPECT_TRUE(parse(std::string(127, '[') + std::string(127, ']')));
  EXPECT_FALSE(parse(std::string(100000, '[') + std::string(100000, ']')));
}

TEST(JsonParse, NestingOf128IsRefused) {
  auto deep = parse(std::string(128, '[') + std::string(128, ']'));
  ASSERT_FALSE(deep);
  EXPECT_EQ(deep.error().message, "recursion limit exceeded");
}

TEST(JsonParse, LaterOfTwoEqualKeysWinsAtTheFirstPlace) {
  const Value v = parsed(R"({"a":1,"b":2,"a":3})");
  EXPECT_EQ(printed(v), R"({"a":3,"b":2})");
}

// A fault is placed at the last byte read when it was found; column 0 when nothing of its line
// has been read.
TEST(JsonParse, ErrorsArePlacedAtTheByteThatRevealedThem) {
  struct Case {
    std::string text;
    std::string located;
  };
  const Case cases[] = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {"{\n", "EOF while parsing a value at line 2 column 0"},
      {"[1,", "EOF while parsing a value at line 1 column 3"},
      {"{\n  \"a\": trux\n}", "syntax error at line 2 column 11"},
      {"{\n  \"a\": tru\n}", "syntax error at line 3 column 0"},
      {"{} x", "trailing characters at line 1 column 4"},
      {"12 3", "trailing characters at line 1 column 4"},
      {"[1 2]", "syntax error at line 1 column 4"},
      {"[1,]", "syntax error at line 1 column 4"},
      {"[1, 2e999]", "number out of range at line 1 column 9"},
      {"2e999", "number out of range at line 1 column 5"},
      {"-1e400", "number out of range at line 1 column 6"},
      {"1 2", "trailing characters at line 1 column 3"},
      {std::string(128, '['), "recursion limit exceeded at line 1 column 128"},
  };
  for (const Case& c : cases) {
    auto v = parse(c.text);
    ASSERT_FALSE(v) << c.text;
    EXPECT_EQ(with_position(v.error().message, c.text, v.error().offset), c.located) << c.text;
    // The event pass finds the same fault.
    auto events = parse_events(c.text);
    ASSERT_TRUE(events.error) << c.text;
    EXPECT_EQ(events.error->offset, v.error().offset) << c.text;
    EXPECT_EQ(events.error->message, v.error().message) << c.text;
  }
  EXPECT_EQ(position_of("ab\ncd", 4).line, 2u);
  EXPECT_EQ(position_of("ab\ncd", 4).column, 1u);
}

// Each event ends at its own last byte; a number at its last digit, not at the byte after it.
TEST(JsonEvents, KeepRepeatedKeysAndWhereEachEventEnds) {
  const std::string text = "{\"a\": [12, true],\n \"a\": null}";
  const auto stream = parse_events(text);
  ASSERT_FALSE(stream.error);
  std::string seen;
  for (const Event& e : stream.events) seen += print(e.value) + "@" + std::to_string(e.end) + " ";
  EXPECT_EQ(seen, "null@1 \"a\"@4 null@7 12@9 true@15 null@16 \"a\"@22 null@28 null@29 ");
  EXPECT_EQ(parse_events("-0").events.at(0).value.kind(), Kind::double_);
  EXPECT_EQ(parse_events("12").events.at(0).end, 2u);
}

TEST(JsonEqual, NumbersCompareByKindAndValue) {
  EXPECT_FALSE(equal(Value(1), Value(1.0)));
  EXPECT_TRUE(equal(Value(std::int64_t{7}), Value(std::uint64_t{7})));
  EXPECT_FALSE(equal(Value(std::int64_t{-1}), Value(std::numeric_limits<std::uint64_t>::max())));
  EXPECT_TRUE(equal(Value(0.0), Value(-0.0)));
  EXPECT_TRUE(equal(parsed(R"({"a":1,"b":[1,2]})"), parsed(R"({"b":[1,2],"a":1})")));
  EXPECT_FALSE(equal(parsed("[1,2]"), parsed("[2,1]")));
  EXPECT_FALSE(equal(parsed(R"({"a":1})"), parsed(R"({"a":1.0})")));
}

TEST(JsonDescribe, NamesTheValueFound) {
  EXPECT_EQ(describe(Value(nullptr)), "null");
  EXPECT_EQ(describe(Value(false)), "boolean `false`");
  EXPECT_EQ(describe(Value(-7)), "integer `-7`");
  EXPECT_EQ(describe(Value(5.0)), "floating point `5.0`");
  EXPECT_EQ(describe(Value(1.5)), "floating point `1.5`");
  EXPECT_EQ(describe(Value("a\"b")), "string \"a\\\"b\"");
  EXPECT_EQ(describe(Array{}), "sequence");
  EXPECT_EQ(describe(Object{}), "map");
}

}  // namespace
}  // namespace tarnwick::json
