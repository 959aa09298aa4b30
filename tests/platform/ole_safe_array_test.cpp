#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "platform/ole_variant.h"

namespace cp = corvane::platform;
using cp::SafeArray;
using cp::SafeArrayBound;
using cp::Variant;

namespace {

// Destroys the array at the end of a test.
struct ArrayOwner {
  SafeArray* array;
  ~ArrayOwner() { cp::safeArrayDestroy(array); }
};

SafeArray* bstrVector(std::initializer_list<const char16_t*> texts) {
  SafeArray* array = cp::safeArrayCreateVector(cp::vtBstr, 0, static_cast<uint32_t>(texts.size()));
  int32_t index = 0;
  for (const char16_t* text : texts) {
    cp::Bstr s = cp::sysAllocString(text);
    cp::safeArrayPutElement(array, &index, s);
    cp::sysFreeString(s);
    ++index;
  }
  return array;
}

}  // namespace

TEST(OleSafeArray, CreateRecordsTypeSizeAndFeatures) {
  struct Case {
    uint16_t type;
    uint32_t size;
    uint16_t features;
  };
  const Case cases[] = {
      {cp::vtI1, 1, cp::kFadfHaveVarType},          {cp::vtI2, 2, cp::kFadfHaveVarType},
      {cp::vtBool, 2, cp::kFadfHaveVarType},        {cp::vtI4, 4, cp::kFadfHaveVarType},
      {cp::vtR4, 4, cp::kFadfHaveVarType},          {cp::vtR8, 8, cp::kFadfHaveVarType},
      {cp::vtCy, 8, cp::kFadfHaveVarType},          {cp::vtDate, 8, cp::kFadfHaveVarType},
      {cp::vtI8, 8, cp::kFadfHaveVarType},          {cp::vtUI8, 8, cp::kFadfHaveVarType},
      {cp::vtBstr, sizeof(void*), cp::kFadfHaveVarType | cp::kFadfBstr},
      {cp::vtVariant, sizeof(Variant), cp::kFadfHaveVarType | cp::kFadfVariant},
      {cp::vtUnknown, sizeof(void*), cp::kFadfHaveIid | cp::kFadfUnknown},
      {cp::vtDispatch, sizeof(void*), cp::kFadfHaveIid | cp::kFadfDispatch},
  };
  const SafeArrayBound bound{3, 0};
  for (const Case& c : cases) {
    ArrayOwner owner{cp::safeArrayCreate(c.type, 1, &bound)};
    ASSERT_NE(owner.array, nullptr) << c.type;
    EXPECT_EQ(cp::safeArrayGetDim(owner.array), 1u);
    EXPECT_EQ(cp::safeArrayGetElemsize(owner.array), c.size) << c.type;
    EXPECT_EQ(owner.array->features, c.features) << c.type;
    uint16_t type = 0;
    ASSERT_EQ(cp::safeArrayGetVartype(owner.array, &type), cp::kHrOk);
    EXPECT_EQ(type, c.type);
  }
}

TEST(OleSafeArray, CreateRefusesWhatOleRefuses) {
  const SafeArrayBound bound{3, 0};
  EXPECT_EQ(cp::safeArrayCreate(cp::vtEmpty, 1, &bound), nullptr);
  EXPECT_EQ(cp::safeArrayCreate(cp::vtNull, 1, &bound), nullptr);
  EXPECT_EQ(cp::safeArrayCreate(cp::vtString, 1, &bound), nullptr);
  EXPECT_EQ(cp::safeArrayCreate(cp::vtI4, 0, &bound), nullptr);
  EXPECT_EQ(cp::safeArrayCreateVector(cp::vtString, 0, 1), nullptr);
  EXPECT_EQ(cp::safeArrayGetDim(nullptr), 0u);
  EXPECT_EQ(cp::safeArrayGetElemsize(nullptr), 0u);
  uint16_t type;
  EXPECT_EQ(cp::safeArrayGetVartype(nullptr, &type), cp::kHrInvalidArg);
}

