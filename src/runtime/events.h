// A module's event subscriptions and the routing of the events the host delivers: named event
// handlers, counted subscriptions of resource events, and the resource dispatcher that hands a
// resource event to the handler of its exact URI and then to every matching URI pattern.
//
//   module.ObserveResource<LoginSession>("/kor-login/v1/session",
//       [this](const Vexa::PluginResourceEventOf<LoginSession>& event) { ... });
//   Vexa::EventNameForUri("/kor-login/v1/session");  // "OnJsonApiEvent_kor-login_v1_session"
//
// Event names. A resource URI's event is "OnJsonApiEvent" joined with the URI's first three
// non-empty pieces by "_" (the first five for "/kor-platform-config/..."), so deeper URIs share
// the event of their top-level resource.
//
// Patterns. In a URI pattern every character but "*" must equal the URI's; a "*" consumes URI
// characters up to the next "/", which it leaves; the pattern matches when both texts end
// together. So "/a/*" matches "/a/b" but neither "/a/" nor "/a/b/c".
//
// Ownership: the module owns its ModuleEvents, which borrows the module's host calls; handlers
// are shared, so a handler that replaces or removes handlers (itself included) while it runs
// stays alive until it returns. ModuleEvents is the receiver of every subscription it makes:
// it must live until the module stops.
//
// Threading: the tables belong to the module's one sequence (the host calls a module from one
// thread at a time, events included: the threading rule of the seam header); they take no lock.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/conversion/conversion.h"
#include "bridge/host_link.h"
#include "diagnostics/log.h"
#include "runtime/host_calls.h"
#include "runtime/messages.h"
#include "runtime/records.h"
#include "runtime/requests.h"
#include "value/property.h"

namespace Vexa {

// The host event name of the resource at `uri` (see the top of this file).
[[nodiscard]] std::string EventNameForUri(std::string_view uri);

// Whether `uri` matches `pattern` (see the top of this file).
[[nodiscard]] bool UriMatchesPattern(std::string_view pattern, std::string_view uri);

// A handler of one named event. Handle receives the payload already converted from the host
// value; it converts it to its own record and calls the module's function.
class EventHandler {
 public:
  virtual ~EventHandler() = default;
  // Converts `payload` (named "<result>" in messages) and calls the function; a payload that
  // does not convert is traced and dropped.
  virtual void Handle(HostCalls& host, std::string_view eventName,
                      const BindingProperty& payload) = 0;
  // The payload type's name, as traces quote it.
  [[nodiscard]] virtual const char* TypeName() const = 0;
};

// The event handler for payloads of type Payload (PluginResourceEvent,
// PluginServiceProxyResponse or any registered record).
template <typename Payload>
class TypedEventHandler final : public EventHandler {
 public:
  // `function` gets the converted record to keep: it may move from it.
  explicit TypedEventHandler(std::function<void(Payload&&)> function)
      : function_(std::move(function)) {}

  void Handle(HostCalls& host, std::string_view eventName,
              const BindingProperty& payload) override {
    Payload record{};
    BindingResult result;
    if (!ToNative(result, record, payload, kResultValueName, host.Registry())) {
      const std::string message(result.ErrorText());
      Trace(kConvertPayloadTrace, host.FullName().c_str(), TypeName(),
            static_cast<int>(eventName.size()), eventName.data(), message.c_str());
      return;
    }
    Trace(kHandlingEventTrace, host.FullName().c_str(), static_cast<int>(eventName.size()),
          eventName.data());
    function_(std::move(record));
  }

  [[nodiscard]] const char* TypeName() const override { return TypeNameOf<Payload>(); }

 private:
  std::function<void(Payload&&)> function_;
};

using ResourceEventHandler = std::function<void(const PluginResourceEvent&)>;

class ModuleEvents final : public HostEventReceiver {
 public:
  // Events belong to `sequence`, the module's.
  ModuleEvents(HostCalls& host, SequenceChecker& sequence) : host_(host), sequence_(sequence) {}
  ModuleEvents(const ModuleEvents&) = delete;
  ModuleEvents& operator=(const ModuleEvents&) = delete;

