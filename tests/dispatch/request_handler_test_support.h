// Helpers for the request handler suites: a scripted invoker that records what the dispatcher
// hands it, a builder of host requests that owns everything the request points to, and the
// reading of a host response back into plain values.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/descriptors.h"
#include "binding/host_value.h"
#include "binding/property.h"
#include "binding/registry.h"
#include "codecs/json.h"
#include "dispatch/endpoint.h"
#include "dispatch/http_call.h"

namespace Vexa::Testing {

// What the test invoker answers with, and what it saw.
struct InvokerScript {
  enum class Throw { Nothing, StandardInPrepare, StandardInInvoke, OtherInInvoke, InRelease };

  // --- Configured by the test ---
  BindingProperty result;      // the function's value
  uint32_t status = 0;         // the status the function sets
  std::string prepareFailure;  // when not empty, Prepare fails the call with it
  std::string invokeFailure;   // when not empty, Invoke fails the call with it
  void* token = nullptr;       // what Prepare returns
  Throw throws = Throw::Nothing;
  const StaticTypeInfo* contextType = nullptr;

  // --- Recorded ---
  int prepared = 0;
  int invoked = 0;
  std::vector<void*> released;
  std::vector<BindingProperty> arguments;  // as Prepare received them
  HostHandle context = 0;
  bool receivedRequest = false;
  std::optional<HttpBaseTransport::Request> request;  // a copy of the record, when passed
};

class RecordingInvoker : public BindingInvoker {
 public:
  explicit RecordingInvoker(InvokerScript& script) : script_(script) {}

  void* Prepare(HttpCallState& state, std::vector<BindingProperty>& arguments,
                HostHandle context) override {
    ++script_.prepared;
    script_.arguments = arguments;
    script_.context = context;
    if (script_.throws == InvokerScript::Throw::StandardInPrepare) {
      throw std::runtime_error("prepare exploded");
    }
    if (!script_.prepareFailure.empty()) {
      state.Fail(script_.prepareFailure);
    }
    return script_.token;
  }

  void Invoke(HttpCallState& state, const HttpBaseTransport::Request* request, void*,
              HostHandle) override {
    ++script_.invoked;
    script_.receivedRequest = request != nullptr;
    if (request != nullptr) {
      script_.request = *request;
    }
    if (script_.throws == InvokerScript::Throw::StandardInInvoke) {
      throw std::runtime_error("invoke exploded");
    }
    if (script_.throws == InvokerScript::Throw::OtherInInvoke) {
      throw 42;
    }
    state.status = script_.status;
    if (!script_.invokeFailure.empty()) {
      state.Fail(script_.invokeFailure);
    } else {
      state.result = BindingResult(script_.result);
    }
  }

  void Release(void* token) override {
    script_.released.push_back(token);
    if (script_.throws == InvokerScript::Throw::InRelease) {
      throw std::runtime_error("release exploded");
    }
  }

  const StaticTypeInfo* RequestContextType() const override { return script_.contextType; }

 private:
  InvokerScript& script_;
};

// One declared argument of a test function.
struct ArgumentDeclaration {
  const char* name;
  BindingTypeKind kind;
  ArgumentLocation location = ArgumentLocation::Any;
  bool optional = true;
};

// Registers a function with `arguments` in `registry`, gives it a RecordingInvoker over
// `script` (unless `script` is null) and declares its endpoint in `dispatcher`.
inline EndpointRecord& DeclareEndpoint(BindingRegistry& registry, RequestDispatcher& dispatcher,
                                       InvokerScript* script, std::string_view name,
                                       std::string_view uriTemplate, HttpMethod method,
                                       const std::vector<ArgumentDeclaration>& arguments) {
  BindingFunctionDescriptor& function = registry.RegisterFunction(name, arguments.size());
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    const BindingTypeKind kind = arguments[index].kind;
    const BindingTypeKind element =
        kind == BindingTypeKind::Vector ? BindingTypeKind::String : BindingTypeKind::None;
    BindingRegistry::SetArgument(function, index, {kind, element, nullptr},
                                 arguments[index].optional);
    BindingRegistry::AddArgument(function, arguments[index].name, "");
  }
  if (script != nullptr) {
    function.invoker = std::make_unique<RecordingInvoker>(*script);
  }
  EndpointRecord& endpoint = dispatcher.Endpoint(function);
  endpoint.uriTemplate = std::string(uriTemplate);
  endpoint.method = method;
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    endpoint.SetLocation(index, arguments[index].location);
  }
  return endpoint;
}

// A host request under construction. Owns every text, array and body byte that the built
// HostRequest points to; the request stays valid while the builder lives and is not changed.
class HostCall {
 public:
  explicit HostCall(std::string path, HttpMethod method = HttpMethod::Get)
      : path_(std::move(path)), method_(method) {}

