#pragma once
// An embedded interpreter for the binding's tests: started once for the whole run, with one
// namespace in which snippets are run and expressions evaluated. The namespace starts with
// `np`, `collections`, `decimal`, `enum` and `Raises(exc, where)`: an object whose conversion
// `where` ("index", "float" or "bool") raises `exc` while the others raise TypeError.

#include <Python.h>
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "lib/py_ref.hpp"

namespace tarnwick::py::testing {

// Runs statements in the shared namespace; a failure fails the test.
void run(std::string_view statements);
// Evaluates an expression in the shared namespace; a failure fails the test.
PyRef eval(std::string_view expression);

// The pending exception as "<type qualname>: <str>", cleared; "" when none is pending.
std::string take_error();

}  // namespace tarnwick::py::testing
