// Value conversion between host variants and Python objects, with the real
// runtime. Each input is read as a small program:
//   byte 0: bit 0 chooses the date mode (tuple or datetime), bit 1 the
//   direction (a host variant first, or a Python value first);
//   the rest builds the value (see buildVariant and buildPython).
// A host variant goes to Python and back, and must come back as what the
// conversion promises: integers as 64-bit integers of the same value,
// texts, byte strings, booleans and floats unchanged, dates to the
// millisecond (to the second in tuple mode), arrays as variant arrays of the
// converted elements, everything else as Null. A Python value goes to a
// variant, to Python and to a variant again: the second variant must equal
// the first, and a value made only of exact ints, strs, bytes, floats, bools
// and lists must come back equal to itself.
//
// The interpreter starts once, on the first input, and lives as long as the
// process; every input runs with the interpreter lock held.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "bindings/gil.h"
#include "bindings/value_conversion.h"
#include "common/ansi_string.h"
#include "common/exceptions.h"
#include "platform/ole_string.h"
#include "python/python_engine.h"
#include "python/python_runtime.h"

namespace {

using corvane::AnsiString;
using corvane::py::Handle;
using corvane::py::Object;
using corvane::py::THostVariant;
using corvane::py::TValueConverter;
namespace platform = corvane::platform;
using platform::SafeArray;
using platform::Variant;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "value_conversion: %s\n", what);
  std::abort();
}

// Constructors of Python values the input chooses from; none of them
// touches anything outside the interpreter.
const std::vector<std::string> kScript = {
    "import datetime, time",
    "class Seq:",
    "    def __init__(self, n, fail): self.n = n; self.fail = fail",
    "    def __len__(self): return self.n",
    "    def __getitem__(self, i):",
    "        if i < 0 or i >= self.n: raise IndexError(i)",
    "        if i == self.fail: raise ValueError('no item %d' % i)",
    "        return i",
    "class BadLen:",
    "    def __len__(self): raise ValueError('no length')",
    "    def __getitem__(self, i): return i",
    "class IntLike(int): pass",
    "class StrLike(str): pass",
    "class FloatLike(float): pass",
    "def make_int(digits, negative):",
    "    v = int(digits or '0', 16)",
    "    return -v if negative else v",
    "def make_datetime(y, mo, d, h, mi, s, us): return datetime.datetime(y, mo, d, h, mi, s, us)",
    "def make_date(y, mo, d): return datetime.date(y, mo, d)",
    "def make_time(h, mi, s, us): return datetime.time(h, mi, s, us)",
    "def make_delta(d, s, us): return datetime.timedelta(d, s, us)",
    "def make_struct_time(*fields): return time.struct_time(fields)",
    "def make_tuple(*items): return items",
    "def make_self_list():",
    "    a = [1]",
    "    a.append(a)",
    "    return a",
    "def make_dict(k, v): return {k: v}",
    "def make_bytearray(b): return bytearray(b)",
    "def make_subclass(kind, value):",
    "    return (IntLike, StrLike, FloatLike)[kind % 3](value)",
    "def lossless(x):",
    "    t = type(x)",
    "    if t is int: return -2**63 <= x < 2**63",
    "    if t is float: return x == x",
    "    if t in (str, bytes, bool): return True",
    "    if t is list: return all(lossless(i) for i in x)",
    "    return False",
};

struct Runtime {
  corvane::TPythonInputOutput io;
  corvane::TkivPythonEngine engine;
  std::vector<Object> kept;
  corvane::py::TDateTypes dates;

