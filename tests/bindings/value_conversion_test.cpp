// Host values to Python objects and back, with a real Python runtime: every
// row of the conversion tables.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "bindings/value_conversion.h"
#include "common/ansi_string.h"
#include "platform/code_page.h"
#include "python/python_test_support.h"

namespace corvane::py {
namespace {

using platform::OleVariant;
using platform::Variant;

class ValueConversion : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!testing::TestRuntime()) return;
    shared_ = std::make_unique<testing::TestEngine>(std::vector<std::string>{
        "import time, datetime", "def Describe(x): return '%s %r' % (type(x).__name__, x)"});
    shared_->engine.LoadDll();
  }
  static void TearDownTestSuite() { shared_.reset(); }
  void SetUp() override { CORVANE_REQUIRE_PYTHON(); }

  TPythonEngine& engine() { return shared_->engine; }
  const PythonApi& api() { return engine().Api(); }

  // "type repr" of the Python object a host value becomes.
  std::string ToPython(const Variant& value, TDatetimeConversionMode mode = dcmToTuple) {
    TValueConverter converter(api(), Dates(), mode);
    Object object = converter.VariantToPython(value);
    if (!object) return "<null>";
    return Describe(object.get());
  }
  std::string Describe(PyObject* object) {
    Object function = engine().FindFunction("Describe");
    const Handle argument(object);
    THostVariant text = engine().CallFunction(function, std::span<const Handle>(&argument, 1));
    const platform::Bstr chars = text.raw().bstrVal;
    const std::u16string wide = chars ? std::u16string(chars, platform::sysStringLen(chars)) : std::u16string();
    return platform::wideToUtf8(wide);
  }
  Object Eval(const std::string& expression) {
    Object code = Object::Steal(api(), api().Py_CompileString(expression.c_str(), "<test>", 258 /* eval input */));
    PyObject* globals = api().PyModule_GetDict(api().PyImport_AddModule("__main__"));
    Object value = Object::Steal(api(), code ? api().PyEval_EvalCode(code.get(), globals, globals) : nullptr);
    if (!value) engine().RaiseError();
    return value;
  }
  THostVariant ToHost(const std::string& expression) { return engine().PythonToVariant(Eval(expression).get()); }
  TDateTypes Dates() {
    TDateTypes types;
    const auto attribute = [&](const char* expression) {
      kept_.push_back(Eval(expression));
      return kept_.back().get();
    };
    types.StructTime = attribute("time.struct_time");
    types.DateTime = attribute("datetime.datetime");
    types.Date = attribute("datetime.date");
    types.Time = attribute("datetime.time");
    types.TimeDelta = attribute("datetime.timedelta");
    return types;
  }
  static Variant Raw(uint16_t type) {
    Variant value;
    platform::variantInit(&value);
    value.vt = type;
    return value;
  }
  static double Date(int y, int m, int d, int h, int n, int s, int ms) {
    double date = 0;
    EXPECT_TRUE(EncodeOleDate(y, m, d, h, n, s, ms, date));
    return date;
  }

  static std::unique_ptr<testing::TestEngine> shared_;
  std::vector<Object> kept_;
};

std::unique_ptr<testing::TestEngine> ValueConversion::shared_;

TEST_F(ValueConversion, NumbersBooleansAndEmptiesBecomeTheirPythonKinds) {
  Variant v = Raw(platform::vtI2);
  v.iVal = -5;
  EXPECT_EQ(ToPython(v), "int -5");
  v = Raw(platform::vtI4);
  v.lVal = -70000;
  EXPECT_EQ(ToPython(v), "int -70000");
  v = Raw(platform::vtI1);
  v.cVal = -3;
  EXPECT_EQ(ToPython(v), "int -3");
  v = Raw(platform::vtUI1);
  v.bVal = 200;
  EXPECT_EQ(ToPython(v), "int 200");
  v = Raw(platform::vtUI2);
  v.uiVal = 60000;
  EXPECT_EQ(ToPython(v), "int 60000");
  v = Raw(platform::vtUI4);
  v.ulVal = 0x80000000u;
  EXPECT_EQ(ToPython(v), "int 2147483648");
  v = Raw(platform::vtI8);
  v.llVal = -9007199254740993LL;
  EXPECT_EQ(ToPython(v), "int -9007199254740993");
  v = Raw(platform::vtR4);
  v.fltVal = 1.5f;
  EXPECT_EQ(ToPython(v), "float 1.5");
  v = Raw(platform::vtR8);
  v.dblVal = -0.25;
  EXPECT_EQ(ToPython(v), "float -0.25");
  v = Raw(platform::vtCy);
  v.cyVal = 123456;
  EXPECT_EQ(ToPython(v), "float 12.3456");
  v = Raw(platform::vtBool);
  v.boolVal = platform::kVariantTrue;
  EXPECT_EQ(ToPython(v), "bool True");
  v.boolVal = 1;  // not the OLE true value
  EXPECT_EQ(ToPython(v), "bool False");
  EXPECT_EQ(ToPython(Raw(platform::vtEmpty)), "NoneType None");
  EXPECT_EQ(ToPython(Raw(platform::vtNull)), "NoneType None");
  EXPECT_EQ(ToPython(Raw(platform::vtDispatch)), "NoneType None");
  EXPECT_EQ(ToPython(Raw(platform::vtError)), "NoneType None");
}

