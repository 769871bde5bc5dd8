#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "storage/msgpack/decode.hpp"
#include "storage/msgpack/encode.hpp"
#include "storage/msgpack/skip.hpp"
#include "storage/msgpack/utf8.hpp"
#include "test_support.hpp"

namespace tarnwick::msgpack {
namespace {

using test::hex;

Bytes encoded(const Msg& m) {
  Writer w;
  encode(m, w);
  auto bytes = std::move(w).finish();
  EXPECT_TRUE(bytes.has_value());
  return bytes.value_or(Bytes{});
}

Result<Msg> decoded(const Bytes& b) {
  Cursor c{b};
  return decode_value(c);
}

Bytes head(const Msg& m, std::size_t n) {
  Bytes all = encoded(m);
  return Bytes(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(std::min(n, all.size())));
}

std::string error_text(const Bytes& b) {
  auto r = decoded(b);
  return r ? "ok" : r.error().text();
}

TEST(MsgpackEncode, NumbersTakeTheSmallestForm) {
  EXPECT_EQ(encoded(Msg::number(1.0)), hex("01"));
  EXPECT_EQ(encoded(Msg::number(-1.0)), hex("ff"));
  EXPECT_EQ(encoded(Msg::number(300.0)), hex("cd 01 2c"));
  EXPECT_EQ(encoded(Msg::number(-0.0)), hex("00"));
  EXPECT_EQ(encoded(Msg::number(9007199254740991.0)), hex("cf 00 1f ff ff ff ff ff ff"));
  EXPECT_EQ(encoded(Msg::number(9007199254740992.0)), hex("cb 43 40 00 00 00 00 00 00"));
  EXPECT_EQ(encoded(Msg::number(-9007199254740992.0)), hex("cb c3 40 00 00 00 00 00 00"));
  EXPECT_EQ(encoded(Msg::number(0.5)), hex("cb 3f e0 00 00 00 00 00 00"));
  EXPECT_EQ(encoded(Msg::number(std::numeric_limits<double>::infinity())), hex("cb 7f f0 00 00 00 00 00 00"));
  EXPECT_EQ(encoded(Msg::number(-std::numeric_limits<double>::infinity())), hex("cb ff f0 00 00 00 00 00 00"));
  // NaN keeps its exact bits, payload included.
  const double nan = std::bit_cast<double>(std::uint64_t{0x7ff8000000000123});
  EXPECT_EQ(encoded(Msg::number(nan)), hex("cb 7f f8 00 00 00 00 01 23"));
  // A value meant to stay a double is float64 even when integral.
  EXPECT_EQ(encoded(Msg::float64(2.0)), hex("cb 40 00 00 00 00 00 00 00"));
}

TEST(MsgpackEncode, IntegerBoundaries) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "00"},
      {127, "7f"},
      {128, "cc 80"},
      {255, "cc ff"},
      {256, "cd 01 00"},
      {65535, "cd ff ff"},
      {65536, "ce 00 01 00 00"},
      {4294967295, "ce ff ff ff ff"},
      {4294967296, "cf 00 00 00 01 00 00 00 00"},
      {-1, "ff"},
      {-32, "e0"},
      {-33, "d0 df"},
      {-128, "d0 80"},
      {-129, "d1 ff 7f"},
      {-32768, "d1 80 00"},
      {-32769, "d2 ff ff 7f ff"},
      {-2147483648LL, "d2 80 00 00 00"},
      {-2147483649LL, "d3 ff ff ff ff 7f ff ff ff"},
      {std::numeric_limits<std::int64_t>::min(), "d3 80 00 00 00 00 00 00 00"},
      {std::numeric_limits<std::int64_t>::max(), "cf 7f ff ff ff ff ff ff ff"},
  };
  for (const auto& [v, bytes] : cases) EXPECT_EQ(encoded(Msg::integer(v)), hex(bytes)) << v;
}

TEST(MsgpackEncode, UnsignedValuesAboveTheSignedRangeKeepTheirValue) {
  const Bytes top = hex("cf ff ff ff ff ff ff ff fe");
  EXPECT_EQ(encoded(Msg::unsigned_integer(0xfffffffffffffffeULL)), top);
  EXPECT_EQ(encoded(Msg::unsigned_integer(5)), hex("05"));
  auto back = decoded(top);
  ASSERT_TRUE(back);
  ASSERT_TRUE(back->is(Msg::Kind::Int));
  EXPECT_EQ(back->as_int().to_u64(), 0xfffffffffffffffeULL);
  EXPECT_EQ(back->as_int().to_i64(), std::nullopt);
  EXPECT_EQ(back->as_int().to_double(), 18446744073709551614.0);
  // Up to the signed maximum, 0xcf reads as an ordinary signed value.
  auto small = decoded(hex("cf 00 00 00 00 00 00 00 07"));
  ASSERT_TRUE(small);
  EXPECT_EQ(*small, Msg::integer(7));
}

