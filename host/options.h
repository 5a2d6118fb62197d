// vexa-host's command line.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "plugin.h"
#include "service_proxy.h"

namespace VexaHost {

inline constexpr int kDefaultPort = 8470;
inline constexpr char kDefaultPublicAddress[] = "193.99.144.80";

struct Options {
  std::vector<std::string> plugins;  // each PATH[:ENTRY]; none: GeoInfo built beside the host
  std::string entry;                 // --entry: the entry of the one plugin (see --help)
  // --config NAME=JSON: configuration namespaces at start, in the order given.
  std::vector<std::pair<std::string, std::string>> configs;
  ApiVersion coreVersion;     // 18.0.0
  int port = kDefaultPort;    // 0: any free port
  std::string dataDirectory;  // empty: $XDG_STATE_HOME/vexa-host or ~/.local/state/vexa-host
  std::string geoIpDatabase;  // a .mmdb file; empty: Debian's GeoIP country data
  std::string servicesFile;   // --services: further services behind the proxy
  std::string publicAddress = kDefaultPublicAddress;
  std::chrono::milliseconds serviceDeadline{5000};
  ServiceFaults faults;
  std::size_t maxBody = 1 << 20;
  std::size_t maxCalls = 16;  // endpoint calls at once, one inside another's wait
  bool enabled = true;        // the GeoInfo configuration namespace's Enabled at start
  bool signedIn = true;       // a SUCCEEDED login session at start
  bool trace = false;         // unmute the plugin's trace lines
  bool help = false;
};

// Parses the arguments after the program name. Nothing, with `error` saying which argument is
// wrong and why, when one is.
std::optional<Options> ParseOptions(int argc, const char* const* argv, std::string& error);

// The --help text.
const char* Usage();

// A duration as "250ms", "5s" or a bare number of seconds ("5", "0.5").
bool ParseDuration(const std::string& text, std::chrono::milliseconds& duration);

}  // namespace VexaHost
