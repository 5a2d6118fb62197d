#include "options.h"

#include <cmath>
#include <cstdlib>
#include <string_view>

#include "json.h"

namespace VexaHost {
namespace {

bool ParseNumber(const std::string& text, double& number) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) {
    return false;
  }
  char* end = nullptr;
  number = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && std::isfinite(number);
}

bool ParseRate(const std::string& text, double& rate) {
  return ParseNumber(text, rate) && rate >= 0 && rate <= 1;
}

bool ParseSize(const std::string& text, std::size_t& size) {
  std::string_view digits = text;
  std::size_t unit = 1;
  for (const auto& [suffix, factor] : {std::pair{"KiB", 1u << 10}, std::pair{"MiB", 1u << 20}}) {
    if (digits.size() > 3 && digits.substr(digits.size() - 3) == suffix) {
      digits.remove_suffix(3);
      unit = factor;
    }
  }
  double number = 0;
  if (!ParseNumber(std::string(digits), number) || number < 1 || number * unit > 1u << 30) {
    return false;
  }
  size = static_cast<std::size_t>(number * static_cast<double>(unit));
  return true;
}

}  // namespace

bool ParseDuration(const std::string& text, std::chrono::milliseconds& duration) {
  std::string number = text;
  double scale = 1000;
  if (number.size() > 2 && number.compare(number.size() - 2, 2, "ms") == 0) {
    number.resize(number.size() - 2);
    scale = 1;
  } else if (number.size() > 1 && number.back() == 's') {
    number.pop_back();
  }
  double value = 0;
  if (!ParseNumber(number, value) || value * scale > 24.0 * 3600 * 1000) {
    return false;
  }
  duration = std::chrono::milliseconds(std::llround(value * scale));
  return true;
}

const char* Usage() {
  return R"(usage: vexa-host [options]

Loads platform plugins as the platform's core does, serves their endpoints and events over
HTTP on 127.0.0.1 and stands in for the platform behind them.

  --plugin PATH[:ENTRY]  a plugin library; repeat it for several, started in the order given
                         and stopped in reverse (default: GeoInfo, libkor_geoinfo.so built
                         beside the host). The entry left out is load_<name> of the file name
                         (libkor_notes.so, kor_notes.dll: load_kor_notes); a bare file name is
                         looked for in the working folder, beside the host, in the installed
                         ../lib/vexa/plugins and in the host's build tree
  --entry NAME           the entry of the one plugin given (the same as PATH:NAME)
  --config NAME=JSON     the configuration namespace NAME's document at start, a JSON object
                         (repeatable; --config GeoInfo='{"Enabled":false}' is --disabled)
  --core-version X.Y.Z   the core's plugin API version handed to the plugin (default: 18.0.0)
  --port N               the port on 127.0.0.1 (default: 8470; 0 picks a free one)
  --data-dir DIR         settings and telemetry (default: $XDG_STATE_HOME/vexa-host, else
                         ~/.local/state/vexa-host)
  --geoip-db FILE.mmdb   look addresses up in a MaxMind DB (country, region, city) instead of
                         Debian's GeoIP country data
  --public-ip ADDRESS    the address an empty ipAddress stands for (default: 193.99.144.80)
  --services FILE.json   further services behind the service proxy, each method answering a
                         canned or templated payload with a status after a latency (see
                         docs/host.md, "Declared services")
  --service-deadline T   the longest a service proxy answer takes (default: 5s)
  --error-rate R         share of service requests answered with an error (0..1, default 0)
  --latency T            delay added to every service answer (default: 0ms)
  --silence-rate R       share of service requests left unanswered until the deadline (0..1)
  --duplicate-rate R     share of service requests answered twice (0..1)
  --stray-rate R         share of service requests whose answer also goes to a uuid nobody
                         asked for (0..1)
  --max-body SIZE        the largest request body (default: 1MiB; bytes, KiB or MiB)
  --max-calls N          endpoint calls the plugin may be in at once, each further one started
                         while the one before waits for an answer (1 to 64, default 16; 1: one
                         call at a time)
  --disabled             start with the GeoInfo feature disabled
  --signed-out           start with no one signed in
  --trace                show the plugin's trace lines
  --help                 this text

Durations are "250ms", "5s" or seconds. SIGINT or SIGTERM stops the host once the requests in
flight are answered.
)";
}