TEST(MsgpackEncode, LengthBoundariesOfEachKind) {
  EXPECT_EQ(head(Msg::str(std::string(31, 'x')), 1), hex("bf"));
  EXPECT_EQ(head(Msg::str(std::string(32, 'x')), 2), hex("d9 20"));
  EXPECT_EQ(head(Msg::str(std::string(255, 'x')), 2), hex("d9 ff"));
  EXPECT_EQ(head(Msg::str(std::string(256, 'x')), 3), hex("da 01 00"));
  EXPECT_EQ(head(Msg::str(std::string(65536, 'x')), 5), hex("db 00 01 00 00"));
  EXPECT_EQ(encoded(Msg::str(std::string(65536, 'x'))).size(), 65541u);

  EXPECT_EQ(encoded(Msg::bin({})), hex("c4 00"));
  EXPECT_EQ(encoded(Msg::bin({1, 2})), hex("c4 02 01 02"));
  EXPECT_EQ(head(Msg::bin(Bytes(256, 7)), 3), hex("c5 01 00"));
  EXPECT_EQ(head(Msg::bin(Bytes(65536, 7)), 5), hex("c6 00 01 00 00"));

  EXPECT_EQ(head(Msg::array(Msg::Array(15)), 1), hex("9f"));
  EXPECT_EQ(head(Msg::array(Msg::Array(16)), 3), hex("dc 00 10"));
  EXPECT_EQ(head(Msg::array(Msg::Array(65536)), 5), hex("dd 00 01 00 00"));

  Msg::Map fifteen;
  for (int i = 0; i < 15; ++i) fifteen.emplace_back(Msg(), Msg());
  Msg::Map sixteen = fifteen;
  sixteen.emplace_back(Msg(), Msg());
  EXPECT_EQ(head(Msg::map_of(fifteen), 1), hex("8f"));
  EXPECT_EQ(head(Msg::map_of(sixteen), 3), hex("de 00 10"));

  EXPECT_EQ(encoded(Msg()), hex("c0"));
  EXPECT_EQ(encoded(Msg::boolean(false)), hex("c2"));
  EXPECT_EQ(encoded(Msg::boolean(true)), hex("c3"));
  EXPECT_EQ(encoded(Msg::map({{"a", Msg::integer(1)}})), hex("81 a1 61 01"));
}

TEST(MsgpackEncode, LengthsWithoutAFormAreRefused) {
  Writer w;
  encode_array_header(4294967295ULL, w);
  EXPECT_EQ(w.size(), 5u);
  EXPECT_TRUE(w.ok());
  encode_map_header(4294967296ULL, w);
  EXPECT_EQ(w.size(), 5u);  // nothing written for the refused header
  EXPECT_FALSE(encode_bin_header(1ULL << 40, w));
  auto r = std::move(w).finish();
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().text(), "invalid_argument: msgpack length 4294967296 exceeds 4294967295");
}

TEST(MsgpackEncode, NestingBeyondTheLimitIsRefused) {
  auto nested = [](std::size_t depth) {
    Msg m;
    for (std::size_t i = 0; i < depth; ++i) {
      Msg::Array one;
      one.push_back(std::move(m));
      m = Msg::array(std::move(one));
    }
    return m;
  };
  Writer ok;
  encode(nested(512), ok);
  auto bytes = std::move(ok).finish();
  ASSERT_TRUE(bytes);
  EXPECT_TRUE(decoded(*bytes));  // all that is written decodes

  Writer too_deep;
  encode(nested(513), too_deep);
  auto r = std::move(too_deep).finish();
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().text(), "invalid_argument: msgpack nesting exceeds 512 levels");
}

TEST(MsgpackDecode, EveryKindReadsBack) {
  auto check = [](const char* bytes, const Msg& want) {
    auto m = decoded(hex(bytes));
    ASSERT_TRUE(m) << bytes;
    EXPECT_EQ(*m, want) << bytes;
  };
  check("01", Msg::integer(1));
  check("e0", Msg::integer(-32));
  check("cc ff", Msg::integer(255));
  check("cd 01 2c", Msg::integer(300));
  check("ce ff ff ff ff", Msg::integer(4294967295));
  check("d0 80", Msg::integer(-128));
  check("d1 80 00", Msg::integer(-32768));
  check("d2 80 00 00 00", Msg::integer(-2147483648LL));
  check("d3 ff ff ff ff ff ff ff fe", Msg::integer(-2));
  check("ca 3f c0 00 00", Msg::float64(1.5));
  check("ca 3d cc cc cd", Msg::float64(static_cast<double>(0.1f)));
  check("cb 3f e0 00 00 00 00 00 00", Msg::float64(0.5));
  check("c0", Msg());
  check("c3", Msg::boolean(true));
  check("a3 61 62 63", Msg::str("abc"));
  check("d9 01 7a", Msg::str("z"));
  check("da 00 01 7a", Msg::str("z"));
  check("db 00 00 00 01 7a", Msg::str("z"));
  check("c5 00 02 01 02", Msg::bin({1, 2}));
  check("c6 00 00 00 00", Msg::bin({}));
  check("92 01 a1 61", Msg::array({Msg::integer(1), Msg::str("a")}));
  check("dd 00 00 00 01 c0", Msg::array({Msg()}));
  check("df 00 00 00 01 01 02", Msg::map_of({{Msg::integer(1), Msg::integer(2)}}));
}

