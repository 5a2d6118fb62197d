// Requests to host URIs: the untyped core behind AppModule::Request.
#include <array>

#include "bridge/host_value.h"
#include "runtime/app_module.h"

namespace Vexa {

namespace {

// Owns the host forms of a request's arguments until the request is done.
class HostArguments {
 public:
  explicit HostArguments(std::size_t count) : entries_(count) {}
  ~HostArguments() {
    for (HostRequestArgument& entry : entries_) {
      ReleaseHostValue(entry.value);
    }
  }
  HostArguments(const HostArguments&) = delete;
  HostArguments& operator=(const HostArguments&) = delete;

  [[nodiscard]] HostRequestArgument& operator[](std::size_t index) { return entries_[index]; }
  [[nodiscard]] const HostRequestArgument* Data() const {
    return entries_.empty() ? nullptr : entries_.data();
  }
  [[nodiscard]] uint32_t Count() const { return static_cast<uint32_t>(entries_.size()); }

 private:
  std::vector<HostRequestArgument> entries_;
};

// Gives the host's response back to the host, whatever path the reading took: the stream
// through its own release function (once), then the record through the record's.
class HostAnswer {
 public:
  HostAnswer() = default;
  ~HostAnswer() {
    ReleaseStream();
    if (response.release != nullptr) {
      response.release(&response);
    }
  }
  HostAnswer(const HostAnswer&) = delete;
  HostAnswer& operator=(const HostAnswer&) = delete;

  void ReleaseStream() {
    if (response.stream != nullptr && response.streamRelease != nullptr) {
      response.streamRelease(response.stream);
    }
    response.stream = nullptr;
    response.streamRead = nullptr;
    response.streamRelease = nullptr;
  }

  HostResponse response{};
};

constexpr uint32_t kStreamChunk = 4096;

}  // namespace

Maybe<BindingProperty> AppModule::RequestValue(HttpMethod method, std::string_view uri,
                                               std::span<const BindingProperty* const> arguments,
                                               bool readAnswer) {
  const std::string_view methodText = HttpMethodText(method);
  HostArguments entries(arguments.size());
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    if (!ToHostValue(*arguments[index], entries[index].value, &registry_)) {
      return Failure(400, Format(kRequestNotSentMessage, methodText, uri,
                                 Format(kArgumentNotRepresentable, index + 1)));
    }
  }
  const std::string path(uri);
  HostRequest request{};
  request.method = static_cast<HostMethod>(method);
  request.path = path.c_str();
  request.arguments = entries.Data();
  request.argumentCount = entries.Count();
  request.context = handle_;

  HostAnswer answer;
  if (!CallHostRequest(answer.response, request)) {
    return Failure(0, Format(kMissingHostEntryMessage, methodText, uri));
  }
  const HostResponse& response = answer.response;
  if (response.result.error != nullptr) {
    return Failure(static_cast<int32_t>(response.status),
                   Format(kErrorResponseMessage, methodText, uri, response.result.error));
  }
  if (!readAnswer) {
    return BindingProperty{};
  }

  if (response.streamRead != nullptr) {
    // The body comes in pieces: a short piece with more to come means the host needs a turn
    // before it has the next one.
    std::string text;
    text.reserve(response.streamLength);
    std::array<char, kStreamChunk> buffer;
    for (;;) {
      uint32_t size = kStreamChunk;
      uint8_t more = 0;
      if (response.streamRead(response.stream, buffer.data(), &size, &more) == 0) {
        answer.ReleaseStream();
        return Failure(0, Format(kStreamReadErrorMessage, methodText, uri, kStreamReadError));
      }
      text.append(buffer.data(), std::min(size, kStreamChunk));
      if (size < kStreamChunk) {
        if (more == 0) {
          break;
        }
        Yield();
      }
    }
    answer.ReleaseStream();
    BindingResult parsed = ParseJson(text);
    if (!parsed) {
      return Failure(0, Format(kStreamReadErrorMessage, methodText, uri,
                               std::string_view(parsed.ErrorText())));
    }
    return std::move(parsed.value);
  }

  HostResult converted{};
  BindingProperty value;
  if (!FromHostValue(converted, value, response.result.value, kResultValueName)) {
    Failure failure(0, Format(kConvertResponseMessage, methodText, uri,
                              converted.error != nullptr ? converted.error : ""));
    ReleaseHostResult(converted);
    return failure;
  }
  return value;
}

}  // namespace Vexa
