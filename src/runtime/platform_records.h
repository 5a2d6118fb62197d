// The platform's records that every plugin reads: the host's login session (its state enum and
// record) and the configuration namespaces. The runtime registers the session records once for
// every module (AppModule's declarations, after its Declare hook), under the module's API name
// and tags, so a plugin observes them without registering anything:
//
//   ObserveResource<Vexa::Client::Api::LoginSession>(Vexa::kLoginSessionUri,
//       [this](const Vexa::PluginResourceEventOf<Vexa::Client::Api::LoginSession>& e) { ... });
//   ObserveConfiguration<NotesConfig>("Notes",     // /kor-platform-config/v1/namespaces/Notes
//       [this](const Vexa::PluginResourceEventOf<NotesConfig>& e) { ... });
//
// A configuration namespace holds what its owner puts there, so its record is the plugin's own
// (a struct with the namespace's fields, spelled as the platform spells them, registered in the
// plugin's Declare hook); what is shared is where it lives (ConfigurationNamespaceUri) and how
// it is observed (AppModule::ObserveConfiguration).
//
// A module whose own records hold a LoginSession calls RegisterLoginSessionRecords in its
// Declare hook before registering them; the runtime's registration then changes nothing.
//
// The session records keep the type texts of the platform's client API
// ("struct Vexa::Client::Api::LoginSession"), which hosts and conversion messages show, and so
// live in that namespace.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "binding/registry.h"
#include "binding/static_type.h"

namespace Vexa {

// The host's login session resource.
inline constexpr const char kLoginSessionUri[] = "/kor-login/v1/session";
// Where the platform keeps configuration namespace `name`: the prefix followed by the name.
inline constexpr const char kConfigurationNamespacesUri[] = "/kor-platform-config/v1/namespaces/";

// "/kor-platform-config/v1/namespaces/" followed by `name`.
[[nodiscard]] std::string ConfigurationNamespaceUri(std::string_view name);

}  // namespace Vexa

namespace Vexa::Client::Api {

// The state of the host's login session. The enumerators are registered under the host's
// spellings (IN_PROGRESS, SUCCEEDED, LOGGING_OUT, ERROR); the C++ names avoid ERROR, which some
// platform headers define as a macro.
enum class LoginSessionState : int32_t {
  InProgress = 0,
  Succeeded = 1,
  LoggingOut = 2,
  Error = 3,
};
VEXA_STATIC_TYPE(LoginSessionState, "enum Vexa::Client::Api::LoginSessionState");

// The part of the host's login session resource that plugins read. A session is signed in when
// its state is Succeeded and both numbers are set.
struct LoginSession {
  LoginSessionState state = LoginSessionState::InProgress;
  uint64_t profileId = 0;
  uint64_t accountId = 0;
};
VEXA_STATIC_TYPE(LoginSession, "struct Vexa::Client::Api::LoginSession");

// Registers LoginSessionState and then LoginSession, each under `apiName` followed by its own
// name ("LoginSessionState", "LoginSession"), with `apiTags`, the enumerators in the order
// IN_PROGRESS, ERROR, SUCCEEDED, LOGGING_OUT and the fields in order. A name already registered
// keeps its first registration (the registry's rule).
void RegisterLoginSessionRecords(BindingRegistry& registry, std::string_view apiName,
                                 std::span<const std::string> apiTags);

}  // namespace Vexa::Client::Api