  Runtime() {
    // Runtimes are found in the system's library folders; the registry
    // stand-in is pointed at an empty folder of its own.
    // Python objects come from the C allocator, not the runtime's own
    // arenas, which the leak checker does not scan: what the interpreter
    // still holds at exit is then known as reachable, and a reference the
    // conversions leak is reported.
    setenv("PYTHONMALLOC", "malloc", 1);
    static char folder[] = "/tmp/corvane-fuzz-registry.XXXXXX";
    if (mkdtemp(folder) == nullptr) fail("no scratch folder");
    std::atexit([] { rmdir(folder); });
    setenv("CORVANE_REGISTRY_DIR", folder, 1);
    const std::vector<corvane::TPythonVersion> found = corvane::GetRegisteredPythonVersions();
    if (found.empty()) fail("no Python runtime found in the system's library folders");
    found.front().AssignTo(engine);
    engine.InitScript = kScript;
    io.OnSendData = [](corvane::TPythonInputOutput&, std::string_view text) {
      std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    };
    engine.SetIO(&io);
    engine.LoadDll();
    if (!engine.Initialized()) fail("the interpreter did not start");
    corvane::py::TGilAcquire gil(engine);
    dates.StructTime = Global("time.struct_time");
    dates.DateTime = Global("datetime.datetime");
    dates.Date = Global("datetime.date");
    dates.Time = Global("datetime.time");
    dates.TimeDelta = Global("datetime.timedelta");
  }

  const corvane::py::PythonApi& api() const { return engine.Api(); }

  corvane::py::PyObject* Global(const char* expression) {
    Object code = Object::Steal(api(), api().Py_CompileString(expression, "<fuzz>", 258 /* eval input */));
    corvane::py::PyObject* globals = api().PyModule_GetDict(api().PyImport_AddModule("__main__"));
    Object value = Object::Steal(api(), code ? api().PyEval_EvalCode(code.get(), globals, globals) : nullptr);
    if (!value) fail(expression);
    kept.push_back(value);
    return value.get();
  }
  Object Function(const char* name) {
    corvane::py::PyObject* globals = api().PyModule_GetDict(api().PyImport_AddModule("__main__"));
    return Object::Borrow(api(), api().PyDict_GetItemString(globals, name));
  }
};

Runtime& runtime() {
  // Never destroyed: the interpreter lives as long as the process.
  static Runtime* instance = new Runtime;
  return *instance;
}

// ---- Host variants -------------------------------------------------------------

constexpr int kMaxDepth = 4;

std::u16string wideText(FuzzedDataProvider& in) {
  std::u16string text;
  const size_t length = in.ConsumeIntegralInRange<size_t>(0, 24);
  for (size_t i = 0; i < length; ++i) {
    // Mostly ASCII, some of the rest of the plane, lone surrogates included.
    const uint8_t kind = in.ConsumeIntegral<uint8_t>();
    text.push_back(kind < 160 ? static_cast<char16_t>(0x20 + kind % 0x5F) : in.ConsumeIntegral<char16_t>());
  }
  return text;
}

void setScalar(FuzzedDataProvider& in, uint16_t type, Variant& out) {
  platform::variantInit(&out);
  out.vt = type;
  switch (type) {
    case platform::vtI2: out.iVal = in.ConsumeIntegral<int16_t>(); break;
    case platform::vtI4: out.lVal = in.ConsumeIntegral<int32_t>(); break;
    case platform::vtI1: out.cVal = in.ConsumeIntegral<int8_t>(); break;
    case platform::vtUI1: out.bVal = in.ConsumeIntegral<uint8_t>(); break;
    case platform::vtUI2: out.uiVal = in.ConsumeIntegral<uint16_t>(); break;
    case platform::vtUI4: out.ulVal = in.ConsumeIntegral<uint32_t>(); break;
    case platform::vtI8: out.llVal = in.ConsumeIntegral<int64_t>(); break;
    case platform::vtR4: {
      const uint32_t bits = in.ConsumeIntegral<uint32_t>();
      std::memcpy(&out.fltVal, &bits, sizeof bits);
      break;
    }
    case platform::vtR8: {
      const uint64_t bits = in.ConsumeIntegral<uint64_t>();
      std::memcpy(&out.dblVal, &bits, sizeof bits);
      break;
    }
    case platform::vtCy: out.cyVal = in.ConsumeIntegral<int64_t>(); break;
    case platform::vtDate:
      // Mostly dates of the years 1 to 9999, and now and then any double.
      if (in.ConsumeBool()) {
        out.date = in.ConsumeFloatingPointInRange<double>(-657434.0, 2958465.99999);
      } else {
        const uint64_t bits = in.ConsumeIntegral<uint64_t>();
        std::memcpy(&out.date, &bits, sizeof bits);
      }
      break;
    case platform::vtBstr: {
      const std::u16string text = wideText(in);
      out.bstrVal = text.empty() && in.ConsumeBool()
                        ? nullptr
                        : platform::sysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
      break;
    }
    case platform::vtBool:
      out.boolVal = in.ConsumeBool() ? platform::kVariantTrue : in.ConsumeIntegral<int16_t>();
      break;
    case platform::vtString: {
      const std::string bytes = in.ConsumeRandomLengthString(24);
      AnsiString text{std::string_view(bytes)};
      out.byref = text.Detach();
      break;
    }
    case platform::vtError: out.scode = in.ConsumeIntegral<int32_t>(); break;
    default: break;  // Empty, Null
  }
}