  // Stores `handler` under `name` (replacing an earlier one) and subscribes to the event at the
  // host with `flags` (0 resource events, 1 service proxy events).
  void RegisterHandler(std::string_view name, std::shared_ptr<EventHandler> handler,
                       uint32_t flags);
  // The same, typed by the handler's payload.
  template <typename Payload>
  void RegisterHandler(std::string_view name, std::function<void(const Payload&)> handler,
                       uint32_t flags) {
    RegisterHandler(name, std::make_shared<TypedEventHandler<Payload>>(std::move(handler)), flags);
  }
  // The same, for a handler that keeps the record it is given (it may move from it).
  template <typename Payload>
  void RegisterTakingHandler(std::string_view name, std::function<void(Payload&&)> handler,
                             uint32_t flags) {
    RegisterHandler(name, std::make_shared<TypedEventHandler<Payload>>(std::move(handler)), flags);
  }

  // Observes the resource at `uri` (a pattern when it contains "*"): `handler` receives each
  // event with its data converted to T (a default T for Delete; events whose data does not
  // convert are traced and dropped). The subscription is counted (Subscribe below). For a plain
  // URI the current value is fetched at once with "GET" and, when that succeeds, delivered as a
  // Create event.
  template <typename T>
  void ObserveResource(std::string_view uri,
                       std::function<void(const PluginResourceEventOf<T>&)> handler);

  // Counted subscription of the resource event of `uri`: the first subscription of an event
  // name registers the resource dispatcher for it; the last unsubscription unsubscribes at the
  // host and removes the name's handler.
  void Subscribe(std::string_view uri);
  void Unsubscribe(std::string_view uri);

  // Adds a resource handler: a URI containing "*" joins the pattern list (in registration
  // order), any other replaces the exact handler of that URI.
  void AddResourceHandler(std::string_view uri, ResourceEventHandler handler);

  // Routes one resource event: the URI gets a leading "/" when it lacks one; the exact handler
  // of the URI runs first, then every matching pattern handler in registration order.
  void DispatchResourceEvent(const PluginResourceEvent& event);

  // The host's delivery of an event to the handler registered under its name (none: ignored).
  // A payload that did not convert is traced and dropped. Never throws.
  void ReceiveHostEvent(std::string_view name, BindingResult&& payload) override;
  [[nodiscard]] SequenceChecker& Sequence() override { return sequence_; }

  // Sends `event` (a record with a `uri` field, usually PluginResourceEvent) as the event of its
  // URI (EventNameForUri), and once more under `baseName` when that name differs. A conversion
  // failure is returned, and so is a payload without a host form or a host without a send
  // entry ("Event not sent: ...").
  template <typename Event>
  Maybe<void> Send(std::string_view baseName, const Event& event, uint32_t flags = 0) {
    BindingResult converted;
    const BindingProperty* value = ValueOf(event, converted, host_.Registry());
    if (value == nullptr) {
      return Failure::Of(0, converted);
    }
    return SendValue(baseName, event.uri, *value, flags);
  }
  Maybe<void> SendValue(std::string_view baseName, std::string_view uri,
                        const BindingProperty& value, uint32_t flags);

  // The Stop hook's part: unsubscribes every event name with a handler at the host, then
  // clears the handlers, the counts and the resource handlers.
  void UnsubscribeAll();

  // The number of subscriptions counted for the event name of `uri` (0 when none).
  [[nodiscard]] int SubscriptionCount(std::string_view uri) const;

 private:
  HostCalls& host_;
  SequenceChecker& sequence_;
  std::map<std::string, std::shared_ptr<EventHandler>, std::less<>> handlers_;
  std::map<std::string, int, std::less<>> counts_;
  std::map<std::string, std::shared_ptr<ResourceEventHandler>, std::less<>> exactHandlers_;
  std::vector<std::pair<std::string, std::shared_ptr<ResourceEventHandler>>> patternHandlers_;
};

template <typename T>
void ModuleEvents::ObserveResource(std::string_view uri,
                                   std::function<void(const PluginResourceEventOf<T>&)> handler) {
  auto typed = [this, handler = std::move(handler)](const PluginResourceEvent& event) {
    PluginResourceEventOf<T> converted{event.uri, event.eventType, T{}};
    if (event.eventType != PluginResourceEventType::Delete) {
      BindingResult result;
      if (!ToNative(result, converted.data, event.data, kValueName, host_.Registry())) {
        Trace(kConvertResourceTrace, host_.FullName().c_str(), TypeNameOf<T>(), event.uri.c_str());
        return;
      }
    }
    handler(converted);
  };
  AddResourceHandler(uri, typed);
  Subscribe(uri);
  if (uri.find('*') == std::string_view::npos) {
    Maybe<BindingProperty> current = Request<BindingProperty>(host_, HttpMethod::Get, uri);
    if (current) {
      typed(PluginResourceEvent{std::string(uri), PluginResourceEventType::Create,
                                std::move(current).Value()});
    }
  }
}

}  // namespace Vexa
