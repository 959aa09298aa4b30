// The Python runtime's functions and data the module binds by name, as lists
// for an X-macro: X(result, name, parameters) for functions, X(type, name)
// for data. Only names of the runtime's stable ABI appear here, so one build
// works with every Python 3 runtime from 3.8 on. The file has no include
// guard and no includes: it is expanded wherever the types it names
// (PyObject, Py_ssize_t, ...) are declared, once for the module's own
// declarations and once, in a test, against the runtime's reference headers.

// Every one must be exported; a missing name fails the load.
#define CORVANE_PYTHON_FUNCTIONS(X)                                                       \
  X(void, Py_Initialize, ())                                                              \
  X(int, Py_FinalizeEx, ())                                                               \
  X(int, Py_IsInitialized, ())                                                            \
  X(void, Py_IncRef, (PyObject*))                                                         \
  X(void, Py_DecRef, (PyObject*))                                                         \
  X(PyObject*, PyErr_Occurred, ())                                                        \
  X(void, PyErr_Clear, ())                                                                \
  X(void, PyErr_Display, (PyObject*, PyObject*, PyObject*))                               \
  X(void, PyErr_Fetch, (PyObject**, PyObject**, PyObject**))                              \
  X(void, PyErr_Restore, (PyObject*, PyObject*, PyObject*))                               \
  X(void, PyErr_NormalizeException, (PyObject**, PyObject**, PyObject**))                 \
  X(int, PyErr_GivenExceptionMatches, (PyObject*, PyObject*))                             \
  X(int, PyErr_ExceptionMatches, (PyObject*))                                             \
  X(void, PyErr_SetString, (PyObject*, const char*))                                      \
  X(PyThreadState*, PyEval_SaveThread, ())                                                \
  X(void, PyEval_RestoreThread, (PyThreadState*))                                         \
  X(PyGILState_STATE, PyGILState_Ensure, ())                                              \
  X(void, PyGILState_Release, (PyGILState_STATE))                                         \
  X(PyThreadState*, PyGILState_GetThisThreadState, ())                                    \
  X(int, PyThreadState_SetAsyncExc, (unsigned long, PyObject*))                           \
  X(PyObject*, PyObject_Call, (PyObject*, PyObject*, PyObject*))                          \
  X(PyObject*, PyObject_GetAttrString, (PyObject*, const char*))                          \
  X(int, PyObject_SetAttrString, (PyObject*, const char*, PyObject*))                     \
  X(int, PyObject_HasAttrString, (PyObject*, const char*))                                \
  X(PyObject*, PyObject_Str, (PyObject*))                                                 \
  X(int, PyObject_IsTrue, (PyObject*))                                                    \
  X(int, PyObject_IsInstance, (PyObject*, PyObject*))                                     \
  X(PyObject*, PyObject_Type, (PyObject*))                                                \
  X(PyObject*, PyImport_GetModuleDict, ())                                                \
  X(PyObject*, PyImport_ImportModule, (const char*))                                      \
  X(PyObject*, PyImport_AddModule, (const char*))                                         \
  X(PyObject*, PyDict_GetItemString, (PyObject*, const char*))                            \
  X(int, PyDict_SetItemString, (PyObject*, const char*, PyObject*))                       \
  X(PyObject*, PyList_New, (Py_ssize_t))                                                  \
  X(Py_ssize_t, PyList_Size, (PyObject*))                                                 \
  X(PyObject*, PyList_GetItem, (PyObject*, Py_ssize_t))                                   \
  X(int, PyList_SetItem, (PyObject*, Py_ssize_t, PyObject*))                              \
  X(int, PyList_Insert, (PyObject*, Py_ssize_t, PyObject*))                               \
  X(int, PyList_Append, (PyObject*, PyObject*))                                           \
  X(PyObject*, PyTuple_New, (Py_ssize_t))                                                 \
  X(Py_ssize_t, PyTuple_Size, (PyObject*))                                                \
  X(PyObject*, PyTuple_GetItem, (PyObject*, Py_ssize_t))                                  \
  X(int, PyTuple_SetItem, (PyObject*, Py_ssize_t, PyObject*))                             \
  X(PyObject*, PyModule_Create2, (PyModuleDef*, int))                                     \
  X(PyObject*, PyModule_GetDict, (PyObject*))                                             \
  X(PyObject*, PyMemoryView_FromObject, (PyObject*))                                      \
  X(PyObject*, PyBytes_FromObject, (PyObject*))                                           \
  X(PyObject*, Py_CompileString, (const char*, const char*, int))                         \
  X(PyObject*, PyEval_EvalCode, (PyObject*, PyObject*, PyObject*))                        \
  X(PyObject*, PySys_GetObject, (const char*))                                            \
  X(int, PySys_SetObject, (const char*, PyObject*))                                       \
  X(int, PyArg_ParseTuple, (PyObject*, const char*, ...))                                 \
  X(PyObject*, PyLong_FromLongLong, (long long))                                          \
  X(PyObject*, PyLong_FromUnsignedLongLong, (unsigned long long))                         \
  X(long long, PyLong_AsLongLong, (PyObject*))                                            \
  X(PyObject*, PyFloat_FromDouble, (double))                                              \
  X(double, PyFloat_AsDouble, (PyObject*))                                                \
  X(PyObject*, PyUnicode_FromStringAndSize, (const char*, Py_ssize_t))                    \
  X(PyObject*, PyUnicode_DecodeUTF16, (const char*, Py_ssize_t, const char*, int*))       \
  X(PyObject*, PyUnicode_AsEncodedString, (PyObject*, const char*, const char*))          \
  X(PyObject*, PyUnicode_AsUTF8String, (PyObject*))                                       \
  X(PyObject*, PyBytes_FromStringAndSize, (const char*, Py_ssize_t))                      \
  X(char*, PyBytes_AsString, (PyObject*))                                                 \
  X(Py_ssize_t, PyBytes_Size, (PyObject*))                                                \
  X(int, PySequence_Check, (PyObject*))                                                   \
  X(Py_ssize_t, PySequence_Size, (PyObject*))                                             \
  X(PyObject*, PySequence_GetItem, (PyObject*, Py_ssize_t))                              \
  X(PyObject*, PyType_FromSpec, (PyType_Spec*))                                           \
  X(PyObject*, PyType_GenericAlloc, (PyTypeObject*, Py_ssize_t))                          \
  X(void, PyObject_Free, (void*))                                                         \
  X(void, PyObject_GC_Del, (void*))                                                       \
  X(void, PyObject_GC_UnTrack, (void*))                                                   \
  X(PyObject*, PyObject_Repr, (PyObject*))                                                \
  X(PyObject*, PyObject_RichCompare, (PyObject*, PyObject*, int))                         \
  X(int, PyObject_RichCompareBool, (PyObject*, PyObject*, int))                           \
  X(PyObject*, PyBool_FromLong, (long))                                                   \
  X(int, PyDict_Next, (PyObject*, Py_ssize_t*, PyObject**, PyObject**))                   \
  X(PyObject*, PyErr_NoMemory, ())                                                        \
  X(PyObject*, PyCFunction_NewEx, (PyMethodDef*, PyObject*, PyObject*))                  \
  X(PyObject*, PyCapsule_New, (void*, const char*, void (*)(PyObject*)))                  \
  X(void*, PyCapsule_GetPointer, (PyObject*, const char*))

