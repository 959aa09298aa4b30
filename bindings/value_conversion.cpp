// Host values to Python objects and back.
#include "bindings/value_conversion.h"

#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "bindings/python_errors.h"
#include "common/ansi_string.h"
#include "platform/code_page.h"

namespace corvane::py {

using platform::SafeArray;
using platform::Variant;

// ---- Calendar ----------------------------------------------------------------

namespace {

constexpr int64_t kMsPerDay = 86400000;
constexpr int64_t kOleDayOfUnixEpoch = 25569;  // 1970-01-01 counted from 1899-12-30
constexpr double kMaxDateDays = 365242500.0;    // a million years of days

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int32_t& year, int32_t& month, int32_t& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int32_t>(yoe + era * 400 + (month <= 2));
}

bool isLeap(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int32_t daysInMonth(int32_t y, int32_t m) {
  static constexpr int32_t days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

}  // namespace

TDateParts DecodeOleDate(double date) {
  int64_t days = static_cast<int64_t>(std::trunc(date));
  int64_t ms = std::llround(std::fabs(date - static_cast<double>(days)) * kMsPerDay);
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    ++days;
  }
  TDateParts parts{};
  const int64_t unixDays = days - kOleDayOfUnixEpoch;
  civilFromDays(unixDays, parts.Year, parts.Month, parts.Day);
  parts.Hour = static_cast<int32_t>(ms / 3600000);
  parts.Minute = static_cast<int32_t>(ms / 60000 % 60);
  parts.Second = static_cast<int32_t>(ms / 1000 % 60);
  parts.Millisecond = static_cast<int32_t>(ms % 1000);
  // 1970-01-01 was a Thursday (3 counting Monday as 0).
  parts.DayOfWeek = static_cast<int32_t>(((unixDays % 7) + 7 + 3) % 7);
  parts.DayOfYear = static_cast<int32_t>(unixDays - daysFromCivil(parts.Year, 1, 1) + 1);
  return parts;
}

bool EncodeOleDate(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                   int32_t second, int32_t millisecond, double& date) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > daysInMonth(year, month))
    return false;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    return false;
  const double days = static_cast<double>(daysFromCivil(year, month, day) + kOleDayOfUnixEpoch);
  const double time =
      static_cast<double>(((hour * 60 + minute) * 60 + second) * 1000 + millisecond) / kMsPerDay;
  date = days >= 0 ? days + time : days - time;
  return true;
}

// ---- Host variants ---------------------------------------------------------------

THostVariant& THostVariant::operator=(THostVariant&& other) noexcept {
  if (this != &other) {
    Clear(value_);
    value_ = other.value_;
    platform::variantInit(&other.value_);
  }
  return *this;
}

void THostVariant::Clear(Variant& value) {
  // Numbers, booleans and dates (most values) hold nothing to release.
  if (value.vt <= platform::vtDate || value.vt == platform::vtBool ||
      (value.vt >= platform::vtI1 && value.vt <= platform::vtUInt)) {
    value.vt = platform::vtEmpty;
    return;
  }
  if (value.vt == platform::vtString) {
    AnsiString::ReleaseChars(static_cast<char*>(value.byref));
    platform::variantInit(&value);
    return;
  }
  if (value.vt == (platform::vtArray | platform::vtVariant) && value.parray != nullptr) {
    void* data = nullptr;
    if (platform::succeeded(platform::safeArrayAccessData(value.parray, &data))) {
      uint32_t count = 1;
      for (uint32_t d = 0; d < value.parray->dims; ++d) count *= value.parray->bounds[d].elements;
      auto* elements = static_cast<Variant*>(data);
      for (uint32_t i = 0; i < count; ++i) {
        if (elements[i].vt == platform::vtString ||
            elements[i].vt == (platform::vtArray | platform::vtVariant))
          Clear(elements[i]);
      }
      platform::safeArrayUnaccessData(value.parray);
    }
  }
  platform::variantClear(&value);
}

// ---- Host value to Python -----------------------------------------------------------

bool TValueConverter::IsInstance(Handle object, PyTypeObject* type) const {
  return IsInstance(object, Handle(PythonApi::TypeObject(type)));
}

