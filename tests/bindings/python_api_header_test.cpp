// The module's own declarations of the Python runtime's stable ABI against
// the runtime's reference headers, where they are installed (Linux). The
// headers are read in limited-API mode for the oldest supported runtime, so
// a name outside the stable ABI, or one newer than 3.8, fails to compile.
#if defined(CORVANE_PYTHON_REFERENCE_HEADERS)
#define Py_LIMITED_API 0x03080000
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <Python.h>
#endif

#include <gtest/gtest.h>

#include <cstddef>
#include <type_traits>
#include <utility>

#include "bindings/python_api.h"

#if defined(CORVANE_PYTHON_REFERENCE_HEADERS)

namespace reference {

using ::PyGILState_STATE;
using ::PyLongObject;
using ::PyModuleDef;
using ::PyObject;
using ::PyThreadState;
using ::PyTypeObject;
using ::Py_ssize_t;
using PyWideChar = wchar_t;

#define CORVANE_CHECK_FUNCTION(result, name, parameters) \
  static_assert(std::is_same_v<result(*) parameters, decltype(&::name)>, #name " is declared as the runtime declares it");
CORVANE_PYTHON_FUNCTIONS(CORVANE_CHECK_FUNCTION)
CORVANE_PYTHON_OPTIONAL_FUNCTIONS(CORVANE_CHECK_FUNCTION)
#undef CORVANE_CHECK_FUNCTION

#define CORVANE_CHECK_OBJECT(type, name) \
  static_assert(std::is_same_v<type, std::remove_cv_t<decltype(::name)>>, #name " has the runtime's type");
CORVANE_PYTHON_OBJECTS(CORVANE_CHECK_OBJECT)
#undef CORVANE_CHECK_OBJECT

#define CORVANE_CHECK_EXCEPTION(name) \
  static_assert(std::is_same_v<PyObject*, decltype(::name)>, #name " is an exception variable");
CORVANE_PYTHON_EXCEPTIONS(CORVANE_CHECK_EXCEPTION)
#undef CORVANE_CHECK_EXCEPTION

}  // namespace reference

namespace corvane::py {
namespace {

#define CORVANE_SAME_FIELD(ours, theirs, field) \
  EXPECT_EQ(offsetof(ours, field), offsetof(theirs, field)) << #ours "::" #field

TEST(PythonApiHeader, LayoutsAndConstantsMatchTheReferenceHeaders) {
  EXPECT_EQ(sizeof(Py_ssize_t), sizeof(::Py_ssize_t));
  EXPECT_TRUE((std::is_same_v<Py_ssize_t, ::Py_ssize_t>));

  EXPECT_EQ(sizeof(PyObject), sizeof(::PyObject));
  CORVANE_SAME_FIELD(PyObject, ::PyObject, ob_refcnt);
  CORVANE_SAME_FIELD(PyObject, ::PyObject, ob_type);

  EXPECT_EQ(sizeof(PyMethodDef), sizeof(::PyMethodDef));
  CORVANE_SAME_FIELD(PyMethodDef, ::PyMethodDef, ml_name);
  CORVANE_SAME_FIELD(PyMethodDef, ::PyMethodDef, ml_meth);
  CORVANE_SAME_FIELD(PyMethodDef, ::PyMethodDef, ml_flags);
  CORVANE_SAME_FIELD(PyMethodDef, ::PyMethodDef, ml_doc);

  EXPECT_EQ(sizeof(PyModuleDef_Base), sizeof(::PyModuleDef_Base));
  CORVANE_SAME_FIELD(PyModuleDef_Base, ::PyModuleDef_Base, m_init);
  CORVANE_SAME_FIELD(PyModuleDef_Base, ::PyModuleDef_Base, m_index);
  CORVANE_SAME_FIELD(PyModuleDef_Base, ::PyModuleDef_Base, m_copy);

  EXPECT_EQ(sizeof(PyModuleDef), sizeof(::PyModuleDef));
  CORVANE_SAME_FIELD(PyModuleDef, ::PyModuleDef, m_name);
  CORVANE_SAME_FIELD(PyModuleDef, ::PyModuleDef, m_doc);
  CORVANE_SAME_FIELD(PyModuleDef, ::PyModuleDef, m_size);
  CORVANE_SAME_FIELD(PyModuleDef, ::PyModuleDef, m_methods);
  CORVANE_SAME_FIELD(PyModuleDef, ::PyModuleDef, m_slots);
  CORVANE_SAME_FIELD(PyModuleDef, ::PyModuleDef, m_free);

  EXPECT_EQ(sizeof(PyType_Spec), sizeof(::PyType_Spec));
  CORVANE_SAME_FIELD(PyType_Spec, ::PyType_Spec, basicsize);
  CORVANE_SAME_FIELD(PyType_Spec, ::PyType_Spec, flags);
  CORVANE_SAME_FIELD(PyType_Spec, ::PyType_Spec, slots);
  EXPECT_EQ(sizeof(PyType_Slot), sizeof(::PyType_Slot));
  CORVANE_SAME_FIELD(PyType_Slot, ::PyType_Slot, pfunc);
  EXPECT_EQ(sizeof(PyGetSetDef), sizeof(::PyGetSetDef));
  CORVANE_SAME_FIELD(PyGetSetDef, ::PyGetSetDef, set);
  CORVANE_SAME_FIELD(PyGetSetDef, ::PyGetSetDef, closure);

  const std::pair<int, int> slots[] = {
      {kSlotSqAssItem, Py_sq_ass_item}, {kSlotSqContains, Py_sq_contains}, {kSlotSqItem, Py_sq_item},
      {kSlotSqLength, Py_sq_length},    {kSlotTpClear, Py_tp_clear},       {kSlotTpDealloc, Py_tp_dealloc},
      {kSlotTpDoc, Py_tp_doc},          {kSlotTpHash, Py_tp_hash},         {kSlotTpIter, Py_tp_iter},
      {kSlotTpIternext, Py_tp_iternext}, {kSlotTpMethods, Py_tp_methods},  {kSlotTpNew, Py_tp_new},
      {kSlotTpRepr, Py_tp_repr},        {kSlotTpRichcompare, Py_tp_richcompare}, {kSlotTpStr, Py_tp_str},
      {kSlotTpTraverse, Py_tp_traverse}, {kSlotTpGetset, Py_tp_getset}};
  for (const auto& [ours, theirs] : slots) EXPECT_EQ(ours, theirs);
  EXPECT_EQ(kTpFlagsBaseType, Py_TPFLAGS_BASETYPE);
  EXPECT_EQ(kTpFlagsHaveGc, Py_TPFLAGS_HAVE_GC);
  EXPECT_EQ(kCompareLt, Py_LT);
  EXPECT_EQ(kCompareGe, Py_GE);
  EXPECT_EQ(kMethKeywords, METH_KEYWORDS);
  EXPECT_EQ(kMethNoArgs, METH_NOARGS);

  EXPECT_EQ(kMethVarargs, METH_VARARGS);
  EXPECT_EQ(kPyFileInput, Py_file_input);
  EXPECT_EQ(kPythonApiVersion, PYTHON_API_VERSION);
  EXPECT_EQ(static_cast<int>(PyGILState_LOCKED), static_cast<int>(::PyGILState_LOCKED));
  EXPECT_EQ(static_cast<int>(PyGILState_UNLOCKED), static_cast<int>(::PyGILState_UNLOCKED));
}

}  // namespace
}  // namespace corvane::py

#pragma GCC diagnostic pop
#endif