const uint16_t kScalarTypes[] = {platform::vtEmpty, platform::vtNull, platform::vtI2,   platform::vtI4,
                                 platform::vtR4,    platform::vtR8,   platform::vtCy,   platform::vtDate,
                                 platform::vtBstr,  platform::vtError, platform::vtBool, platform::vtI1,
                                 platform::vtUI1,   platform::vtUI2,  platform::vtUI4,  platform::vtI8,
                                 platform::vtString};
// Element types of typed arrays (OLE arrays cannot hold the module's 8-bit strings).
const uint16_t kElementTypes[] = {platform::vtI2, platform::vtI4,  platform::vtR4,   platform::vtR8,
                                  platform::vtCy, platform::vtDate, platform::vtBstr, platform::vtBool,
                                  platform::vtUI1, platform::vtI8};

// The storage that byref variants point at, owned for one input.
struct ByRefStorage {
  std::vector<std::unique_ptr<THostVariant>> variants;
  std::vector<std::unique_ptr<SafeArray*>> arrays;
  ~ByRefStorage() {
    for (auto& array : arrays) {
      if (*array != nullptr) {
        Variant holder;
        platform::variantInit(&holder);
        holder.vt = platform::vtArray | platform::vtVariant;
        holder.parray = *array;
        THostVariant::Clear(holder);
      }
    }
  }
};

void buildVariant(FuzzedDataProvider& in, Variant& out, int depth, ByRefStorage& storage);

SafeArray* buildArray(FuzzedDataProvider& in, uint16_t elementType, int depth, ByRefStorage& storage) {
  const uint32_t dims = elementType == platform::vtVariant && in.ConsumeBool()
                            ? 1
                            : in.ConsumeIntegralInRange<uint32_t>(1, 4);
  std::vector<platform::SafeArrayBound> bounds(dims);
  uint32_t total = 1;
  for (auto& bound : bounds) {
    bound.elements = in.ConsumeIntegralInRange<uint32_t>(0, dims > 1 ? 3 : 6);
    bound.lowerBound = in.ConsumeIntegralInRange<int32_t>(-3, 3);
    total *= bound.elements;
  }
  SafeArray* array = platform::safeArrayCreate(elementType, dims, bounds.data());
  if (array == nullptr) return nullptr;
  void* data = nullptr;
  if (platform::failed(platform::safeArrayAccessData(array, &data))) fail("an array that cannot be accessed");
  for (uint32_t i = 0; i < total; ++i) {
    if (elementType == platform::vtVariant) {
      buildVariant(in, static_cast<Variant*>(data)[i], depth + 1, storage);
    } else {
      Variant element;
      setScalar(in, elementType, element);
      std::memcpy(static_cast<char*>(data) + i * array->elementSize, &element.llVal, array->elementSize);
    }
  }
  platform::safeArrayUnaccessData(array);
  return array;
}

