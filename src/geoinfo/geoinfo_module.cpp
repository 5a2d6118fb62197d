#include "geoinfo/geoinfo_module.h"

#include <utility>

#include "binding/conversion/conversion.h"
#include "binding/static_type.h"
#include "diagnostics/log.h"
#include "dispatch/endpoint_declaration.h"
#include "dispatch/http_call.h"
#include "geoinfo/messages.h"
#include "runtime/messages.h"
#include "value/property.h"
#include "value/result.h"

namespace Vexa::Client::Api {
namespace {

// The saved location document: {"schemaVersion": 1, "data": {"country", "city", "region"}}.
BindingProperty SavedLocationDocument(const GeoInfo& geoInfo) {
  BindingProperty document;
  document.MakeStructure();
  document.Member(kSchemaVersionKey) = kSchemaVersion;
  BindingProperty& data = document.Member(kDataKey);
  data.MakeStructure();
  data.Member(kCountryKey) = geoInfo.country;
  data.Member(kCityKey) = geoInfo.city;
  data.Member(kRegionKey) = geoInfo.region;
  return document;
}

}  // namespace

void GeoInfoModule::OnDeclare() {
  RegisterGeoInfoRecords(Registry(), ApiName(), ApiTags());
  DeclareEndpoint(Dispatcher(), Registry(), HttpMethod::Get, kWhereAmIUri, &GeoInfoModule::WhereAmI,
                  this)
      .Tags(ApiTags());
  DeclareEndpoint(Dispatcher(), Registry(), HttpMethod::Get, kGetLocationUri,
                  &GeoInfoModule::GetLocation, this)
      .Tags(ApiTags())
      .Query(kIpAddressArgument);
}

bool GeoInfoModule::OnStart() {
  ObserveConfiguration<GeoInfoConfig>(
      kConfigNamespace,
      [this](const PluginResourceEventOf<GeoInfoConfig>& event) { OnConfigChanged(event); });
  ObserveResource<LoginSession>(
      kLoginSessionUri,
      [this](const PluginResourceEventOf<LoginSession>& event) { OnLoginSessionChanged(event); });
  return true;
}

void GeoInfoModule::OnStop() {
  AppModule::OnStop();
}

EndpointAnswer<GeoInfo> GeoInfoModule::GetLocation(const std::string& ipAddress) {
  if (!enabled_) {
    return EndpointAnswer<GeoInfo>::Error(kNotEnabledStatus, kNotEnabledMessage);
  }
  Trace(kSendingRequestTrace, ipAddress.c_str());
  Maybe<WhereAmIResponse> answer =
      ServiceProxy<WhereAmIResponse>(kGeoInfoService, kWhereAmIMethod, WhereAmIRequest{ipAddress});
  if (!answer) {
    const Failure& failure = answer.Error();
    Trace(kWhereAmIFailedTrace, static_cast<int>(failure.code), failure.Message());
    return EndpointAnswer<GeoInfo>::NotFound(failure);
  }
  WhereAmIResponse& found = answer.Value();
  GeoInfo location{std::move(found.country), std::move(found.city), std::move(found.region)};
  Trace(kRetrievedTrace, location.country.c_str(), location.city.c_str(), location.region.c_str());
  return location;
}

GeoInfoResponse GeoInfoModule::WhereAmI() {
  GeoInfoResponse response;
  // Whether the feature was enabled when the location was asked for. Events delivered while
  // the remote answer is awaited may change enabled_; the answer is read the way it was asked.
  const bool enabled = enabled_;
  EndpointAnswer<GeoInfo> location = GetLocation({});
  response.success = location.Ok();
  if (!enabled) {
    response.errorMessage = std::move(location.message);
  } else if (location.Ok()) {
    response.geoInfo = std::move(location.value);
    response.isLatest = true;
    SaveLastKnownLocation(response.geoInfo);
  } else {
    EndpointAnswer<GeoInfo> saved = LoadLastKnownLocation();
    if (saved.Ok()) {
      response.geoInfo = std::move(saved.value);
      response.isLatest = false;
      response.success = true;
    } else {
      response.errorMessage = std::move(saved.message);
    }
  }
  if (enabled_ && loggedIn_ && !published_) {
    Publish(response);
  }
  return response;
}

void GeoInfoModule::Publish(const GeoInfoResponse& response) {
  // Marked first: sending calls into the host, which may deliver events (and so run WhereAmI)
  // before it returns, and a session publishes once.
  published_ = true;
  lastPublished_ = response;
  BindingResult value = ToValue(lastPublished_, Registry());
  if (!value) {
    Trace(kConvertResourceTrace, FullName().c_str(), StaticType::Name<GeoInfoResponse>(),
          kWhereAmIUri);
    return;
  }
  // A host that cannot take the event has nothing to give back; the runtime traces the send.
  static_cast<void>(SendEvent(
      kJsonApiEventName,
      PluginResourceEvent{kWhereAmIUri, PluginResourceEventType::Create, std::move(value.value)}));
}

void GeoInfoModule::SaveLastKnownLocation(const GeoInfo& geoInfo) {
  const BindingProperty document = SavedLocationDocument(geoInfo);
  Trace(kSaveWritingTrace, geoInfo.country.c_str(), geoInfo.city.c_str(), geoInfo.region.c_str());
  const Maybe<void> saved = Request<void>(HttpMethod::Patch, kSettingsUri, document);
  if (!saved) {
    Trace(kSaveFailedTrace, static_cast<int>(saved.Error().code), saved.Error().Message());
  }
}

EndpointAnswer<GeoInfo> GeoInfoModule::LoadLastKnownLocation() {
  const Maybe<BindingProperty> stored = Request<BindingProperty>(HttpMethod::Get, kSettingsUri);
  if (!stored) {
    const Failure& failure = stored.Error();
    Trace(kLoadFailedTrace, static_cast<int>(failure.code), failure.Message());
    return EndpointAnswer<GeoInfo>::NotFound(failure);
  }
  // A document that is no object, has no "data", or whose "data" is null or anything but an
  // object holds no location.
  const BindingProperty& data = stored.Value().Member(kDataKey);
  if (data.Kind() != BindingPropertyKind::Structure) {
    return EndpointAnswer<GeoInfo>::NotFound(kDataEmptyMessage);
  }
  GeoInfo location{std::string(data.Member(kCountryKey).GetString()),
                   std::string(data.Member(kCityKey).GetString()),
                   std::string(data.Member(kRegionKey).GetString())};
  Trace(kLoadRetrievedTrace, location.country.c_str(), location.city.c_str(),
        location.region.c_str());
  return location;
}

void GeoInfoModule::OnConfigChanged(const PluginResourceEventOf<GeoInfoConfig>& event) {
  enabled_ = event.data.Enabled;
  static_cast<void>(WhereAmI());
}

void GeoInfoModule::OnLoginSessionChanged(const PluginResourceEventOf<LoginSession>& event) {
  switch (event.eventType) {
    case PluginResourceEventType::Create:
    case PluginResourceEventType::Update: {
      const bool wasLoggedIn = loggedIn_;
      const LoginSession& session = event.data;
      loggedIn_ = session.state == LoginSessionState::Succeeded && session.accountId != 0 &&
                  session.profileId != 0;
      if (!wasLoggedIn && loggedIn_) {
        static_cast<void>(WhereAmI());
      }
      break;
    }
    case PluginResourceEventType::Delete:
      loggedIn_ = false;
      lastPublished_ = GeoInfoResponse{};
      published_ = false;
      static_cast<void>(SendEvent(
          kJsonApiEventName,
          PluginResourceEvent{kWhereAmIUri, PluginResourceEventType::Delete, BindingProperty{}}));
      break;
    default:
      break;
  }
}

}  // namespace Vexa::Client::Api