TEST_F(ValueConversion, TextsBytesAndReferencesBecomeStrBytesAndTheirTarget) {
  OleVariant text = OleVariant::fromString(u"h\u00e9llo \U0001F600");
  EXPECT_EQ(ToPython(text.raw()), "str 'h\u00e9llo \U0001F600'");
  Variant empty = Raw(platform::vtBstr);
  empty.bstrVal = nullptr;
  EXPECT_EQ(ToPython(empty), "str ''");

  AnsiString bytes(std::string_view("ab\0c", 4));
  Variant ansi = Raw(platform::vtString);
  ansi.byref = const_cast<char*>(bytes.data());
  EXPECT_EQ(ToPython(ansi), "bytes b'ab\\x00c'");

  Variant target = Raw(platform::vtI4);
  target.lVal = 42;
  Variant middle = Raw(platform::vtByRef | platform::vtVariant);
  middle.pvarVal = &target;
  Variant outer = Raw(platform::vtByRef | platform::vtVariant);
  outer.pvarVal = &middle;
  EXPECT_EQ(ToPython(outer), "int 42");
  int32_t number = 7;
  Variant direct = Raw(platform::vtByRef | platform::vtI4);
  direct.byref = &number;
  EXPECT_EQ(ToPython(direct), "int 7");
}

TEST_F(ValueConversion, DatesBecomeTuplesAndComeBackWithoutMilliseconds) {
  Variant date = Raw(platform::vtDate);
  date.date = Date(2024, 2, 29, 13, 5, 7, 250);
  EXPECT_EQ(ToPython(date), "tuple (2024, 2, 29, 13, 5, 7, 3, 60, -1)");
  EXPECT_EQ(ToPython(date, dcmToDatetime), "datetime datetime.datetime(2024, 2, 29, 13, 5, 7, 250000)");
  try {
    TValueConverter(api(), TDateTypes{}, dcmToDatetime).VariantToPython(date);
    FAIL() << "no error";
  } catch (const EPythonError& error) {
    EXPECT_STREQ(error.what(),
                 "dcmToDatetime DatetimeConversionMode cannot be used with this version of python. Missing module datetime");
  }
  try {
    TValueConverter(api(), Dates(), static_cast<TDatetimeConversionMode>(7)).VariantToPython(date);
    FAIL() << "no error";
  } catch (const EPythonError& error) {
    EXPECT_STREQ(error.what(), "Invalid DatetimeConversionMode");
  }

  THostVariant back = ToHost("(2024, 2, 29, 13, 5, 7, 3, 60, -1)");
  ASSERT_EQ(back.type(), platform::vtDate);
  EXPECT_DOUBLE_EQ(back.raw().date, Date(2024, 2, 29, 13, 5, 7, 0));

  // Days before 1899-12-30 count backwards, their time forwards.
  const TDateParts early = DecodeOleDate(-1.25);
  EXPECT_EQ(early.Year * 10000 + early.Month * 100 + early.Day, 18991229);
  EXPECT_EQ(early.Hour, 6);
  EXPECT_EQ(early.DayOfWeek, 4);  // a Friday
  double encoded = 0;
  ASSERT_TRUE(EncodeOleDate(1899, 12, 29, 6, 0, 0, 0, encoded));
  EXPECT_DOUBLE_EQ(encoded, -1.25);
  EXPECT_FALSE(EncodeOleDate(2023, 2, 29, 0, 0, 0, 0, encoded));

  // Years beyond the calendar still become tuples; day counts that fit no
  // integer, and NaN, are refused in either mode.
  date.date = 10000.0 * 365.2425;
  EXPECT_EQ(ToPython(date).rfind("tuple (11899, 12, 30, 0, 0, 0, ", 0), 0u) << ToPython(date);
  for (const double endless : {2.04217e301, -1e300, std::nan(""), HUGE_VAL}) {
    date.date = endless;
    for (const TDatetimeConversionMode mode : {dcmToTuple, dcmToDatetime}) {
      try {
        TValueConverter(api(), Dates(), mode).VariantToPython(date);
        FAIL() << "no error for " << endless;
      } catch (const Exception& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Can't convert the date value ", 0), 0u) << error.what();
      }
    }
  }
}

