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

  // Nested types are registered before the records that hold them (GeoInfo above), so that
  // their fields find the descriptors.
  TaggedRecord<GeoInfoResponse>(registry, apiName, "GeoInfoResponse", apiTags)
      .Field("success", &GeoInfoResponse::success)
      .Field("geoInfo", &GeoInfoResponse::geoInfo)
      .Field("errorMessage", &GeoInfoResponse::errorMessage)
      .Field("isLatest", &GeoInfoResponse::isLatest);

  // The platform's session records, which the runtime would register after the module's own:
  // here, in the place they have always had among the feature's records, so that the API
  // description a host receives keeps its order.
  RegisterLoginSessionRecords(registry, apiName, apiTags);

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
