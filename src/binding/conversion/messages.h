// The messages of native and value conversion, in one place so that they read against each
// other and against the texts the host and its clients already know.
//
//   result.Fail(Vexa::Format(Vexa::kConversionRequiredMessage, name));
//
// Every template is a positional Format template ("%1", "%2", ...). The texts are exactly the
// ones that clients match on, grammar slips included ("because the input not a structure.");
// do not correct them. The incorrect-format and out-of-range texts end without a period on
// purpose.
#pragma once

#include "util/number_text.h"

namespace Vexa {

// %1 name.
inline constexpr const char kConversionRequiredMessage[] = "A value for '%1' is required.";

// %1 name, %2 input kind name.
inline constexpr const char kConversionBoolInvalidTypeMessage[] =
    "Couldn't assign value to '%1' of type bool because the input is of an invalid type %2.";

// %1 input text, %2 name.
inline constexpr const char kConversionBoolFormatMessage[] =
    "Value %1 for '%2' of type bool is in an incorrect format. Options are \"true\", \"false\", "
    "\"1\", \"0\".";

// %1 name, %2 target type name, %3 input kind name.
inline constexpr const char kConversionInvalidTypeMessage[] =
    "Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.";

// %1 input text form, %2 name, %3 target type name. The texts of these two live beside the
// text-to-number rules (util/number_text.h), which the YAML reader reports through as well.
inline constexpr const auto& kConversionFormatMessage = kNumberTextFormatMessage;
inline constexpr const auto& kConversionRangeMessage = kNumberTextRangeMessage;

// %1 name.
inline constexpr const char kConversionNotStringMessage[] =
    "Couldn't assign value to '%1' because the input is not a string.";

// %1 enumerator number, %2 name.
inline constexpr const char kConversionNotEnumeratorMessage[] =
    "%1 is not a valid enumeration value for '%2'.";

// %1 input (number or text), %2 enum type name, %3 name.
inline constexpr const char kConversionNotTypedEnumeratorMessage[] =
    "%1 is not a valid %2 enumeration value for '%3'.";

// %1 name, %2 input kind name.
inline constexpr const char kConversionEnumInvalidTypeMessage[] =
    "Couldn't assign value to '%1' of enum type because the input is of an invalid type %2.";

// %1 name.
inline constexpr const char kConversionNotBlobMessage[] =
    "Couldn't assign value to '%1' of type blob because the input is not a blob.";

// %1 name.
inline constexpr const char kConversionInvalidBase64Message[] =
    "Couldn't assign string value to '%1' of type blob because the input has invalid base64 "
    "characters.";

// %1 name.
inline constexpr const char kConversionNotCollectionMessage[] =
    "Couldn't assign value to '%1' of type vector because the input not a collection.";

// %1 name.
inline constexpr const char kConversionMapNotStructureMessage[] =
    "Couldn't assign value to '%1' of type map because the input not a structure.";

// %1 name.
inline constexpr const char kConversionUnregisteredStructureMessage[] =
    "Couldn't assign value to '%1' because the input is an unregistered structure or not a "
    "structure at all.";

// %1 name, %2 struct type name.
inline constexpr const char kConversionNotStructureMessage[] =
    "Couldn't assign value to '%1' of type %2 because the input not a structure.";

// %1 name, %2 struct type name, %3 field name.
inline constexpr const char kConversionMissingFieldMessage[] =
    "Couldn't assign value to '%1' of type %2 because the input structure doesn't have required "
    "field '%3'.";

// No arguments.
inline constexpr const char kConversionUnregisteredNativeMessage[] =
    "Couldn't convert native value because it's an unregistered structure.";

// --- Refusals of this system's own, for inputs and registrations the rules above do not
// cover. ---

// Value to native: more nested collections and structures than kMaxBindingDepth (%2), in the
// input or in a recursive record type. %1 name. Same text as the host-value conversion's.
inline constexpr const char kConversionTooDeepMessage[] =
    "Couldn't assign value to '%1' because the input is nested deeper than %2 levels.";

// Native to value: a native record nested deeper than kMaxBindingDepth (%1) levels.
inline constexpr const char kConversionNativeTooDeepMessage[] =
    "Couldn't convert native value because it is nested deeper than %1 levels.";

// Value to native: a vector or map of %3 elements that the native container cannot hold
// (length or allocation failure). %1 name, %2 "vector" or "map".
inline constexpr const char kConversionTooManyElementsMessage[] =
    "Couldn't assign value to '%1' of type %2 because its %3 elements do not fit.";

// Value to native: an enum registered with a storage size (%3) other than 1, 2, 4 or 8.
// %1 name, %2 enum type name.
inline constexpr const char kConversionEnumSizeMessage[] =
    "Couldn't assign value to '%1' of type %2 because the enum's size %3 is not 1, 2, 4 or 8.";

// Value to native: an enum field or argument whose enum type is not registered. %1 name.
inline constexpr const char kConversionUnregisteredEnumMessage[] =
    "Couldn't assign value to '%1' because its enum type is not registered.";

// Native to value: an enum whose type is not registered.
inline constexpr const char kConversionUnregisteredNativeEnumMessage[] =
    "Couldn't convert native value because it's an unregistered enumeration.";

// Either direction: a vector, map, optional or kind-less type whose native layout the untyped
// rules cannot know (registered without the typed registration layer). %1 name, %2 type name
// (the empty text for an unknown kind).
inline constexpr const char kConversionNoNativeAccessMessage[] =
    "Couldn't convert '%1' of type %2 because its native layout is not known.";

// Native to value: a vector, map, optional or kind-less type (%1, the type name) whose native
// layout is not known.
inline constexpr const char kConversionNativeNoAccessMessage[] =
    "Couldn't convert native value of type %1 because its native layout is not known.";

// Native to value: a native vector of more elements (%1) than a collection holds.
inline constexpr const char kConversionNativeTooManyElementsMessage[] =
    "Couldn't convert native value because its %1 elements are more than a collection holds.";

}  // namespace Vexa
