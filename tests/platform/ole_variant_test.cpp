#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/ole_variant.h"
#include "platform/os_error.h"

namespace cp = corvane::platform;
using cp::OleVariant;
using cp::Variant;

namespace {

Variant bstrVariant(const char16_t* text) {
  Variant v;
  cp::variantInit(&v);
  v.vt = cp::vtBstr;
  v.bstrVal = cp::sysAllocString(text);
  return v;
}

std::u16string textOf(const Variant& v) { return std::u16string(v.bstrVal, cp::sysStringLen(v.bstrVal)); }

// A minimal reference-counted object with the interface vtable layout.
struct CountedObject {
  struct Vtbl {
    int32_t(CV_STDCALL* queryInterface)(CountedObject*, const void*, void**);
    uint32_t(CV_STDCALL* addRef)(CountedObject*);
    uint32_t(CV_STDCALL* release)(CountedObject*);
  };
  static int32_t CV_STDCALL query(CountedObject*, const void*, void**) { return cp::kHrNoInterface; }
  static uint32_t CV_STDCALL add(CountedObject* self) { return ++self->count; }
  static uint32_t CV_STDCALL drop(CountedObject* self) { return --self->count; }
  static constexpr Vtbl kVtbl{query, add, drop};
  const Vtbl* vtbl = &kVtbl;
  uint32_t count = 1;
};

}  // namespace

TEST(OleVariantApi, InitZeroesAndClearResetsToEmpty) {
  Variant v;
  std::memset(&v, 0xAB, sizeof v);
  cp::variantInit(&v);
  EXPECT_EQ(v.vt, cp::vtEmpty);
  EXPECT_EQ(v.llVal, 0);

  Variant s = bstrVariant(u"owned");
  EXPECT_EQ(cp::variantClear(&s), cp::kHrOk);
  EXPECT_EQ(s.vt, cp::vtEmpty);
  EXPECT_EQ(cp::variantClear(&s), cp::kHrOk);  // clearing Empty again is harmless
}

TEST(OleVariantApi, ClearAndCopyRefuseTypesOleDoesNotKnow) {
  for (uint16_t type : {uint16_t{cp::vtString}, uint16_t{0x000F}, uint16_t{cp::vtByRef}, uint16_t{cp::vtArray | cp::vtNull},
                        uint16_t{0x1000 | cp::vtI4}}) {
    Variant v;
    cp::variantInit(&v);
    v.vt = type;
    EXPECT_EQ(cp::variantClear(&v), cp::kHrDispBadVarType) << type;
    EXPECT_EQ(v.vt, type) << "a refused clear leaves the value as it was";
    Variant copy;
    cp::variantInit(&copy);
    EXPECT_EQ(cp::variantCopy(&copy, &v), cp::kHrDispBadVarType) << type;
    EXPECT_EQ(copy.vt, cp::vtEmpty);
  }
}

TEST(OleVariantApi, CopyOfAStringIsDeepAndReplacesTheTarget) {
  Variant source = bstrVariant(u"abc");
  Variant target = bstrVariant(u"old");
  ASSERT_EQ(cp::variantCopy(&target, &source), cp::kHrOk);
  EXPECT_EQ(target.vt, cp::vtBstr);
  EXPECT_NE(target.bstrVal, source.bstrVal);
  EXPECT_EQ(textOf(target), u"abc");
  cp::variantClear(&source);
  EXPECT_EQ(textOf(target), u"abc");
  cp::variantClear(&target);
}

