// AppModule: the base of every plugin module. A module declares its records and endpoints,
// starts by observing resources, and from then on answers its endpoints, handles events and
// calls its host.
//
//   class EchoModule final : public Vexa::AppModule {
//    protected:
//     void OnDeclare() override { /* register records, declare endpoints */ }
//     bool OnStart() override {
//       ObserveConfiguration<Config>("Echo",   // /kor-platform-config/v1/namespaces/Echo
//                                    [this](const Vexa::PluginResourceEventOf<Config>& e) { ... });
//       return true;
//     }
//   };
//   extern "C" VEXA_PLUGIN_EXPORT void VEXA_HOST_CALL load_kor_echo(HostLoadRecord* record) {
//     Vexa::LoadModule<EchoModule>(record, "kor-echo");           // runtime/entry.h
//   }
//
// Lifecycle: constructed; registered (version check, names, declarations, the API table);
// started (the host is known, the log goes to the host); stopping (no new service proxy
// requests, the Stop hook unsubscribes everything); destroyed by the host's Stop.
//
// The virtual operations keep the slot order of a host-side module table: Subscribe,
// Unsubscribe, the destructor, the Stop hook, the nine host calls (host entries 1 to 9, each
// forwarding unchanged to bridge/host_link.h; entries 2 and 6 are the host's for other plugins
// and never called here, but keep their slots), the Declare hook, the Start hook. Every host
// call of the module's parts goes through these slots (Host()). The parts live with their
// concept: runtime/requests.h, events.h, service_proxy.h, telemetry.h.
//
// Failures are values (value/failure.h); only an incompatible host version and a broken future
// end the process (diagnostics/assertion.h). Functions may throw std::bad_alloc; the functions
// the host calls (src/bridge) catch everything.
//
// Ownership: the module owns its registry, dispatcher, API table, log target, telemetry sink
// and handler tables; the API table and its texts live as long as the module. The host link is
// borrowed from Start until Stop.
//
// Threading: one sequence (the threading rule of the seam header); waiting yields to the host
// on it instead of blocking. The service proxy tables have a mutex of their own.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/field_registration.h"
#include "binding/registry.h"
#include "bridge/endpoint_table.h"
#include "bridge/host_link.h"
#include "dispatch/endpoint.h"
#include "runtime/events.h"
#include "runtime/host_calls.h"
#include "runtime/platform_records.h"
#include "runtime/plugin_version.h"
#include "runtime/records.h"
#include "runtime/requests.h"
#include "runtime/service_proxy.h"
#include "value/failure.h"
#include "value/property.h"

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
  virtual Maybe<BindingProperty> CallHostRequest(const HostCall& call);
  virtual bool CallHostReserved2(uintptr_t first, uintptr_t second);
  virtual bool CallHostSendEvent(std::span<const std::string_view> names,
                                 const BindingProperty& payload, uint32_t flags);
  virtual bool CallHostSubscribe(const char* eventName, HostEventReceiver& receiver,
                                 uint32_t flags);
  virtual bool CallHostUnsubscribe(const char* eventName);
  virtual bool CallHostReserved6(uintptr_t first, uintptr_t second, uintptr_t third, double value,
                                 uintptr_t fourth);
  virtual bool CallHostYield();
  virtual bool CallHostWaitBegin(const char* label, uintptr_t reserved);
  virtual bool CallHostWaitEnd();
  // 14: the Declare hook: register records, declare endpoints. The base declares nothing. The
  // runtime's records come before it, the platform's shared records (runtime/platform_records.h)
  // after it: a module whose records hold a LoginSession registers them first itself.
  virtual void OnDeclare();
  // 15: the Start hook: observe resources, and so on. Its answer is Start's.
  virtual bool OnStart();

  // Host entry 10: one log record.
  bool CallHostLog(int32_t level, const char* message);

  // --- Lifecycle (driven by the seam's callbacks, bridge/entry.h) ---

  // Checks `core` against kPluginApiVersion (incompatible: a fatal report, the process ends),
  // composes the names from `shortName` and `type`, makes the declarations and builds the API
  // table.
  void Register(const PluginApiVersion& core, std::string_view shortName,
                std::string_view type = "backend");
  // Keeps `host` (its context is borrowed until Stop), routes the log to the host, sets the
  // user agent, creates the telemetry sink, registers the service proxy event handlers and
  // answers the Start hook. A link without a host is refused (false).
  bool Start(const HostLink& host);
  // Sets the stopping flag and runs the Stop hook. The caller then destroys the module.
  void BeginStop();
  // Whether the module is inside a yield to its host, waiting.
  [[nodiscard]] bool IsWaiting() const { return yields_ > 0; }

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
  [[nodiscard]] HostHandle Handle() const { return host_.Handle(); }
  [[nodiscard]] const std::string& UserAgent() const { return userAgent_; }
  [[nodiscard]] bool IsStopping() const { return stopping_; }
  [[nodiscard]] TelemetrySink* Telemetry() { return telemetry_.get(); }
  [[nodiscard]] ModuleEvents& Events() { return events_; }
  [[nodiscard]] ServiceProxyRequests& ServiceProxyTables() { return serviceProxy_; }
  // The host calls as the module's parts see them: each goes through the slot of its entry.
  [[nodiscard]] HostCalls& Host() { return calls_; }

  // --- Requests, events and the service proxy (see their headers) ---

  template <typename R = void, typename... Args>
  Maybe<R> Request(HttpMethod method, std::string_view uri, const Args&... arguments) {
    return Vexa::Request<R>(calls_, method, uri, arguments...);
  }

  template <typename Payload>
  void RegisterEventHandler(std::string_view eventName, std::function<void(const Payload&)> handler,
                            uint32_t flags) {
    events_.RegisterHandler<Payload>(eventName, std::move(handler), flags);
  }

  template <typename T>
  void ObserveResource(std::string_view uri,
                       std::function<void(const PluginResourceEventOf<T>&)> handler) {
    events_.ObserveResource<T>(uri, std::move(handler));
  }

  // Observes the platform configuration namespace `name` ("/kor-platform-config/v1/namespaces/"
  // followed by the name) as ObserveResource does; T is the namespace's record, registered by
  // the module.
  template <typename T>
  void ObserveConfiguration(std::string_view name,
                            std::function<void(const PluginResourceEventOf<T>&)> handler) {
    events_.ObserveResource<T>(ConfigurationNamespaceUri(name), std::move(handler));
  }

  // Registers the record or enum under the module's API name followed by `name` ("Note" in
  // mdl-be-kor-notes: "MdlBeKorNotesNote") with the module's API tags, as the host's API
  // description lists a plugin's types; chain the fields or enumerators. Call from the Declare
  // hook, nested types first.
  template <typename Record>
  BindingRecordBuilder<Record> DeclareRecord(std::string_view name) {
    BindingRecordBuilder<Record> builder = RegisterRecord<Record>(registry_, ApiTypeName(name));
    builder.Builder().AddTags(apiTags_);
    return builder;
  }
  template <typename Enum>
  BindingEnumBuilder<Enum> DeclareEnum(std::string_view name) {
    BindingEnumBuilder<Enum> builder = RegisterEnum<Enum>(registry_, ApiTypeName(name));
    for (const std::string& tag : apiTags_) {
      builder.AddTag(tag);
    }
    return builder;
  }

  // Declares the event `name` that the module sends with a Payload (a registered record), with
  // the module's API tags and `description`, so that the host's API description lists it. Call
  // from the Declare hook, after registering Payload; an unregistered Payload declares the event
  // without a payload type.
  template <typename Payload>
  void DeclareEvent(std::string_view name, std::string_view description = {}) {
    DeclareEventOf(name, registry_.FindType(StaticTypeInfoOf<Payload>()), description);
  }

  // Sends `event` (a record with a `uri` field, usually PluginResourceEvent) as the event of its
  // URI, and once more under `baseName` when that name differs.
  template <typename Event>
  Maybe<void> SendEvent(std::string_view baseName, const Event& event, uint32_t flags = 0) {
    return events_.Send(baseName, event, flags);
  }

  template <typename Payload>
  [[nodiscard]] Maybe<void> InvokeServiceProxy(std::string_view service, std::string_view method,
                                               const Payload& payload, std::string_view replyMethod,
                                               std::string_view replyText,
                                               ServiceProxyHandler onComplete) {
    return serviceProxy_.Invoke(service, method, payload, replyMethod, replyText,
                                std::move(onComplete));
  }

  template <typename T, typename Payload>
  [[nodiscard]] std::future<Maybe<T>> ServiceProxyCall(std::string_view service,
                                                       std::string_view method,
                                                       const Payload& payload) {
    return serviceProxy_.Call<T>(service, method, payload);
  }
  // The same, awaited, as Await would wait for the future (the same wait announced, the same
  // report when the answer can no longer come), without the future's cost.
  template <typename T, typename Payload>
  Maybe<T> ServiceProxy(std::string_view service, std::string_view method, const Payload& payload);

  // --- Waiting ---

  // The future's value. While it is not ready, announces one wait (host entry 8, "Wait:
  // future<...>" named by T) and yields to the host (entry 7) on each pass, then ends the wait
  // (entry 9). A broken or empty future ends the process with a report. A host without a yield
  // entry is waited for by blocking instead (its answer can only come from another thread).
  template <typename T>
  T Await(std::future<T> future);

  // One pass of the host: "Wait: yield" announced, one yield, the wait ended.
  void Yield();

 private:
  // The host calls of the module's parts, each through the module's slot of its entry.
  class SlotCalls final : public HostCalls {
   public:
    explicit SlotCalls(AppModule& module) : module_(module) {}
    Maybe<BindingProperty> Request(const HostCall& call) override;
    bool SendEvent(std::span<const std::string_view> names, const BindingProperty& payload,
                   uint32_t flags) override;
    bool Subscribe(const char* eventName, HostEventReceiver& receiver, uint32_t flags) override;
    bool Unsubscribe(const char* eventName) override;
    bool Yield() override;
    bool WaitBegin(const char* label) override;
    bool WaitEnd() override;
    bool Log(int32_t level, const char* message) override;
    [[nodiscard]] HostHandle Handle() const override;
    [[nodiscard]] const std::string& FullName() const override;
    [[nodiscard]] const BindingRegistry& Registry() const override;
    [[nodiscard]] bool IsStopping() const override;

   private:
    AppModule& module_;
  };

  void DeclareRuntime();
  void DeclarePlatformRecords();
  [[nodiscard]] std::string ApiTypeName(std::string_view name) const {
    return std::string(apiName_).append(name);
  }
  void DeclareEventOf(std::string_view name, const BindingTypeDescriptor* payload,
                      std::string_view description);
  void AttachLogTarget();
  [[noreturn]] static void BrokenFuture(const std::future_error& error);

  PluginApiVersion coreVersion_;
  PluginIdentity identity_;
  std::string apiName_;
  std::vector<std::string> apiTags_;
  BindingRegistry registry_;
  RequestDispatcher dispatcher_;
  EndpointTable apiTable_;
  std::unique_ptr<PluginLogTarget> logTarget_;
  HostLink host_;
  std::string userAgent_;
  std::unique_ptr<TelemetrySink> telemetry_;
  SlotCalls calls_{*this};
  ModuleEvents events_{calls_, dispatcher_.Sequence()};
  ServiceProxyRequests serviceProxy_{calls_};
  int yields_ = 0;  // yields in progress
  bool stopping_ = false;
};

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

template <typename T, typename Payload>
Maybe<T> AppModule::ServiceProxy(std::string_view service, std::string_view method,
                                 const Payload& payload) {
  using Slots = ServiceProxyRequests;
  Slots::AnswerSlot<T> slot;
  serviceProxy_.Start(service, method, payload, slot);
  bool announced = false;
  for (Slots::SlotState state;
       (state = serviceProxy_.StateOf(slot)) != Slots::SlotState::Answered;) {
    if (state == Slots::SlotState::Broken) {
      BrokenFuture(std::future_error(std::future_errc::broken_promise));
    }
    if (!announced) {
      announced = true;
      const std::string label = Format(kWaitFutureLabel, TypeNameOf<Maybe<T>>());
      CallHostWaitBegin(label.c_str(), 0);
    }
    if (!CallHostYield()) {
      serviceProxy_.WaitFor(slot);
    }
  }
  if (announced) {
    CallHostWaitEnd();
  }
  return *std::move(slot.answer);
}

}  // namespace Vexa
