// Every text the GeoInfo module answers, traces or sends, and the names and URIs it uses, in one
// place. Front ends and hosts match the answers exactly: do not reword them. Trace templates are
// printf templates for Vexa::Trace; their arguments are listed with each.
#pragma once

namespace Vexa::Client::Api {

// The module's short name (its full name is composed at registration).
inline constexpr const char kGeoInfoShortName[] = "kor-geoinfo";

// --- Remote service ---
inline constexpr const char kGeoInfoService[] = "contenttargeting.geoinfo";
inline constexpr const char kWhereAmIMethod[] = "getWhereAmI";

// --- URIs ---
// The platform configuration namespace the feature observes (runtime/platform_records.h).
inline constexpr const char kConfigNamespace[] = "GeoInfo";
inline constexpr const char kSettingsUri[] = "/kor-settings/v2/local/GeoInfo";
inline constexpr const char kWhereAmIUri[] = "/kor-geoinfo/v1/whereami";
inline constexpr const char kGetLocationUri[] = "/kor-geoinfo/v1/getlocation";
inline constexpr const char kIpAddressArgument[] = "ip_address";

// --- The saved location document ---
inline constexpr const char kSchemaVersionKey[] = "schemaVersion";
inline constexpr long long kSchemaVersion = 1;
inline constexpr const char kDataKey[] = "data";
inline constexpr const char kCountryKey[] = "country";
inline constexpr const char kCityKey[] = "city";
inline constexpr const char kRegionKey[] = "region";

// --- Answers ---
// getlocation with the feature disabled (status 503), and whereami's errorMessage then.
inline constexpr unsigned kNotEnabledStatus = 503;
inline constexpr const char kNotEnabledMessage[] = "contenttargeting.geoinfo is not enabled";
// The settings store holds no saved location (status 404).
inline constexpr const char kDataEmptyMessage[] = "Data retrieved is empty";

// --- Trace lines ---
// The IP address asked about (empty for the user's own location).
inline constexpr const char kSendingRequestTrace[] =
    "kor-geoinfo: contenttargeting.geoinfo.getWhereAmI: sending request: [ipAddress: '%s']";
// Country, city, region.
inline constexpr const char kRetrievedTrace[] =
    "kor-geoinfo: contenttargeting.geoinfo.getWhereAmI: retrieved: [country: '%s', city: '%s', "
    "region: '%s']";
// The failure's code and message.
inline constexpr const char kWhereAmIFailedTrace[] =
    "kor-geoinfo: contenttargeting.geoinfo.getWhereAmI failed: Error code: '%d', error message: %s";
// Country, city, region.
inline constexpr const char kSaveWritingTrace[] =
    "kor-geoinfo: contenttargeting.geoinfo.SaveLastKnownLocation: writing [country: '%s', city: "
    "'%s', region: '%s']";
// The failure's code and message.
inline constexpr const char kSaveFailedTrace[] =
    "kor-geoinfo: contenttargeting.geoinfo.SaveLastKnownLocation failed: Error code: '%d', error "
    "message: %s";
// The failure's code and message.
inline constexpr const char kLoadFailedTrace[] =
    "kor-geoinfo: contenttargeting.geoinfo.LoadLastKnownLocation failed: Error code: '%d', error "
    "message: %s";
// Country, city, region.
inline constexpr const char kLoadRetrievedTrace[] =
    "kor-geoinfo: contenttargeting.geoinfo.LoadLastKnownLocation: retrieved: [country: '%s', "
    "city: '%s', region: '%s']";

}  // namespace Vexa::Client::Api