TEST(OleVariantApi, CopyKeepsEmbeddedZerosAndAllocatesNullStrings) {
  Variant source;
  cp::variantInit(&source);
  source.vt = cp::vtBstr;
  source.bstrVal = cp::sysAllocStringLen(u"a\0b", 3);
  Variant copy;
  cp::variantInit(&copy);
  ASSERT_EQ(cp::variantCopy(&copy, &source), cp::kHrOk);
  EXPECT_EQ(textOf(copy), std::u16string(u"a\0b", 3));
  cp::variantClear(&copy);
  cp::variantClear(&source);

  source.vt = cp::vtBstr;
  source.bstrVal = nullptr;
  ASSERT_EQ(cp::variantCopy(&copy, &source), cp::kHrOk);
  EXPECT_NE(copy.bstrVal, nullptr);
  EXPECT_EQ(cp::sysStringLen(copy.bstrVal), 0u);
  cp::variantClear(&copy);
}

TEST(OleVariantApi, CopyOfAnArrayIsDeep) {
  Variant source;
  cp::variantInit(&source);
  source.vt = cp::vtArray | cp::vtBstr;
  source.parray = cp::safeArrayCreateVector(cp::vtBstr, 0, 1);
  int32_t index = 0;
  cp::Bstr text = cp::sysAllocString(u"x");
  ASSERT_EQ(cp::safeArrayPutElement(source.parray, &index, text), cp::kHrOk);
  cp::sysFreeString(text);

  Variant copy;
  cp::variantInit(&copy);
  ASSERT_EQ(cp::variantCopy(&copy, &source), cp::kHrOk);
  ASSERT_NE(copy.parray, source.parray);
  const auto* original = static_cast<cp::Bstr*>(source.parray->data);
  const auto* copied = static_cast<cp::Bstr*>(copy.parray->data);
  EXPECT_NE(copied[0], original[0]);
  cp::variantClear(&source);
  EXPECT_EQ(std::u16string(copied[0]), u"x");
  cp::variantClear(&copy);
}

TEST(OleVariantApi, ClearOfALockedArrayReportsItButResetsTheType) {
  Variant v;
  cp::variantInit(&v);
  v.vt = cp::vtArray | cp::vtI4;
  cp::SafeArray* array = cp::safeArrayCreateVector(cp::vtI4, 0, 2);
  v.parray = array;
  void* data;
  ASSERT_EQ(cp::safeArrayAccessData(array, &data), cp::kHrOk);
  EXPECT_EQ(cp::variantClear(&v), cp::kHrDispArrayIsLocked);
  EXPECT_EQ(v.vt, cp::vtEmpty);
  cp::safeArrayUnaccessData(array);
  EXPECT_EQ(cp::safeArrayDestroy(array), cp::kHrOk);
}

TEST(OleVariantApi, CopyOfAReferenceSharesTheReferencedValue) {
  int32_t referenced = 7;
  Variant ref;
  cp::variantInit(&ref);
  ref.vt = cp::vtByRef | cp::vtI4;
  ref.byref = &referenced;
  Variant copy;
  cp::variantInit(&copy);
  ASSERT_EQ(cp::variantCopy(&copy, &ref), cp::kHrOk);
  EXPECT_EQ(copy.vt, cp::vtByRef | cp::vtI4);
  EXPECT_EQ(copy.byref, &referenced);
  EXPECT_EQ(cp::variantClear(&copy), cp::kHrOk);  // does not touch the referenced value
  EXPECT_EQ(referenced, 7);

  ASSERT_EQ(cp::variantCopyInd(&copy, &ref), cp::kHrOk);
  EXPECT_EQ(copy.vt, cp::vtI4);
  EXPECT_EQ(copy.lVal, 7);

  // In place: the reference is replaced by the value.
  ASSERT_EQ(cp::variantCopyInd(&ref, &ref), cp::kHrOk);
  EXPECT_EQ(ref.vt, cp::vtI4);
  EXPECT_EQ(ref.lVal, 7);
}

