// Data taken as its bytes against data decoded and written again: the same bytes, the same end,
// the same depth, or declined with the cursor left as it was; over every offset of the fuzzers'
// kept inputs, over the data of every kept log line packed, and over each of those with one
// byte changed, at the top of a file and close to the nesting limit.

#include <gtest/gtest.h>

#include "json/json.hpp"
#include "storage/format/data_bytes.hpp"
#include "storage/format/record_reader.hpp"
#include "storage/format/record_writer.hpp"
#include "storage/msgpack/format.hpp"
#include "storage/fuzz_corpus.hpp"
#include "storage/test_support.hpp"

namespace tarnwick::test {
namespace {

// Whether the data at `pos` was taken as it is; on the way, that it agrees with the decoder.
bool expect_agreement(std::span<const std::uint8_t> bytes, std::size_t pos, std::size_t depth) {
  msgpack::Cursor fast{bytes, pos, depth};
  const auto taken = format::take_data_bytes(fast);
  if (!taken) {
    EXPECT_EQ(fast.pos, pos);
    EXPECT_EQ(fast.depth, depth);
    return false;
  }
  msgpack::Cursor slow{bytes, pos, depth};
  json::Object data;
  EXPECT_TRUE(format::read_data_object(slow, data)) << pos;
  msgpack::Writer out;
  format::write_data_object(data, out);
  EXPECT_TRUE(std::ranges::equal(taken->bytes, std::move(out).finish().value())) << pos;
  EXPECT_EQ(fast.pos, slow.pos);
  EXPECT_EQ(fast.depth, depth);
  EXPECT_EQ(taken->depth, json::nesting_depth(data));
  return true;
}

// Each byte of `value` replaced by bytes that change its kind, size or text.
void expect_agreement_mutated(const Bytes& value, std::size_t depth) {
  static constexpr std::uint8_t kReplacements[] = {0x00, 0x7f, 0x80, 0x81, 0x90, 0xa1, 0xc0, 0xc1, 0xc4, 0xca,
                                                   0xcb, 0xcc, 0xd0, 0xd4, 0xd9, 0xdc, 0xde, 0xe0, 0xed, 0xff};
  Bytes mutated = value;
  for (std::size_t i = 0; i < value.size(); ++i) {
    for (const std::uint8_t b : kReplacements) {
      mutated[i] = b;
      expect_agreement(mutated, 0, depth);
      mutated[i] = value[i] ^ 0x01;
      expect_agreement(mutated, 0, depth);
    }
    mutated[i] = value[i];
  }
}

std::size_t most_keys(const json::Value& v) {
  std::size_t most = 0;
  if (const json::Object* o = v.if_object()) {
    most = o->size();
    for (const auto& kv : *o) most = std::max(most, most_keys(kv.value()));
  } else if (const json::Array* a = v.if_array()) {
    for (const json::Value& e : *a) most = std::max(most, most_keys(e));
  }
  return most;
}

Bytes written_again(const Bytes& bytes) {
  msgpack::Cursor c{bytes};
  json::Object data;
  if (!format::read_data_object(c, data)) return {};
  msgpack::Writer out;
  format::write_data_object(data, out);
  return std::move(out).finish().value();
}

constexpr std::size_t kDepths[] = {0, msgpack::kMaxDepth - 2};

TEST(DataBytes, AgreeWithDecodingAndWritingAtEveryOffsetOfTheKeptInputs) {
  std::size_t taken = 0;
  for (const Bytes& file : fuzz_corpus("store"))
    for (const std::size_t depth : kDepths)
      for (std::size_t pos = 0; pos < file.size(); ++pos) {
        if (!expect_agreement(file, pos, depth) || depth != 0) continue;
        ++taken;
        msgpack::Cursor c{file, pos, 0};
        const auto data = format::take_data_bytes(c);
        if (data->bytes.size() <= 64) expect_agreement_mutated(Bytes(data->bytes.begin(), data->bytes.end()), depth);
      }
  EXPECT_GT(taken, 0u);
}

TEST(DataBytes, TakeWhatTheWriterWritesOfEachKeptLogLine) {
  std::size_t packed = 0;
  for (const json::Value& value : kept_log_objects()) {
    msgpack::Writer out;
    format::write_data_object(value.get_object(), out);
    const Bytes bytes = std::move(out).finish().value();
    ++packed;
    // At the top, what the writer wrote is declined only for a map of many keys or for text
    // the reader repairs.
    if (!expect_agreement(bytes, 0, 0)) {
      EXPECT_TRUE(most_keys(value) > 32 || written_again(bytes) != bytes) << json::print(value);
    }
    expect_agreement(bytes, 0, kDepths[1]);
    if (bytes.size() <= 96) expect_agreement_mutated(bytes, 0);
  }
  EXPECT_GT(packed, 0u);
}

}  // namespace
}  // namespace tarnwick::test
