// A module's event subscriptions and the routing of the events the host delivers: named event
// handlers, counted subscriptions of resource events, and the resource dispatcher that hands a
// resource event to the handler of its exact URI and then to every matching URI pattern.
//
//   module.ObserveResource<LoginSession>("/kor-login/v1/session",
//       [this](const Vexa::PluginResourceEventOf<LoginSession>& event) { ... });
//   module.Events().EventNameForUri("/kor-login/v1/session");  //
//   "OnJsonApiEvent_kor-login_v1_session"
//
// Event names. A resource URI's event is "OnJsonApiEvent" joined with the URI's first three
// non-empty pieces by "_" (the first five for "/kor-platform-config/..."), so deeper URIs share
// the event of their top-level resource.
//
// Patterns. In a URI pattern every character but "*" must equal the URI's; a "*" consumes URI
// characters up to the next "/", which it leaves; the pattern matches when both texts end
// together. So "/a/*" matches "/a/b" but neither "/a/" nor "/a/b/c".
//
// Ownership: the module owns its ModuleEvents; handlers are shared, so a handler that replaces
// or removes handlers (itself included) while it runs stays alive until it returns.
//
// Threading: the tables belong to the module's one sequence (the host calls a module from one
// thread at a time, events included, see vexa/host_contract.h); they take no lock.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/registry.h"
#include "runtime/records.h"
#include "value/property.h"
#include "vexa/host_contract.h"

namespace Vexa {

class AppModule;

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
  virtual void Handle(AppModule& module, std::string_view eventName,
                      const BindingProperty& payload) = 0;
  // The payload type's name, as traces quote it.
  [[nodiscard]] virtual const char* TypeName() const = 0;
  // The C callback that the host is given for events of this handler's payload type.
  [[nodiscard]] virtual HostEventCallback Callback() const = 0;
};

using ResourceEventHandler = std::function<void(const PluginResourceEvent&)>;

class ModuleEvents {
 public:
  explicit ModuleEvents(AppModule& module) : module_(module) {}
  ModuleEvents(const ModuleEvents&) = delete;
  ModuleEvents& operator=(const ModuleEvents&) = delete;

  // Stores `handler` under `name` (replacing an earlier one) and subscribes to the event at the
  // host with the module as context and `flags` (0 resource events, 1 service proxy events).
  void RegisterHandler(std::string_view name, std::shared_ptr<EventHandler> handler,
                       uint32_t flags);

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

  // The host's delivery of `event` to the handler registered under its name (none: ignored).
  // Never throws.
  void Deliver(const HostEvent& event);

  // The Stop hook's part: unsubscribes every event name with a handler at the host, then
  // clears the handlers, the counts and the resource handlers.
  void UnsubscribeAll();

  // The number of subscriptions counted for the event name of `uri` (0 when none).
  [[nodiscard]] int SubscriptionCount(std::string_view uri) const;

 private:
  AppModule& module_;
  std::map<std::string, std::shared_ptr<EventHandler>, std::less<>> handlers_;
  std::map<std::string, int, std::less<>> counts_;
  std::map<std::string, std::shared_ptr<ResourceEventHandler>, std::less<>> exactHandlers_;
  std::vector<std::pair<std::string, std::shared_ptr<ResourceEventHandler>>> patternHandlers_;
};

}  // namespace Vexa