TEST(MsgpackDecode, ErrorsNameTheFault) {
  for (const char* h : {"", "dc ff ff", "dd ff ff ff ff 01", "cd 01", "a5 61 62", "c4 03 01"})
    EXPECT_EQ(error_text(hex(h)), "corrupt_data: truncated msgpack") << h;
  // The last fails deep inside, which fails the whole value.
  for (const auto& [h, marker] : {std::pair{"d4", "d4"}, {"c1", "c1"}, {"c7 01 01 00", "c7"}, {"92 01 91 d8", "d8"}})
    EXPECT_EQ(error_text(hex(h)), std::string("corrupt_data: unexpected msgpack marker 0x") + marker) << h;

  const Bytes two = hex("01 02");
  Cursor c{two};
  EXPECT_FALSE(c.take(3));
  EXPECT_EQ(c.pos, 0u);
  EXPECT_TRUE(c.take(2));
  EXPECT_EQ(c.pos, 2u);
}

TEST(MsgpackDecode, StopsBehindTheValue) {
  const Bytes input = hex("91 05 c3 ff");
  Cursor c{input};
  auto m = decode_value(c);
  ASSERT_TRUE(m);
  EXPECT_EQ(*m, Msg::array({Msg::integer(5)}));
  EXPECT_EQ(c.pos, 2u);
}

TEST(MsgpackDecode, NestingIsBoundedWithoutExhaustingTheStack) {
  Bytes ok(512, 0x91);
  ok.push_back(0xc0);
  EXPECT_TRUE(decoded(ok));
  Bytes deep(513, 0x91);
  deep.push_back(0xc0);
  // A long header chain fails at the limit, long before the input runs out.
  const Bytes chain(1'000'000, 0xdc), maps(1'000'000, 0x81);
  for (const Bytes* b : {&std::as_const(deep), &chain, &maps})
    EXPECT_EQ(error_text(*b), "corrupt_data: msgpack nesting exceeds 512 levels");
  Cursor c{maps};
  EXPECT_FALSE(skip_value(c));
}

TEST(MsgpackDecode, MapsKeepOrderRepeatsAndKeysOfAnyKind) {
  // {1: "one", "a": 1, "a": 2, [1]: nil}
  auto m = decoded(hex("84 01 a3 6f 6e 65 a1 61 01 a1 61 02 91 01 c0"));
  ASSERT_TRUE(m);
  ASSERT_EQ(m->as_map().size(), 4u);
  EXPECT_EQ(m->as_map()[0].first, Msg::integer(1));
  EXPECT_EQ(m->as_map()[2].second, Msg::integer(2));
  EXPECT_EQ(m->as_map()[3].first, Msg::array({Msg::integer(1)}));
  ASSERT_NE(m->get("a"), nullptr);
  EXPECT_EQ(*m->get("a"), Msg::integer(1));
  EXPECT_EQ(m->get("one"), nullptr);  // a value is no key
  EXPECT_EQ(Msg::str("a").get("a"), nullptr);
}

TEST(MsgpackDecode, InvalidUtf8IsReplaced) {
  auto m = decoded(hex("a4 61 ff 62 c3"));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->as_str(), "a\xef\xbf\xbd" "b\xef\xbf\xbd");
  auto text = [](const char* h) { return lossy_text(hex(h)); };
  const std::string r = "\xef\xbf\xbd";
  EXPECT_EQ(text("e2 82 ac"), "\xe2\x82\xac");            // valid three-byte sequence
  EXPECT_EQ(text("e2 82 41"), r + "A");                   // truncated sequence is one replacement
  EXPECT_EQ(text("ed a0 80"), r + r + r);                 // surrogates are never valid
  EXPECT_EQ(text("f0 9f 99"), r);                         // cut off at the end
  EXPECT_EQ(text("f4 90 80 80"), r + r + r + r);          // above U+10FFFF
  EXPECT_EQ(text("c0 af"), r + r);                        // overlong
  EXPECT_EQ(text("f0 9f 99 82 21"), "\xf0\x9f\x99\x82!");
}

TEST(MsgpackMsg, DeepValuesAreTornDownWithoutRecursion) {
  Msg m;
  for (int i = 0; i < 100'000; ++i) {
    Msg::Map pair;
    pair.emplace_back(Msg::str("k"), std::move(m));
    m = Msg::map_of(std::move(pair));
  }
  Msg moved = std::move(m);
  moved = Msg::integer(1);  // the deep value is dropped here
  EXPECT_EQ(moved, Msg::integer(1));
}

}  // namespace
}  // namespace tarnwick::msgpack