TEST(OleSafeArray, BoundsAreStoredLastDimensionFirstAndAddressedFirstDimensionFastest) {
  const SafeArrayBound bounds[2] = {{2, 0}, {3, 1}};  // first dimension 0..1, second 1..3
  ArrayOwner owner{cp::safeArrayCreate(cp::vtI4, 2, bounds)};
  SafeArray* array = owner.array;
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(array->bounds[0].elements, 3u);
  EXPECT_EQ(array->bounds[0].lowerBound, 1);
  EXPECT_EQ(array->bounds[1].elements, 2u);
  EXPECT_EQ(array->bounds[1].lowerBound, 0);

  int32_t lower, upper;
  ASSERT_EQ(cp::safeArrayGetLBound(array, 1, &lower), cp::kHrOk);
  ASSERT_EQ(cp::safeArrayGetUBound(array, 1, &upper), cp::kHrOk);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(upper, 1);
  ASSERT_EQ(cp::safeArrayGetLBound(array, 2, &lower), cp::kHrOk);
  ASSERT_EQ(cp::safeArrayGetUBound(array, 2, &upper), cp::kHrOk);
  EXPECT_EQ(lower, 1);
  EXPECT_EQ(upper, 3);
  EXPECT_EQ(cp::safeArrayGetLBound(array, 0, &lower), cp::kHrDispBadIndex);
  EXPECT_EQ(cp::safeArrayGetUBound(array, 3, &upper), cp::kHrDispBadIndex);

  for (int32_t i = 0; i <= 1; ++i) {
    for (int32_t j = 1; j <= 3; ++j) {
      const int32_t indices[2] = {i, j};
      const int32_t value = i * 10 + j;
      ASSERT_EQ(cp::safeArrayPutElement(array, indices, &value), cp::kHrOk);
    }
  }
  const auto* data = static_cast<const int32_t*>(array->data);
  const int32_t expected[6] = {1, 11, 2, 12, 3, 13};
  EXPECT_EQ(std::memcmp(data, expected, sizeof expected), 0);

  const int32_t at[2] = {1, 2};
  int32_t value = 0;
  ASSERT_EQ(cp::safeArrayGetElement(array, at, &value), cp::kHrOk);
  EXPECT_EQ(value, 12);
}

TEST(OleSafeArray, IndicesOutsideAnyDimensionAreBadIndexes) {
  const SafeArrayBound bounds[2] = {{2, 0}, {3, 1}};
  ArrayOwner owner{cp::safeArrayCreate(cp::vtI4, 2, bounds)};
  int32_t value = 5;
  for (const auto& indices : {std::array<int32_t, 2>{2, 1}, std::array<int32_t, 2>{-1, 1},
                              std::array<int32_t, 2>{0, 0}, std::array<int32_t, 2>{0, 4}}) {
    EXPECT_EQ(cp::safeArrayGetElement(owner.array, indices.data(), &value), cp::kHrDispBadIndex);
    EXPECT_EQ(cp::safeArrayPutElement(owner.array, indices.data(), &value), cp::kHrDispBadIndex);
  }
  const int32_t ok[2] = {0, 1};
  EXPECT_EQ(cp::safeArrayGetElement(nullptr, ok, &value), cp::kHrInvalidArg);
  EXPECT_EQ(cp::safeArrayPutElement(nullptr, ok, &value), cp::kHrInvalidArg);
}

