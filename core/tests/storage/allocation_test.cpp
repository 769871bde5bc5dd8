// A count claimed by a damaged file must not make a decoder allocate much more than the file's
// own size before the data runs out. Every allocation of this test binary passes through the
// counting operator new below; only the decoding calls inside `largest_allocation` are measured.

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>

#include "storage/format/snapshot.hpp"
#include "storage/msgpack/decode.hpp"
#include "storage/wal/wal.hpp"
#include "test_support.hpp"

namespace {

bool g_measuring = false;
std::size_t g_largest = 0;

}  // namespace

namespace {

void* counted_malloc(std::size_t n) noexcept {
  if (g_measuring && n > g_largest) g_largest = n;
  return std::malloc(n ? n : 1);
}

}  // namespace

// Every unaligned form is replaced, so that each allocation is paired with free, also under the
// address sanitizer, which checks that allocation and release functions match.
void* operator new(std::size_t n) {
  if (void* p = counted_malloc(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return counted_malloc(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return counted_malloc(n); }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"  // these deletes pair with the news above
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace tarnwick::format {
namespace {

using test::bytes_of;
using test::hex;

std::size_t largest_allocation(const std::function<void()>& decode) {
  g_largest = 0;
  g_measuring = true;
  decode();
  g_measuring = false;
  return g_largest;
}

// `head` followed by `filler` bytes of nil: a list that claims far more entries than follow.
Bytes padded(const Bytes& head, std::size_t filler) {
  Bytes out = head;
  out.resize(head.size() + filler, 0xc0);
  return out;
}

TEST(DecoderAllocation, ClaimedCountsReserveLittleMoreThanTheInput) {
  // The largest single allocation may be this many times the input: a tree node per input byte.
  constexpr std::size_t kFactor = 64;
  const Bytes claims_many = hex("dd 00 01 00 00");  // 65536 entries claimed
  for (const char* list : {"nodes", "edges", "vectors"}) {
    Bytes head = hex("82 a7");
    const Bytes version = bytes_of("version");
    head.insert(head.end(), version.begin(), version.end());
    head.push_back(0x01);
    head.push_back(static_cast<std::uint8_t>(0xa0 + std::string_view(list).size()));
    const Bytes name = bytes_of(list);
    head.insert(head.end(), name.begin(), name.end());
    head.insert(head.end(), claims_many.begin(), claims_many.end());
    const Bytes file = padded(head, 4096);
    const std::size_t largest = largest_allocation([&] { EXPECT_FALSE(decode_snapshot(file)); });
    EXPECT_LE(largest, kFactor * file.size()) << list;
  }

  const Bytes value = padded(claims_many, 4096);
  EXPECT_LE(largest_allocation([&] {
              msgpack::Cursor c{value};
              EXPECT_FALSE(msgpack::decode_value(c));
            }),
            kFactor * value.size());

  // A log frame whose vector claims more values than its body holds.
  Bytes body = hex("83 a4 6b696e64 a9 707574566563746f72 a2 6964 a1 76 a6 766563746f72");
  body.insert(body.end(), claims_many.begin(), claims_many.end());
  body = padded(body, 4096);
  Bytes log(4 + body.size());
  for (std::size_t i = 0; i < 4; ++i) log[i] = static_cast<std::uint8_t>(body.size() >> (24 - 8 * i));
  std::copy(body.begin(), body.end(), log.begin() + 4);
  EXPECT_LE(largest_allocation([&] { EXPECT_TRUE(decode_wal(log).entries.empty()); }), kFactor * log.size());
}

}  // namespace
}  // namespace tarnwick::format
