#include "dispatch/request_arguments.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <memory_resource>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "binding/descriptors.h"
#include "codecs/json.h"
#include "codecs/msgpack.h"
#include "codecs/sniff.h"
#include "codecs/yaml.h"
#include "dispatch/messages.h"
#include "dispatch/route_pattern.h"
#include "util/format.h"

namespace Vexa {
namespace {

// --- Texts ---

// The text up to its first NUL: JSON and YAML read argument texts and bodies as C texts did,
// but never beyond the bytes they were given.
std::string_view UpToNul(std::string_view text) {
  if (text.empty()) {
    return text;  // may be a null view; memchr must not see a null pointer
  }
  const void* nul = std::memchr(text.data(), '\0', text.size());
  if (nul == nullptr) {
    return text;
  }
  return text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
}

// Whether a decoded text holds a NUL byte. Argument texts are short: a plain loop, inlined, beats
// a call of memchr.
bool HoldsNul(std::string_view text) {
  for (const char character : text) {
    if (character == '\0') {
      return true;
    }
  }
  return false;
}

bool IsDecimalDigit(char character) {
  return character >= '0' && character <= '9';
}

// --- Element indices ---

enum class IndexOutcome { Ok, BadFormat, OutOfRange };

struct ParsedIndex {
  IndexOutcome outcome = IndexOutcome::Ok;
  std::size_t value = 0;
};

// The value of one digit in any base up to 16, or 16 for a character that is none.
unsigned DigitValue(char character) {
  if (IsDecimalDigit(character)) {
    return static_cast<unsigned>(character - '0');
  }
  if (character >= 'a' && character <= 'f') {
    return static_cast<unsigned>(character - 'a' + 10);
  }
  if (character >= 'A' && character <= 'F') {
    return static_cast<unsigned>(character - 'A' + 10);
  }
  return 16;
}

// Reads a component that starts with a decimal digit as an unsigned number in C notation, as
// strtoul with base 0 would: "0x" followed by a hexadecimal digit opens a hexadecimal number, a
// leading "0" an octal one, anything else is decimal. The whole component must be digits of
// that base. Accumulation stops growing past the limit, so no length of digits overflows.
ParsedIndex ParseElementIndex(std::string_view component) {
  unsigned base = 10;
  std::size_t at = 0;
  if (component.size() > 2 && component[0] == '0' && (component[1] == 'x' || component[1] == 'X') &&
      DigitValue(component[2]) < 16) {
    base = 16;
    at = 2;
  } else if (component[0] == '0') {
    base = 8;
  }
  ParsedIndex parsed;
  for (; at < component.size(); ++at) {
    const unsigned digit = DigitValue(component[at]);
    if (digit >= base) {
      return {IndexOutcome::BadFormat, 0};
    }
    if (parsed.outcome == IndexOutcome::Ok) {
      parsed.value = parsed.value * base + digit;
      if (parsed.value > kMaxRequestElementIndex) {
        parsed.outcome = IndexOutcome::OutOfRange;
      }
    }
  }
  return parsed;
}

// --- One named text ---

bool IsSniffedKind(BindingTypeKind kind) {
  return kind == BindingTypeKind::Object || kind == BindingTypeKind::Vector ||
         kind == BindingTypeKind::Struct;
}

// A name without an element path. An empty text is what a bare query name ("?verbose") or an
// empty value gives: it switches a bool on and makes an empty container; other kinds need a
// value.
void BindWholeArgument(HttpCallState& state, BindingProperty& value,
                       const BindingFunctionDescriptor& function,
                       const BindingArgumentDescriptor& argument, std::string_view text,
                       const char* contentType) {
  const BindingTypeKind kind = argument.type.kind;
  if (!text.empty()) {
    DeserializeArgumentValue(state, value, function, argument, text, contentType,
                             IsSniffedKind(kind));
    return;
  }
  switch (kind) {
    case BindingTypeKind::Bool:
      value.SetBool(true);
      return;
    case BindingTypeKind::Object:
    case BindingTypeKind::Struct:
      value.Reset();
      value.MakeStructure();
      return;
    case BindingTypeKind::Vector:
      value.Reset();
      value.MakeCollection();
      return;
    default:
      state.Fail(Format(kExpectedValueMessage, argument.name));
      return;
  }
}

// Walks `path` ("2", "filter.country", "ids.0x1F") from the argument's value, turning values
// into structures and collections as the components ask, and decodes the text into the
// element reached. Texts along a path are never sniffed: "[1,2]" there stays a text.
void BindArgumentElement(HttpCallState& state, BindingProperty& value,
                         const BindingFunctionDescriptor& function,
                         const BindingArgumentDescriptor& argument, std::string_view path,
                         std::string_view text, const char* contentType) {
  // Each component nests one level deeper; a value may not nest deeper than any value can (a
  // long query name would otherwise build a tree too deep to walk).
  const std::size_t components =
      static_cast<std::size_t>(std::count(path.begin(), path.end(), '.')) + 1;
  if (components >= kMaxBindingDepth) {
    state.Fail(Format(kArgumentTooDeepMessage, argument.name, kMaxBindingDepth));
    return;
  }
  BindingProperty* current = &value;
  while (true) {
    const std::size_t dot = path.find('.');
    const std::string_view component = path.substr(0, dot);
    if (!component.empty() && IsDecimalDigit(component[0])) {
      const ParsedIndex index = ParseElementIndex(component);
      if (index.outcome != IndexOutcome::Ok) {
        state.Fail(Format(
            index.outcome == IndexOutcome::BadFormat ? kIndexFormatMessage : kIndexRangeMessage,
            component));
        return;
      }
      current = &current->ElementAt(index.value);
    } else {
      current = &current->Member(component);
    }
    if (dot == std::string_view::npos) {
      break;
    }
    path.remove_prefix(dot + 1);
  }
  DeserializeArgumentValue(state, *current, function, argument, text, contentType, false);
}

// Stores a decoded argument text, or the codec's deserialization message.
void TakeDecodedArgument(HttpCallState& state, BindingProperty& target, BindingResult&& decoded,
                         const char* messageTemplate, const BindingFunctionDescriptor& function,
                         const BindingArgumentDescriptor& argument) {
  if (!decoded) {
    state.Fail(Format(messageTemplate, argument.name, function.name, decoded.ErrorText()));
    return;
  }
  target = std::move(decoded.value);
}

// --- The places of a request ---

void SetInitialArgumentValues(std::span<BindingProperty> values,
                              const BindingFunctionDescriptor& function) {
  for (std::size_t index = 0; index < values.size(); ++index) {
    const BindingArgumentDescriptor& argument = function.arguments[index];
    if (argument.type.kind == BindingTypeKind::Bool && !argument.optional) {
      values[index].SetBool(false);  // a bool that is not given at all is false, not missing
    }
  }
}

// Whether the host's header name equals `argumentName` lowered: header names reach arguments
// only as the host spells them in lower case. Reads the header name no further than its NUL.
bool HeaderNamesArgument(const char* headerName, std::string_view argumentName) {
  for (std::size_t at = 0; at < argumentName.size(); ++at) {
    char lowered = argumentName[at];
    if (lowered >= 'A' && lowered <= 'Z') {
      lowered = static_cast<char>(lowered - 'A' + 'a');
    }
    if (headerName[at] == '\0' || headerName[at] != lowered) {
      return false;
    }
  }
  return headerName[argumentName.size()] == '\0';
}

// The value of the last header that names the argument, or null.
const char* HeaderValueFor(const HttpRequest& request, std::string_view argumentName) {
  const char* found = nullptr;
  for (const HttpHeader& header : request.headers) {
    if (HeaderNamesArgument(header.name, argumentName)) {
      found = header.value;
    }
  }
  return found;
}

// The query's names and values, in a table like HttpHeaderMap whose nodes and texts come from
// a block on the caller's stack (and from the heap only past it). The table is the same kind
// of hash table with the same hash, so its entries come out in the order the request's
// arguments were always bound in, which decides which of two failures is reported and how a
// whole argument and one of its elements combine.
using QueryMap = std::pmr::unordered_map<std::pmr::string, std::pmr::string>;
static_assert(std::is_same_v<HttpHeaderMap::hasher, std::hash<std::string>>,
              "the query is bound in the order of the header map's table");

// A query's bytes on the stack: the table of a few arguments with short texts fits.
constexpr std::size_t kQueryArenaBytes = 1024;

// Whether `text` holds a "%" or a "+", which percent-decoding replaces. A plain loop: query
// texts are short, and find_first_of calls memchr for every character.
bool NeedsDecoding(std::string_view text) {
  for (const char character : text) {
    if (character == '%' || character == '+') {
      return true;
    }
  }
  return false;
}

// `text` percent-decoded into a string of `query`'s memory. A text without "%" and "+" is
// its own decoding and is copied as it is.
std::pmr::string DecodedQueryText(std::string_view text, const QueryMap& query) {
  if (!NeedsDecoding(text)) {
    return std::pmr::string(text, query.get_allocator());
  }
  return std::pmr::string(PercentDecode(text), query.get_allocator());
}

// The query of `path`: the text after its first "?", split at "&", each piece split at its
// first "=" into a name and a value (an empty value when there is no "="), both
// percent-decoded. A repeated name keeps its last value. Empty pieces ("a=1&&b=2", a trailing
// "&", a bare "?") name nothing and are skipped.
void ParseQuery(std::string_view path, QueryMap& query) {
  const std::size_t mark = path.find('?');
  if (mark == std::string_view::npos) {
    return;
  }
  std::string_view rest = path.substr(mark + 1);
  while (true) {
    const std::size_t ampersand = rest.find('&');
    const std::string_view piece = rest.substr(0, ampersand);
    if (!piece.empty()) {
      const std::size_t equals = piece.find('=');
      std::pmr::string value = equals == std::string_view::npos
                                   ? std::pmr::string(query.get_allocator())
                                   : DecodedQueryText(piece.substr(equals + 1), query);
      query.insert_or_assign(DecodedQueryText(piece.substr(0, equals), query), std::move(value));
    }
    if (ampersand == std::string_view::npos) {
      return;
    }
    rest.remove_prefix(ampersand + 1);
  }
}

// Headers, then path placeholders, then the query, each as named texts; the first failure
// stops the rest. Headers are scanned in place rather than collected into a map: there are few
// of each, and a request without the headers it could use allocates nothing here.
void BindRequestTexts(HttpCallState& state, std::span<BindingProperty> values,
                      const BindingFunctionDescriptor& function, const EndpointRecord& endpoint,
                      const HttpRequest& request, const HttpHeaderMap& pathArguments) {
  for (std::size_t index = 0; index < function.arguments.size() && !request.headers.empty();
       ++index) {
    const ArgumentLocation location = endpoint.LocationOf(index);
    if (location != ArgumentLocation::Any && location != ArgumentLocation::Header) {
      continue;
    }
    const std::string& name = function.arguments[index].name;
    if (const char* value = HeaderValueFor(request, name)) {
      BindRequestArgument(state, values, function, endpoint, name, value, nullptr,
                          ArgumentLocation::Header);
    }
  }
  for (const auto& [name, value] : pathArguments) {
    BindRequestArgument(state, values, function, endpoint, name, value, nullptr,
                        ArgumentLocation::Path);
  }
  if (state.Failed() || request.path.find('?') == std::string_view::npos) {
    return;
  }
  alignas(std::max_align_t) std::byte arena[kQueryArenaBytes];
  std::pmr::monotonic_buffer_resource memory(arena, sizeof arena);
  QueryMap query(&memory);
  ParseQuery(request.path, query);
  for (const auto& [name, value] : query) {
    BindRequestArgument(state, values, function, endpoint, name, value, nullptr,
                        ArgumentLocation::Query);
  }
}

// The host's own argument list: by name, or by position after the path placeholders (which
// the host leaves out of its list). Host values are converted as they are: no element paths,
// no location check.
void BindHostArguments(HttpCallState& state, std::span<BindingProperty> values,
                       const BindingFunctionDescriptor& function, const HttpRequest& request,
                       std::size_t pathArgumentCount) {
  const std::size_t count = request.ArgumentCount();
  for (std::size_t position = 0; position < count && !state.Failed(); ++position) {
    const char* entryName = request.arguments->NameAt(position);
    std::size_t index = position + pathArgumentCount;
    if (entryName != nullptr) {
      const BindingArgumentDescriptor* argument = function.FindArgument(entryName);
      index = argument == nullptr ? values.size()
                                  : static_cast<std::size_t>(argument - function.arguments.data());
    }
    if (index >= values.size()) {
      state.Fail(entryName != nullptr ? Format(kUnknownArgumentMessage, entryName, function.name)
                                      : Format(kUnknownArgumentMessage, index, function.name));
      return;
    }
    // A positional entry has no name of its own; its messages name the argument it fills.
    const std::string_view name = entryName != nullptr
                                      ? std::string_view(entryName)
                                      : std::string_view(function.arguments[index].name);
    std::string error;
    if (!request.arguments->Read(position, values[index], name, error)) {
      state.Fail(error);
    }
  }
}

// Reads the body as text: at most `length` bytes, ending at an embedded NUL.
std::string_view BodyText(const uint8_t* body, std::size_t length) {
  return UpToNul(std::string_view(reinterpret_cast<const char*>(body), length));
}

// Stores a decoded body, or the codec's own message.
void TakeDecodedBody(HttpCallState& state, BindingProperty& target, BindingResult&& decoded) {
  if (!decoded) {
    state.Fail(decoded.ErrorText());
    return;
  }
  target = std::move(decoded.value);
}

// Decodes a request body of `length` bytes by its content type: "application/x-msgpack" as
// exactly one MessagePack value, "application/json" and "application/vnd.api+json" as JSON,
// "application/x-yaml" as YAML. JSON and YAML read at most `length` bytes and stop at an
// embedded NUL: the body need not be NUL-terminated. A codec's refusal replaces any failure
// that `state` held; on success an earlier failure stays.
void DecodeBody(HttpCallState& state, BindingProperty& target, const char* contentType,
                const uint8_t* body, std::size_t length) {
  if (ContentTypeIs(contentType, "application/x-msgpack")) {
    MessagePackDecoded decoded = DecodeMessagePack(body, length);
    if (decoded.result && decoded.consumed != length) {
      state.Fail(kExtraMessagePackMessage);
      return;
    }
    TakeDecodedBody(state, target, std::move(decoded.result));
    return;
  }
  if (ContentTypeIs(contentType, "application/json") ||
      ContentTypeIs(contentType, "application/vnd.api+json")) {
    TakeDecodedBody(state, target, ParseJson(BodyText(body, length)));
    return;
  }
  if (ContentTypeIs(contentType, "application/x-yaml")) {
    TakeDecodedBody(state, target, ParseYaml(BodyText(body, length)));
    return;
  }
  state.Fail(kUnsupportedBodyMessage);
}

// The body goes to the first argument declared for it. It is decoded even after an earlier
// failure, and its own failure is the one reported. A body of no bytes is no body.
void BindBody(HttpCallState& state, std::span<BindingProperty> values,
              const BindingFunctionDescriptor& function, const EndpointRecord& endpoint,
              const HttpRequest& request) {
  if (request.body.empty()) {
    return;
  }
  for (std::size_t index = 0; index < function.arguments.size(); ++index) {
    if (endpoint.LocationOf(index) == ArgumentLocation::Body) {
      DecodeBody(state, values[index], request.contentType, request.body.data(),
                 request.body.size());
      return;
    }
  }
}

}  // namespace

ArgumentValues::ArgumentValues(std::size_t count) : values_(inline_), count_(count) {
  if (count > kInlineCount) {
    heap_ = std::make_unique<BindingProperty[]>(count);
    values_ = heap_.get();
    return;
  }
  std::uninitialized_default_construct_n(inline_, count);  // noexcept: an empty value
}

ArgumentValues::~ArgumentValues() {
  if (values_ == inline_) {
    std::destroy_n(inline_, count_);
  }
}

void GatherRequestArguments(HttpCallState& state, std::span<BindingProperty> values,
                            const BindingFunctionDescriptor& function,
                            const EndpointRecord& endpoint, const HttpRequest& request,
                            const HttpHeaderMap& pathArguments) {
  SetInitialArgumentValues(values, function);
  BindRequestTexts(state, values, function, endpoint, request, pathArguments);
  BindHostArguments(state, values, function, request, pathArguments.size());
  BindBody(state, values, function, endpoint, request);
}

void BindRequestArgument(HttpCallState& state, std::span<BindingProperty> values,
                         const BindingFunctionDescriptor& function, const EndpointRecord& endpoint,
                         std::string_view name, std::string_view text, const char* contentType,
                         ArgumentLocation location) {
  if (state.Failed()) {
    return;
  }
  const std::size_t dot = name.find('.');
  const std::string_view argumentName = name.substr(0, dot);
  const BindingArgumentDescriptor* argument = function.FindArgument(argumentName);
  const std::size_t index = argument == nullptr
                                ? values.size()
                                : static_cast<std::size_t>(argument - function.arguments.data());
  if (index >= values.size()) {
    state.Fail(Format(kUnknownArgumentMessage, argumentName, function.name));
    return;
  }
  const ArgumentLocation declared = endpoint.LocationOf(index);
  if (declared != ArgumentLocation::Any && declared != location) {
    state.Fail(Format(kInvalidLocationMessage, argumentName, function.name));
    return;
  }
  if (HoldsNul(text)) {
    state.Fail(Format(kNulInArgumentMessage, argumentName, function.name));
    state.status = kMalformedRequestStatus;
    return;
  }
  if (dot == std::string_view::npos) {
    BindWholeArgument(state, values[index], function, *argument, text, contentType);
  } else {
    BindArgumentElement(state, values[index], function, *argument, name.substr(dot + 1), text,
                        contentType);
  }
}

void DeserializeArgumentValue(HttpCallState& state, BindingProperty& target,
                              const BindingFunctionDescriptor& function,
                              const BindingArgumentDescriptor& argument, std::string_view text,
                              const char* contentType, bool sniff) {
  // A content type decides; only a text without one is sniffed.
  const bool sniffing = sniff && (contentType == nullptr || contentType[0] == '\0');
  const SniffedCodec sniffed = sniffing ? SniffPayload(text) : SniffedCodec::None;

  if (ContentTypeIs(contentType, "application/x-msgpack") ||
      ContentTypeIs(contentType, "application/x-msgpack-ext") ||
      sniffed == SniffedCodec::MessagePack) {
    TakeDecodedArgument(state, target, DecodeMessagePack(text).result, kMessagePackArgumentMessage,
                        function, argument);
    return;
  }
  if (ContentTypeIs(contentType, "application/json") || sniffed == SniffedCodec::Json) {
    TakeDecodedArgument(state, target, ParseJson(UpToNul(text)), kJsonArgumentMessage, function,
                        argument);
    return;
  }
  if (ContentTypeIs(contentType, "text/x-yaml") || sniffed == SniffedCodec::Yaml) {
    TakeDecodedArgument(state, target, ParseYaml(UpToNul(text)), kYamlArgumentMessage, function,
                        argument);
    return;
  }
  if (ContentTypeIs(contentType, "application/octet-stream")) {
    target.SetBlob(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return;
  }
  target.SetString(text);
}

}  // namespace Vexa
