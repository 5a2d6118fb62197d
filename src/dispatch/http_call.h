// The per-call vocabulary of the request dispatcher: request methods, the call state a bound
// function leaves its result and response data in, the raw request record a bound function
// may ask for, and response body streams. The host's records of a call are translated at the
// seam (bridge/host_response.h, bridge/endpoint_handler.h); nothing here knows them.
//
//   Vexa::HttpCallState state;
//   state.result = Vexa::BindingResult(answer);        // or state.Fail("Not found")
//   state.status = 200;
//   state.headers["Cache-Control"] = "no-store";
//
// Ownership: a call state owns its result, texts, headers and body stream; the dispatcher owns
// the call state for the duration of one call.
//
// Threading: every record here belongs to one call and one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "binding/static_type.h"
#include "value/property.h"
#include "value/result.h"

namespace Vexa {

class BindingRegistry;

// The word a host hands out with every call and expects back unchanged: its own handle for the
// module, passed through to bound functions.
using HostHandle = std::uintptr_t;

// The host's method numbers. Other carries its name separately.
enum class HttpMethod : uint32_t {
  None = 0,
  Delete = 1,
  Get = 2,
  Head = 3,
  Options = 4,
  Patch = 5,
  Post = 6,
  Put = 7,
  Other = 8,
};

// "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT"; "" for None, Other and any
// value outside the table (the name of an Other call travels separately).
[[nodiscard]] std::string_view HttpMethodText(HttpMethod method);
// Keeps 1 to 8 and turns every other number into None.
[[nodiscard]] HttpMethod ToHttpMethod(uint32_t hostMethod);

// Header and path-argument maps. A repeated name keeps its last value.
using HttpHeaderMap = std::unordered_map<std::string, std::string>;

// A response body handed to the host in pieces. The host reads it through the response's
// stream functions and destroys it through the release function (bridge/host_response.h).
class HttpBodyStream {
 public:
  virtual ~HttpBodyStream() = default;
  // The host's read request, forwarded unchanged: fills up to *size bytes of `buffer`, sets
  // *size to what it wrote and *more to 1 while more is to come; answers 0 on a read error.
  virtual uint8_t Read(void* buffer, uint32_t* size, uint8_t* more) = 0;
  // The whole length in bytes, as far as it is known.
  [[nodiscard]] virtual uint32_t Length() const = 0;
};

// What one call of a bound function leaves behind.
struct HttpCallState {
  BindingResult result;         // the function's value, or a failure with its message
  uint8_t responseFlags = 0;    // passed through to the host
  uint32_t responseFormat = 0;  // passed through when 1, 2 or 3
  uint32_t status = 0;          // HTTP status; 0 when the function set none
  std::string responseText;     // passed through to the host
  HttpHeaderMap headers;        // response headers
  std::unique_ptr<HttpBodyStream> bodyStream;  // a streamed body, owned until handed over

  // Stores `message` as the result's failure and destroys any body stream.
  void Fail(std::string_view message);
  [[nodiscard]] bool Failed() const { return !result.Ok(); }
};

namespace HttpBaseTransport {

// The raw request as a bound function may receive it, built by the dispatcher when the
// function asks for it (see RemotingRequest for its second name). A C++ record: the host never
// sees it.
struct Request {
  HostHandle context = 0;                     // the host's context word of the call
  const BindingRegistry* registry = nullptr;  // of the called function
  int64_t arrivalTime = 0;  // 100-ns ticks since 1970-01-01 UTC, when the record was built
  HttpMethod method = HttpMethod::None;
  std::string methodName;  // the host's name for HttpMethod::Other, else empty
  std::string path;        // the full request path as the host gave it
  HttpHeaderMap headers;   // from the host's header entries; a repeated name keeps its last value
  uint32_t version = 1;    // the record's version
};

}  // namespace HttpBaseTransport

// The second name of the same record. It adds nothing, so every RemotingRequest is an
// HttpBaseTransport::Request; the dispatcher builds a RemotingRequest and hands it on as one,
// and a function receives it under either name without a cast. The names stay two types
// because each has a static type identity of its own (text and hash code), and a function may
// ask for the record under either.
struct RemotingRequest final : HttpBaseTransport::Request {};

// Body codecs, as numbered internally.
enum class HttpBodyCodec : uint32_t { None = 0, Json = 1, Yaml = 2, MessagePack = 3 };

// Whether `contentType` begins with `literal`, compared case-insensitively over the length of
// the literal. A null content type begins with nothing.
[[nodiscard]] bool ContentTypeIs(const char* contentType, std::string_view literal);

VEXA_STATIC_TYPE(HttpBaseTransport::Request, "struct Vexa::HttpBaseTransport::Request");
VEXA_STATIC_TYPE(RemotingRequest, "struct Vexa::RemotingRequest");

}  // namespace Vexa