  HostCall& Header(std::string name, std::string value) {
    headerTexts_.emplace_back(std::move(name), std::move(value));
    return *this;
  }
  // `name` null makes the argument positional. The value is borrowed from the caller.
  HostCall& Argument(const char* name, const HostValue& value) {
    arguments_.push_back({name, value});
    return *this;
  }
  // The body lives in a buffer of exactly its size, without a NUL after it, so that a read
  // past its end is caught by the address sanitizer.
  HostCall& Body(const char* contentType, std::string_view bytes) {
    contentType_ = contentType;
    bodyLength_ = bytes.size();
    body_.reset(new uint8_t[bytes.size() == 0 ? 1 : bytes.size()]);
    std::memcpy(body_.get(), bytes.data(), bytes.size());
    return *this;
  }
  HostCall& Context(HostHandle context) {
    context_ = context;
    return *this;
  }
  HostCall& MethodName(const char* methodName) {
    methodName_ = methodName;
    return *this;
  }

  // The request for `endpoint` (whose user data it carries).
  const HostRequest& For(const EndpointRecord& endpoint) {
    headers_.clear();
    for (const auto& [name, value] : headerTexts_) {
      headers_.push_back({name.c_str(), value.c_str()});
    }
    request_ = HostRequest{};
    request_.method = static_cast<HostMethod>(method_);
    request_.path = path_.c_str();
    request_.arguments = arguments_.empty() ? nullptr : arguments_.data();
    request_.argumentCount = static_cast<uint32_t>(arguments_.size());
    request_.userData = &endpoint.userData;
    request_.headers = headers_.empty() ? nullptr : headers_.data();
    request_.headerCount = static_cast<uint32_t>(headers_.size());
    request_.contentType = contentType_;
    request_.body = body_.get();
    request_.bodyLength = static_cast<uint32_t>(bodyLength_);
    request_.context = context_;
    request_.methodName = methodName_;
    return request_;
  }

 private:
  std::string path_;
  HttpMethod method_;
  std::vector<std::pair<std::string, std::string>> headerTexts_;
  std::vector<HostHeader> headers_;
  std::vector<HostRequestArgument> arguments_;
  const char* contentType_ = nullptr;
  std::unique_ptr<uint8_t[]> body_;
  std::size_t bodyLength_ = 0;
  HostHandle context_ = 0;
  const char* methodName_ = nullptr;
  HostRequest request_{};
};

// What a host reads from a response, copied out before the response is released.
struct Answer {
  bool failed = false;
  std::string error;
  uint32_t status = 0;
  BindingProperty body;
  std::string responseText;
};

inline Answer ReadAnswer(const HostResponse& response) {
  Answer answer;
  const char* error = response.result.error;
  answer.failed = error != nullptr;
  answer.error = error != nullptr ? error : "";
  answer.status = response.status;
  const HostValue body = response.result.value;
  HostResult scratch{};
  if (!FromHostValue(scratch, answer.body, body, "body")) {
    answer.body = "unreadable body";
  }
  ReleaseHostResult(scratch);
  const char* text = response.responseText;
  answer.responseText = text != nullptr ? text : "(null)";
  return answer;
}

// Calls the handler as the host does, reads the answer and releases the response through the
// release function that the response carries.
inline Answer CallHandler(const HostRequest* request) {
  HostResponse response{};
  HandleEndpointRequest(&response, request);
  Answer answer = ReadAnswer(response);
  if (response.release != nullptr) {
    response.release(&response);
  } else {
    answer.failed = true;
    answer.error = "the response carries no release function";
  }
  return answer;
}

// --- Values ---

inline BindingProperty Structure(
    std::initializer_list<std::pair<std::string_view, BindingProperty>> members) {
  BindingProperty value;
  value.MakeStructure();
  for (const auto& [key, member] : members) {
    value.Member(key) = member;
  }
  return value;
}

inline BindingProperty Collection(std::initializer_list<BindingProperty> elements) {
  BindingProperty value;
  value.MakeCollection();
  for (const BindingProperty& element : elements) {
    value.Append() = element;
  }
  return value;
}

// A collection of `index` empty elements followed by `last`.
inline BindingProperty PaddedCollection(std::size_t index, const BindingProperty& last) {
  BindingProperty value;
  value.ElementAt(index) = last;
  return value;
}

inline HostValue HostString(const char* text) {
  HostValue value{};
  value.kind = HOST_VALUE_BORROWED_STRING;
  value.payload.string.text = text;
  value.payload.string.length = static_cast<uint32_t>(std::strlen(text));
  return value;
}

inline HostValue HostSigned(int64_t number) {
  HostValue value{};
  value.kind = HOST_VALUE_SIGNED;
  value.payload.signedValue = number;
  return value;
}

// A readable form of a value for failure output.
inline std::string Shown(const BindingProperty& value) {
  if (value.IsEmpty()) {
    return "(empty)";
  }
  if (value.Kind() == BindingPropertyKind::String) {
    return "\"" + std::string(value.GetString()) + "\"";
  }
  return ToJson(value);
}

}  // namespace Vexa::Testing