// Bound when exported; runtimes may drop them from their exports.
#define CORVANE_PYTHON_OPTIONAL_FUNCTIONS(X) X(void, Py_SetProgramName, (const PyWideChar*))

// In the stable ABI from 3.10 on (and exported by every runtime before it);
// used when bound, with a slower way when not.
#define CORVANE_PYTHON_OPTIONAL_310_FUNCTIONS(X) X(const char*, PyUnicode_AsUTF8AndSize, (PyObject*, Py_ssize_t*))

// Type objects and singletons; the bound address is the object itself.
#define CORVANE_PYTHON_OBJECTS(X) \
  X(PyTypeObject, PyType_Type)    \
  X(PyTypeObject, PyFloat_Type)   \
  X(PyTypeObject, PyBool_Type)    \
  X(PyTypeObject, PyLong_Type)    \
  X(PyTypeObject, PyUnicode_Type) \
  X(PyTypeObject, PyBytes_Type)   \
  X(PyTypeObject, PyTuple_Type)   \
  X(PyTypeObject, PyList_Type)    \
  X(PyTypeObject, PyCFunction_Type) \
  X(PyTypeObject, PyModule_Type)  \
  X(PyObject, _Py_NoneStruct)     \
  X(PyLongObject, _Py_TrueStruct) \
  X(PyLongObject, _Py_FalseStruct)

// Exception classes: the runtime exports a variable holding each class.
#define CORVANE_PYTHON_EXCEPTIONS(X) \
  X(PyExc_BaseException)             \
  X(PyExc_Exception)                 \
  X(PyExc_SystemExit)                \
  X(PyExc_StopIteration)             \
  X(PyExc_KeyboardInterrupt)         \
  X(PyExc_ImportError)               \
  X(PyExc_IOError)                   \
  X(PyExc_OSError)                   \
  X(PyExc_EnvironmentError)          \
  X(PyExc_EOFError)                  \
  X(PyExc_NotImplementedError)       \
  X(PyExc_RuntimeError)              \
  X(PyExc_UnboundLocalError)         \
  X(PyExc_NameError)                 \
  X(PyExc_AttributeError)            \
  X(PyExc_TabError)                  \
  X(PyExc_IndentationError)          \
  X(PyExc_SyntaxError)               \
  X(PyExc_TypeError)                 \
  X(PyExc_AssertionError)            \
  X(PyExc_IndexError)                \
  X(PyExc_KeyError)                  \
  X(PyExc_LookupError)               \
  X(PyExc_OverflowError)             \
  X(PyExc_ZeroDivisionError)         \
  X(PyExc_FloatingPointError)        \
  X(PyExc_ArithmeticError)           \
  X(PyExc_UnicodeEncodeError)        \
  X(PyExc_UnicodeDecodeError)        \
  X(PyExc_UnicodeTranslateError)     \
  X(PyExc_UnicodeError)              \
  X(PyExc_ValueError)                \
  X(PyExc_ReferenceError)            \
  X(PyExc_SystemError)               \
  X(PyExc_MemoryError)               \
  X(PyExc_UserWarning)               \
  X(PyExc_DeprecationWarning)        \
  X(PyExc_SyntaxWarning)             \
  X(PyExc_RuntimeWarning)            \
  X(PyExc_FutureWarning)             \
  X(PyExc_PendingDeprecationWarning) \
  X(PyExc_Warning)

// Exported on Windows only (an alias of OSError there).
#define CORVANE_PYTHON_OPTIONAL_EXCEPTIONS(X) X(PyExc_WindowsError)