bool TValueConverter::IsInstance(Handle object, Handle type) const {
  if (!type) return false;
  if (reinterpret_cast<PyObject*>(object.ptr()->ob_type) == type.ptr()) return true;  // the common case, cheaply
  const int answer = api_.PyObject_IsInstance(object.ptr(), type.ptr());
  if (answer < 0) api_.PyErr_Clear();
  return answer == 1;
}

Object TValueConverter::VariantToPython(const Variant& value) const {
  const Variant* current = &value;
  while (current->vt == (platform::vtByRef | platform::vtVariant) && current->pvarVal != nullptr)
    current = current->pvarVal;
  if ((current->vt & platform::vtByRef) != 0) {
    const uint16_t type = current->vt & ~platform::vtByRef;
    if ((type & platform::vtArray) != 0) {
      auto* const* array = static_cast<SafeArray* const*>(current->byref);
      return ArrayToPython(array ? *array : nullptr, type & platform::vtTypeMask);
    }
    Variant direct;
    platform::variantInit(&direct);
    if (platform::failed(platform::variantCopyInd(&direct, current))) return Object::Borrow(api_, api_.None());
    Object result;
    try {
      result = ScalarToPython(direct);
    } catch (...) {
      THostVariant::Clear(direct);
      throw;
    }
    THostVariant::Clear(direct);
    return result;
  }
  if ((current->vt & platform::vtArray) != 0)
    return ArrayToPython(current->parray, current->vt & platform::vtTypeMask);
  return ScalarToPython(*current);
}

Object TValueConverter::ScalarToPython(const Variant& value) const {
  const auto steal = [&](PyObject* object) { return Object::Steal(api_, object); };
  switch (value.vt) {
    case platform::vtI2: return steal(api_.PyLong_FromLongLong(value.iVal));
    case platform::vtI4: return steal(api_.PyLong_FromLongLong(value.lVal));
    case platform::vtI1: return steal(api_.PyLong_FromLongLong(value.cVal));
    case platform::vtUI1: return steal(api_.PyLong_FromLongLong(value.bVal));
    case platform::vtUI2: return steal(api_.PyLong_FromLongLong(value.uiVal));
    case platform::vtUI4: return steal(api_.PyLong_FromUnsignedLongLong(value.ulVal));
    case platform::vtI8: return steal(api_.PyLong_FromLongLong(value.llVal));
    case platform::vtR4: return steal(api_.PyFloat_FromDouble(value.fltVal));
    case platform::vtR8: return steal(api_.PyFloat_FromDouble(value.dblVal));
    case platform::vtCy: return steal(api_.PyFloat_FromDouble(static_cast<double>(value.cyVal) / 10000.0));
    case platform::vtDate: return DateToPython(value.date);
    case platform::vtBstr:
      return WideToPython(value.bstrVal ? std::u16string_view(value.bstrVal, platform::sysStringLen(value.bstrVal))
                                        : std::u16string_view());
    case platform::vtBool:
      return Object::Borrow(api_, value.boolVal == platform::kVariantTrue ? api_.True() : api_.False());
    case platform::vtString: {
      const AnsiString text = AnsiString::Share(static_cast<const char*>(value.byref));
      return steal(api_.PyBytes_FromStringAndSize(text.c_str(), text.size()));
    }
    default:
      // Empty, Null and everything without a Python counterpart (the module
      // never hands scripts dispatch objects carrying Python objects).
      return Object::Borrow(api_, api_.None());
  }
}

