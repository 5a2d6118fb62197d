// The texts with which a request to a host URI fails, in one place. Templates with "%1" are
// positional (util/format.h): %1 the method's name, %2 the URI, %3 what went wrong.
#pragma once

#include <cstdint>

namespace Vexa {

inline constexpr const char kRequestNotSentMessage[] =
    "Request not sent: Error converting parameters for %1 %2: %3";
inline constexpr const char kErrorResponseMessage[] = "Error response for %1 %2: %3";
inline constexpr const char kStreamReadErrorMessage[] =
    "Error reading streamed response for %1 %2: %3";
inline constexpr const char kStreamReadError[] = "Stream read error";
inline constexpr const char kConvertResponseMessage[] = "Error converting response for %1 %2: %3";
// A request whose host entry is missing never calls through null.
inline constexpr const char kMissingHostEntryMessage[] =
    "Request not sent: the host offers no request entry for %1 %2";
// %1 the argument's position, from 1.
inline constexpr const char kArgumentNotRepresentable[] = "argument %1 has no host form";
// %1 the limit in bytes. A streamed answer that never ends would be read forever: what one
// answer may total is bounded, and the request fails past it.
inline constexpr const char kStreamTooLongError[] = "the streamed answer is longer than %1 bytes";
inline constexpr uint32_t kMaxStreamedAnswerBytes = 64u << 20;

// The value name of an answer, as conversion messages quote it.
inline constexpr const char kResultValueName[] = "<result>";

}  // namespace Vexa
