// Values between JSON and OLE variants, for the script bench: JSON input
// becomes the values of packet lists and module parameters, and the values a
// script delivers are written back as JSON.
#pragma once

#include <nlohmann/json.hpp>

#include "platform/ole_variant.h"

namespace corvane::host {

using Json = nlohmann::ordered_json;

// A JSON scalar as a variant: integers as I4 (I8 when they do not fit),
// other numbers as R8, strings as BSTR, true/false as BOOL, null as NULL.
// Throws std::invalid_argument for arrays and objects.
platform::OleVariant JsonToVariant(const Json& value);

// A variant as JSON: integer types as integers, R4/R8 as numbers, BOOL as
// true/false, BSTR as a string, Empty and Null as null, one-dimensional
// arrays as arrays; any other type as the text it converts to.
Json VariantToJson(const platform::Variant& value);

// A command-line value (--param NAME=VALUE): a JSON scalar when it reads as
// one (5, 2.5, true, null, "quoted text"), otherwise the text itself.
platform::OleVariant CommandLineValue(const std::string& text);

}  // namespace corvane::host