Object TValueConverter::ArrayToPython(SafeArray* array, uint16_t elementType) const {
  if (array == nullptr) return Object::Steal(api_, api_.PyList_New(0));
  const uint32_t dims = platform::safeArrayGetDim(array);
  if (dims > 3)
    throw Exception("Can't convert a variant array of more than 3 dimensions to a Python sequence");
  std::vector<int32_t> lower(dims), upper(dims), index(dims);
  for (uint32_t d = 0; d < dims; ++d) {
    platform::safeArrayGetLBound(array, d + 1, &lower[d]);
    platform::safeArrayGetUBound(array, d + 1, &upper[d]);
  }
  // Lists nest with the first index outermost.
  std::function<Object(uint32_t)> level = [&](uint32_t d) -> Object {
    const int32_t count = upper[d] >= lower[d] ? upper[d] - lower[d] + 1 : 0;
    Object list = Object::Steal(api_, api_.PyList_New(count));
    if (!list) return list;
    for (int32_t i = 0; i < count; ++i) {
      index[d] = lower[d] + i;
      Object item;
      if (d + 1 < dims) {
        item = level(d + 1);
      } else if (elementType == platform::vtVariant && dims == 1) {
        // Read in place: a copy would refuse the module's 8-bit strings,
        // which OLE does not know.
        void* data = nullptr;
        if (platform::failed(platform::safeArrayAccessData(array, &data))) return Object();
        try {
          item = VariantToPython(static_cast<const Variant*>(data)[i]);
        } catch (...) {
          platform::safeArrayUnaccessData(array);
          throw;
        }
        platform::safeArrayUnaccessData(array);
      } else {
        Variant element;
        platform::variantInit(&element);
        platform::HResult hr;
        if (elementType == platform::vtVariant) {
          hr = platform::safeArrayGetElement(array, index.data(), &element);
        } else {
          element.vt = elementType;
          hr = platform::safeArrayGetElement(array, index.data(), &element.llVal);
        }
        if (platform::failed(hr)) {
          platform::variantInit(&element);
        }
        try {
          item = VariantToPython(element);
        } catch (...) {
          THostVariant::Clear(element);
          throw;
        }
        THostVariant::Clear(element);
      }
      if (!item) return item;
      api_.PyList_SetItem(list.get(), i, item.release());  // steals the item
    }
    return list;
  };
  if (dims == 0) return Object::Steal(api_, api_.PyList_New(0));
  return level(0);
}

Object TValueConverter::DateToPython(double date) const {
  // Days beyond a million years either way (and NaN and the infinities)
  // make no calendar date: their day count does not even fit an integer.
  if (!std::isfinite(date) || std::fabs(date) > kMaxDateDays)
    throw Exception("Can't convert the date value " + std::to_string(date) + " to a Python date");
  const TDateParts p = DecodeOleDate(date);
  switch (mode_) {
    case dcmToTuple: {
      const int64_t fields[] = {p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.DayOfWeek, p.DayOfYear, -1};
      Object tuple = Object::Steal(api_, api_.PyTuple_New(9));
      if (!tuple) return tuple;
      for (Py_ssize_t i = 0; i < 9; ++i) api_.PyTuple_SetItem(tuple.get(), i, api_.PyLong_FromLongLong(fields[i]));
      return tuple;
    }
    case dcmToDatetime: {
      if (dates_.DateTime == nullptr)
        throw EPythonError(
            "dcmToDatetime DatetimeConversionMode cannot be used with this version of python. Missing module datetime");
      const int64_t fields[] = {p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, int64_t{p.Millisecond} * 1000};
      Object arguments = Object::Steal(api_, api_.PyTuple_New(7));
      if (!arguments) return arguments;
      for (Py_ssize_t i = 0; i < 7; ++i) api_.PyTuple_SetItem(arguments.get(), i, api_.PyLong_FromLongLong(fields[i]));
      return Object::Steal(api_, api_.PyObject_Call(dates_.DateTime, arguments.get(), nullptr));
    }
  }
  throw EPythonError("Invalid DatetimeConversionMode");
}

// ---- Python to host value -------------------------------------------------------------

namespace {

class IntAttributes {
 public:
  IntAttributes(const PythonApi& api, Handle object) : api_(api), object_(object.ptr()) {}
  // False (with the Python error cleared) when the attribute is missing or no int.
  bool Get(const char* name, int64_t& value) {
    Object attribute = Object::Steal(api_, api_.PyObject_GetAttrString(object_, name));
    if (!attribute) {
      api_.PyErr_Clear();
      return false;
    }
    value = api_.PyLong_AsLongLong(attribute.get());
    if (value == -1 && api_.PyErr_Occurred() != nullptr) {
      api_.PyErr_Clear();
      return false;
    }
    return true;
  }

 private:
  const PythonApi& api_;
  PyObject* object_;
};

bool fitsInt32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

}  // namespace