void buildVariant(FuzzedDataProvider& in, Variant& out, int depth, ByRefStorage& storage) {
  platform::variantInit(&out);
  const uint8_t kind = in.ConsumeIntegralInRange<uint8_t>(0, depth >= kMaxDepth ? 0 : 4);
  switch (kind) {
    case 0:
    case 1:
      setScalar(in, in.PickValueInArray(kScalarTypes), out);
      return;
    case 2:
      if (SafeArray* array = buildArray(in, platform::vtVariant, depth, storage)) {
        out.vt = platform::vtArray | platform::vtVariant;
        out.parray = array;
      }
      return;
    case 3: {
      const uint16_t elementType = in.PickValueInArray(kElementTypes);
      if (SafeArray* array = buildArray(in, elementType, depth, storage)) {
        out.vt = platform::vtArray | elementType;
        out.parray = array;
      }
      return;
    }
    default: {
      // A reference: to a variant, to a scalar or to an array.
      const uint8_t target = in.ConsumeIntegralInRange<uint8_t>(0, 2);
      if (target == 0) {
        // A pointer, not a reference into the vector, which the inner
        // values may grow.
        THostVariant* referenced = storage.variants.emplace_back(std::make_unique<THostVariant>()).get();
        buildVariant(in, referenced->raw(), depth + 1, storage);
        out.vt = platform::vtByRef | platform::vtVariant;
        out.pvarVal = &referenced->raw();
      } else if (target == 1) {
        const uint16_t type = in.PickValueInArray(kElementTypes);
        THostVariant* referenced = storage.variants.emplace_back(std::make_unique<THostVariant>()).get();
        setScalar(in, type, referenced->raw());
        out.vt = platform::vtByRef | type;
        out.byref = &referenced->raw().llVal;
      } else {
        SafeArray** array = storage.arrays.emplace_back(std::make_unique<SafeArray*>(nullptr)).get();
        *array = buildArray(in, platform::vtVariant, depth, storage);
        out.vt = platform::vtByRef | platform::vtArray | platform::vtVariant;
        out.byref = array;
      }
      return;
    }
  }
}

const Variant& referenced(const Variant& value) {
  const Variant* current = &value;
  while (current->vt == (platform::vtByRef | platform::vtVariant) && current->pvarVal != nullptr)
    current = current->pvarVal;
  return *current;
}

bool sameDouble(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::memcmp(&a, &b, sizeof a) == 0;
}

std::u16string bstrText(platform::Bstr text) {
  return text ? std::u16string(text, platform::sysStringLen(text)) : std::u16string();
}

bool dateInRange(double date) {
  if (!std::isfinite(date) || date < -657434.0 || date >= 2958466.0) return false;
  const corvane::py::TDateParts parts = corvane::py::DecodeOleDate(date);
  return parts.Year >= 1 && parts.Year <= 9999;
}

bool sameDate(double a, double b, bool milliseconds) {
  const corvane::py::TDateParts x = corvane::py::DecodeOleDate(a), y = corvane::py::DecodeOleDate(b);
  return x.Year == y.Year && x.Month == y.Month && x.Day == y.Day && x.Hour == y.Hour && x.Minute == y.Minute &&
         x.Second == y.Second && (!milliseconds || x.Millisecond == y.Millisecond);
}

// The integer value of a host integer type, if it is one.
std::optional<int64_t> integerOf(const Variant& v) {
  switch (v.vt) {
    case platform::vtI2: return v.iVal;
    case platform::vtI4: return v.lVal;
    case platform::vtI1: return v.cVal;
    case platform::vtUI1: return v.bVal;
    case platform::vtUI2: return v.uiVal;
    case platform::vtUI4: return v.ulVal;
    case platform::vtI8: return v.llVal;
    default: return std::nullopt;
  }
}

// Checks what a host value came back as after a trip through Python.
void checkHostTrip(const Variant& sent, const Variant& back, bool datetimeMode);

