#include "host/variant_json.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "platform/code_page.h"

namespace corvane::host {

using platform::OleVariant;
using platform::Variant;

namespace {

std::string utf8Of(const platform::Bstr text) { return text ? platform::wideToUtf8(std::u16string_view(text)) : ""; }

Json convertedText(const Variant& value) {
  Variant converted{};
  if (platform::failed(platform::variantChangeType(&converted, &value, platform::kVariantAlphaBool, platform::vtBstr))) {
    return "<vt " + std::to_string(value.vt) + ">";
  }
  Json text = utf8Of(converted.bstrVal);
  platform::variantClear(&converted);
  return text;
}

// Reals that are whole numbers stay reals in JSON ("2.0"), so that a script
// that delivers 2.0 and one that delivers 2 differ in the output.
Json real(double value) {
  if (!std::isfinite(value)) return std::isnan(value) ? "nan" : (value > 0 ? "inf" : "-inf");
  return value;
}

Json arrayToJson(platform::SafeArray* array) {
  Json elements = Json::array();
  uint16_t elementType = platform::vtEmpty;
  int32_t lower = 0;
  int32_t upper = -1;
  if (array == nullptr || platform::safeArrayGetDim(array) != 1 ||
      platform::failed(platform::safeArrayGetVartype(array, &elementType)) ||
      platform::failed(platform::safeArrayGetLBound(array, 1, &lower)) ||
      platform::failed(platform::safeArrayGetUBound(array, 1, &upper))) {
    return "<array>";
  }
  for (int32_t index = lower; index <= upper; ++index) {
    Variant element{};
    const bool variants = elementType == platform::vtVariant;
    if (!variants) element.vt = elementType;
    void* into = variants ? static_cast<void*>(&element) : static_cast<void*>(&element.llVal);
    if (platform::failed(platform::safeArrayGetElement(array, &index, into))) {
      element.vt = platform::vtEmpty;
      elements.push_back("<element>");
      continue;
    }
    elements.push_back(VariantToJson(element));
    platform::variantClear(&element);
  }
  return elements;
}

}  // namespace

OleVariant JsonToVariant(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
      return OleVariant::null();
    case Json::value_t::boolean:
      return OleVariant::fromBool(value.get<bool>());
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned: {
      if (value.is_number_unsigned() && value.get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)) {
        return OleVariant::fromR8(value.get<double>());
      }
      const auto number = value.get<int64_t>();
      if (number >= INT32_MIN && number <= INT32_MAX) return OleVariant::fromI4(static_cast<int32_t>(number));
      return OleVariant::fromI8(number);
    }
    case Json::value_t::number_float:
      return OleVariant::fromR8(value.get<double>());
    case Json::value_t::string:
      return OleVariant::fromString(platform::utf8ToWide(value.get<std::string>()));
    default:
      throw std::invalid_argument("a value must be a number, a string, true, false or null, not " +
                                  std::string(value.type_name()));
  }
}

Json VariantToJson(const Variant& value) {
  if ((value.vt & platform::vtArray) != 0) {
    if ((value.vt & platform::vtByRef) != 0) return convertedText(value);
    return arrayToJson(value.parray);
  }
  switch (value.vt) {
    case platform::vtEmpty:
    case platform::vtNull:
      return nullptr;
    case platform::vtI1:
      return value.cVal;
    case platform::vtUI1:
      return value.bVal;
    case platform::vtI2:
      return value.iVal;
    case platform::vtUI2:
      return value.uiVal;
    case platform::vtI4:
    case platform::vtInt:
      return value.lVal;
    case platform::vtUI4:
    case platform::vtUInt:
      return value.ulVal;
    case platform::vtI8:
      return value.llVal;
    case platform::vtUI8:
      return value.ullVal;
    case platform::vtR4:
      return real(value.fltVal);
    case platform::vtR8:
      return real(value.dblVal);
    case platform::vtBool:
      return value.boolVal != 0;
    case platform::vtBstr:
      return utf8Of(value.bstrVal);
    default:
      return convertedText(value);
  }
}

OleVariant CommandLineValue(const std::string& text) {
  Json parsed = Json::parse(text, nullptr, false);
  if (!parsed.is_discarded() && !parsed.is_structured()) return JsonToVariant(parsed);
  return OleVariant::fromString(platform::utf8ToWide(text));
}

}  // namespace corvane::host
