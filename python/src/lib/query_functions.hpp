#pragma once
// The module functions that run the query-plan engine over lists handed in by the caller, and
// the engine's fixed description. Rows for the module's function table.

#include <Python.h>

namespace tarnwick::py {

PyMethodDef engine_info_function();
PyMethodDef execute_query_plan_function();
PyMethodDef aggregate_query_plan_function();

}  // namespace tarnwick::py
