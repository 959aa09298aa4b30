// The declarations of the names the module binds only where the runtime has
// them, against the reference headers read in limited-API mode for 3.10,
// where they entered the stable ABI.
#if defined(CORVANE_PYTHON_REFERENCE_HEADERS)
#define Py_LIMITED_API 0x030A0000
#include <Python.h>
#endif

#include <gtest/gtest.h>

#include <type_traits>

#include "bindings/fast_args.h"
#include "bindings/python_api.h"

#if defined(CORVANE_PYTHON_REFERENCE_HEADERS)

namespace reference310 {

using ::PyObject;
using ::Py_ssize_t;

#define CORVANE_CHECK_FUNCTION(result, name, parameters) \
  static_assert(std::is_same_v<result(*) parameters, decltype(&::name)>, #name " is declared as the runtime declares it");
CORVANE_PYTHON_OPTIONAL_310_FUNCTIONS(CORVANE_CHECK_FUNCTION)
#undef CORVANE_CHECK_FUNCTION

static_assert(corvane::py::kMethFastcall == METH_FASTCALL, "the fast calling convention's flag");

}  // namespace reference310

#endif