TEST_F(ValueConversion, PythonScalarsBecomeDoubleBooleanInt64StringAndAnsiString) {
  THostVariant v = ToHost("1.0");
  EXPECT_EQ(v.type(), platform::vtR8);
  EXPECT_EQ(v.raw().dblVal, 1.0);
  v = ToHost("True");
  EXPECT_EQ(v.type(), platform::vtBool);
  EXPECT_EQ(v.raw().boolVal, platform::kVariantTrue);
  v = ToHost("False");
  EXPECT_EQ(v.raw().boolVal, platform::kVariantFalse);
  v = ToHost("7");
  EXPECT_EQ(v.type(), platform::vtI8);
  EXPECT_EQ(v.raw().llVal, 7);
  v = ToHost("-2**63");
  EXPECT_EQ(v.raw().llVal, INT64_MIN);

  v = ToHost("2**64");  // beyond 64 bits: the runtime's OverflowError stays set for the caller
  EXPECT_NE(api().PyErr_Occurred(), nullptr);
  EXPECT_EQ(api().PyErr_ExceptionMatches(*api().PyExc_OverflowError), 1);
  api().PyErr_Clear();

  v = ToHost("'h\\xe9\\ud800'");
  ASSERT_EQ(v.type(), platform::vtBstr);
  EXPECT_EQ(std::u16string(v.raw().bstrVal, platform::sysStringLen(v.raw().bstrVal)), u"h\u00e9\xD800");
  v = ToHost("''");
  EXPECT_EQ(v.type(), platform::vtBstr);
  EXPECT_EQ(platform::sysStringLen(v.raw().bstrVal), 0u);

  v = ToHost("b'ab\\x00c'");
  ASSERT_EQ(v.type(), platform::vtString);
  const AnsiString bytes = AnsiString::Share(static_cast<const char*>(v.raw().byref));
  EXPECT_EQ(bytes.view(), std::string_view("ab\0c", 4));
}

TEST_F(ValueConversion, SubclassesOfTheScalarTypesConvertAsTheirBase) {
  Eval("exec('class Int(int): pass\\nclass Str(str): pass\\nclass Float(float): pass', globals()) or 0");
  THostVariant v = ToHost("Int(5)");
  EXPECT_EQ(v.type(), platform::vtI8);
  EXPECT_EQ(v.raw().llVal, 5);
  v = ToHost("Str('ab')");
  ASSERT_EQ(v.type(), platform::vtBstr);
  EXPECT_EQ(std::u16string(v.raw().bstrVal, platform::sysStringLen(v.raw().bstrVal)), u"ab");
  v = ToHost("Float(0.5)");
  EXPECT_EQ(v.type(), platform::vtR8);
  v = ToHost("True");  // a subclass of int, but a boolean
  EXPECT_EQ(v.type(), platform::vtBool);
  EXPECT_EQ(api().PyErr_Occurred(), nullptr);
}

TEST_F(ValueConversion, DateLikeObjectsBecomeDates) {
  THostVariant v = ToHost("time.struct_time((2024, 2, 29, 13, 5, 7, 3, 60, -1))");
  ASSERT_EQ(v.type(), platform::vtDate);
  EXPECT_DOUBLE_EQ(v.raw().date, Date(2024, 2, 29, 13, 5, 7, 0));
  v = ToHost("datetime.datetime(2024, 2, 29, 13, 5, 7, 250999)");
  ASSERT_EQ(v.type(), platform::vtDate);
  EXPECT_DOUBLE_EQ(v.raw().date, Date(2024, 2, 29, 13, 5, 7, 250));
  v = ToHost("datetime.date(2024, 2, 29)");
  EXPECT_DOUBLE_EQ(v.raw().date, Date(2024, 2, 29, 0, 0, 0, 0));
  v = ToHost("datetime.time(12, 0, 0, 500000)");
  EXPECT_DOUBLE_EQ(v.raw().date, (12 * 3600000.0 + 500) / 86400000.0);
  v = ToHost("datetime.timedelta(days=1, seconds=43200, microseconds=1999)");
  EXPECT_DOUBLE_EQ(v.raw().date, 1.5 + 1.0 / 86400000.0);

  // Tuples outside the ranges, or naming no real day, are sequences.
  for (const char* notADate : {"(2024, 13, 1, 0, 0, 0, 0, 1, 0)", "(2023, 2, 29, 0, 0, 0, 0, 1, 0)",
                               "(2024, 1, 1, 0, 0, 0, 7, 1, 0)", "(2024, 1, 1, 0, 0, 0, 0, 1, 2)",
                               "(2024, 1, 1, 0, 0, 0, 0, 1.0, 0)"}) {
    v = ToHost(notADate);
    EXPECT_EQ(v.type(), platform::vtArray | platform::vtVariant) << notADate;
  }
}

