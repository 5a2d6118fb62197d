// What a module's parts (events, the service proxy, telemetry, the log target) need of their
// module: its host's entries and the few facts they quote. They depend on this, not on the
// module: AppModule implements it by forwarding each host call through its own virtual
// operation of that entry, so a module that overrides one sees every call of it.
//
//   class ServiceProxyRequests {
//    public:
//     explicit ServiceProxyRequests(Vexa::HostCalls& host) : host_(host) {}
//     ... Vexa::Request<std::string>(host_, Vexa::HttpMethod::Post, uri, ...) ...
//   };
//
// Ownership: the module owns the object behind the interface and outlives every part that
// holds it.
//
// Threading: called on the module's sequence (the threading rule of the seam header), except Log,
// which runs on whichever thread logs (with the log manager's lock held).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "bridge/host_link.h"
#include "value/failure.h"
#include "value/property.h"

namespace Vexa {

class BindingRegistry;

class HostCalls {
 public:
  // Host entry 1: the untyped request (runtime/requests.h has the typed one).
  virtual Maybe<BindingProperty> Request(const HostCall& call) = 0;
  // Host entry 3, once per name.
  virtual bool SendEvent(std::span<const std::string_view> names, const BindingProperty& payload,
                         uint32_t flags) = 0;
  // Host entries 4 and 5.
  virtual bool Subscribe(const char* eventName, HostEventReceiver& receiver, uint32_t flags) = 0;
  virtual bool Unsubscribe(const char* eventName) = 0;
  // Host entries 7, 8 and 9.
  virtual bool Yield() = 0;
  virtual bool WaitBegin(const char* label) = 0;
  virtual bool WaitEnd() = 0;
  // Host entry 10.
  virtual bool Log(int32_t level, const char* message) = 0;

  // The host's handle for the module, 0 before Start.
  [[nodiscard]] virtual HostHandle Handle() const = 0;
  // The module's full name, as log and trace lines begin.
  [[nodiscard]] virtual const std::string& FullName() const = 0;
  // The module's registry: every conversion of a part converts with it.
  [[nodiscard]] virtual const BindingRegistry& Registry() const = 0;
  // Whether the module is stopping (no new service proxy requests then).
  [[nodiscard]] virtual bool IsStopping() const = 0;

 protected:
  ~HostCalls() = default;
};

}  // namespace Vexa
