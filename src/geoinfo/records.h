// The records that the GeoInfo feature exchanges with the host, the front end and the remote
// location service, and their registration. The login session it reads (LoginSessionState,
// LoginSession) is the platform's, registered by the runtime (runtime/platform_records.h).
//
//   Vexa::Client::Api::RegisterGeoInfoRecords(module.Registry(), module.ApiName(),
//                                             module.ApiTags());
//   // registers MdlBeKorGeoinfoGeoInfo, MdlBeKorGeoinfoGeoInfoResponse, ...
//
// Each record converts to and from a BindingProperty by its registered descriptor. The saved
// location kept in the host's settings store is not one of them: the module builds and reads
// that document by hand (geoinfo_module.h).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "binding/registry.h"
#include "binding/static_type.h"
#include "runtime/platform_records.h"

namespace Vexa::Client::Api {

// A location; every text empty when unknown.
struct GeoInfo {
  std::string country;
  std::string city;
  std::string region;
};
VEXA_STATIC_TYPE(GeoInfo, "struct Vexa::Client::Api::GeoInfo");

// The answer of the whereami endpoint and the payload of its resource event.
struct GeoInfoResponse {
  bool success = false;      // a location is present
  GeoInfo geoInfo;           // the location
  std::string errorMessage;  // why there is none
  // True when the location came from the remote service in this call, false when it is the
  // last known location read back from the settings store.
  bool isLatest = false;
};
VEXA_STATIC_TYPE(GeoInfoResponse, "struct Vexa::Client::Api::GeoInfoResponse");

// The platform configuration namespace "GeoInfo" (kConfigNamespace); the field is spelled as
// the host spells it.
struct GeoInfoConfig {
  bool Enabled = false;  // NOLINT(readability-identifier-naming): the host's spelling
};
VEXA_STATIC_TYPE(GeoInfoConfig, "struct Vexa::Client::Api::GeoInfoConfig");

// The payload of the remote call.
struct WhereAmIRequest {
  std::string ipAddress;
};
VEXA_STATIC_TYPE(WhereAmIRequest, "struct Vexa::Client::Api::WhereAmIRequest");

// The result of the remote call.
struct WhereAmIResponse {
  std::string country;
  std::string city;
  std::string region;
};
VEXA_STATIC_TYPE(WhereAmIResponse, "struct Vexa::Client::Api::WhereAmIResponse");

// Registers the records above in the order in which they are declared here, with the
// platform's session records (RegisterLoginSessionRecords) between GeoInfoResponse and
// GeoInfoConfig, where they have always been; each under `apiName` followed by its own name
// ("GeoInfo", "GeoInfoResponse", ...), with `apiTags`, its native size, its fields in order
// and empty help texts. A name already registered keeps its first registration (the
// registry's rule).
void RegisterGeoInfoRecords(BindingRegistry& registry, std::string_view apiName,
                            std::span<const std::string> apiTags);

}  // namespace Vexa::Client::Api
