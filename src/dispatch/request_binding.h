// Argument binding for the request dispatcher: how one named text of a request (a header, a
// path placeholder, a query value) or a request body becomes the dynamic value of a bound
// function's argument, and the messages that the dispatcher answers with.
//
//   std::vector<Vexa::BindingProperty> values(function.arguments.size());
//   Vexa::HttpHeaderMap query;
//   Vexa::ParseRequestQuery("/items?ids.0=a&ids.2=c&verbose", query);
//   for (const auto& [name, text] : query) {
//     Vexa::BindRequestArgument(state, values, function, endpoint, name, text, nullptr,
//                               Vexa::ArgumentLocation::Query);
//     if (state.Failed()) break;                  // state.result.ErrorText() says why
//   }
//
// Every failure is stored in the call state (HttpCallState::Fail) with one of the messages
// below, formatted with Format; nothing here throws on its own account (only allocation can).
// Texts are borrowed for the call; values are written in place.
//
// Threading: none shared; every call works on the caller's state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "value/property.h"
#include "dispatch/endpoint.h"
#include "dispatch/http_call.h"

namespace Vexa {

struct BindingArgumentDescriptor;
struct BindingFunctionDescriptor;

// --- Messages of the dispatcher. Clients match these texts exactly: do not reword them. ---

// No route of the endpoint matches the request's path and method (status 404).
inline constexpr const char kInvalidFunctionMessage[] = "Invalid function";
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

// Requests that the host handed in malformed (status 400). The handler checks them before it
// reads anything, so that it never follows a null pointer or reads past what it was given.
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

// Faults on the plugin's side (status 500). %1 the function name.
inline constexpr const char kNoInvokerMessage[] =
    "Function '%1' cannot be called: it has no invoker";
// %1 the function name, %2 what the exception said. An invoker let an exception out.
inline constexpr const char kInvokerExceptionMessage[] = "Internal error while calling '%1': %2";
// %1 what the exception said. Anything else that went wrong while handling the request, most
// likely exhausted memory.
inline constexpr const char kInternalErrorMessage[] = "Internal error: %1";

// The status codes of the answers above; every other failure keeps the call state's status.
inline constexpr uint32_t kInvalidFunctionStatus = 404;
inline constexpr uint32_t kMalformedRequestStatus = 400;
inline constexpr uint32_t kInternalErrorStatus = 500;

// The largest element index that an element path may name ("ids.1023"). Selecting element n
// appends empty elements up to n, so an index taken from a query name is bounded well below
// what a collection can hold: a short request must not make the plugin build millions of
// values. Larger indices are refused with kIndexRangeMessage.
inline constexpr std::size_t kMaxRequestElementIndex = 1023;

// Binds `text` to the argument that `name` designates: the part of the name before its first
// "." is the argument name, the rest an element path of member names and element indices
// ("ids.2", "filter.country"). Fails for an unknown argument, for a location that the
// endpoint's declaration excludes (`endpoint`'s declared location is neither Any nor
// `location`), for an empty text where the argument's kind needs one, and for a malformed or
// too large element index, and for an element path of kMaxBindingDepth or more components
// (kHostValueTooDeepMessage). A non-empty text is decoded by DeserializeArgumentValue; for an
// argument of kind object, struct or vector without an element path it is sniffed. The
// argument's value in `values` (sized to the function's arguments) is replaced or, along an
// element path, grown. Does nothing when `state` has already failed.
void BindRequestArgument(HttpCallState& state, std::vector<BindingProperty>& values,
                         const BindingFunctionDescriptor& function, const EndpointRecord& endpoint,
                         std::string_view name, std::string_view text, const char* contentType,
                         ArgumentLocation location);

// Decodes `text` into `target` according to `contentType` (may be null): MessagePack for
// "application/x-msgpack" and "application/x-msgpack-ext", JSON for "application/json", YAML
// for "text/x-yaml", a blob for "application/octet-stream", otherwise the text as a string.
// With `sniff` and no content type, a text that begins like a MessagePack map or array is
// MessagePack, one whose first non-space character is "{" or "[" is JSON, and one that begins
// with "---" after its spaces is YAML. JSON and YAML read the text up to its first NUL. A
// codec's refusal fails `state` with the codec's deserialization message, naming `argument`
// and `function`; `target` then keeps what it held.
void DeserializeArgumentValue(HttpCallState& state, BindingProperty& target,
                              const BindingFunctionDescriptor& function,
                              const BindingArgumentDescriptor& argument, std::string_view text,
                              const char* contentType, bool sniff);

// Decodes a request body of `length` bytes at `body` into `target` by its content type:
// "application/x-msgpack" as exactly one MessagePack value (kExtraMessagePackMessage when bytes
// follow it), "application/json" and "application/vnd.api+json" as JSON, "application/x-yaml"
// as YAML. JSON and YAML read at most `length` bytes and stop at an embedded NUL: the body
// need not be NUL-terminated. Any other content type, a null one included, fails with
// kUnsupportedBodyMessage. A codec's refusal fails `state` with the codec's own message,
// replacing any failure that `state` held; on success an earlier failure stays.
void DecodeRequestBody(HttpCallState& state, BindingProperty& target, const char* contentType,
                       const uint8_t* body, std::size_t length);

// The query of `path`: the text after its first "?", split at "&", each piece split at its
// first "=" into a name and a value (an empty value when there is no "="), both
// percent-decoded. A repeated name keeps its last value. Empty pieces ("a=1&&b=2", a trailing
// "&", a bare "?") name nothing and are skipped. `query` is added to, not cleared.
void ParseRequestQuery(std::string_view path, HttpHeaderMap& query);

}  // namespace Vexa