TEST(OleVariantApi, CopyThroughReferencesCopiesStringsVariantsAndArraysDeeply) {
  cp::Bstr text = cp::sysAllocString(u"abc");
  Variant ref;
  cp::variantInit(&ref);
  ref.vt = cp::vtByRef | cp::vtBstr;
  ref.byref = &text;
  Variant copy;
  cp::variantInit(&copy);
  ASSERT_EQ(cp::variantCopyInd(&copy, &ref), cp::kHrOk);
  EXPECT_EQ(copy.vt, cp::vtBstr);
  EXPECT_NE(copy.bstrVal, text);
  EXPECT_EQ(textOf(copy), u"abc");
  cp::variantClear(&copy);
  cp::sysFreeString(text);

  Variant inner = bstrVariant(u"inner");
  ref.vt = cp::vtByRef | cp::vtVariant;
  ref.pvarVal = &inner;
  ASSERT_EQ(cp::variantCopyInd(&copy, &ref), cp::kHrOk);
  EXPECT_EQ(copy.vt, cp::vtBstr);
  EXPECT_NE(copy.bstrVal, inner.bstrVal);
  cp::variantClear(&copy);

  // A reference to a variant that is itself a reference is refused.
  Variant outer;
  cp::variantInit(&outer);
  outer.vt = cp::vtByRef | cp::vtVariant;
  outer.pvarVal = &ref;
  EXPECT_EQ(cp::variantCopyInd(&copy, &outer), cp::kHrInvalidArg);
  EXPECT_EQ(cp::variantChangeType(&copy, &outer, 0, cp::vtBstr), cp::kHrInvalidArg);
  cp::variantClear(&inner);

  cp::SafeArray* array = cp::safeArrayCreateVector(cp::vtI4, 0, 3);
  ref.vt = cp::vtByRef | cp::vtArray | cp::vtI4;
  ref.byref = &array;
  ASSERT_EQ(cp::variantCopyInd(&copy, &ref), cp::kHrOk);
  EXPECT_EQ(copy.vt, cp::vtArray | cp::vtI4);
  EXPECT_NE(copy.parray, array);
  cp::variantClear(&copy);
  EXPECT_EQ(cp::variantClear(&ref), cp::kHrOk);  // the referenced array stays alive
  EXPECT_EQ(cp::safeArrayDestroy(array), cp::kHrOk);
}

TEST(OleVariantApi, InterfacesAreReferencedByCopiesAndReleasedByClears) {
  CountedObject object;
  Variant v;
  cp::variantInit(&v);
  v.vt = cp::vtUnknown;
  v.punkVal = &object;
  Variant copy;
  cp::variantInit(&copy);
  ASSERT_EQ(cp::variantCopy(&copy, &v), cp::kHrOk);
  EXPECT_EQ(object.count, 2u);
  cp::variantClear(&copy);
  EXPECT_EQ(object.count, 1u);

  cp::SafeArray* array = cp::safeArrayCreateVector(cp::vtUnknown, 0, 1);
  int32_t index = 0;
  ASSERT_EQ(cp::safeArrayPutElement(array, &index, &object), cp::kHrOk);
  EXPECT_EQ(object.count, 2u);
  void* got = nullptr;
  ASSERT_EQ(cp::safeArrayGetElement(array, &index, &got), cp::kHrOk);
  EXPECT_EQ(got, &object);
  EXPECT_EQ(object.count, 3u);
  cp::safeArrayDestroy(array);
  EXPECT_EQ(object.count, 2u);
}

TEST(OleVariantApi, ChangeTypeLeavesTheTargetAloneOnFailureAndWorksInPlace) {
  Variant source = bstrVariant(u"not a number");
  Variant target = bstrVariant(u"keep");
  EXPECT_EQ(cp::variantChangeType(&target, &source, 0, cp::vtI4), cp::kHrDispTypeMismatch);
  EXPECT_EQ(textOf(target), u"keep");
  EXPECT_EQ(cp::variantChangeType(&source, &source, 0, cp::vtR8), cp::kHrDispTypeMismatch);
  EXPECT_EQ(textOf(source), u"not a number");
  cp::variantClear(&source);

  Variant number = bstrVariant(u"42");
  ASSERT_EQ(cp::variantChangeType(&number, &number, 0, cp::vtI4), cp::kHrOk);
  EXPECT_EQ(number.vt, cp::vtI4);
  EXPECT_EQ(number.lVal, 42);
  ASSERT_EQ(cp::variantChangeType(&target, &number, 0, cp::vtBstr), cp::kHrOk);
  EXPECT_EQ(textOf(target), u"42");  // the old string was released
  cp::variantClear(&target);
}

