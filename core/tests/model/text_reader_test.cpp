#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/text_reader.hpp"

namespace tarnwick {
namespace {

struct Pair {
  std::string a;
  std::vector<std::string> b;
  std::vector<Pair> nested;
};

ReadResult<Pair> read_pair(TextReader& in);

constexpr FieldSpec<Pair, TextReader> kFields[] = {
    {"a", true, [](TextReader& in, Pair& r) { return assign(r.a, in.read(read_string)); }},
    {"b", false, [](TextReader& in, Pair& r) { return assign(r.b, read_string_list(in)); }},
    {"nested", false, [](TextReader& in, Pair& r) { return assign(r.nested, read_list(in, read_pair)); }},
};
constexpr RecordSpec<Pair, TextReader> kSpec{"struct Pair", "struct Pair with 3 elements", kFields};

ReadResult<Pair> read_pair(TextReader& in) { return read_record(in, kSpec); }

std::string outcome(std::string_view text) {
  auto r = read_text(text, read_pair);
  return r ? "ok" : r.error().text();
}

TEST(TextReader, FaultsArePlacedWhereAStreamingReaderMeetsThem) {
  const std::pair<std::string, std::string> cases[] = {
      // A value fault comes before the missing field, as in the value form.
      {R"({"b":[1],"x":1})", "invalid type: integer `1`, expected a string at line 1 column 7"},
      {R"({"b":[]})", "missing field `a` at line 1 column 8"},
      // A nested record's missing field is placed at its own closing brace.
      {"{\"a\":\"v\",\"nested\":[\r\n{\"b\":[]}]}", "missing field `a` at line 2 column 8"},
      {R"({"a":"v","nested":[["w",[],[],1]]})",
       "invalid length 4, expected fewer elements in array at line 1 column 32"},
      // A skipped value is still read through, so a syntax fault inside it counts.
      {R"({"x":{"y":tru}})", "syntax error at line 1 column 14"},
      // Columns count bytes.
      {"{\"\xC3\xA9\":1,\"a\":2}", "invalid type: integer `2`, expected a string at line 1 column 13"},
      {"{\"a\":\"v\"}\r\n", "ok"},
      {"{\"a\":\"v\"}\r\n,", "trailing characters at line 2 column 1"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(outcome(text), expected) << text;
}

TEST(TextReader, ReadsBothShapesNested) {
  auto r = read_text(R"({"nested":[["x",["p","q"]],{"a":"y","b":["r"]}],"a":"top"})", read_pair);
  ASSERT_TRUE(r) << r.error().text();
  EXPECT_EQ(r->a, "top");
  ASSERT_EQ(r->nested.size(), 2u);
  EXPECT_EQ(r->nested[0].b, (std::vector<std::string>{"p", "q"}));
  EXPECT_EQ(r->nested[1].a, "y");
}

}  // namespace
}  // namespace tarnwick