void checkArrayTrip(SafeArray* array, uint16_t elementType, const Variant& back, bool datetimeMode) {
  const uint16_t listType = platform::vtArray | platform::vtVariant;
  if (array == nullptr) {
    if (back.vt != listType || back.parray == nullptr || back.parray->bounds[0].elements != 0)
      fail("an array without storage did not come back as an empty list");
    return;
  }
  const uint32_t dims = platform::safeArrayGetDim(array);
  if (back.vt != listType || back.parray == nullptr || platform::safeArrayGetDim(back.parray) != 1)
    fail("an array did not come back as a variant array");
  // The first dimension is outermost; OLE stores the bounds last first.
  const platform::SafeArrayBound& outer = array->bounds[dims - 1];
  if (back.parray->bounds[0].elements != outer.elements || back.parray->bounds[0].lowerBound != 0)
    fail("an array came back with another length");
  std::vector<int32_t> index(dims);
  // Elements in the order the lists nest (first index outermost).
  std::function<void(uint32_t, const Variant&)> walk = [&](uint32_t d, const Variant& backLevel) {
    const platform::SafeArrayBound& bound = array->bounds[dims - 1 - d];
    void* levelData = nullptr;
    if (backLevel.vt != listType || backLevel.parray == nullptr || backLevel.parray->bounds[0].elements != bound.elements)
      fail("an inner dimension came back with another length");
    platform::safeArrayAccessData(backLevel.parray, &levelData);
    const auto* levelElements = static_cast<const Variant*>(levelData);
    for (uint32_t i = 0; i < bound.elements; ++i) {
      index[d] = bound.lowerBound + static_cast<int32_t>(i);
      if (d + 1 < dims) {
        walk(d + 1, levelElements[i]);
        continue;
      }
      Variant element;
      platform::variantInit(&element);
      if (elementType == platform::vtVariant && dims == 1) {
        // Read in place, as the conversion reads it.
        checkHostTrip(static_cast<const Variant*>(array->data)[index[0] - bound.lowerBound], levelElements[i],
                      datetimeMode);
      } else if (elementType == platform::vtVariant) {
        // Copied, as the conversion copies it: an element OLE cannot copy
        // (the module's 8-bit strings) comes back as Null.
        if (platform::failed(platform::safeArrayGetElement(array, index.data(), &element))) {
          if (levelElements[i].vt != platform::vtNull) fail("an element that cannot be copied did not come back as Null");
        } else {
          checkHostTrip(element, levelElements[i], datetimeMode);
        }
        THostVariant::Clear(element);
      } else {
        element.vt = elementType;
        if (platform::failed(platform::safeArrayGetElement(array, index.data(), &element.llVal)))
          fail("an element of an array cannot be read");
        checkHostTrip(element, levelElements[i], datetimeMode);
        THostVariant::Clear(element);
      }
    }
    platform::safeArrayUnaccessData(backLevel.parray);
  };
  walk(0, back);
}

void checkHostTrip(const Variant& sentValue, const Variant& back, bool datetimeMode) {
  const Variant& sent = referenced(sentValue);
  if ((sent.vt & platform::vtByRef) != 0) {
    const uint16_t type = sent.vt & ~platform::vtByRef;
    if ((type & platform::vtArray) != 0) {
      checkArrayTrip(*static_cast<SafeArray* const*>(sent.byref), type & platform::vtTypeMask, back, datetimeMode);
      return;
    }
    // The referenced storage is a whole variant's value: its first eight
    // bytes hold any scalar. A referenced BSTR stays the referenced one.
    Variant direct;
    platform::variantInit(&direct);
    direct.vt = type;
    std::memcpy(&direct.llVal, sent.byref, sizeof direct.llVal);
    checkHostTrip(direct, back, datetimeMode);
    return;
  }
  if ((sent.vt & platform::vtArray) != 0) {
    checkArrayTrip(sent.parray, sent.vt & platform::vtTypeMask, back, datetimeMode);
    return;
  }
  if (const auto number = integerOf(sent)) {
    if (back.vt != platform::vtI8 || back.llVal != *number) fail("an integer changed");
    return;
  }
  switch (sent.vt) {
    case platform::vtR4:
      if (back.vt != platform::vtR8 || !sameDouble(back.dblVal, static_cast<double>(sent.fltVal)))
        fail("a single changed");
      return;
    case platform::vtR8:
      if (back.vt != platform::vtR8 || !sameDouble(back.dblVal, sent.dblVal)) fail("a double changed");
      return;
    case platform::vtCy:
      if (back.vt != platform::vtR8 || !sameDouble(back.dblVal, static_cast<double>(sent.cyVal) / 10000.0))
        fail("a currency value changed");
      return;
    case platform::vtDate:
      if (!dateInRange(sent.date)) return;  // no date of the calendar: whatever came back
      if (back.vt != platform::vtDate || !sameDate(sent.date, back.date, datetimeMode)) fail("a date changed");
      return;
    case platform::vtBstr:
      if (back.vt != platform::vtBstr || bstrText(back.bstrVal) != bstrText(sent.bstrVal)) fail("a text changed");
      return;
    case platform::vtBool:
      if (back.vt != platform::vtBool ||
          back.boolVal != (sent.boolVal == platform::kVariantTrue ? platform::kVariantTrue : platform::kVariantFalse))
        fail("a boolean changed");
      return;
    case platform::vtString:
      if (back.vt != platform::vtString ||
          AnsiString::Share(static_cast<const char*>(back.byref)).view() !=
              AnsiString::Share(static_cast<const char*>(sent.byref)).view())
        fail("a byte string changed");
      return;
    default:
      if (back.vt != platform::vtNull) fail("a value without a Python counterpart did not come back as Null");
      return;
  }
}

