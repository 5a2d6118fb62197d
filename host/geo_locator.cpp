#include "geo_locator.h"

#include <GeoIP.h>
#if defined(_WIN32)
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif
#include <maxminddb.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace VexaHost {
namespace {

constexpr const char* kGeoIpV4File = "/usr/share/GeoIP/GeoIP.dat";
constexpr const char* kGeoIpV6File = "/usr/share/GeoIP/GeoIPv6.dat";

// An address text parsed by inet_pton, so that both kinds of data see exactly the same
// notion of "an address" and neither ever resolves a host name.
struct ParsedAddress {
  bool v6 = false;
  in_addr v4Address{};
  in6_addr v6Address{};
};

std::optional<ParsedAddress> ParseAddress(std::string_view text) {
  // inet_pton reads up to a NUL; an embedded one would hide the rest of the text.
  if (text.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  const std::string terminated(text);
  ParsedAddress parsed;
  if (inet_pton(AF_INET, terminated.c_str(), &parsed.v4Address) == 1) {
    return parsed;
  }
  if (inet_pton(AF_INET6, terminated.c_str(), &parsed.v6Address) == 1) {
    parsed.v6 = true;
    return parsed;
  }
  return std::nullopt;
}

std::string NotAnAddress(std::string_view text) {
  return "not an IP address: " + std::string(text);
}

std::string NoLocation(std::string_view address) {
  return "no location known for " + std::string(address);
}

struct GeoIpDeleter {
  void operator()(GeoIP* data) const { GeoIP_delete(data); }
};
using GeoIpHandle = std::unique_ptr<GeoIP, GeoIpDeleter>;

// Opens a country database of the given edition; null with `error` set otherwise.
GeoIpHandle OpenGeoIpFile(const char* file, unsigned char edition, std::string& error) {
  errno = 0;
  GeoIpHandle data(GeoIP_open(file, GEOIP_MEMORY_CACHE | GEOIP_SILENCE));
  if (!data) {
    const int cause = errno;
    error = std::string("cannot open ") + file;
    if (cause != 0) {
      error += ": " + std::generic_category().message(cause);
    }
  } else if (GeoIP_database_edition(data.get()) != edition) {
    error = std::string(file) + " is not a GeoIP country database";
    data.reset();
  }
  return data;
}

class GeoIpCountryLocator final : public GeoLocator {
 public:
  GeoIpCountryLocator(GeoIpHandle v4, GeoIpHandle v6) : v4_(std::move(v4)), v6_(std::move(v6)) {}

  std::optional<GeoLocation> Locate(std::string_view address, std::string& error) override {
    const std::optional<ParsedAddress> parsed = ParseAddress(address);
    if (!parsed) {
      error = NotAnAddress(address);
      return std::nullopt;
    }
    int id = 0;
    if (!parsed->v6) {
      id = GeoIP_id_by_ipnum(v4_.get(), ntohl(parsed->v4Address.s_addr));
    } else if (IN6_IS_ADDR_V4MAPPED(&parsed->v6Address)) {
      // ::ffff:a.b.c.d is an IPv4 peer seen through an IPv6 socket: ask the IPv4 data.
      uint32_t v4 = 0;
      std::memcpy(&v4, &parsed->v6Address.s6_addr[12], sizeof v4);
      id = GeoIP_id_by_ipnum(v4_.get(), ntohl(v4));
    } else if (v6_) {
      id = GeoIP_id_by_ipnum_v6(v6_.get(), parsed->v6Address);
    }
    // Id 0 is the data's "unknown" (private, reserved and unassigned ranges).
    const char* code = id > 0 ? GeoIP_code_by_id(id) : nullptr;
    if (code == nullptr || *code == '\0') {
      error = NoLocation(address);
      return std::nullopt;
    }
    return GeoLocation{code, {}, {}};
  }

  std::string Describe() const override {
    std::string text = std::string("GeoIP country data (") + kGeoIpV4File;
    if (v6_) {
      text += std::string(", ") + kGeoIpV6File;
    }
    return text + ")";
  }

 private:
  GeoIpHandle v4_;
  GeoIpHandle v6_;  // null when the IPv6 file is missing: IPv6 addresses then have no location
};

class MaxMindLocator final : public GeoLocator {
 public:
  explicit MaxMindLocator(std::filesystem::path file) : file_(std::move(file)) {}
  ~MaxMindLocator() override {
    if (open_) {
      MMDB_close(&data_);
    }
  }
  MaxMindLocator(const MaxMindLocator&) = delete;
  MaxMindLocator& operator=(const MaxMindLocator&) = delete;

  // Opens the file in place: the library's lookups refer back to the MMDB_s, so it never moves.
  bool Open(std::string& error) {
    errno = 0;
    const int status = MMDB_open(file_.string().c_str(), MMDB_MODE_MMAP, &data_);
    const int cause = errno;
    open_ = status == MMDB_SUCCESS;
    if (!open_) {
      error = "cannot open " + file_.string() + ": " + MMDB_strerror(status);
      if ((status == MMDB_IO_ERROR || status == MMDB_FILE_OPEN_ERROR) && cause != 0) {
        error += " (" + std::generic_category().message(cause) + ")";
      }
    }
    return open_;
  }

  std::optional<GeoLocation> Locate(std::string_view address, std::string& error) override {
    if (!ParseAddress(address)) {
      error = NotAnAddress(address);
      return std::nullopt;
    }
    const std::string terminated(address);
    int addressError = 0;
    int dataError = MMDB_SUCCESS;
    MMDB_lookup_result_s found =
        MMDB_lookup_string(&data_, terminated.c_str(), &addressError, &dataError);
    if (addressError != 0) {
      error = NotAnAddress(address);
      return std::nullopt;
    }
    if (dataError != MMDB_SUCCESS) {
      error = terminated + ": " + MMDB_strerror(dataError);
      return std::nullopt;
    }
    GeoLocation location;
    if (found.found_entry &&
        (!Text(found.entry, location.country, error, "country", "iso_code", nullptr) ||
         !Text(found.entry, location.city, error, "city", "names", "en", nullptr) ||
         !Text(found.entry, location.region, error, "subdivisions", "0", "iso_code", nullptr))) {
      error = terminated + ": " + error;
      return std::nullopt;
    }
    // An entry may carry only a continent or a network's registration: no location either.
    if (location.country.empty() && location.city.empty() && location.region.empty()) {
      error = NoLocation(address);
      return std::nullopt;
    }
    return location;
  }

  std::string Describe() const override {
    const char* type = data_.metadata.database_type;
    return "MaxMind DB " + std::string(type != nullptr ? type : "") + " (" + file_.string() + ")";
  }

 private:
  // The text at a path of the entry; a missing path or a value of another type leaves `out`
  // empty. False with `error` set when the data itself is broken.
  template <typename... Path>
  static bool Text(MMDB_entry_s& entry, std::string& out, std::string& error, Path... path) {
    MMDB_entry_data_s value{};
    const int status = MMDB_get_value(&entry, &value, path...);
    if (status != MMDB_SUCCESS && status != MMDB_LOOKUP_PATH_DOES_NOT_MATCH_DATA_ERROR) {
      error = MMDB_strerror(status);
      return false;
    }
    if (status == MMDB_SUCCESS && value.has_data && value.type == MMDB_DATA_TYPE_UTF8_STRING) {
      out.assign(value.utf8_string, value.data_size);
    }
    return true;
  }

  std::filesystem::path file_;
  MMDB_s data_{};
  bool open_ = false;
};

}  // namespace

std::unique_ptr<GeoLocator> OpenGeoIpCountryData(std::string& error) {
  GeoIpHandle v4 = OpenGeoIpFile(kGeoIpV4File, GEOIP_COUNTRY_EDITION, error);
  if (!v4) {
    return nullptr;
  }
  std::string v6Error;  // the IPv6 file is optional; without it IPv6 addresses have no location
  GeoIpHandle v6 = OpenGeoIpFile(kGeoIpV6File, GEOIP_COUNTRY_EDITION_V6, v6Error);
  return std::make_unique<GeoIpCountryLocator>(std::move(v4), std::move(v6));
}

std::unique_ptr<GeoLocator> OpenMaxMindDb(const std::filesystem::path& file, std::string& error) {
  auto locator = std::make_unique<MaxMindLocator>(file);
  if (!locator->Open(error)) {
    return nullptr;
  }
  return locator;
}

}  // namespace VexaHost
