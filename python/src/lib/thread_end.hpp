#pragma once
// The interpreter ending this thread. While it finalizes, the interpreter ends a thread that asks
// for the interpreter lock back by a forced unwind (abi::__forced_unwind) out of whatever call
// was waiting. From then on the thread holds no lock and no Python state may be touched: every
// reference still held on the way out is left to the dying interpreter rather than released.

#include <cxxabi.h>

namespace tarnwick::py {

inline thread_local bool interpreter_ending_thread = false;

// Runs `call` (a C-API call that may run Python code or give up the interpreter lock) and notes
// a forced unwind out of it before any frame of ours releases anything. `call` itself must own
// nothing. The handler's reference is bound to null by design, which UBSan would report.
template <class Call>
[[gnu::no_sanitize("undefined")]] auto noting_thread_end(Call&& call) -> decltype(call()) {
  try {
    return call();
  } catch (abi::__forced_unwind&) {
    interpreter_ending_thread = true;
    throw;
  }
}

}  // namespace tarnwick::py