TEST_F(ValueConversion, SequencesBecomeVariantArraysAndTheRestNull) {
  THostVariant v = ToHost("[1, 'a', [2.5]]");
  ASSERT_EQ(v.type(), platform::vtArray | platform::vtVariant);
  platform::SafeArray* array = v.raw().parray;
  ASSERT_EQ(platform::safeArrayGetDim(array), 1u);
  int32_t lower = -1, upper = -1;
  platform::safeArrayGetLBound(array, 1, &lower);
  platform::safeArrayGetUBound(array, 1, &upper);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(upper, 2);
  // Back to Python, the nesting is kept.
  EXPECT_EQ(ToPython(v.raw()), "list [1, 'a', [2.5]]");
  const auto* elements = static_cast<const Variant*>(array->data);
  EXPECT_EQ(elements[0].vt, platform::vtI8);
  EXPECT_EQ(elements[1].vt, platform::vtBstr);
  EXPECT_EQ(elements[2].vt, platform::vtArray | platform::vtVariant);

  for (const char* empty : {"()", "[]"}) {
    v = ToHost(empty);
    ASSERT_EQ(v.type(), platform::vtArray | platform::vtVariant) << empty;
    platform::safeArrayGetUBound(v.raw().parray, 1, &upper);
    EXPECT_EQ(upper, -1) << empty;
  }
  EXPECT_EQ(ToPython(ToHost("bytearray(b'ab')").raw()), "list [97, 98]");
  EXPECT_EQ(ToPython(ToHost("[b'x', (b'y',)]").raw()), "list [b'x', [b'y']]");
  for (const char* null : {"None", "{}", "object()", "{1, 2}"}) EXPECT_EQ(ToHost(null).type(), platform::vtNull) << null;

  // A sequence that fails on its first item is Null, the error cleared.
  engine().ExecString("class Broken:\n  def __len__(self): return 2\n  def __getitem__(self, i): raise IndexError(i)\n");
  EXPECT_EQ(ToHost("Broken()").type(), platform::vtNull);
  EXPECT_EQ(api().PyErr_Occurred(), nullptr);
}

TEST_F(ValueConversion, SequencesNestedTooDeeplyOrHoldingThemselvesAreRefused) {
  // As deep as allowed converts, level by level.
  THostVariant deep = ToHost("[[[[[[[[[[1]]]]]]]]]]");
  EXPECT_EQ(ToPython(deep.raw()), "list [[[[[[[[[[1]]]]]]]]]]");
  engine().ExecString("def nested(n):\n  v = 1\n  for _ in range(n): v = [v]\n  return v\n");
  EXPECT_EQ(ToHost("nested(100)").type(), platform::vtArray | platform::vtVariant);

  for (const char* endless : {"nested(101)", "(lambda a: (a.append(a), a)[1])([])",
                              "(lambda a: (a.append((1, a)), a)[1])([0])"}) {
    try {
      ToHost(endless);
      FAIL() << "no error for " << endless;
    } catch (const Exception& error) {
      EXPECT_STREQ(error.what(),
                   "Can't convert a Python sequence nested more than 100 levels deep (does it contain itself?)");
    }
    EXPECT_EQ(api().PyErr_Occurred(), nullptr) << endless;
  }
}

