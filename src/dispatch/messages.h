// Every text and status with which the request dispatcher answers, in one place. Clients match
// these texts exactly (typos included): do not reword them. Texts with %1, %2, %3 are Format
// templates; their arguments are listed with each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Vexa {

// --- Routing (status kInvalidFunctionStatus) ---

// No route of the endpoint matches the request's path and method.
inline constexpr const char kInvalidFunctionMessage[] = "Invalid function";

// --- Gathering arguments (status kBadArgumentsStatus) ---

// %1 the argument name (or, for a positional host argument, its computed index), %2 the
// function name.
inline constexpr const char kUnknownArgumentMessage[] = "Unknown argument '%1' for '%2'.";
// %1 the argument name, %2 the function name. The endpoint declares another location for it.
inline constexpr const char kInvalidLocationMessage[] =
    "Argument '%1' for '%2' was specified in an invalid location.";
// %1 the argument name. An empty text for an argument that is not bool, object, struct or
// vector.
inline constexpr const char kExpectedValueMessage[] = "Expected value for argument '%1'.";
// %1 the element path component as given.
inline constexpr const char kIndexFormatMessage[] = "Index %1 is in an incorrect format";
inline constexpr const char kIndexRangeMessage[] = "Index %1 is out of range";
// %1 the argument name, %2 the deepest nesting a value may have. An element path of that many
// components or more: the value it builds would be deeper than any value may be. The text is
// the one a host value nested too deeply gets.
inline constexpr const char kArgumentTooDeepMessage[] =
    "Couldn't assign value to '%1' because the input is nested deeper than %2 levels.";
// %1 the argument name, %2 the function name. A path, query or header text whose decoded form
// holds a NUL byte: no C text could carry it, and cutting it there would answer another
// question than the one asked (status kMalformedRequestStatus).
inline constexpr const char kNulInArgumentMessage[] = "Argument '%1' for '%2' holds a NUL byte.";
inline constexpr const char kUnsupportedBodyMessage[] = "Unsupported body content type";
// The spelling is the one clients know.
inline constexpr const char kExtraMessagePackMessage[] = "Extra MessgePack data found in body";
// %1 the argument name, %2 the function name, %3 the codec's own message.
inline constexpr const char kMessagePackArgumentMessage[] =
    "Couldn't deserialize MessagePack value for parameter '%1' of '%2': %3";
inline constexpr const char kJsonArgumentMessage[] =
    "Couldn't deserialize JSON value for parameter '%1' of '%2': %3";
inline constexpr const char kYamlArgumentMessage[] =
    "Couldn't deserialize YAML value for parameter '%1' of '%2': %3";

// The largest element index that an element path may name ("ids.1023"). Selecting element n
// appends empty elements up to n, so an index taken from a query name is bounded well below
// what a collection can hold: a short request must not make the plugin build millions of
// values. Larger indices are refused with kIndexRangeMessage.
inline constexpr std::size_t kMaxRequestElementIndex = 1023;

// --- Requests that the host handed in malformed (status kMalformedRequestStatus) ---
// The handler checks them before it reads anything, so that it never follows a null pointer or
// reads past what it was given.

inline constexpr const char kMissingRequestMessage[] =
    "Invalid request: the request record is missing";
inline constexpr const char kMissingEndpointMessage[] =
    "Invalid request: the request names no endpoint";
inline constexpr const char kMissingPathMessage[] = "Invalid request: the request has no path";
// %1 what is missing ("headers", "arguments", "body bytes"), %2 the count that announced it.
inline constexpr const char kMissingDataMessage[] =
    "Invalid request: the %1 are missing for a count of %2";
// %1 the index of the header entry.
inline constexpr const char kHeaderWithoutNameMessage[] = "Invalid request: header %1 has no name";
inline constexpr const char kHeaderWithoutValueMessage[] =
    "Invalid request: header %1 has no value";

// --- Faults on the plugin's side (status kInternalErrorStatus) ---

// %1 the function name.
inline constexpr const char kNoInvokerMessage[] =
    "Function '%1' cannot be called: it has no invoker";
// %1 the function name, %2 what the exception said. An invoker let an exception out.
inline constexpr const char kInvokerExceptionMessage[] = "Internal error while calling '%1': %2";
// %1 what the exception said. Anything else that went wrong while handling the request, most
// likely exhausted memory.
inline constexpr const char kInternalErrorMessage[] = "Internal error: %1";

// --- Bound functions (the call state's status; else kBadArgumentsStatus for a refused
// argument conversion, kInternalErrorStatus for everything else) ---

// %1 the function name, %2 what the exception said. The function or a conversion threw.
inline constexpr const char kCallThrewMessage[] = "Call of '%1' failed: %2";
// %1 the function name. It threw something that is not a std::exception.
inline constexpr const char kCallThrewUnknownMessage[] =
    "Call of '%1' failed with an unknown exception.";
// %1 the function name. Invoke ran without the token that Prepare makes.
inline constexpr const char kCallUnpreparedMessage[] =
    "Call of '%1' failed: its arguments were not prepared.";
// The message of a not-found answer built without one (EndpointAnswer::NotFound).
inline constexpr std::string_view kEndpointNotFoundMessage = "Not found";

// --- Writing the response ---

// The error text of a response whose call succeeded with a result that has no host form
// (nested deeper than kMaxBindingDepth, a count beyond 32 bits, or memory ran out while
// converting it); the body is then nothing.
inline constexpr const char kHttpResultNotRepresentableMessage[] =
    "The result of the call cannot be represented as a host value.";

// --- Statuses ---

inline constexpr uint32_t kInvalidFunctionStatus = 404;
inline constexpr uint32_t kEndpointNotFoundStatus = 404;
inline constexpr uint32_t kMalformedRequestStatus = 400;
inline constexpr uint32_t kInternalErrorStatus = 500;

// The status of a failure that leaves none, by whose it is. The client's: the request's
// arguments could not be bound (gathered, decoded or converted to the function's parameters),
// so the function was never called. The plugin's: everything from the call on (the function
// or a conversion threw, the function failed without a status, its result does not convert or
// has no host form). A status the call state already holds is never replaced.
inline constexpr uint32_t kBadArgumentsStatus = 400;
inline constexpr uint32_t kPluginFailureStatus = kInternalErrorStatus;

}  // namespace Vexa
