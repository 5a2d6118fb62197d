// The GeoInfo module: where the signed-in user is.
//
//   Vexa::LoadModule<Vexa::Client::Api::GeoInfoModule>(record, "kor-geoinfo");  //
//   geoinfo/entry.cpp
//   // The host then starts it and calls GET /kor-geoinfo/v1/whereami and
//   // GET /kor-geoinfo/v1/getlocation?ip_address=... through the API table.
//
// The module watches the platform configuration namespace "GeoInfo" (its Enabled flag) and the
// login session. Once the feature is enabled and a session has succeeded it asks the remote
// service "contenttargeting.geoinfo" (method "getWhereAmI") through the host's service proxy,
// publishes the answer as the resource /kor-geoinfo/v1/whereami (at most once per login
// session, whatever its outcome: only a session Delete clears that), keeps the last location
// the service gave in the host's settings store and falls back to it when the service fails.
//
// Failures: remote failures never reach the whereami front end as errors; they become the
// stored location (isLatest false) or the response's errorMessage. getlocation answers 503
// when the feature is disabled and 404 with the failure's message when the service fails. A
// failed save is only traced. Every step is traced (muted unless the host unmutes "XTR").
//
// Threading: none of its own, and no lock. The host calls endpoints and delivers events as one
// sequence, one call at a time; while GetLocation awaits the remote answer the host runs
// (yields), so events, and so the handlers below, may run inside a WhereAmI that is still
// waiting.
#pragma once

#include <string>

#include "dispatch/endpoint_answer.h"
#include "geoinfo/records.h"
#include "runtime/app_module.h"
#include "runtime/records.h"

namespace Vexa::Client::Api {

class GeoInfoModule final : public Vexa::AppModule {
 public:
  GeoInfoModule() = default;
  ~GeoInfoModule() override = default;

  // GET /kor-geoinfo/v1/whereami: the user's location, always a success (the response's
  // `success` carries the outcome). Saves a location the service gave; publishes the resource
  // when enabled, logged in and not yet published in this session.
  GeoInfoResponse WhereAmI();
  // GET /kor-geoinfo/v1/getlocation: the location of `ipAddress` (the user's own when empty)
  // from the remote service; 503 when disabled, 404 with the failure's message otherwise.
  EndpointAnswer<GeoInfo> GetLocation(const std::string& ipAddress);
  // PATCHes the saved location document; a failure is only traced.
  void SaveLastKnownLocation(const GeoInfo& geoInfo);
  // The saved location, or 404: the store's failure message ("Not found" when empty), or "Data
  // retrieved is empty" when the document has no "data" object.
  EndpointAnswer<GeoInfo> LoadLastKnownLocation();

  // Resource handlers (observed at Start).
  void OnConfigChanged(const PluginResourceEventOf<GeoInfoConfig>& event);
  void OnLoginSessionChanged(const PluginResourceEventOf<LoginSession>& event);

  [[nodiscard]] bool IsLoggedIn() const { return loggedIn_; }
  [[nodiscard]] bool IsEnabled() const { return enabled_; }
  [[nodiscard]] bool IsPublished() const { return published_; }
  [[nodiscard]] const GeoInfoResponse& LastPublished() const { return lastPublished_; }

  // Registers the records, then declares both endpoints with the API tags.
  void OnDeclare() override;
  // Observes the configuration, then the login session; true.
  bool OnStart() override;
  void OnStop() override;

 private:
  // Sends the whereami resource event of `response` (Create), or traces why it cannot.
  void Publish(const GeoInfoResponse& response);

  bool loggedIn_ = false;   // the last session event said SUCCEEDED with both ids non-zero
  bool enabled_ = false;    // Enabled of the last configuration event
  bool published_ = false;  // the resource has been published in this session
  GeoInfoResponse lastPublished_;
};

}  // namespace Vexa::Client::Api
