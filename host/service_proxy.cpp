#include "service_proxy.h"

#include <array>
#include <exception>

#include "json.h"
#include "log.h"

namespace VexaHost {
namespace {

constexpr std::string_view kGeoService = "contenttargeting.geoinfo";
constexpr std::string_view kWhereAmI = "getWhereAmI";

constexpr const char* kUuidEvent = "OnServiceProxyUuidEvent";
constexpr const char* kMethodEvent = "OnServiceProxyMethodEvent";

// An injected fault recurs with every request it hits: the log says so once (host/log.h).
constexpr std::string_view kLoggedOnce = "; the next ones are not logged until the faults change";

// The answers' status texts, read as HTTP statuses.
constexpr const char* kOk = "200";
constexpr const char* kBadPayload = "400";
constexpr const char* kNotFound = "404";
constexpr const char* kFailed = "500";
constexpr const char* kTimedOut = "504";

// What the service says, before it is addressed to the request.
struct Reply {
  std::string status;
  std::string payload;  // JSON text on success, empty otherwise
  std::string error;    // empty on success
};

Reply Failure(const char* status, std::string error) {
  return {status, {}, std::move(error)};
}

// A random (version 4) uuid in its usual lower-case text form.
std::string NewUuid(std::mt19937_64& random) {
  std::array<uint8_t, 16> bytes{};
  const uint64_t halves[2] = {random(), random()};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<uint8_t>(halves[i / 8] >> (56 - 8 * (i % 8)));
  }
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0f) | 0x40);  // version 4
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3f) | 0x80);  // RFC 4122 variant
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) {
      text += '-';
    }
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0f];
  }
  return text;
}

// The service behind the proxy: contenttargeting.geoinfo.getWhereAmI.
Reply Serve(const ServiceProxyCall& call, GeoLocator& locator, const std::string& publicAddress) {
  if (call.service != kGeoService) {
    return Failure(kNotFound, "unknown service " + JsonQuoted(call.service));
  }
  if (call.method != kWhereAmI) {
    return Failure(kNotFound, call.service + " has no method " + JsonQuoted(call.method));
  }
  const std::string name = call.service + "." + call.method;
  const ParsedJson request = ParseJson(call.payload);
  std::string why = request.error;
  std::string address;
  if (why.empty() && !request.document.IsObject()) {
    why = "not a JSON object";
  } else if (why.empty()) {
    const auto member = request.document.FindMember("ipAddress");
    if (member != request.document.MemberEnd() && !member->value.IsString()) {
      why = "ipAddress is not a string";
    } else if (member != request.document.MemberEnd()) {
      address.assign(member->value.GetString(), member->value.GetStringLength());
    }
  }
  if (!why.empty()) {
    return Failure(kBadPayload, name + ": payload is not a WhereAmIRequest: " + why);
  }
  if (address.empty()) {
    address = publicAddress;
  }
  std::string error;
  const std::optional<GeoLocation> location = locator.Locate(address, error);
  if (!location) {
    return Failure(kNotFound, name + ": " + error);
  }
  return {kOk,
          "{\"country\":" + JsonQuoted(location->country) + ",\"city\":" +
              JsonQuoted(location->city) + ",\"region\":" + JsonQuoted(location->region) + "}",
          {}};
}

// The reply addressed to the request: a uuid request is answered by its uuid, a method request
// by its reply method, so that the plugin's response key (uuid, or service.method of the
// event) is the request key that Submit returned.
ServiceProxyAnswer Address(const ServiceProxyCall& call, const std::string& key, const Reply& reply,
                           Clock::time_point due) {
  const bool uuidRequest = call.replyMethod.empty();
  std::string response =
      "{\"uuid\":" + JsonQuoted(uuidRequest ? key : std::string()) +
      ",\"serviceName\":" + JsonQuoted(call.service) +
      ",\"methodName\":" + JsonQuoted(uuidRequest ? call.method : call.replyMethod) +
      ",\"payload\":" + JsonQuoted(reply.payload) + ",\"status\":" + JsonQuoted(reply.status) +
      ",\"error\":" + JsonQuoted(reply.error) + "}";
  return {uuidRequest ? kUuidEvent : kMethodEvent, std::move(response), due};
}

}  // namespace

