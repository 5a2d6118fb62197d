// The responses the plugin fills for the host: writing a call state into a HostResponse, and
// the release and stream functions stored in every such response.
//
//   Vexa::WriteHostResponse(response, call.state, registry);   // the answer to the host's call
//   ... the host reads the body or the stream, then ...
//   response.release(&response);                               // Vexa::ReleaseHostResponse
//
// Memory: everything stored in a response is allocated with std::malloc and owned by the
// response from the moment it is stored, until its release function runs. The body value is
// packed (bridge/host_value.h): one block, whatever its size.
//
// Threading: a response belongs to one call; the host releases it on the thread it likes.
#pragma once

#include <cstdint>

#include "dispatch/http_call.h"
#include "vexa/host_contract.h"

namespace Vexa {

// The response release function stored at the end of every HostResponse the plugin fills:
// frees the body value, an owned error text, a non-empty response text, every header name
// and value and the header array, destroys a stream still held, and zeroes the record.
// Accepts a zeroed record and null.
void VEXA_HOST_CALL ReleaseHostResponse(HostResponse* response);

// The stream functions stored in a HostResponse that carries a body stream; `stream` is the
// HttpBodyStream the response holds. A stream that throws reports a read error.
uint8_t VEXA_HOST_CALL ReadBodyStream(void* stream, void* buffer, uint32_t* size, uint8_t* more);
void VEXA_HOST_CALL ReleaseBodyStream(void* stream);

// Writes the outcome of a call into `response` (which holds nothing): on failure no body and
// an owned copy of the message as error text; otherwise the result value as the body, enum
// values named through `registry` (may be null), or the error kHttpResultNotRepresentableMessage
// (dispatch/messages.h) when the value has no host form. Then the flag byte, the format (1 to
// 3 kept, else 0), the status (kPluginFailureStatus instead of 0 when the value has no host
// form), the response text (or the shared ""), the headers, and the body stream (moved out of
// `state`, which then holds none), and the release function.
// When an allocation fails nothing is thrown: the response is released again and holds only
// the error text kHostErrorFallbackText, the call state's status (kPluginFailureStatus
// instead of 0), the shared "" and the release function; the body stream then stays in `state`.
// Anything else that a stream's Length() or the conversion throws propagates, with a response that
// its release function frees correctly.
void WriteHostResponse(HostResponse& response, HttpCallState& state,
                       const BindingRegistry* registry);

}  // namespace Vexa
