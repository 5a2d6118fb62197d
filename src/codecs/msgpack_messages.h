// The failure messages of the MessagePack decoder, in one place so that they read against each
// other and against the texts that callers and clients already match on.
//
//   result.Fail(Vexa::Format(Vexa::kMessagePackTruncated16Message, position));
//
// Every template is a positional Format template; positions and sizes are decimal byte
// counts. Unless a comment says otherwise, "position" is the index of the first byte that the
// failing read needed.
#pragma once

namespace Vexa {

// %1 the position just after the type byte. For the unused type byte 0xC1 and for every ext
// and fixext type, which carry application-defined payloads this system has no meaning for.
inline constexpr const char kMessagePackInvalidDataMessage[] =
    "Invalid MessagePack data at position %1.";

// %1 the position just after the type byte that stood where a map key was expected.
inline constexpr const char kMessagePackKeyNotStringMessage[] =
    "Invalid MessagePack data at position %1. Map keys must be strings.";

// %1 position. A type byte, an 8-bit length or an 8-bit integer is missing.
inline constexpr const char kMessagePackTruncated8Message[] =
    "Invalid MessagePack data. 8-bit integer value at position %1 is truncated.";

// %1 position. A 16-bit length, count or integer is cut short.
inline constexpr const char kMessagePackTruncated16Message[] =
    "Invalid MessagePack data. 16-bit integer value at position %1 is truncated.";

// %1 position. A 32-bit length, count, integer or float is cut short.
inline constexpr const char kMessagePackTruncated32Message[] =
    "Invalid MessagePack data. 32-bit integer value at position %1 is truncated.";

// %1 position. A 64-bit integer or float is cut short.
inline constexpr const char kMessagePackTruncated64Message[] =
    "Invalid MessagePack data. 64-bit integer value at position %1 is truncated.";

// %1 the declared byte length, %2 position of the first byte of the text.
inline constexpr const char kMessagePackStringTruncatedMessage[] =
    "Invalid MessagePack data. String of size %1 at position %2 is truncated.";

// %1 the declared byte length, %2 position of the first byte.
inline constexpr const char kMessagePackBlobTruncatedMessage[] =
    "Invalid MessagePack data. Raw bytes of size %1 at position %2 are truncated.";

// %1 the position just after the type byte of the array or map that would open one level too
// many, %2 the deepest nesting accepted (kMaxBindingDepth). Refused rather than built, so that
// the values every other part of the system walks stay within that depth.
inline constexpr const char kMessagePackTooDeepMessage[] =
    "Invalid MessagePack data at position %1. Arrays and maps are nested deeper than %2 levels.";

// %1 the position just after the type byte, %2 the declared element count, %3 the largest
// count a collection can hold (kMaxBindingElements).
inline constexpr const char kMessagePackTooManyElementsMessage[] =
    "Invalid MessagePack data at position %1. Array of %2 elements is longer than %3.";

// %1 the position just after the type byte, %2 the declared entry count, %3 the largest
// count accepted (kMaxBindingElements).
inline constexpr const char kMessagePackTooManyEntriesMessage[] =
    "Invalid MessagePack data at position %1. Map of %2 entries is larger than %3.";

// %1 the position at which decoding stopped. Only when the system cannot supply the memory
// that an input within its limits needs.
inline constexpr const char kMessagePackOutOfMemoryMessage[] =
    "Not enough memory to decode MessagePack data at position %1.";

}  // namespace Vexa
