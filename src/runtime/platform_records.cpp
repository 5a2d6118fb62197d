// The registration of the platform's shared records (runtime/platform_records.h).
#include "runtime/platform_records.h"

#include <string>

#include "binding/field_registration.h"

namespace Vexa {

std::string ConfigurationNamespaceUri(std::string_view name) {
  return std::string(kConfigurationNamespacesUri).append(name);
}

}  // namespace Vexa

namespace Vexa::Client::Api {

void RegisterLoginSessionRecords(BindingRegistry& registry, std::string_view apiName,
                                 std::span<const std::string> apiTags) {
  // The enum first, so that the record's field finds its descriptor.
  registry.RegisterType<LoginSessionState>(std::string(apiName).append("LoginSessionState"))
      .AddTags(apiTags)
      .AddEnumerator("IN_PROGRESS", static_cast<int32_t>(LoginSessionState::InProgress))
      .AddEnumerator("ERROR", static_cast<int32_t>(LoginSessionState::Error))
      .AddEnumerator("SUCCEEDED", static_cast<int32_t>(LoginSessionState::Succeeded))
      .AddEnumerator("LOGGING_OUT", static_cast<int32_t>(LoginSessionState::LoggingOut));

  BindingRecordBuilder<LoginSession> session =
      RegisterRecord<LoginSession>(registry, std::string(apiName).append("LoginSession"));
  session.Builder().AddTags(apiTags);
  session.Field("state", &LoginSession::state)
      .Field("profileId", &LoginSession::profileId)
      .Field("accountId", &LoginSession::accountId);
}

}  // namespace Vexa::Client::Api