bool TValueConverter::PythonToDate(Handle handle, double& date) const {
  PyObject* object = handle.ptr();
  IntAttributes get(api_, object);
  int64_t y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, us = 0;
  const auto encode = [&](int64_t ms) {
    if (!fitsInt32(y) || !fitsInt32(mo) || !fitsInt32(d) || !fitsInt32(h) || !fitsInt32(mi) || !fitsInt32(s) ||
        !fitsInt32(ms))
      return false;
    return EncodeOleDate(static_cast<int32_t>(y), static_cast<int32_t>(mo), static_cast<int32_t>(d),
                         static_cast<int32_t>(h), static_cast<int32_t>(mi), static_cast<int32_t>(s),
                         static_cast<int32_t>(ms), date);
  };
  if (dates_.StructTime != nullptr) {
    Object type = Object::Steal(api_, api_.PyObject_Type(object));
    if (type.get() == dates_.StructTime) {
      return get.Get("tm_year", y) && get.Get("tm_mon", mo) && get.Get("tm_mday", d) && get.Get("tm_hour", h) &&
             get.Get("tm_min", mi) && get.Get("tm_sec", s) && encode(0);
    }
  }
  if (IsInstance(object, dates_.DateTime)) {
    return get.Get("year", y) && get.Get("month", mo) && get.Get("day", d) && get.Get("hour", h) &&
           get.Get("minute", mi) && get.Get("second", s) && get.Get("microsecond", us) && encode(us / 1000);
  }
  if (IsInstance(object, dates_.Date)) {
    return get.Get("year", y) && get.Get("month", mo) && get.Get("day", d) && encode(0);
  }
  if (IsInstance(object, dates_.Time)) {
    if (!(get.Get("hour", h) && get.Get("minute", mi) && get.Get("second", s) && get.Get("microsecond", us)))
      return false;
    if (h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59) return false;
    date = static_cast<double>(((h * 60 + mi) * 60 + s) * 1000 + us / 1000) / kMsPerDay;
    return true;
  }
  if (IsInstance(object, dates_.TimeDelta)) {
    int64_t days = 0;
    if (!(get.Get("days", days) && get.Get("seconds", s) && get.Get("microseconds", us))) return false;
    date = static_cast<double>(days) + static_cast<double>(s) / 86400.0 +
           static_cast<double>(us / 1000) / static_cast<double>(kMsPerDay);
    return true;
  }
  if (IsInstance(object, api_.PyTuple_Type) && api_.PyTuple_Size(object) == 9) {
    int64_t f[9];
    for (Py_ssize_t i = 0; i < 9; ++i) {
      PyObject* item = api_.PyTuple_GetItem(object, i);  // borrowed
      if (item == nullptr || !IsInstance(item, api_.PyLong_Type)) {
        api_.PyErr_Clear();
        return false;
      }
      f[i] = api_.PyLong_AsLongLong(item);
      if (f[i] == -1 && api_.PyErr_Occurred() != nullptr) {
        api_.PyErr_Clear();
        return false;
      }
    }
    const bool inRange = f[1] >= 1 && f[1] <= 12 && f[2] >= 1 && f[2] <= 31 && f[3] >= 0 && f[3] <= 23 &&
                         f[4] >= 0 && f[4] <= 59 && f[5] >= 0 && f[5] <= 59 && f[6] <= 6 && f[7] >= 0 &&
                         f[7] <= 366 && f[8] >= -1 && f[8] <= 1;
    if (!inRange) return false;
    y = f[0], mo = f[1], d = f[2], h = f[3], mi = f[4], s = f[5];
    return encode(0);
  }
  return false;
}

void TValueConverter::StoreWide(Handle text, Variant& out) const {
  const std::u16string wide = PythonToWide(text);
  // A refused string would read as an empty text: the value would be lost
  // without a word.
  Variant stored{};
  stored.vt = platform::vtBstr;
  if (!wide.empty()) {
    stored.bstrVal = platform::sysAllocStringLen(wide.data(), static_cast<uint32_t>(wide.size()));
    if (stored.bstrVal == nullptr) throw std::bad_alloc();
  }
  out = stored;
}

THostVariant TValueConverter::PythonToVariant(Handle handle) const { return PythonToVariant(handle, 0); }

