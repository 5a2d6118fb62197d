// A call of an endpoint in the dispatcher's own terms: the request the host handed in, read once
// at the seam (bridge/endpoint_handler.h) and borrowed by everything below it.
//
//   Vexa::HttpRequest request;
//   request.method = Vexa::HttpMethod::Get;
//   request.path = "/kor-geoinfo/v1/getlocation?ip_address=8.8.8.8";
//   Vexa::EndpointCall call;
//   Vexa::AnswerEndpointRequest(call, request, endpoint);   // dispatch/request_handler.h
//
// Ownership: a request borrows every text, header and byte it points to, and its argument
// source; all of them must outlive the call that reads the request.
//
// Threading: a request belongs to the one call that reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "dispatch/http_call.h"
#include "value/property.h"

namespace Vexa {

// One request header. Both texts are NUL-terminated and borrowed. A plain pair, so that a frame
// can hold a few without writing them first.
struct HttpHeader {
  const char* name;
  const char* value;
};

// The host's own argument entries of a request: named or positional (a null name), each read
// into a value only when its argument is bound, so that a message names the argument it fills.
class HttpRequestArguments {
 public:
  [[nodiscard]] virtual std::size_t Count() const = 0;
  // The entry's name, or null for a positional entry.
  [[nodiscard]] virtual const char* NameAt(std::size_t position) const = 0;
  // Replaces `target` with the entry's value. On failure answers false with the message in
  // `error`, naming the value `name`; `target` then holds what was read up to the failing part.
  [[nodiscard]] virtual bool Read(std::size_t position, BindingProperty& target,
                                  std::string_view name, std::string& error) const = 0;

 protected:
  ~HttpRequestArguments() = default;
};

struct HttpRequest {
  HttpMethod method = HttpMethod::None;
  std::string_view methodName;  // the name of an HttpMethod::Other call; empty otherwise
  std::string_view path;        // the whole path, a query after its first "?" included
  std::span<const HttpHeader> headers;
  const HttpRequestArguments* arguments = nullptr;  // null: none
  const char* contentType = nullptr;                // null: none
  std::span<const uint8_t> body;                    // empty: no body
  HostHandle context = 0;                           // the host's context word of the call

  [[nodiscard]] std::size_t ArgumentCount() const {
    return arguments != nullptr ? arguments->Count() : 0;
  }
};

}  // namespace Vexa