// Whether two variants made by PythonToVariant are the same value.
bool sameVariant(const Variant& a, const Variant& b, bool datetimeMode) {
  // A time span of a million days is a date beyond the calendar's years,
  // which comes back as whatever its parts make.
  if (a.vt == platform::vtDate && !dateInRange(a.date)) return true;
  if (a.vt != b.vt) return false;
  switch (a.vt) {
    case platform::vtI8: return a.llVal == b.llVal;
    case platform::vtR8: return sameDouble(a.dblVal, b.dblVal);
    case platform::vtBool: return a.boolVal == b.boolVal;
    case platform::vtDate: return sameDate(a.date, b.date, datetimeMode);
    case platform::vtBstr: return bstrText(a.bstrVal) == bstrText(b.bstrVal);
    case platform::vtString:
      return AnsiString::Share(static_cast<const char*>(a.byref)).view() ==
             AnsiString::Share(static_cast<const char*>(b.byref)).view();
    case platform::vtNull: return true;
    case platform::vtArray | platform::vtVariant: {
      const uint32_t n = a.parray->bounds[0].elements;
      if (b.parray->bounds[0].elements != n) return false;
      const auto* x = static_cast<const Variant*>(a.parray->data);
      const auto* y = static_cast<const Variant*>(b.parray->data);
      for (uint32_t i = 0; i < n; ++i) {
        if (!sameVariant(x[i], y[i], datetimeMode)) return false;
      }
      return true;
    }
    default: fail("PythonToVariant made a variant of an unexpected type");
  }
}

// ---- Python values ------------------------------------------------------------------

// The repr of an object on stderr, for the report of a failed check.
void describe(const char* what, const Object& object) {
  const auto& api = runtime().api();
  Object text = Object::Steal(api, api.PyObject_Repr(object.get()));
  std::string storage;
  const std::string_view view =
      text ? runtime().engine.Converter().PythonToTextView(text.get(), storage) : std::string_view("<no repr>");
  api.PyErr_Clear();
  std::fprintf(stderr, "%s: %.*s\n", what, static_cast<int>(view.size()), view.data());
}

Object call(const char* function, std::vector<Object> arguments) {
  Runtime& r = runtime();
  const auto& api = r.api();
  Object tuple = Object::Steal(api, api.PyTuple_New(static_cast<corvane::py::Py_ssize_t>(arguments.size())));
  for (size_t i = 0; i < arguments.size(); ++i)
    api.PyTuple_SetItem(tuple.get(), static_cast<corvane::py::Py_ssize_t>(i), arguments[i].release());
  if (api.PyErr_Occurred() != nullptr) {
    corvane::py::PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    api.PyErr_Fetch(&type, &value, &traceback);
    describe("type", Object::Steal(api, type));
    describe("error", Object::Steal(api, value));
    fail("an error was left pending");
  }
  Object result = Object::Steal(api, api.PyObject_Call(r.Function(function).get(), tuple.get(), nullptr));
  if (!result) api.PyErr_Clear();  // a date the calendar does not have, and the like
  return result;
}