THostVariant TValueConverter::PythonToVariant(Handle handle, int32_t depth) const {
  PyObject* object = handle.ptr();
  THostVariant result;
  Variant& out = result.raw();
  // Exact ints and strs, what scripts pass nearly always, are known by their
  // type alone: an exact instance of one of the types below is an instance of
  // no other, so the order of the checks does not matter for them, and each
  // IsInstance that fails would cost a lookup of __class__.
  const PyObject* type = reinterpret_cast<PyObject*>(object->ob_type);
  if (type == PythonApi::TypeObject(api_.PyLong_Type)) {
    out.vt = platform::vtI8;
    out.llVal = api_.PyLong_AsLongLong(object);
    return result;
  }
  if (type == PythonApi::TypeObject(api_.PyUnicode_Type)) {
    StoreWide(object, out);
    return result;
  }
  if (IsInstance(object, api_.PyFloat_Type)) {
    out.vt = platform::vtR8;
    out.dblVal = api_.PyFloat_AsDouble(object);
    return result;
  }
  if (IsInstance(object, api_.PyBool_Type)) {
    out.vt = platform::vtBool;
    out.boolVal = api_.PyObject_IsTrue(object) == 1 ? platform::kVariantTrue : platform::kVariantFalse;
    return result;
  }
  if (IsInstance(object, api_.PyLong_Type)) {
    // An int beyond 64 bits leaves the runtime's OverflowError set for the
    // caller to report.
    out.vt = platform::vtI8;
    out.llVal = api_.PyLong_AsLongLong(object);
    return result;
  }
  if (IsInstance(object, api_.PyUnicode_Type)) {
    StoreWide(object, out);
    return result;
  }
  if (IsInstance(object, api_.PyBytes_Type)) {
    const char* bytes = api_.PyBytes_AsString(object);
    const Py_ssize_t size = api_.PyBytes_Size(object);
    AnsiString text(std::string_view(bytes, static_cast<size_t>(size)));
    out.vt = platform::vtString;
    out.byref = text.Detach();
    return result;
  }
  double date = 0;
  if (PythonToDate(object, date)) {
    out.vt = platform::vtDate;
    out.date = date;
    return result;
  }
  if (api_.PySequence_Check(object) == 1) {
    // Each level of nesting is a level of recursion here: a list that
    // contains itself would otherwise run the thread out of stack.
    if (depth >= kMaxSequenceDepth)
      throw Exception("Can't convert a Python sequence nested more than " + std::to_string(kMaxSequenceDepth) +
                      " levels deep (does it contain itself?)");
    const Py_ssize_t count = api_.PySequence_Size(object);
    bool works = count >= 0;
    if (works && count > 0) {
      Object first = Object::Steal(api_, api_.PySequence_GetItem(object, 0));
      works = static_cast<bool>(first);
    }
    if (!works || count > INT32_MAX) {
      api_.PyErr_Clear();
      out.vt = platform::vtNull;
      return result;
    }
    SafeArray* array = platform::safeArrayCreateVector(platform::vtVariant, 0, static_cast<uint32_t>(count));
    if (array == nullptr) throw Exception("Out of memory while converting a sequence");
    out.vt = platform::vtArray | platform::vtVariant;
    out.parray = array;
    void* data = nullptr;
    if (platform::failed(platform::safeArrayAccessData(array, &data)))
      throw Exception("Unable to fill a variant array");
    auto* elements = static_cast<Variant*>(data);
    try {
      for (Py_ssize_t i = 0; i < count; ++i) {
        Object item = Object::Steal(api_, api_.PySequence_GetItem(object, i));
        if (!item) {
          api_.PyErr_Clear();
          elements[i].vt = platform::vtNull;
          continue;
        }
        THostVariant element = PythonToVariant(item.get(), depth + 1);
        // Moved in place: the array owns the value from here on.
        elements[i] = element.raw();
        platform::variantInit(&element.raw());
      }
    } catch (...) {
      platform::safeArrayUnaccessData(array);
      throw;
    }
    platform::safeArrayUnaccessData(array);
    return result;
  }
  out.vt = platform::vtNull;
  return result;
}

// ---- Texts ----------------------------------------------------------------------------

