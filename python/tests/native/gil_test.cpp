#include "lib/gil.hpp"

#include <gtest/gtest.h>

#include <mutex>
#include <stdexcept>
#include <thread>

#include "native/interpreter.hpp"

namespace tarnwick::py {
namespace {

// Whether another thread can take the interpreter lock now: it can only while this thread has
// given it up (otherwise the join never returns and the test times out).
bool another_thread_runs_python() {
  bool ran = false;
  std::thread other([&] {
    const PyGILState_STATE state = PyGILState_Ensure();
    ran = testing::eval("1 + 1").get() != nullptr;
    PyGILState_Release(state);
  });
  other.join();
  return ran;
}

TEST(WithoutGil, OtherThreadsRunMeanwhileAndTheLockComesBack) {
  EXPECT_TRUE(without_gil(another_thread_runs_python));
  EXPECT_TRUE(testing::eval("1 + 1"));

  int runs = 0;
  without_gil([&] { ++runs; });
  EXPECT_EQ(runs, 1);

  // A wait for a mutex: the lock on it comes back out, still owned.
  std::mutex mutex;
  std::unique_lock held = without_gil([&] { return std::unique_lock(mutex); });
  EXPECT_TRUE(held.owns_lock());
}

TEST(WithoutGil, AnExceptionLeavesWithTheLockTakenBack) {
  EXPECT_THROW(without_gil([]() -> int { throw std::runtime_error("work failed"); }), std::runtime_error);
  EXPECT_TRUE(testing::eval("1 + 1"));
}

}  // namespace
}  // namespace tarnwick::py