TEST(OleSafeArray, StringElementsAreCopiedInAndOut) {
  ArrayOwner owner{cp::safeArrayCreateVector(cp::vtBstr, 0, 2)};
  cp::Bstr text = cp::sysAllocString(u"hi");
  int32_t index = 0;
  ASSERT_EQ(cp::safeArrayPutElement(owner.array, &index, text), cp::kHrOk);
  const auto* stored = static_cast<cp::Bstr*>(owner.array->data);
  EXPECT_NE(stored[0], text);
  cp::sysFreeString(text);

  cp::Bstr got = nullptr;
  ASSERT_EQ(cp::safeArrayGetElement(owner.array, &index, &got), cp::kHrOk);
  EXPECT_NE(got, stored[0]);
  EXPECT_EQ(std::u16string(got), u"hi");
  cp::sysFreeString(got);

  // Replacing an element releases the old string (checked under valgrind).
  cp::Bstr other = cp::sysAllocString(u"other");
  ASSERT_EQ(cp::safeArrayPutElement(owner.array, &index, other), cp::kHrOk);
  cp::sysFreeString(other);
  index = 1;
  char16_t marker[] = u"x";
  cp::Bstr unset = marker;
  ASSERT_EQ(cp::safeArrayGetElement(owner.array, &index, &unset), cp::kHrOk);
  EXPECT_EQ(unset, nullptr);  // an element never set is the null string
}

TEST(OleSafeArray, NestedVariantArraysAreCopiedAndDestroyedWhole) {
  // outer = [ "a", [ 1, ["b", "c"] ] ]
  ArrayOwner outer{cp::safeArrayCreateVector(cp::vtVariant, 0, 2)};
  {
    Variant element;
    cp::variantInit(&element);
    element.vt = cp::vtBstr;
    element.bstrVal = cp::sysAllocString(u"a");
    int32_t index = 0;
    ASSERT_EQ(cp::safeArrayPutElement(outer.array, &index, &element), cp::kHrOk);
    cp::variantClear(&element);

    SafeArray* middle = cp::safeArrayCreateVector(cp::vtVariant, 0, 2);
    Variant one;
    cp::variantInit(&one);
    one.vt = cp::vtI4;
    one.lVal = 1;
    index = 0;
    ASSERT_EQ(cp::safeArrayPutElement(middle, &index, &one), cp::kHrOk);
    Variant strings;
    cp::variantInit(&strings);
    strings.vt = cp::vtArray | cp::vtBstr;
    strings.parray = bstrVector({u"b", u"c"});
    index = 1;
    ASSERT_EQ(cp::safeArrayPutElement(middle, &index, &strings), cp::kHrOk);
    cp::variantClear(&strings);

    Variant nested;
    cp::variantInit(&nested);
    nested.vt = cp::vtArray | cp::vtVariant;
    nested.parray = middle;
    index = 1;
    ASSERT_EQ(cp::safeArrayPutElement(outer.array, &index, &nested), cp::kHrOk);
    cp::variantClear(&nested);  // the outer array holds its own copy
  }

  SafeArray* copy = nullptr;
  ASSERT_EQ(cp::safeArrayCopy(outer.array, &copy), cp::kHrOk);
  ArrayOwner copyOwner{copy};
  const auto* original = static_cast<Variant*>(outer.array->data);
  const auto* copied = static_cast<Variant*>(copy->data);
  EXPECT_NE(copied[0].bstrVal, original[0].bstrVal);
  ASSERT_EQ(copied[1].vt, cp::vtArray | cp::vtVariant);
  EXPECT_NE(copied[1].parray, original[1].parray);

  int32_t index = 1;
  Variant middle;
  ASSERT_EQ(cp::safeArrayGetElement(copy, &index, &middle), cp::kHrOk);
  Variant strings;
  ASSERT_EQ(cp::safeArrayGetElement(middle.parray, &index, &strings), cp::kHrOk);
  ASSERT_EQ(strings.vt, cp::vtArray | cp::vtBstr);
  cp::Bstr c = nullptr;
  ASSERT_EQ(cp::safeArrayGetElement(strings.parray, &index, &c), cp::kHrOk);
  EXPECT_EQ(std::u16string(c), u"c");
  cp::sysFreeString(c);
  cp::variantClear(&strings);
  cp::variantClear(&middle);
}

