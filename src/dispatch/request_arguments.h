// Gathering a bound function's arguments from a host's request: every place a request can give
// an argument, in one order, each text decoded into the dynamic value the invoker converts.
//
//   Vexa::HttpCallState state;
//   Vexa::ArgumentValues values(function.arguments.size());
//   Vexa::GatherRequestArguments(state, values.Values(), function, endpoint, request,
//                                match.pathArguments);
//   if (state.Failed()) { ... state.result.ErrorText() says why; the call does not happen ... }
//
// The order: headers, path placeholders, the query, the host's own argument list, the body.
// - Headers reach an argument declared for any location or for headers, when the host gives
//   the header under the argument's name in lower case (a repeated header keeps its last
//   value).
// - Path placeholders and query names (split at "&" and "=", percent-decoded, the last of a
//   repeated name wins) name arguments, optionally followed by an element path:
//   "ids.2=x" sets element 2 of the collection "ids", "filter.country=DE" a member of the
//   structure "filter". An argument declared for one location is refused in another.
// - The host's argument entries go by name, or by position after the path placeholders; their
//   host values are converted as they are (no element paths, no location check).
// - The body goes to the first argument declared for the body, decoded by its content type.
// Texts of object, struct and vector arguments without an element path are sniffed
// (codecs/sniff.h); every other text is a string for the invoker to convert. A bool argument
// that is not optional starts as false; a bare name ("?verbose") switches it on.
//
// Failures are stored in the call state with the messages of dispatch/messages.h. The first
// failure stops the binding of texts and host entries; the body is decoded all the same and
// its own failure, if any, is the one reported. Nothing here throws on its own account (only
// allocation can).
//
// Threading: none shared; every call works on the caller's state. The request is borrowed for
// the call and must have been checked by the handler (every count backed by its array).
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>

#include "dispatch/endpoint.h"
#include "dispatch/http_call.h"
#include "dispatch/http_request.h"
#include "value/property.h"

namespace Vexa {

struct BindingArgumentDescriptor;
struct BindingFunctionDescriptor;

// The values of one call's arguments, all empty at first, as many as it was made for. Up to
// kInlineCount they live inside the object (a request's values then cost no allocation of
// their own), more on the heap. Neither copied nor moved: the values stay where they are.
class ArgumentValues {
 public:
  static constexpr std::size_t kInlineCount = 8;

  // Throws std::bad_alloc when more than kInlineCount values find no memory.
  explicit ArgumentValues(std::size_t count);
  ~ArgumentValues();
  ArgumentValues(const ArgumentValues&) = delete;
  ArgumentValues& operator=(const ArgumentValues&) = delete;

  [[nodiscard]] std::span<BindingProperty> Values() noexcept { return {values_, count_}; }

 private:
  union {
    BindingProperty inline_[kInlineCount];  // the first count_ are alive when values_ is here
  };
  std::unique_ptr<BindingProperty[]> heap_;
  BindingProperty* values_;
  std::size_t count_;
};

// Fills `values` (one per argument of `function`, in order, all empty) with what `request` and
// the path arguments of its route give, as described above.
void GatherRequestArguments(HttpCallState& state, std::span<BindingProperty> values,
                            const BindingFunctionDescriptor& function,
                            const EndpointRecord& endpoint, const HttpRequest& request,
                            const HttpHeaderMap& pathArguments);

// Binds `text` to the argument that `name` designates: the part of the name before its first
// "." is the argument name, the rest an element path of member names and element indices
// ("ids.2", "filter.country"). Fails for an unknown argument, for a location that the
// endpoint's declaration excludes (`endpoint`'s declared location is neither Any nor
// `location`), for an empty text where the argument's kind needs one, and for a malformed or
// too large element index, for a text that holds a NUL byte (kNulInArgumentMessage, with status
// 400), and for an element path of kMaxBindingDepth or more components
// (kArgumentTooDeepMessage). A non-empty text is decoded by DeserializeArgumentValue; for an
// argument of kind object, struct or vector without an element path it is sniffed. The
// argument's value in `values` (sized to the function's arguments) is replaced or, along an
// element path, grown. Does nothing when `state` has already failed.
void BindRequestArgument(HttpCallState& state, std::span<BindingProperty> values,
                         const BindingFunctionDescriptor& function, const EndpointRecord& endpoint,
                         std::string_view name, std::string_view text, const char* contentType,
                         ArgumentLocation location);

// Decodes `text` into `target` according to `contentType` (may be null): MessagePack for
// "application/x-msgpack" and "application/x-msgpack-ext", JSON for "application/json", YAML
// for "text/x-yaml", a blob for "application/octet-stream", otherwise the text as a string.
// With `sniff` and no content type, the sniffing rule (codecs/sniff.h) picks MessagePack, JSON
// or YAML, and a text it does not recognise is a string. JSON and YAML read the text up to its
// first NUL. A codec's refusal fails `state` with the codec's deserialization message, naming
// `argument` and `function`; `target` then keeps what it held.
void DeserializeArgumentValue(HttpCallState& state, BindingProperty& target,
                              const BindingFunctionDescriptor& function,
                              const BindingArgumentDescriptor& argument, std::string_view text,
                              const char* contentType, bool sniff);

}  // namespace Vexa