TEST(OleVariantApi, ByteArraysAndStringsConvertByteForByte) {
  Variant text;
  cp::variantInit(&text);
  text.vt = cp::vtBstr;
  text.bstrVal = cp::sysAllocStringByteLen("a\0bc", 4);
  Variant bytes;
  cp::variantInit(&bytes);
  ASSERT_EQ(cp::variantChangeType(&bytes, &text, 0, cp::vtArray | cp::vtUI1), cp::kHrOk);
  ASSERT_EQ(bytes.vt, cp::vtArray | cp::vtUI1);
  int32_t upper = 0;
  cp::safeArrayGetUBound(bytes.parray, 1, &upper);
  EXPECT_EQ(upper, 3);
  EXPECT_EQ(std::memcmp(bytes.parray->data, "a\0bc", 4), 0);

  Variant back;
  cp::variantInit(&back);
  ASSERT_EQ(cp::variantChangeType(&back, &bytes, 0, cp::vtBstr), cp::kHrOk);
  EXPECT_EQ(cp::sysStringByteLen(back.bstrVal), 4u);
  EXPECT_EQ(std::memcmp(back.bstrVal, "a\0bc", 4), 0);
  cp::variantClear(&back);
  cp::variantClear(&bytes);
  cp::variantClear(&text);
}

TEST(OleVariantApi, ChangeTypeOfArraysCopiesToTheSameTypeOnly) {
  Variant v;
  cp::variantInit(&v);
  v.vt = cp::vtArray | cp::vtI4;
  v.parray = cp::safeArrayCreateVector(cp::vtI4, 0, 2);
  Variant target;
  cp::variantInit(&target);
  ASSERT_EQ(cp::variantChangeType(&target, &v, 0, cp::vtArray | cp::vtI4), cp::kHrOk);
  EXPECT_NE(target.parray, v.parray);
  EXPECT_EQ(cp::variantChangeType(&target, &v, 0, cp::vtBstr), cp::kHrDispTypeMismatch);
  EXPECT_EQ(cp::variantChangeType(&target, &v, 0, cp::vtArray | cp::vtR8), cp::kHrDispTypeMismatch);
  cp::variantClear(&target);
  cp::variantClear(&v);
}

#if !defined(_WIN32)
// The POSIX backend has one locale; Windows honours the LCID.
TEST(OleVariantApi, ChangeTypeExIgnoresTheLocale) {
  Variant v = bstrVariant(u"1,234.5");
  Variant english, german;
  cp::variantInit(&english);
  cp::variantInit(&german);
  ASSERT_EQ(cp::variantChangeTypeEx(&english, &v, cp::kLocaleEnglishUs, 0, cp::vtR8), cp::kHrOk);
  ASSERT_EQ(cp::variantChangeTypeEx(&german, &v, 0x0407, 0, cp::vtR8), cp::kHrOk);
  EXPECT_EQ(english.dblVal, german.dblVal);
  cp::variantClear(&v);
}
#endif

TEST(OleVariantHolder, CopiesAreDeepAndMovesEmptyTheSource) {
  OleVariant a = OleVariant::fromString(u"value");
  OleVariant b(a);
  EXPECT_EQ(b.type(), cp::vtBstr);
  EXPECT_NE(b.raw().bstrVal, a.raw().bstrVal);
  EXPECT_EQ(textOf(b.raw()), u"value");

  OleVariant c;
  c = a;
  EXPECT_NE(c.raw().bstrVal, a.raw().bstrVal);
  c = c;  // self-assignment keeps the value
  EXPECT_EQ(textOf(c.raw()), u"value");

  OleVariant d(std::move(a));
  EXPECT_TRUE(a.isEmpty());
  EXPECT_EQ(textOf(d.raw()), u"value");
  OleVariant e = OleVariant::fromI4(1);
  e = std::move(d);
  EXPECT_TRUE(d.isEmpty());
  EXPECT_EQ(textOf(e.raw()), u"value");
}

