#pragma once
// The mutex of one NativeStore, with the two things std::mutex lacks here: a poisoned flag, set
// when a call ends abnormally while holding it (a C++ exception, not a store error, or the
// finalizing interpreter ending the thread, which leaves the store half way), and the
// holder's thread, so that a storage object calling back into the store that is calling it gets
// an error instead of a deadlock.
//
// The mutex guards the Store and the poisoned flag. It is always taken with the interpreter lock
// held; when it is busy, the interpreter lock is given up for the wait, since the holder may be
// inside a storage-object method that needs it to finish.

#include <Python.h>

#include <atomic>
#include <exception>
#include <mutex>
#include <utility>

#include "lib/exceptions.hpp"
#include "lib/gil.hpp"
#include "lib/py_ref.hpp"

namespace tarnwick::py {

class StoreLock {
 public:
  class Held {
   public:
    Held(Held&& o) noexcept
        : lock_(std::exchange(o.lock_, nullptr)), exceptions_at_start_(o.exceptions_at_start_) {}
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    Held& operator=(Held&&) = delete;
    ~Held() {
      if (lock_ == nullptr) return;
      if (std::uncaught_exceptions() > exceptions_at_start_ || interpreter_ends_this_thread()) {
        lock_->poisoned_ = true;
      }
      lock_->owner_.store(0, std::memory_order_relaxed);
      lock_->mutex_.unlock();
    }

   private:
    friend class StoreLock;
    explicit Held(StoreLock* lock) : lock_(lock), exceptions_at_start_(std::uncaught_exceptions()) {}
    StoreLock* lock_;
    int exceptions_at_start_;
  };

  // Raises RuntimeError when this thread holds the lock already, PanicException when poisoned.
  PyResult<Held> acquire() {
    const unsigned long me = PyThread_get_thread_ident();
    // Only this thread ever stores its own id, so seeing it means this thread is the holder.
    if (owner_.load(std::memory_order_relaxed) == me) {
      return raise(PyExc_RuntimeError, "NativeStore is already in use by this thread");
    }
    // The wait gives up the interpreter lock: the holder may be inside a storage-object method
    // that needs it to finish. Should taking it back end this thread (the interpreter is
    // finalizing), the unique_lock lets the mutex go on the way out.
    std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) without_gil([&] { lock.lock(); });
    if (poisoned_) return raise_panic("NativeStore is unusable: an earlier call failed while holding its lock");
    owner_.store(me, std::memory_order_relaxed);
    lock.release();
    return Held(this);
  }

 private:
  std::mutex mutex_;
  std::atomic<unsigned long> owner_{0};
  bool poisoned_ = false;
};

}  // namespace tarnwick::py
