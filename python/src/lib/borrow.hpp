#pragma once
// The borrow state of one index instance. Readers share it, a writer holds it alone, and a
// conflict fails at once instead of waiting: the only reader that runs without the interpreter
// lock is a search, and a waiting writer would hold that lock the search needs to finish.
// Every change of the state happens with the interpreter lock held, so no atomics are needed; a
// thread the finalizing interpreter ends holds no lock and leaves its borrow in place.

#include <Python.h>

#include <cstdint>
#include <utility>

#include "lib/exceptions.hpp"
#include "lib/py_ref.hpp"

namespace tarnwick::py {

class BorrowState {
 public:
  class Guard {
   public:
    Guard(Guard&& o) noexcept : state_(std::exchange(o.state_, nullptr)), writer_(o.writer_) {}
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    Guard& operator=(Guard&&) = delete;
    ~Guard() {
      if (state_ == nullptr || interpreter_ends_this_thread()) return;
      if (writer_) {
        state_->count_ = 0;
      } else {
        --state_->count_;
      }
    }

   private:
    friend class BorrowState;
    Guard(BorrowState* state, bool writer) : state_(state), writer_(writer) {}
    BorrowState* state_;
    bool writer_;
  };

  PyResult<Guard> read() {
    if (count_ == kWriting) return raise(PyExc_RuntimeError, "Already mutably borrowed");
    ++count_;
    return Guard(this, false);
  }

  PyResult<Guard> write() {
    if (count_ != 0) return raise(PyExc_RuntimeError, "Already borrowed");
    count_ = kWriting;
    return Guard(this, true);
  }

 private:
  static constexpr std::int64_t kWriting = -1;
  // 0: free; n > 0: n readers; kWriting: one writer.
  std::int64_t count_ = 0;
};

}  // namespace tarnwick::py