TEST(OleVariantHolder, AdoptReleaseAndCopyOfTransferOwnershipAsNamed) {
  Variant raw = bstrVariant(u"raw");
  const cp::Bstr text = raw.bstrVal;
  OleVariant owner = OleVariant::adopt(raw);
  EXPECT_EQ(raw.vt, cp::vtEmpty);
  EXPECT_EQ(owner.raw().bstrVal, text);

  Variant out = owner.release();
  EXPECT_TRUE(owner.isEmpty());
  EXPECT_EQ(out.bstrVal, text);

  OleVariant copy = OleVariant::copyOf(out);
  EXPECT_NE(copy.raw().bstrVal, text);
  cp::variantClear(&out);

  Variant unknownType;
  cp::variantInit(&unknownType);
  unknownType.vt = cp::vtString;
  try {
    OleVariant::copyOf(unknownType);
    FAIL() << "copy of an unknown type succeeded";
  } catch (const cp::OsError& e) {
    EXPECT_EQ(e.code(), static_cast<uint32_t>(cp::kHrDispBadVarType));
  }
}

TEST(OleVariantHolder, FactoriesSetTypeAndPayload) {
  EXPECT_TRUE(OleVariant::null().isNull());
  EXPECT_EQ(OleVariant::fromBool(true).raw().boolVal, cp::kVariantTrue);
  EXPECT_EQ(OleVariant::fromBool(false).raw().boolVal, cp::kVariantFalse);
  EXPECT_EQ(OleVariant::fromI2(-5).raw().iVal, -5);
  EXPECT_EQ(OleVariant::fromI8(INT64_MIN).raw().llVal, INT64_MIN);
  EXPECT_EQ(OleVariant::fromUI1(200).type(), cp::vtUI1);
  EXPECT_EQ(OleVariant::fromUI4(4000000000u).raw().ulVal, 4000000000u);
  EXPECT_EQ(OleVariant::fromR8(2.5).raw().dblVal, 2.5);
  EXPECT_EQ(OleVariant::fromCurrency(12345).raw().cyVal, 12345);
  EXPECT_EQ(OleVariant::fromDate(45351.5).type(), cp::vtDate);
  EXPECT_EQ(OleVariant::fromString(u"").type(), cp::vtBstr);
  EXPECT_NE(OleVariant::fromString(u"").raw().bstrVal, nullptr);
}

TEST(OleVariantHolder, ChangedToConvertsACopyOrThrowsTheResult) {
  const OleVariant number = OleVariant::fromI4(42);
  const OleVariant text = number.changedTo(cp::vtBstr);
  EXPECT_EQ(number.type(), cp::vtI4);
  EXPECT_EQ(textOf(text.raw()), u"42");
  EXPECT_EQ(OleVariant::fromBool(true).changedTo(cp::vtBstr, cp::kVariantAlphaBool).type(), cp::vtBstr);

  try {
    OleVariant::fromString(u"abc").changedTo(cp::vtI4);
    FAIL() << "conversion of text that is no number succeeded";
  } catch (const cp::OsError& e) {
    EXPECT_EQ(e.code(), static_cast<uint32_t>(cp::kHrDispTypeMismatch));
  }
  try {
    OleVariant::null().changedTo(cp::vtI4);
    FAIL() << "conversion of Null succeeded";
  } catch (const cp::OsError& e) {
    EXPECT_EQ(e.code(), static_cast<uint32_t>(cp::kHrDispTypeMismatch));
  }
}