Object integer(int64_t value) {
  return Object::Steal(runtime().api(), runtime().api().PyLong_FromLongLong(value));
}

Object buildPython(FuzzedDataProvider& in, int depth) {
  Runtime& r = runtime();
  const auto& api = r.api();
  const TValueConverter converter(api, r.dates, corvane::py::dcmToDatetime);
  Object value;
  switch (in.ConsumeIntegralInRange<uint8_t>(0, depth >= kMaxDepth ? 9 : 15)) {
    case 0: value = Object::Borrow(api, api.None()); break;
    case 1: value = integer(in.ConsumeIntegral<int64_t>()); break;
    case 2: {
      const uint64_t bits = in.ConsumeIntegral<uint64_t>();
      double number;
      std::memcpy(&number, &bits, sizeof bits);
      value = Object::Steal(api, api.PyFloat_FromDouble(number));
      break;
    }
    case 3: value = converter.WideToPython(wideText(in)); break;
    case 4: {
      const std::string bytes = in.ConsumeRandomLengthString(24);
      value = Object::Steal(api, api.PyBytes_FromStringAndSize(bytes.data(), static_cast<corvane::py::Py_ssize_t>(bytes.size())));
      break;
    }
    case 5: value = Object::Borrow(api, in.ConsumeBool() ? api.True() : api.False()); break;
    case 6: {
      // An int of any size, from hexadecimal digits.
      std::string digits;
      const size_t count = in.ConsumeIntegralInRange<size_t>(0, 40);
      for (size_t i = 0; i < count; ++i) digits.push_back("0123456789abcdef"[in.ConsumeIntegral<uint8_t>() % 16]);
      value = call("make_int", {converter.TextToPython(digits), Object::Borrow(api, in.ConsumeBool() ? api.True() : api.False())});
      break;
    }
    case 7: {
      const uint8_t which = in.ConsumeIntegralInRange<uint8_t>(0, 3);
      const auto small = [&](int lo, int hi) { return integer(in.ConsumeIntegralInRange<int>(lo, hi)); };
      if (which == 0)
        value = call("make_datetime", {small(0, 10000), small(0, 13), small(0, 32), small(0, 24), small(0, 60),
                                       small(0, 60), small(0, 1000000)});
      else if (which == 1)
        value = call("make_date", {small(0, 10000), small(0, 13), small(0, 32)});
      else if (which == 2)
        value = call("make_time", {small(0, 24), small(0, 60), small(0, 60), small(0, 1000000)});
      else
        value = call("make_delta", {small(-1000000, 1000000), small(-100000, 100000), small(-2000000, 2000000)});
      break;
    }
    case 8: {
      // Nine integers: a struct_time or a plain tuple, both read as dates
      // when their fields make one.
      std::vector<Object> fields;
      for (int i = 0; i < 9; ++i) fields.push_back(integer(in.ConsumeIntegralInRange<int>(-2, 2100)));
      value = call(in.ConsumeBool() ? "make_struct_time" : "make_tuple", std::move(fields));
      break;
    }
    case 9:
      value = call("make_subclass", {integer(in.ConsumeIntegral<uint8_t>()),
                                      in.ConsumeBool() ? converter.TextToPython(in.ConsumeRandomLengthString(8))
                                                       : integer(in.ConsumeIntegral<int32_t>())});
      break;
    case 10:
    case 11: {
      const size_t count = in.ConsumeIntegralInRange<size_t>(0, 5);
      value = Object::Steal(api, api.PyList_New(0));
      for (size_t i = 0; i < count; ++i) {
        Object item = buildPython(in, depth + 1);
        if (item) api.PyList_Append(value.get(), item.get());
      }
      break;
    }
    case 12: {
      std::vector<Object> items;
      const size_t count = in.ConsumeIntegralInRange<size_t>(0, 5);
      for (size_t i = 0; i < count; ++i) {
        Object item = buildPython(in, depth + 1);
        items.push_back(item ? item : Object::Borrow(api, api.None()));
      }
      value = call("make_tuple", std::move(items));
      break;
    }
    case 13: {
      const uint8_t which = in.ConsumeIntegralInRange<uint8_t>(0, 3);
      if (which == 0)
        value = call("Seq", {integer(in.ConsumeIntegralInRange<int>(0, 6)), integer(in.ConsumeIntegralInRange<int>(-1, 6))});
      else if (which == 1)
        value = call("BadLen", {});
      else if (which == 2)
        value = call("make_bytearray", {Object::Steal(api, api.PyBytes_FromStringAndSize("\x01\x02\xff", 3))});
      else
        value = call("make_dict", {integer(1), buildPython(in, depth + 1)});
      break;
    }
    default:
      value = call("make_self_list", {});
      break;
  }
  if (!value) value = Object::Borrow(api, api.None());
  return value;
}

