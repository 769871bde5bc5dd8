#include "lib/store_lock.hpp"

#include <stdexcept>

#include "native/interpreter.hpp"

namespace tarnwick::py {
namespace {

using testing::take_error;

TEST(StoreLock, ReentryFromTheHoldingThreadIsRefused) {
  StoreLock lock;
  {
    auto held = lock.acquire();
    ASSERT_TRUE(held);
    EXPECT_FALSE(lock.acquire());
    EXPECT_EQ(take_error(), "RuntimeError: NativeStore is already in use by this thread");
  }
  EXPECT_TRUE(lock.acquire());
}

TEST(StoreLock, AnUnwindWhileHeldPoisonsTheLockForGood) {
  StoreLock lock;
  try {
    auto held = lock.acquire();
    ASSERT_TRUE(held);
    throw std::runtime_error("internal fault");
  } catch (const std::runtime_error&) {
  }
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(lock.acquire());
    EXPECT_EQ(take_error(), "PanicException: NativeStore is unusable: an earlier call failed while holding its lock");
  }
}

TEST(StoreLock, AnErrorReturnedNormallyDoesNotPoison) {
  StoreLock lock;
  { auto held = lock.acquire(); }
  EXPECT_TRUE(lock.acquire());
}

}  // namespace
}  // namespace tarnwick::py
