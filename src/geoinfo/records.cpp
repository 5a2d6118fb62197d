#include "geoinfo/records.h"

#include <string>

#include "binding/field_registration.h"

namespace Vexa::Client::Api {
namespace {

// The registration of Record under the API name followed by `name`, tagged.
template <typename Record>
BindingRecordBuilder<Record> TaggedRecord(BindingRegistry& registry, std::string_view apiName,
                                          std::string_view name,
                                          std::span<const std::string> apiTags) {
  BindingRecordBuilder<Record> builder =
      RegisterRecord<Record>(registry, std::string(apiName).append(name));
  builder.Builder().AddTags(apiTags);
  return builder;
}

}  // namespace

void RegisterGeoInfoRecords(BindingRegistry& registry, std::string_view apiName,
                            std::span<const std::string> apiTags) {
  TaggedRecord<GeoInfo>(registry, apiName, "GeoInfo", apiTags)
      .Field("country", &GeoInfo::country)
      .Field("city", &GeoInfo::city)
      .Field("region", &GeoInfo::region);

  // Nested types are registered before the records that hold them (GeoInfo above,
  // LoginSessionState below), so that their fields find the descriptors.
  TaggedRecord<GeoInfoResponse>(registry, apiName, "GeoInfoResponse", apiTags)
      .Field("success", &GeoInfoResponse::success)
      .Field("geoInfo", &GeoInfoResponse::geoInfo)
      .Field("errorMessage", &GeoInfoResponse::errorMessage)
      .Field("isLatest", &GeoInfoResponse::isLatest);

  registry.RegisterType<LoginSessionState>(std::string(apiName).append("LoginSessionState"))
      .AddTags(apiTags)
      .AddEnumerator("IN_PROGRESS", static_cast<int32_t>(LoginSessionState::InProgress))
      .AddEnumerator("ERROR", static_cast<int32_t>(LoginSessionState::Error))
      .AddEnumerator("SUCCEEDED", static_cast<int32_t>(LoginSessionState::Succeeded))
      .AddEnumerator("LOGGING_OUT", static_cast<int32_t>(LoginSessionState::LoggingOut));

  TaggedRecord<LoginSession>(registry, apiName, "LoginSession", apiTags)
      .Field("state", &LoginSession::state)
      .Field("profileId", &LoginSession::profileId)
      .Field("accountId", &LoginSession::accountId);

  TaggedRecord<GeoInfoConfig>(registry, apiName, "GeoInfoConfig", apiTags)
      .Field("Enabled", &GeoInfoConfig::Enabled);

  TaggedRecord<WhereAmIRequest>(registry, apiName, "WhereAmIRequest", apiTags)
      .Field("ipAddress", &WhereAmIRequest::ipAddress);

  TaggedRecord<WhereAmIResponse>(registry, apiName, "WhereAmIResponse", apiTags)
      .Field("country", &WhereAmIResponse::country)
      .Field("city", &WhereAmIResponse::city)
      .Field("region", &WhereAmIResponse::region);
}

}  // namespace Vexa::Client::Api
