// kor_watch: a test plugin for the host's several-plugin tests. It observes the resources
// named below, its own configuration namespace among them, and answers what it heard at
// GET /kor-watch/v1/heard as "Create /kor-geoinfo/v1/whereami" lines, oldest first. At
// GET /kor-watch/v1/relay?uri=... it requests GET uri of the host and answers what came back:
// the value, or the failure with its status. Built as kor_relay (entry load_kor_relay), it is a
// module that only relays, at GET /kor-relay/v1/relay, for requests from plugin to plugin and
// back.
#include <string>
#include <vector>

#include "dispatch/endpoint_answer.h"
#include "dispatch/endpoint_declaration.h"
#include "runtime/app_module.h"
#include "runtime/entry.h"
#include "vexa/host_contract.h"

namespace {

constexpr const char* kObserved[] = {"/kor-geoinfo/v1/whereami",
                                     "/kor-platform-config/v1/namespaces/Watch"};

Vexa::EndpointAnswer<Vexa::BindingProperty> RelayRequest(Vexa::HostCalls& host,
                                                         const std::string& uri) {
  Vexa::Maybe<Vexa::BindingProperty> answer =
      Vexa::Request<Vexa::BindingProperty>(host, Vexa::HttpMethod::Get, uri);
  if (!answer) {
    return Vexa::EndpointAnswer<Vexa::BindingProperty>::Error(
        static_cast<uint32_t>(answer.Error().code), answer.Error().Message());
  }
  return std::move(answer.Value());
}

// A module that relays at GET `relayUri`?uri=...
class RelayModule : public Vexa::AppModule {
 public:
  explicit RelayModule(const char* relayUri = "/kor-relay/v1/relay") : relayUri_(relayUri) {}

  Vexa::EndpointAnswer<Vexa::BindingProperty> Relay(const std::string& uri) {
    return RelayRequest(Host(), uri);
  }

 protected:
  void OnDeclare() override {
    Vexa::DeclareEndpoint(Dispatcher(), Registry(), Vexa::HttpMethod::Get, relayUri_,
                          &RelayModule::Relay, this)
        .Tags(ApiTags())
        .Query("uri");
  }

 private:
  const char* relayUri_;
};

class WatchModule final : public RelayModule {
 public:
  WatchModule() : RelayModule("/kor-watch/v1/relay") {}

  std::vector<std::string> Heard() { return heard_; }

 protected:
  void OnDeclare() override {
    Vexa::DeclareEndpoint(Dispatcher(), Registry(), Vexa::HttpMethod::Get, "/kor-watch/v1/heard",
                          &WatchModule::Heard, this)
        .Tags(ApiTags());
    RelayModule::OnDeclare();
  }

  bool OnStart() override {
    static const char* const kTypes[] = {"Create", "Update", "Delete"};
    for (const char* uri : kObserved) {
      Events().AddResourceHandler(uri, [this](const Vexa::PluginResourceEvent& event) {
        heard_.push_back(std::string(kTypes[static_cast<int>(event.eventType) % 3]) + " " +
                         event.uri);
      });
      Events().Subscribe(uri);
    }
    return true;
  }

 private:
  std::vector<std::string> heard_;
};

}  // namespace

extern "C" VEXA_PLUGIN_EXPORT void VEXA_HOST_CALL load_kor_watch(HostLoadRecord* record) {
  Vexa::LoadModule<WatchModule>(record, "kor-watch");
}

extern "C" VEXA_PLUGIN_EXPORT void VEXA_HOST_CALL load_kor_relay(HostLoadRecord* record) {
  Vexa::LoadModule<RelayModule>(record, "kor-relay");
}
