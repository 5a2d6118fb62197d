#include "runtime/telemetry.h"

#include <string>
#include <utility>

#include "runtime/messages.h"
#include "runtime/requests.h"

namespace Vexa {

std::future<Maybe<void>> TelemetrySink::SendTelemetry(std::string_view eventName,
                                                      const BindingProperty& payload) {
  std::promise<Maybe<void>> outcome;
  std::string uri = kTelemetryUriPrefix;
  uri += eventName;
  outcome.set_value(Request<void>(host_, HttpMethod::Post, uri, payload));
  return outcome.get_future();
}

}  // namespace Vexa