namespace {

using Text = const std::string&;

bool Name(Text text, std::string& into) {
  into = text;
  return !text.empty();
}

// A flag that switches a setting, and the value it sets.
struct SwitchFlag {
  std::string_view name;
  bool Options::*setting;
  bool value;
};

constexpr SwitchFlag kSwitchFlags[] = {{"--disabled", &Options::enabled, false},
                                       {"--signed-out", &Options::signedIn, false},
                                       {"--trace", &Options::trace, true},
                                       {"--help", &Options::help, true},
                                       {"-h", &Options::help, true}};

// A flag that takes a value: what the value must be, and how it is read into the options.
struct ValuedFlag {
  std::string_view name;
  const char* what;
  bool (*read)(Text text, Options& options);
};

constexpr ValuedFlag kValuedFlags[] = {
    {"--plugin", "a path, or PATH:ENTRY",
     [](Text text, Options& options) {
       options.plugins.push_back(text);
       return !text.empty();
     }},
    {"--config", "NAME=JSON, a namespace's name and a JSON object",
     [](Text text, Options& options) {
       const std::size_t equals = text.find('=');
       if (equals == 0 || equals == std::string::npos) {
         return false;
       }
       const ParsedJson json = ParseJson(text.substr(equals + 1));
       if (!json.Ok() || !json.document.IsObject()) {
         return false;
       }
       options.configs.emplace_back(text.substr(0, equals), JsonText(json.document));
       return true;
     }},
    {"--entry", "a name", [](Text text, Options& options) { return Name(text, options.entry); }},
    {"--data-dir", "a name",
     [](Text text, Options& options) { return Name(text, options.dataDirectory); }},
    {"--services", "a name",
     [](Text text, Options& options) { return Name(text, options.servicesFile); }},
    {"--geoip-db", "a name",
     [](Text text, Options& options) { return Name(text, options.geoIpDatabase); }},
    {"--public-ip", "an address",
     [](Text text, Options& options) {
       options.publicAddress = text;
       return true;
     }},
    {"--core-version", "a version X.Y.Z",
     [](Text text, Options& options) { return ApiVersion::Parse(text, options.coreVersion); }},
    {"--port", "a port number (0 to 65535)",
     [](Text text, Options& options) {
       double port = 0;
       if (!ParseNumber(text, port) || port != std::floor(port) || port > 65535) {
         return false;
       }
       options.port = static_cast<int>(port);
       return true;
     }},
    {"--service-deadline", "a duration such as 250ms or 5s",
     [](Text text, Options& options) {
       return ParseDuration(text, options.serviceDeadline) && options.serviceDeadline.count() > 0;
     }},
    {"--latency", "a duration such as 250ms or 5s",
     [](Text text, Options& options) { return ParseDuration(text, options.faults.latency); }},
    {"--error-rate", "a rate from 0 to 1",
     [](Text text, Options& options) { return ParseRate(text, options.faults.errorRate); }},
    {"--silence-rate", "a rate from 0 to 1",
     [](Text text, Options& options) { return ParseRate(text, options.faults.silenceRate); }},
    {"--duplicate-rate", "a rate from 0 to 1",
     [](Text text, Options& options) { return ParseRate(text, options.faults.duplicateRate); }},
    {"--stray-rate", "a rate from 0 to 1",
     [](Text text, Options& options) { return ParseRate(text, options.faults.strayRate); }},
    {"--max-body", "a size such as 65536, 512KiB or 1MiB",
     [](Text text, Options& options) { return ParseSize(text, options.maxBody); }},
    {"--max-calls", "a number from 1 to 64",
     [](Text text, Options& options) {
       double calls = 0;
       if (!ParseNumber(text, calls) || calls != std::floor(calls) || calls < 1 || calls > 64) {
         return false;
       }
       options.maxCalls = static_cast<std::size_t>(calls);
       return true;
     }},
};

template <typename Flag, std::size_t count>
const Flag* Find(const Flag (&flags)[count], std::string_view name) {
  for (const Flag& flag : flags) {
    if (flag.name == name) {
      return &flag;
    }
  }
  return nullptr;
}

}  // namespace

std::optional<Options> ParseOptions(int argc, const char* const* argv, std::string& error) {
  Options options;
  for (int index = 0; index < argc; ++index) {
    const std::string flag = argv[index];
    if (const SwitchFlag* found = Find(kSwitchFlags, flag); found != nullptr) {
      options.*found->setting = found->value;
      continue;
    }
    const ValuedFlag* valued = Find(kValuedFlags, flag);
    if (valued == nullptr) {
      error = "unknown option " + flag + " (see --help)";
      return std::nullopt;
    }
    if (index + 1 >= argc) {
      error = flag + " needs a value";
      return std::nullopt;
    }
    const std::string text = argv[++index];
    if (!valued->read(text, options)) {
      error = flag + ": \"" + text + "\" is not " + valued->what;
      return std::nullopt;
    }
  }
  if (!options.entry.empty() && options.plugins.size() > 1) {
    error = "--entry names the entry of one plugin; give each of several as --plugin PATH:ENTRY";
    return std::nullopt;
  }
  return options;
}

}  // namespace VexaHost
