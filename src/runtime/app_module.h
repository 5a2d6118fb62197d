// AppModule: the base of every plugin module, and everything between a module and its host:
// registration and start, requests to host URIs, cooperative waiting, events, service proxy
// calls and telemetry.
//
//   class EchoModule final : public Vexa::AppModule {
//    protected:
//     void OnDeclare() override { /* register records, declare endpoints */ }
//     bool OnStart() override {
//       ObserveResource<Config>("/kor-platform-config/v1/namespaces/Echo",
//                               [this](const Vexa::PluginResourceEventOf<Config>& e) { ... });
//       return true;
//     }
//   };
//   extern "C" VEXA_PLUGIN_EXPORT void load_kor_echo(HostLoadRecord* record) {
//     Vexa::LoadModule<EchoModule>(record, "kor-echo");           // runtime/entry.h
//   }
//
// Lifecycle: constructed; registered (Register: version check, names, declarations, the API
// table, written back into the load record); started (Start: the host context is known, the log
// goes to the host, events and requests are allowed); stopping (Stop: no new service proxy
// requests, the Stop hook unsubscribes everything); destroyed (by Stop).
//
// The virtual operations are in a fixed order, the order of the slots a host-side module table
// has: Subscribe, Unsubscribe, the destructor, the Stop hook, the nine host calls (host API
// entries 1 to 9, each forwarding its arguments unchanged), the Declare hook, the Start hook.
// A host call answers false, calling nothing, when the host offers no such entry (or before
// Start); a request through a missing entry is a Failure.
//
// Failures are values (Maybe<T>); only an incompatible host version and a broken future while
// awaiting end the process (with a report, diagnostics/assertion.h). Functions here may throw
// std::bad_alloc; the C callbacks the host calls (runtime/entry.h) catch everything.
//
// Ownership: the module owns its registry, dispatcher, API table, log target, telemetry sink
// and the tables of its handlers; the API table and every text it points to live as long as
// the module. The host context is borrowed from Start until Stop.
//
// Threading: the host calls a module from one thread at a time; waiting yields to the host on
// that thread instead of blocking it. The service proxy tables have a mutex of their own.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/conversion/conversion.h"
#include "binding/registry.h"
#include "binding/static_type.h"
#include "codecs/json.h"
#include "diagnostics/assertion.h"
#include "diagnostics/log.h"
#include "dispatch/endpoint.h"
#include "bridge/endpoint_table.h"
#include "dispatch/http_call.h"
#include "runtime/events.h"
#include "value/failure.h"
#include "runtime/messages.h"
#include "runtime/plugin_version.h"
#include "runtime/records.h"
#include "runtime/service_proxy.h"
#include "util/format.h"
#include "value/property.h"
#include "value/result.h"
#include "vexa/host_contract.h"

namespace Vexa {

class PluginLogTarget;
class TelemetrySink;

class AppModule {
 public:
  AppModule();
  AppModule(const AppModule&) = delete;
  AppModule& operator=(const AppModule&) = delete;

  // --- Virtual operations, in slot order ---

  // 1, 2: counted subscription of the resource event of `uri` (runtime/events.h).
  virtual void Subscribe(std::string_view uri);
  virtual void Unsubscribe(std::string_view uri);
  // 3.
  virtual ~AppModule();
  // 4: the Stop hook. Unsubscribes every subscribed event and clears the handler and service
  // proxy tables; an override calls the base.
  virtual void OnStop();
  // 5 to 13: host API entries 1 to 9.
  virtual bool CallHostRequest(HostResponse& response, const HostRequest& request);
  virtual bool CallHostReserved2(uintptr_t first, uintptr_t second);
  virtual bool CallHostSendEvent(const HostEvent& event);
  virtual bool CallHostSubscribe(const char* eventName, HostHandle handle,
                                 HostEventCallback callback, void* context, uint32_t flags);
  virtual bool CallHostUnsubscribe(const char* eventName, HostHandle handle);
  virtual bool CallHostReserved6(uintptr_t first, uintptr_t second, uintptr_t third, double value,
                                 uintptr_t fourth);
  virtual bool CallHostYield();
  virtual bool CallHostWaitBegin(const char* label, uintptr_t reserved);
  virtual bool CallHostWaitEnd();
  // 14: the Declare hook: register records, declare endpoints. The base declares nothing.
  virtual void OnDeclare();
  // 15: the Start hook: observe resources, and so on. Its answer is Start's.
  virtual bool OnStart();

  // Host API entry 10: one log record. False when the host offers no log entry.
  bool CallHostLog(int32_t level, const char* message);

  // --- Lifecycle (driven by the C callbacks of runtime/entry.h) ---

