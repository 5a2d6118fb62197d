#include "endpoint_call.h"

#include <algorithm>
#include <cctype>

#include "host_value.h"

namespace VexaHost {

HostMethod MethodNumber(std::string_view method) {
  static const std::pair<std::string_view, HostMethod> kMethods[] = {
      {"DELETE", HOST_METHOD_DELETE},   {"GET", HOST_METHOD_GET},     {"HEAD", HOST_METHOD_HEAD},
      {"OPTIONS", HOST_METHOD_OPTIONS}, {"PATCH", HOST_METHOD_PATCH}, {"POST", HOST_METHOD_POST},
      {"PUT", HOST_METHOD_PUT}};
  for (const auto& [name, number] : kMethods) {
    if (method == name) {
      return number;
    }
  }
  return HOST_METHOD_OTHER;
}

EndpointRequest::EndpointRequest(EndpointRequestParts from, const HostEndpointRecord& endpoint,
                                 HostHandle handle)
    : parts(std::move(from)) {
  // The parts no longer move: their texts can be pointed at. Names are lowered in place.
  headers.reserve(parts.headers.size());
  for (auto& [name, value] : parts.headers) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char letter) { return static_cast<char>(std::tolower(letter)); });
    headers.push_back(HostHeader{name.c_str(), value});
  }
  record.method = MethodNumber(parts.method);
  record.methodName = record.method == HOST_METHOD_OTHER ? parts.method : nullptr;
  record.path = parts.target;
  record.userData = endpoint.function.userData;
  record.headers = headers.data();
  record.headerCount = static_cast<uint32_t>(headers.size());
  record.contentType = parts.contentType.empty() ? nullptr : parts.contentType.c_str();
  record.body = parts.body.empty() ? nullptr : reinterpret_cast<const uint8_t*>(parts.body.data());
  record.bodyLength = static_cast<uint32_t>(parts.body.size());
  record.context = handle;
}

EndpointAnswer ReadEndpointAnswer(const HostResponse& filled) {
  EndpointAnswer answer;
  const int status = static_cast<int>(filled.status);
  if (filled.result.error != nullptr) {
    answer.status = status != 0 ? status : 500;
    answer.error = filled.result.error;
  } else if (filled.stream != nullptr && filled.streamRead != nullptr) {
    answer.status = status != 0 ? status : 200;
    answer.streamed = true;
  } else if (WriteHostValueJson(filled.result.value, answer.body, answer.error)) {
    answer.status = status != 0 ? status : 200;
  } else {
    answer.status = 502;
    answer.error = "The plugin answered a malformed value: " + answer.error;
  }
  return answer;
}

void ReleaseEndpointResponse(HostResponse& filled) {
  if (filled.stream != nullptr && filled.streamRelease != nullptr) {
    filled.streamRelease(filled.stream);
  }
  filled.stream = nullptr;
  if (filled.release != nullptr) {
    filled.release(&filled);
  }
  filled = HostResponse{};
}

}  // namespace VexaHost