void hostFirst(FuzzedDataProvider& in, bool datetimeMode) {
  Runtime& r = runtime();
  const TValueConverter converter(r.api(), r.dates, datetimeMode ? corvane::py::dcmToDatetime : corvane::py::dcmToTuple);
  ByRefStorage storage;
  THostVariant sent;
  buildVariant(in, sent.raw(), 0, storage);
  Object object;
  try {
    object = converter.VariantToPython(sent.raw());
  } catch (const corvane::Exception&) {
    // Arrays of more than three dimensions, at any depth, are refused.
    r.api().PyErr_Clear();
    return;
  }
  if (!object) {
    // Only a date beyond the datetime type's years may fail.
    if (r.api().PyErr_Occurred() == nullptr) fail("a conversion failed without an error");
    r.api().PyErr_Clear();
    if (!datetimeMode) fail("a conversion failed in tuple mode");
    return;
  }
  THostVariant back = converter.PythonToVariant(object.get());
  if (r.api().PyErr_Occurred() != nullptr) fail("converting a converted value back set an error");
  checkHostTrip(sent.raw(), back.raw(), datetimeMode);
}

void pythonFirst(FuzzedDataProvider& in, bool datetimeMode) {
  Runtime& r = runtime();
  const auto& api = r.api();
  const TValueConverter converter(api, r.dates, datetimeMode ? corvane::py::dcmToDatetime : corvane::py::dcmToTuple);
  Object value = buildPython(in, 0);
  THostVariant first;
  try {
    first = converter.PythonToVariant(value.get());
  } catch (const corvane::Exception&) {
    api.PyErr_Clear();
    return;
  }
  if (api.PyErr_Occurred() != nullptr) {
    // An int beyond 64 bits.
    api.PyErr_Clear();
    return;
  }
  Object again = converter.VariantToPython(first.raw());
  if (!again) {
    api.PyErr_Clear();
    if (!datetimeMode) fail("a converted value did not convert back in tuple mode");
    return;
  }
  THostVariant second = converter.PythonToVariant(again.get());
  if (api.PyErr_Occurred() != nullptr) fail("a converted value set an error on its second trip");
  if (!sameVariant(first.raw(), second.raw(), datetimeMode)) {
    describe("value", value);
    describe("back", again);
    fail("a value changed on its second trip");
  }
  Object lossless = call("lossless", {value});
  if (lossless && api.PyObject_IsTrue(lossless.get()) == 1 &&
      api.PyObject_RichCompareBool(value.get(), again.get(), 2 /* == */) != 1) {
    describe("value", value);
    describe("back", again);
    fail("a value of exact ints, strs, bytes, floats, bools and lists changed");
  }
  api.PyErr_Clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Runtime& r = runtime();
  corvane::py::TGilAcquire gil(r.engine);
  FuzzedDataProvider in(data, size);
  const uint8_t mode = in.ConsumeIntegral<uint8_t>();
  const bool datetimeMode = (mode & 1) != 0;
  if ((mode & 2) == 0)
    hostFirst(in, datetimeMode);
  else
    pythonFirst(in, datetimeMode);
  return 0;
}