  // Checks the core's version in `record` against kPluginApiVersion (incompatible: a fatal
  // report, the process ends), composes the names from `shortName` and `type`, makes the
  // declarations and writes the plugin's version, callbacks, this module, its full name and
  // its API table back into `record`.
  void Register(HostLoadRecord& record, std::string_view shortName,
                std::string_view type = "backend");
  // Keeps `context` (borrowed until Stop), routes the log to the host, sets the user agent,
  // creates the telemetry sink, registers the service proxy event handlers and answers the
  // Start hook. A null context, or one without an API table, is refused (false).
  bool Start(const HostContext* context);
  // Sets the stopping flag and runs the Stop hook. The caller then destroys the module.
  void BeginStop();

  // --- What a module knows ---

  [[nodiscard]] BindingRegistry& Registry() { return registry_; }
  [[nodiscard]] const BindingRegistry& Registry() const { return registry_; }
  [[nodiscard]] RequestDispatcher& Dispatcher() { return dispatcher_; }
  [[nodiscard]] const HostEndpointTable& ApiTable() const { return apiTable_.Table(); }
  [[nodiscard]] const PluginIdentity& Identity() const { return identity_; }
  [[nodiscard]] const std::string& FullName() const { return identity_.fullName; }
  [[nodiscard]] const std::string& ApiName() const { return apiName_; }
  [[nodiscard]] const std::vector<std::string>& ApiTags() const { return apiTags_; }
  [[nodiscard]] const PluginApiVersion& CoreVersion() const { return coreVersion_; }
  [[nodiscard]] const HostContext* Context() const { return context_; }
  [[nodiscard]] HostHandle Handle() const { return handle_; }
  [[nodiscard]] const std::string& UserAgent() const { return userAgent_; }
  [[nodiscard]] bool IsStopping() const { return stopping_; }
  [[nodiscard]] TelemetrySink* Telemetry() { return telemetry_.get(); }
  [[nodiscard]] ModuleEvents& Events() { return events_; }
  [[nodiscard]] ServiceProxyRequests& ServiceProxyTables() { return serviceProxy_; }

  // --- Requests to host URIs ---

  // Sends `method` `uri` with `arguments` (native values of registered types, or
  // BindingProperty values) as positional body items, and answers, by R: nothing (void), the
  // response value (BindingProperty), or the value converted to R (text, a registered record,
  // any bindable type). Failures: code 400 "Request not sent: Error converting parameters for
  // %1 %2: %3" when an argument does not convert (nothing is sent); the host's status and
  // "Error response for %1 %2: %3" when the host answers an error; code 0 "Error reading
  // streamed response ..." or "Error converting response ..." when the answer does not read.
  template <typename R = void, typename... Args>
  Maybe<R> Request(HttpMethod method, std::string_view uri, const Args&... arguments);

  // The untyped core of Request: `arguments` are already values. With `readAnswer` false the
  // answer is not read (success carries an empty value).
  Maybe<BindingProperty> RequestValue(HttpMethod method, std::string_view uri,
                                      std::span<const BindingProperty* const> arguments,
                                      bool readAnswer);

  // --- Waiting ---

  // The future's value. While it is not ready, announces one wait (host entry 8, "Wait:
  // future<...>" named by T) and yields to the host (entry 7) on each pass, then ends the wait
  // (entry 9). A broken or empty future ends the process with a report. A host without a yield
  // entry is waited for by blocking instead (its answer can only come from another thread).
  template <typename T>
  T Await(std::future<T> future);

  // One pass of the host: "Wait: yield" announced, one yield, the wait ended.
  void Yield();

  // --- Events ---

  // Stores a handler of the named event, typed by its payload (PluginResourceEvent,
  // PluginServiceProxyResponse or any registered record), and subscribes at the host with
  // `flags`.
  template <typename Payload>
  void RegisterEventHandler(std::string_view eventName, std::function<void(const Payload&)> handler,
                            uint32_t flags);

  // Observes the resource at `uri` (a pattern when it contains "*"): `handler` receives each
  // event with its data converted to T (a default T for Delete; events whose data does not
  // convert are traced and dropped). For a plain URI the current value is fetched at once with
  // "GET" and, when that succeeds, delivered as a Create event.
  template <typename T>
  void ObserveResource(std::string_view uri,
                       std::function<void(const PluginResourceEventOf<T>&)> handler);

  // Sends `event` (a record with a `uri` field, usually PluginResourceEvent) as the event of its
  // URI, and once more under `baseName` when that name differs. A conversion failure is
  // returned; so is a host without a send entry.
  template <typename Event>
  Maybe<void> SendEvent(std::string_view baseName, const Event& event, uint32_t flags = 0);

  Maybe<void> SendEventValue(std::string_view baseName, std::string_view uri,
                             const BindingProperty& value, uint32_t flags);

  // --- Service proxy ---