namespace {

bool isAscii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool isAscii(std::u16string_view text) {
  for (const char16_t c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

}  // namespace

// The UTF-8 form of a str, or nothing (with no error set) when it holds
// lone surrogates, which only the UTF-16 path below carries over.
std::optional<std::string> TValueConverter::Utf8Of(Handle text) const {
  if (api_.PyUnicode_AsUTF8AndSize != nullptr) {
    // The runtime keeps this form with the str: nothing is allocated.
    Py_ssize_t size = 0;
    if (const char* chars = api_.PyUnicode_AsUTF8AndSize(text.ptr(), &size))
      return std::string(chars, static_cast<size_t>(size));
    api_.PyErr_Clear();
    return std::nullopt;
  }
  Object utf8 = Object::Steal(api_, api_.PyUnicode_AsUTF8String(text.ptr()));
  if (!utf8) {
    api_.PyErr_Clear();
    return std::nullopt;
  }
  return std::string(api_.PyBytes_AsString(utf8.ptr()), static_cast<size_t>(api_.PyBytes_Size(utf8.ptr())));
}

Object TValueConverter::WideToPython(std::u16string_view text) const {
  if (isAscii(text)) {
    const std::string narrow(text.begin(), text.end());
    return Object::Steal(api_, api_.PyUnicode_FromStringAndSize(narrow.data(), static_cast<Py_ssize_t>(narrow.size())));
  }
  int byteOrder = -1;  // little endian, as the host's UTF-16
  static_assert(sizeof(char16_t) == 2);
  std::string bytes(text.size() * 2, '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  return Object::Steal(
      api_, api_.PyUnicode_DecodeUTF16(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "surrogatepass", &byteOrder));
}

std::u16string TValueConverter::PythonToWide(Handle handle) const {
  PyObject* object = handle.ptr();
  if (!IsInstance(object, api_.PyUnicode_Type))
    throw EPythonError("PyUnicode_AsWideString expects a Unicode Python object");
  if (const std::optional<std::string> utf8 = Utf8Of(object)) return platform::utf8ToWide(*utf8);
  Object encoded = Object::Steal(api_, api_.PyUnicode_AsEncodedString(object, "utf-16-le", "surrogatepass"));
  if (!encoded) {
    api_.PyErr_Clear();
    throw EPythonError("Could not copy the whole Unicode string into its buffer");
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(api_.PyBytes_AsString(encoded.get()));
  const size_t size = static_cast<size_t>(api_.PyBytes_Size(encoded.get())) / 2;
  std::u16string text(size, u'\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return text;
}

Object TValueConverter::TextToPython(std::string_view text) const {
  if (isAscii(text))
    return Object::Steal(api_, api_.PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  // Through UTF-16, as the host's other 8-bit texts are read: bytes that
  // make no character of the code page (on POSIX, where it is UTF-8, bytes
  // of no valid sequence) become U+FFFD instead of failing the conversion,
  // which would leave callers an empty object.
  return WideToPython(platform::ansiToWide(text));
}

std::string_view TValueConverter::PythonToTextView(Handle handle, std::string& storage) const {
  PyObject* object = handle.ptr();
  if (IsInstance(object, api_.PyUnicode_Type)) {
    if (api_.PyUnicode_AsUTF8AndSize != nullptr) {
      // The runtime keeps the UTF-8 form with the str; an ASCII text is its
      // own ANSI form, so it is handed out in place.
      Py_ssize_t size = 0;
      if (const char* chars = api_.PyUnicode_AsUTF8AndSize(object, &size)) {
        const std::string_view utf8(chars, static_cast<size_t>(size));
        if (isAscii(utf8)) return utf8;
        storage = platform::utf8ToAnsi(utf8);
        return storage;
      }
      api_.PyErr_Clear();
    } else if (std::optional<std::string> utf8 = Utf8Of(object)) {
      storage = isAscii(*utf8) ? std::move(*utf8) : platform::utf8ToAnsi(*utf8);
      return storage;
    }
    storage = platform::wideToAnsi(PythonToWide(object));
    return storage;
  }
  if (IsInstance(object, api_.PyBytes_Type)) {
    const char* bytes = api_.PyBytes_AsString(object);
    const size_t size = static_cast<size_t>(api_.PyBytes_Size(object));
    return std::string_view(bytes, strnlen(bytes, size));
  }
  api_.PyErr_SetString(*api_.PyExc_TypeError, "expected a str or bytes object");
  return {};
}

std::string TValueConverter::PythonToText(Handle handle) const {
  std::string storage;
  const std::string_view text = PythonToTextView(handle, storage);
  if (text.data() != storage.data()) storage.assign(text);
  return storage;
}

}  // namespace corvane::py
