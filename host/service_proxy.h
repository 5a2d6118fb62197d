// The platform's service proxy as the plugin reaches it: a POST names a remote service, a
// method and a JSON payload; the POST answers at once with a key (a fresh uuid, or for a method
// request the service and reply method), and the service's answer comes later as an event
// whose payload is a PluginServiceProxyResponse:
//
//   {"uuid":"…","serviceName":"contenttargeting.geoinfo","methodName":"getWhereAmI",
//    "payload":"{\"country\":\"DE\",\"city\":\"\",\"region\":\"\"}","status":"200","error":""}
//
// The service behind it is "contenttargeting.geoinfo" with the method "getWhereAmI": its
// payload {"ipAddress": "…"} is looked up in the GeoIP data; an empty address means the
// caller's public address. Services declared in a file (declared_services.h) answer besides it,
// and before it: a declared "contenttargeting.geoinfo" stands in for the GeoIP one. Their
// latency adds to the injected one, and the faults apply to them as to any. Unknown services and
// methods, payloads that are not such a record and addresses without a location answer with `error`
// set. Every request is answered: a silent or slow service turns into an `error` answer once the
// deadline has passed.
//
// Faults, settable at any time: a share of requests answered with an error, latency added to
// every answer, a share of requests the service never answers (so the deadline answers them), a
// share answered twice (the same answer delivered again) and a share whose answer goes also to a
// uuid nobody asked for (a stray answer, delivered first, as soon as it is made). The first
// fault of each kind is logged once until the faults are set anew.
//
// Threading: Submit runs on the plugin thread; SetFaults and Faults may be called from any
// thread. Answers go to the `Schedule` function given at construction, on the submitting
// thread, with the time they are due.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>

#include "declared_services.h"
#include "geo_locator.h"
#include "log.h"

namespace VexaHost {

using Clock = std::chrono::steady_clock;

struct ServiceFaults {
  double errorRate = 0;                  // 0..1: the share of requests answered with an error
  std::chrono::milliseconds latency{0};  // added before every answer
  double silenceRate = 0;    // 0..1: the share of requests the service leaves unanswered
  double duplicateRate = 0;  // 0..1: the share of requests answered twice
  double strayRate = 0;      // 0..1: the share whose answer goes to a fresh uuid as well
};

// One request, as the plugin's POST carries it.
struct ServiceProxyCall {
  std::string service;
  std::string method;
  std::string payload;      // JSON text
  std::string replyMethod;  // empty for a uuid request
  std::string replyText;    // passed on, unused
};

// An answer to deliver to the plugin at `due`.
struct ServiceProxyAnswer {
  std::string eventName;  // "OnServiceProxyUuidEvent" or "OnServiceProxyMethodEvent"
  std::string response;   // the PluginServiceProxyResponse as JSON text
  Clock::time_point due;
};

class ServiceProxy {
 public:
  using Schedule = std::function<void(ServiceProxyAnswer)>;

  // `locator` (not null) answers getWhereAmI; `publicAddress` stands for an empty ipAddress;
  // `deadline` (positive) bounds every answer's delay.
  ServiceProxy(std::unique_ptr<GeoLocator> locator, std::string publicAddress,
               std::chrono::milliseconds deadline, ServiceFaults faults, Schedule schedule);

  // Schedules the answer of `call` and returns the key that the POST answers: a new uuid for a
  // uuid request, service + "." + reply method for a method request. The answer's status is
  // "200", or with `error` set "400" (bad payload), "404" (unknown service or method, address
  // without a location), "500" (injected error) or "504" (a silenced request, or a latency
  // not below the deadline: answered at the deadline). A duplicated request's answer is
  // scheduled twice; a stray answer, the same reply as a uuid answer to another uuid, before
  // it. Never throws; whatever fails inside still schedules an error answer.
  std::string Submit(const ServiceProxyCall& call);

  // The declared services; before the first Submit.
  void Declare(DeclaredServices services) { declared_ = std::move(services); }
  const DeclaredServices& Declared() const { return declared_; }

  void SetFaults(const ServiceFaults& faults);
  ServiceFaults Faults() const;

  const GeoLocator& Locator() const { return *locator_; }
  const std::string& PublicAddress() const { return publicAddress_; }
  std::chrono::milliseconds Deadline() const { return deadline_; }

 private:
  std::unique_ptr<GeoLocator> locator_;
  std::string publicAddress_;
  std::chrono::milliseconds deadline_;
  Schedule schedule_;
  DeclaredServices declared_;
  mutable std::mutex mutex_;  // guards faults_ and random_
  ServiceFaults faults_;
  std::mt19937_64 random_;
  FaultLog faultLog_;  // the injected faults, each kind logged once until SetFaults
};

}  // namespace VexaHost