TEST_F(ValueConversion, VariantArraysOfOneToThreeDimensionsBecomeNestedLists) {
  // 2 x 3 with lower bounds 1 and 5: the first index is the outer list.
  platform::SafeArrayBound bounds[] = {{2, 1}, {3, 5}};
  platform::SafeArray* array = platform::safeArrayCreate(platform::vtI4, 2, bounds);
  for (int32_t i = 1; i <= 2; ++i) {
    for (int32_t j = 5; j <= 7; ++j) {
      int32_t indices[] = {i, j};
      int32_t value = i * 10 + j;
      platform::safeArrayPutElement(array, indices, &value);
    }
  }
  Variant matrix = Raw(platform::vtArray | platform::vtI4);
  matrix.parray = array;
  EXPECT_EQ(ToPython(matrix), "list [[15, 16, 17], [25, 26, 27]]");
  platform::variantClear(&matrix);

  platform::SafeArrayBound square[] = {{2, 0}, {2, 0}};
  array = platform::safeArrayCreate(platform::vtVariant, 2, square);
  for (int32_t i = 0; i < 2; ++i) {
    for (int32_t j = 0; j < 2; ++j) {
      int32_t indices[] = {i, j};
      OleVariant value = OleVariant::fromI4(i * 2 + j + 1);
      platform::safeArrayPutElement(array, indices, value.get());
    }
  }
  Variant variants = Raw(platform::vtArray | platform::vtVariant);
  variants.parray = array;
  EXPECT_EQ(ToPython(variants), "list [[1, 2], [3, 4]]");
  platform::variantClear(&variants);

  platform::SafeArrayBound cube[] = {{1, 0}, {2, 0}, {1, 0}};
  Variant three = Raw(platform::vtArray | platform::vtR8);
  three.parray = platform::safeArrayCreate(platform::vtR8, 3, cube);
  EXPECT_EQ(ToPython(three), "list [[[0.0], [0.0]]]");
  platform::variantClear(&three);

  platform::SafeArrayBound four[] = {{1, 0}, {1, 0}, {1, 0}, {1, 0}};
  Variant tooDeep = Raw(platform::vtArray | platform::vtI4);
  tooDeep.parray = platform::safeArrayCreate(platform::vtI4, 4, four);
  try {
    TValueConverter(api(), Dates()).VariantToPython(tooDeep);
    FAIL() << "no error";
  } catch (const Exception& error) {
    EXPECT_STREQ(error.what(), "Can't convert a variant array of more than 3 dimensions to a Python sequence");
  }
  platform::variantClear(&tooDeep);
}

TEST_F(ValueConversion, TextsGoThroughTheAnsiCodePageAndBytesStopAtZero) {
  EXPECT_EQ(engine().PythonToText(Eval("'plain text'").get()), "plain text");
  EXPECT_EQ(engine().PythonToText(Eval("b'ab\\x00c'").get()), "ab");
  EXPECT_EQ(engine().PythonToText(Eval("5").get()), "");
  EXPECT_EQ(api().PyErr_ExceptionMatches(*api().PyExc_TypeError), 1);
  api().PyErr_Clear();

  const std::string ansi = platform::wideToAnsi(u"caf\u00e9");
  Object text = engine().TextToPython(ansi);
  EXPECT_EQ(Describe(text.get()), "str 'caf\u00e9'");
  // Bytes that make no character of the code page are replaced, not an
  // error that leaves an empty object (the host's event names reach the
  // script this way).
  if (platform::ansiCodePage() == 65001 /* UTF-8 */) {
    Object invalid = engine().TextToPython("a\xd4\xd3" "b");
    ASSERT_TRUE(invalid);
    EXPECT_EQ(api().PyErr_Occurred(), nullptr);
    EXPECT_EQ(Describe(invalid.get()), "str 'a\ufffd\ufffdb'");
  }
  EXPECT_EQ(engine().PythonToText(text.get()), ansi);
  // The view form: in place where the object holds the text as it is.
  std::string storage;
  Object ascii = Eval("'in place'");
  std::string_view view = engine().Converter().PythonToTextView(ascii.get(), storage);
  EXPECT_EQ(view, "in place");
  EXPECT_TRUE(storage.empty()) << "an ASCII str needs no copy";
  view = engine().Converter().PythonToTextView(text.get(), storage);
  EXPECT_EQ(view, ansi);
  Object bytes = Eval("b'ab\\x00c'");
  EXPECT_EQ(engine().Converter().PythonToTextView(bytes.get(), storage), "ab");
  Object surrogate = Eval("'a\\ud800'");
  EXPECT_EQ(engine().Converter().PythonToTextView(surrogate.get(), storage),
            engine().PythonToText(surrogate.get()));
  EXPECT_EQ(api().PyErr_Occurred(), nullptr);
  Object number = Eval("5");
  EXPECT_EQ(engine().Converter().PythonToTextView(number.get(), storage), "");
  EXPECT_EQ(api().PyErr_ExceptionMatches(*api().PyExc_TypeError), 1);
  api().PyErr_Clear();
  try {
    engine().Converter().PythonToWide(Eval("b'x'").get());
    FAIL() << "no error";
  } catch (const EPythonError& error) {
    EXPECT_STREQ(error.what(), "PyUnicode_AsWideString expects a Unicode Python object");
  }
}

}  // namespace
}  // namespace corvane::py