TEST(OleSafeArray, LockedArraysCannotBeDestroyed) {
  SafeArray* array = cp::safeArrayCreateVector(cp::vtI4, 0, 4);
  void* data = nullptr;
  ASSERT_EQ(cp::safeArrayAccessData(array, &data), cp::kHrOk);
  EXPECT_EQ(data, array->data);
  EXPECT_EQ(array->locks, 1u);
  EXPECT_EQ(cp::safeArrayDestroy(array), cp::kHrDispArrayIsLocked);
  EXPECT_EQ(cp::safeArrayUnaccessData(array), cp::kHrOk);
  EXPECT_EQ(cp::safeArrayUnaccessData(array), cp::kHrUnexpected);
  EXPECT_EQ(cp::safeArrayDestroy(array), cp::kHrOk);

  EXPECT_EQ(cp::safeArrayAccessData(nullptr, &data), cp::kHrInvalidArg);
  EXPECT_EQ(cp::safeArrayUnaccessData(nullptr), cp::kHrInvalidArg);
  EXPECT_EQ(cp::safeArrayDestroy(nullptr), cp::kHrOk);
}

TEST(OleSafeArray, VectorsKeepElementsInlineAndCopiesAreOrdinaryArrays) {
  ArrayOwner vector{cp::safeArrayCreateVector(cp::vtI2, -2, 3)};
  ASSERT_NE(vector.array, nullptr);
  EXPECT_TRUE(vector.array->features & cp::kFadfCreateVector);
  EXPECT_EQ(static_cast<char*>(vector.array->data), reinterpret_cast<char*>(vector.array) + sizeof(SafeArray));
  int32_t lower, upper;
  cp::safeArrayGetLBound(vector.array, 1, &lower);
  cp::safeArrayGetUBound(vector.array, 1, &upper);
  EXPECT_EQ(lower, -2);
  EXPECT_EQ(upper, 0);
  const int32_t index = -1;
  const int16_t value = 77;
  ASSERT_EQ(cp::safeArrayPutElement(vector.array, &index, &value), cp::kHrOk);

  SafeArray* copy = nullptr;
  ASSERT_EQ(cp::safeArrayCopy(vector.array, &copy), cp::kHrOk);
  ArrayOwner copyOwner{copy};
  EXPECT_FALSE(copy->features & cp::kFadfCreateVector);
  EXPECT_NE(copy->data, vector.array->data);
  int16_t got = 0;
  ASSERT_EQ(cp::safeArrayGetElement(copy, &index, &got), cp::kHrOk);
  EXPECT_EQ(got, 77);
  uint16_t type;
  ASSERT_EQ(cp::safeArrayGetVartype(copy, &type), cp::kHrOk);
  EXPECT_EQ(type, cp::vtI2);

  SafeArray* none = reinterpret_cast<SafeArray*>(1);
  EXPECT_EQ(cp::safeArrayCopy(nullptr, &none), cp::kHrOk);
  EXPECT_EQ(none, nullptr);
}

TEST(OleSafeArray, ArraysWithoutElementsHaveAnUpperBoundBelowTheLower) {
  const SafeArrayBound bound{0, 5};
  ArrayOwner owner{cp::safeArrayCreate(cp::vtR8, 1, &bound)};
  ASSERT_NE(owner.array, nullptr);
  int32_t lower, upper;
  cp::safeArrayGetLBound(owner.array, 1, &lower);
  cp::safeArrayGetUBound(owner.array, 1, &upper);
  EXPECT_EQ(lower, 5);
  EXPECT_EQ(upper, 4);
  SafeArray* copy = nullptr;
  ASSERT_EQ(cp::safeArrayCopy(owner.array, &copy), cp::kHrOk);
  ArrayOwner copyOwner{copy};
  ASSERT_NE(copy, nullptr);
  const int32_t index = 5;
  double value;
  EXPECT_EQ(cp::safeArrayGetElement(copy, &index, &value), cp::kHrDispBadIndex);
}
