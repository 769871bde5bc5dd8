#pragma once
// The interpreter ending a thread that is inside a call of ours. Once it has begun to finalize,
// the interpreter ends every other thread that asks for the interpreter lock back, with
// pthread_exit: a forced unwind (abi::__forced_unwind) out of whatever call gave the lock up.
// That can be any call that runs Python code: a wait or a search of ours, a storage method, an
// import, a finalizer the garbage collector runs during an allocation, an `__index__`. On its way
// out the thread holds no lock and its thread state is gone, so nothing it owns may be given back
// to the interpreter: references are left to the dying interpreter, and guards whose state the
// interpreter lock protects leave it as it is.
//
// The forced unwind itself must pass: no frame on its way may be noexcept (that terminates the
// process) and every catch-all rethrows it (guard.hpp).
//
// Which thread finalizes is noted by an exit hook, which the interpreter runs on that thread
// before it ends any other; it then marks itself uninitialized before it ends any thread. Until
// the hook runs, the test costs one load.

#include <Python.h>

#include <atomic>

namespace tarnwick::py {

namespace detail {
// The thread that finalizes the interpreter, from its exit hook (module.cpp) on; 0 before.
inline std::atomic<unsigned long> finalizing_thread{0};
}  // namespace detail

// Whether this thread is one the finalizing interpreter ends: true from the moment it can no
// longer take the interpreter lock back, so also on its way out.
inline bool interpreter_ends_this_thread() {
  const unsigned long finalizing = detail::finalizing_thread.load(std::memory_order_acquire);
  if (finalizing == 0) [[likely]] return false;
  return finalizing != PyThread_get_thread_ident() && !Py_IsInitialized();
}

}  // namespace tarnwick::py