  // Posts a request to `service`.`method` with `payload` (see runtime/service_proxy.h); the
  // reply method and text are empty for a uuid request. Answers the empty text, or why no
  // request is pending ("Finalizing", "Request already in flight", a host failure, or "Failed
  // to convert type ..." when the payload does not convert).
  template <typename Payload>
  [[nodiscard]] std::string InvokeServiceProxy(std::string_view service, std::string_view method,
                                               const Payload& payload, std::string_view replyMethod,
                                               std::string_view replyText,
                                               ServiceProxyHandler onComplete);

  // A uuid request whose answer payload (JSON) is converted to T; the future is ready at once
  // when no request could be made.
  template <typename T, typename Payload>
  [[nodiscard]] std::future<Maybe<T>> ServiceProxyCall(std::string_view service,
                                                       std::string_view method,
                                                       const Payload& payload);
  // The same, awaited.
  template <typename T, typename Payload>
  Maybe<T> ServiceProxy(std::string_view service, std::string_view method, const Payload& payload) {
    return Await(ServiceProxyCall<T>(service, method, payload));
  }

 private:
  void DeclareRuntime();
  void AttachLogTarget();
  template <typename T>
  [[nodiscard]] Maybe<T> ServiceProxyAnswer(const PluginServiceProxyResponse& response) const;
  [[noreturn]] static void BrokenFuture(const std::future_error& error);
  [[nodiscard]] const HostApiTable* Api() const { return context_ ? context_->api : nullptr; }

  PluginApiVersion coreVersion_;
  PluginIdentity identity_;
  std::string apiName_;
  std::vector<std::string> apiTags_;
  BindingRegistry registry_;
  RequestDispatcher dispatcher_;
  EndpointTable apiTable_;
  std::unique_ptr<PluginLogTarget> logTarget_;
  const HostContext* context_ = nullptr;
  HostHandle handle_ = 0;
  std::string userAgent_;
  std::unique_ptr<TelemetrySink> telemetry_;
  ModuleEvents events_{*this};
  ServiceProxyRequests serviceProxy_{*this};
  bool stopping_ = false;
};

// --- Templates ---

namespace RuntimeDetail {

// A request argument or payload as a value: a BindingProperty is used where it stands, anything
// else is converted into `converted`. Null when the conversion failed (`converted` says why).
template <typename T>
[[nodiscard]] const BindingProperty* ValueOf(const T& native, BindingResult& converted,
                                             const BindingRegistry& registry) {
  if constexpr (std::is_same_v<T, BindingProperty>) {
    return &native;
  } else {
    return ToValue(converted, native, registry) ? &converted.value : nullptr;
  }
}

// The event handler for payloads of type Payload.
template <typename Payload>
class TypedEventHandler final : public EventHandler {
 public:
  explicit TypedEventHandler(std::function<void(const Payload&)> function)
      : function_(std::move(function)) {}

  void Handle(AppModule& module, std::string_view eventName,
              const BindingProperty& payload) override {
    Payload record{};
    BindingResult result;
    if (!ToNative(result, record, payload, kResultValueName, module.Registry())) {
      const std::string name(eventName);
      const std::string message(result.ErrorText());
      Trace(kConvertPayloadTrace, module.FullName().c_str(), TypeName(), name.c_str(),
            message.c_str());
      return;
    }
    Trace(kHandlingEventTrace, module.FullName().c_str(), std::string(eventName).c_str());
    function_(record);
  }

  [[nodiscard]] const char* TypeName() const override { return TypeNameOf<Payload>(); }
  [[nodiscard]] HostEventCallback Callback() const override { return &Deliver; }

 private:
  // The module's C callback for this payload type; the context is the module.
  static void VEXA_HOST_CALL Deliver(const HostEvent* event) {
    if (event != nullptr && event->context != nullptr) {
      static_cast<AppModule*>(event->context)->Events().Deliver(*event);
    }
  }