ServiceProxy::ServiceProxy(std::unique_ptr<GeoLocator> locator, std::string publicAddress,
                           std::chrono::milliseconds deadline, ServiceFaults faults,
                           Schedule schedule)
    : locator_(std::move(locator)),
      publicAddress_(std::move(publicAddress)),
      deadline_(deadline),
      schedule_(std::move(schedule)),
      faults_(faults) {
  std::random_device device;
  std::seed_seq seed{device(), device(), device(), device()};
  random_.seed(seed);
}

std::string ServiceProxy::Submit(const ServiceProxyCall& call) {
  const Clock::time_point now = Clock::now();
  const bool uuidRequest = call.replyMethod.empty();
  std::string key;
  try {
    bool silenced = false, failed = false, duplicated = false;
    std::string strayUuid;  // empty: no stray answer
    std::chrono::milliseconds latency{0};
    {
      const std::lock_guard lock(mutex_);
      std::uniform_real_distribution<double> share(0.0, 1.0);
      silenced = share(random_) < faults_.silenceRate;
      failed = share(random_) < faults_.errorRate;
      duplicated = share(random_) < faults_.duplicateRate;
      if (share(random_) < faults_.strayRate) {
        strayUuid = NewUuid(random_);
      }
      latency = faults_.latency;
      key = uuidRequest ? NewUuid(random_) : call.service + "." + call.replyMethod;
    }
    const std::string name = call.service + "." + call.method;
    const std::optional<DeclaredAnswer> declared =
        declared_.Answer(call.service, call.method, call.payload);
    latency += declared ? declared->latency : std::chrono::milliseconds(0);
    const auto injected = [&](std::string_view kind, const std::string& what) {
      faultLog_.Report(kind, "service proxy: " + name + ": " + what + std::string(kLoggedOnce));
    };
    Reply reply;
    Clock::time_point due = now + latency;
    if (silenced || latency >= deadline_) {
      // The plugin waits without a time limit, so the proxy answers for the service.
      const std::string late = "no answer within " + std::to_string(deadline_.count()) + " ms";
      reply = Failure(kTimedOut, name + ": " + late);
      due = now + deadline_;
      injected("deadline", late + ", answered at the deadline (status 504)");
    } else if (failed) {
      reply = Failure(kFailed, name + ": injected error");
      injected("error", "injected error (status 500)");
    } else if (declared) {
      reply = {declared->status, declared->payload, declared->error};
    } else {
      reply = Serve(call, *locator_, publicAddress_);
    }
    if (!strayUuid.empty()) {
      ServiceProxyCall stray = call;
      stray.replyMethod.clear();  // addressed as a uuid answer
      schedule_(Address(stray, strayUuid, reply, now));
      injected("stray", "answered a uuid nobody asked for as well");
    }
    ServiceProxyAnswer answer = Address(call, key, reply, due);
    if (duplicated) {
      schedule_(answer);
      injected("duplicate", "answered twice");
    }
    schedule_(std::move(answer));
  } catch (const std::exception& error) {
    // Whatever went wrong, the request still gets its answer.
    try {
      const std::string name = call.service + "." + call.method;
      schedule_(Address(call, key, Failure(kFailed, name + ": " + error.what()), now));
    } catch (const std::exception& again) {
      HostLog(LogLevel::Error,
              std::string("service proxy: a request stays unanswered: ") + again.what());
    }
  }
  return key;
}

void ServiceProxy::SetFaults(const ServiceFaults& faults) {
  const std::lock_guard lock(mutex_);
  faults_ = faults;
  faultLog_.Clear();
}

ServiceFaults ServiceProxy::Faults() const {
  const std::lock_guard lock(mutex_);
  return faults_;
}

}  // namespace VexaHost
