#pragma once
// Work and waits that run without the interpreter lock.

#include <Python.h>

#include <type_traits>

#include "lib/interpreter_exit.hpp"

namespace tarnwick::py {

// Runs `work` with the interpreter lock given up, so that other Python threads run meanwhile,
// and gives back what it returned once the lock is held again. `work` must not touch Python
// objects. Use it for a long computation (an index search) and for any wait on a lock that
// another thread may hold while it needs the interpreter lock to finish (a store's mutex: wait
// here rather than holding the interpreter lock the holder needs).
//
// Taking the lock back may not return: the finalizing interpreter ends the thread there
// (interpreter_exit.hpp). The value `work` returned is then destroyed without the interpreter
// lock: it may own a std::unique_lock, which lets its mutex go, but no Python reference.
template <class Work>
std::invoke_result_t<Work&> without_gil(Work&& work) {
  PyThreadState* state = PyEval_SaveThread();
  // An exception out of `work` leaves with the lock taken back; one out of PyEval_RestoreThread
  // (the forced unwind) must not reach this handler, so the restores below stay outside it.
  auto run = [&]() -> std::invoke_result_t<Work&> {
    try {
      return work();
    } catch (...) {
      PyEval_RestoreThread(state);
      throw;
    }
  };
  if constexpr (std::is_void_v<std::invoke_result_t<Work&>>) {
    run();
    PyEval_RestoreThread(state);
  } else {
    auto result = run();
    PyEval_RestoreThread(state);
    return result;
  }
}

// Holds the interpreter lock for the life of the scope: takes it when this thread lacks it and
// gives it back afterwards; does nothing more when the thread already holds it. A thread the
// finalizing interpreter ends gives nothing back.
class GilHeld {
 public:
  GilHeld() : state_(PyGILState_Ensure()) {}
  ~GilHeld() {
    if (!interpreter_ends_this_thread()) PyGILState_Release(state_);
  }
  GilHeld(const GilHeld&) = delete;
  GilHeld& operator=(const GilHeld&) = delete;

 private:
  PyGILState_STATE state_;
};

}  // namespace tarnwick::py
