// HostValue records as the host builds and reads them: from and to JSON.
//
// Values the host builds own everything they point to (texts, element and member arrays, and
// every key) and are freed with FreeHostValue. Values the plugin hands over are only read;
// WriteHostValueJson refuses a malformed one (a null array or text with a non-zero count, an
// unknown kind, nesting deeper than kMaxHostValueDepth) instead of reading through it.
#pragma once

#include <rapidjson/document.h>

#include <string>

#include "vexa/host_contract.h"

namespace VexaHost {

inline constexpr int kMaxHostValueDepth = 64;

// A new owning value holding `json`: null empty, booleans, integers (unsigned when not
// negative, else signed), other numbers floats, strings, arrays as collections and objects as
// structures. Throws std::bad_alloc only.
HostValue MakeHostValue(const rapidjson::Value& json);

// Frees a value made by MakeHostValue and leaves it empty.
void FreeHostValue(HostValue& value);

// `value` as compact JSON into `json`: blobs become Base64 texts, NaN and infinities null.
// False, with `error` set and `json` unspecified, for a malformed value.
bool WriteHostValueJson(const HostValue& value, std::string& json, std::string& error);

}  // namespace VexaHost
