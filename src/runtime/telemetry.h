// The module's telemetry sink: named events with a value payload, posted to the host's
// telemetry endpoint.
//
//   module.Telemetry()->SendTelemetry("whereami", payload);   // POST /telemetry/v1/events/whereami
//
// Ownership: the module creates its sink at Start and owns it; the sink borrows the module's host
// calls.
#pragma once

#include <future>
#include <string_view>

#include "runtime/host_calls.h"
#include "value/failure.h"
#include "value/property.h"

namespace Vexa {

class TelemetrySink {
 public:
  explicit TelemetrySink(HostCalls& host) : host_(host) {}

  // Posts `payload` as the one body item to "/telemetry/v1/events/" + `eventName`. The future
  // is ready at once with the request's outcome.
  [[nodiscard]] std::future<Maybe<void>> SendTelemetry(std::string_view eventName,
                                                       const BindingProperty& payload);

 private:
  HostCalls& host_;
};

}  // namespace Vexa
