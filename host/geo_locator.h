// Where an IP address is, from real GeoIP data on this machine.
//
// - Debian's `geoip-database` (GeoIP.dat and GeoIPv6.dat under /usr/share/GeoIP), read through
//   libGeoIP: the country only (its ISO code); city and region stay empty.
// - A MaxMind DB file (`.mmdb`), read through libmaxminddb: country ISO code, the English city
//   name and the ISO code of the first subdivision as the region.
//
// Threading: a locator is used by one thread at a time (the plugin thread).
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace VexaHost {

struct GeoLocation {
  std::string country;  // ISO 3166-1 alpha-2, as "DE"
  std::string city;
  std::string region;
};

class GeoLocator {
 public:
  virtual ~GeoLocator() = default;
  // The location of `address` (IPv4 or IPv6 text). Nothing, with `error` set to a message for
  // people, when the text is not an address or the data knows no location for it.
  virtual std::optional<GeoLocation> Locate(std::string_view address, std::string& error) = 0;
  // What the data is, for the start-up lines: "GeoIP country data (/usr/share/GeoIP/GeoIP.dat)".
  virtual std::string Describe() const = 0;
};

// The country databases of Debian's geoip-database; null with `error` set when the IPv4 file
// cannot be opened (the IPv6 one is optional).
std::unique_ptr<GeoLocator> OpenGeoIpCountryData(std::string& error);

// A MaxMind DB file; null with `error` set when it cannot be opened.
std::unique_ptr<GeoLocator> OpenMaxMindDb(const std::filesystem::path& file, std::string& error);

}  // namespace VexaHost