  std::function<void(const Payload&)> function_;
};

}  // namespace RuntimeDetail

template <typename R, typename... Args>
Maybe<R> AppModule::Request(HttpMethod method, std::string_view uri, const Args&... arguments) {
  std::array<BindingResult, sizeof...(Args)> converted;
  std::array<const BindingProperty*, sizeof...(Args)> values{};
  std::size_t index = 0;
  std::string refusal;
  [[maybe_unused]] const auto add = [&](const auto& argument) {
    if (refusal.empty()) {
      values[index] = RuntimeDetail::ValueOf(argument, converted[index], registry_);
      if (values[index] == nullptr) {
        refusal = converted[index].ErrorText();
        refusal = refusal.empty() ? "?" : refusal;
      }
    }
    ++index;
  };
  (add(arguments), ...);
  if (!refusal.empty()) {
    return Failure(400, Format(kRequestNotSentMessage, HttpMethodText(method), uri, refusal));
  }
  Maybe<BindingProperty> answer = RequestValue(method, uri, values, !std::is_void_v<R>);
  if constexpr (std::is_void_v<R>) {
    if (!answer) {
      return answer.Error();
    }
    return {};
  } else if constexpr (std::is_same_v<R, BindingProperty>) {
    return answer;
  } else {
    if (!answer) {
      return answer.Error();
    }
    R converted{};
    BindingResult result;
    if (!ToNative(result, converted, answer.Value(), kResultValueName, registry_)) {
      return Failure(0, Format(kConvertResponseMessage, HttpMethodText(method), uri,
                               std::string_view(result.ErrorText())));
    }
    return converted;
  }
}

template <typename T>
T AppModule::Await(std::future<T> future) {
  try {
    if (!future.valid()) {
      throw std::future_error(std::future_errc::no_state);
    }
    bool announced = false;
    while (future.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
      if (!announced) {
        announced = true;
        const std::string label = Format(kWaitFutureLabel, TypeNameOf<T>());
        CallHostWaitBegin(label.c_str(), 0);
      }
      if (!CallHostYield()) {
        future.wait();
      }
    }
    if (announced) {
      CallHostWaitEnd();
    }
    return future.get();
  } catch (const std::future_error& error) {
    BrokenFuture(error);
  }
}

template <typename Payload>
void AppModule::RegisterEventHandler(std::string_view eventName,
                                     std::function<void(const Payload&)> handler, uint32_t flags) {
  events_.RegisterHandler(
      eventName, std::make_shared<RuntimeDetail::TypedEventHandler<Payload>>(std::move(handler)),
      flags);
}

template <typename T>
void AppModule::ObserveResource(std::string_view uri,
                                std::function<void(const PluginResourceEventOf<T>&)> handler) {
  auto typed = [this, handler = std::move(handler)](const PluginResourceEvent& event) {
    PluginResourceEventOf<T> converted{event.uri, event.eventType, T{}};
    if (event.eventType != PluginResourceEventType::Delete) {
      BindingResult result;
      if (!ToNative(result, converted.data, event.data, kValueName, registry_)) {
        Trace(kConvertResourceTrace, FullName().c_str(), TypeNameOf<T>(), event.uri.c_str());
        return;
      }
    }
    handler(converted);
  };
  events_.AddResourceHandler(uri, typed);
  Subscribe(uri);
  if (uri.find('*') == std::string_view::npos) {
    Maybe<BindingProperty> current = Request<BindingProperty>(HttpMethod::Get, uri);
    if (current) {
      typed(PluginResourceEvent{std::string(uri), PluginResourceEventType::Create,
                                std::move(current).Value()});
    }
  }
}

template <typename Event>
Maybe<void> AppModule::SendEvent(std::string_view baseName, const Event& event, uint32_t flags) {
  BindingResult converted;
  const BindingProperty* value = RuntimeDetail::ValueOf(event, converted, registry_);
  if (value == nullptr) {
    return Failure(0, std::string(converted.ErrorText()));
  }
  return SendEventValue(baseName, event.uri, *value, flags);
}

template <typename Payload>
std::string AppModule::InvokeServiceProxy(std::string_view service, std::string_view method,
                                          const Payload& payload, std::string_view replyMethod,
                                          std::string_view replyText,
                                          ServiceProxyHandler onComplete) {
  if (stopping_) {
    return kFinalizingMessage;
  }
  BindingResult converted;
  const BindingProperty* value = RuntimeDetail::ValueOf(payload, converted, registry_);
  if (value == nullptr) {
    return Format(kConvertPayloadMessage, TypeNameOf<Payload>());
  }
  return serviceProxy_.Invoke(service, method, *value, replyMethod, replyText,
                              std::move(onComplete));
}

template <typename T>
Maybe<T> AppModule::ServiceProxyAnswer(const PluginServiceProxyResponse& response) const {
  if (!response.error.empty()) {
    return Failure(0, response.error);
  }
  const BindingResult parsed = ParseJson(response.payload);
  T value{};
  BindingResult converted;
  if (!parsed || !ToNative(converted, value, parsed.value, kValueName, registry_)) {
    return Failure(0, Format(kDeserializeMessage, response.payload, TypeNameOf<T>()));
  }
  return value;
}

template <typename T, typename Payload>
std::future<Maybe<T>> AppModule::ServiceProxyCall(std::string_view service, std::string_view method,
                                                  const Payload& payload) {
  auto promise = std::make_shared<std::promise<Maybe<T>>>();
  std::future<Maybe<T>> future = promise->get_future();
  const std::string refusal =
      InvokeServiceProxy(service, method, payload, {}, {},
                         [this, promise](const PluginServiceProxyResponse& response) {
                           promise->set_value(ServiceProxyAnswer<T>(response));
                         });
  if (!refusal.empty()) {
    promise->set_value(Failure(0, refusal));
  }
  return future;
}

}  // namespace Vexa
