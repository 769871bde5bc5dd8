#pragma once

#include <Python.h>

namespace tarnwick::py {

// Gives the interpreter lock up for the life of the scope, so other threads run meanwhile.
class GilReleased {
 public:
  GilReleased() : state_(PyEval_SaveThread()) {}
  ~GilReleased() { PyEval_RestoreThread(state_); }
  GilReleased(const GilReleased&) = delete;
  GilReleased& operator=(const GilReleased&) = delete;

 private:
  PyThreadState* state_;
};

}  // namespace tarnwick::py
