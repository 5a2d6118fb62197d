#include "bridge/host_response.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "bridge/host_value.h"
#include "dispatch/messages.h"

namespace Vexa {
namespace {

// The response text of every response whose call state left it empty. Never freed: the
// release function frees only texts that are not empty.
constexpr const char kSharedEmptyText[] = "";

void FreeText(const char* text) {
  std::free(const_cast<char*>(text));
}

// An owned copy of `text` (up to its first NUL); throws std::bad_alloc when memory ran out.
char* CopyTextOrThrow(std::string_view text) {
  char* copy = CopyHostText(text);
  if (copy == nullptr) {
    throw std::bad_alloc();
  }
  return copy;
}

// Fills everything of `response` but the release function from `state`. Each piece is stored
// in the response as soon as it is allocated, so that the response owns it at every moment:
// whatever this throws, ReleaseHostResponse frees exactly what was stored. The body stream is
// moved last, after everything that can fail.
void FillHostResponse(HostResponse& response, HttpCallState& state,
                      const BindingRegistry* registry) {
  bool unrepresentable = false;
  if (state.Failed()) {
    SetHostError(response.result, state.result.ErrorText());
  } else if (!ToPackedHostValue(state.result.value, response.result.value, registry)) {
    SetHostError(response.result, kHttpResultNotRepresentableMessage);
    unrepresentable = true;
  }

  response.responseFlags = state.responseFlags;
  const uint32_t format = state.responseFormat;
  const bool passed = format >= HOST_RESPONSE_FORMAT_FIRST && format <= HOST_RESPONSE_FORMAT_LAST;
  response.responseFormat = passed ? format : uint32_t{HOST_RESPONSE_FORMAT_NONE};
  // A result without a host form is the plugin's failure (dispatch/messages.h).
  response.status = unrepresentable && state.status == 0 ? kPluginFailureStatus : state.status;
  // A text that holds nothing before its first NUL is empty to the host as well, and must
  // not be allocated: release frees only texts that are not empty.
  response.responseText = state.responseText.c_str()[0] == '\0'
                              ? kSharedEmptyText
                              : CopyTextOrThrow(state.responseText);

  if (!state.headers.empty()) {
    const std::size_t count = state.headers.size();
    if (count > std::numeric_limits<uint32_t>::max()) {
      throw std::bad_alloc();
    }
    // Zeroed, so that a pair not yet filled is two null texts, which release skips.
    auto* pairs = static_cast<HostHeader*>(std::calloc(count, sizeof(HostHeader)));
    if (pairs == nullptr) {
      throw std::bad_alloc();
    }
    response.headers = pairs;
    response.headerCount = static_cast<uint32_t>(count);
    std::size_t index = 0;
    for (const auto& [name, value] : state.headers) {
      pairs[index].name = CopyTextOrThrow(name);
      pairs[index].value = CopyTextOrThrow(value);
      ++index;
    }
  }

  if (state.bodyStream != nullptr) {
    response.streamLength = state.bodyStream->Length();
    response.streamPosition = 0;
    response.streamRead = &ReadBodyStream;
    response.streamRelease = &ReleaseBodyStream;
    response.stream = static_cast<void*>(state.bodyStream.release());
  }
}

}  // namespace

void VEXA_HOST_CALL ReleaseHostResponse(HostResponse* response) {
  if (response == nullptr) {
    return;
  }
  // The body value is packed (one block); the error text, when owned, is a block of its own.
  ReleasePackedHostValue(response->result.value);
  ReleaseHostResult(response->result);
  // Only a text that is not empty was allocated: an empty one is the shared "" (or another
  // literal that a caller stored), never freed.
  const char* text = response->responseText;
  if (text != nullptr && text[0] != '\0') {
    FreeText(text);
  }
  const HostHeader* headers = response->headers;
  const uint32_t headerCount = response->headerCount;
  for (uint32_t index = 0; headers != nullptr && index < headerCount; ++index) {
    FreeText(headers[index].name);
    FreeText(headers[index].value);
  }
  std::free(const_cast<HostHeader*>(headers));
  void* stream = response->stream;
  const HostStreamRelease streamRelease = response->streamRelease;
  if (stream != nullptr && streamRelease != nullptr) {
    streamRelease(stream);
  }
  std::memset(static_cast<void*>(response), 0, sizeof(HostResponse));
}

uint8_t VEXA_HOST_CALL ReadBodyStream(void* stream, void* buffer, uint32_t* size, uint8_t* more) {
  if (stream == nullptr) {
    return 0;
  }
  try {
    return static_cast<HttpBodyStream*>(stream)->Read(buffer, size, more);
  } catch (...) {
    return 0;  // nothing throws across the seam: a stream that throws reports a read error
  }
}

void VEXA_HOST_CALL ReleaseBodyStream(void* stream) {
  delete static_cast<HttpBodyStream*>(stream);
}

void WriteHostResponse(HostResponse& response, HttpCallState& state,
                       const BindingRegistry* registry) {
  // Stored first: from here on the host can release the record whatever happens below.
  response.release = &ReleaseHostResponse;
  try {
    FillHostResponse(response, state, registry);
  } catch (const std::bad_alloc&) {
    // Back to an empty record that reports the exhausted memory; the stream, not yet moved,
    // stays with the call state. SetHostError falls back to a static text when even its copy
    // of the message cannot be allocated.
    const uint32_t status = state.status == 0 ? kPluginFailureStatus : state.status;
    ReleaseHostResponse(&response);
    SetHostError(response.result, kHostErrorFallbackText);
    response.status = status;
    response.responseText = kSharedEmptyText;
    response.release = &ReleaseHostResponse;
  }
}

}  // namespace Vexa
