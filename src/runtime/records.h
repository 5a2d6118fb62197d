// The records, enums and events that every plugin's runtime registers (under the tag "vclient")
// and exchanges with the host: resource events, service proxy answers, the plugin manager's
// state and the LCDS messages.
//
//   Vexa::PluginResourceEvent event{"/kor-geoinfo/v1/whereami",
//                                   Vexa::PluginResourceEventType::Create, value};
//   module.SendEvent("OnJsonApiEvent", event);
#pragma once

#include <cstdint>
#include <string>

#include "binding/static_type.h"
#include "value/failure.h"
#include "value/property.h"

namespace Vexa {

enum class PluginManagerState : int32_t { NotReady = 0, PluginsInitialized = 1 };

struct PluginManagerResource {
  PluginManagerState state = PluginManagerState::NotReady;
};

enum class PluginResourceEventType : int32_t { Create = 0, Update = 1, Delete = 2 };

// A change of the resource at `uri`; `data` is the resource's value (empty for Delete).
struct PluginResourceEvent {
  std::string uri;
  PluginResourceEventType eventType = PluginResourceEventType::Create;
  BindingProperty data;
};

// The same with the data already converted to the observer's record.
template <typename T>
struct PluginResourceEventOf {
  std::string uri;
  PluginResourceEventType eventType = PluginResourceEventType::Create;
  T data{};
};

struct PluginLcdsEvent {
  std::string clientId;
  std::string subtopic;
  std::string typeName;
  std::string body;
};

struct PluginLcdsResponse {
  std::string typeName;
  std::string body;
};

// The answer to a service proxy request, or an unsolicited service message. `payload` is JSON
// text; a non-empty `error` marks a failure.
struct PluginServiceProxyResponse {
  std::string uuid;
  std::string serviceName;
  std::string methodName;
  std::string payload;
  std::string status;
  std::string error;
};

// Event names the runtime declares and handles.
inline constexpr const char kJsonApiEventName[] = "OnJsonApiEvent";
inline constexpr const char kLcdsEventName[] = "OnLcdsEvent";
inline constexpr const char kServiceProxyUuidEventName[] = "OnServiceProxyUuidEvent";
inline constexpr const char kServiceProxyMethodEventName[] = "OnServiceProxyMethodEvent";
inline constexpr const char kServiceProxyAsyncEventName[] = "OnServiceProxyAsyncEvent";

VEXA_STATIC_TYPE(PluginManagerState, "enum Vexa::PluginManagerState");
VEXA_STATIC_TYPE(PluginManagerResource, "struct Vexa::PluginManagerResource");
VEXA_STATIC_TYPE(PluginResourceEventType, "enum Vexa::PluginResourceEventType");
VEXA_STATIC_TYPE(PluginResourceEvent, "struct Vexa::PluginResourceEvent");
VEXA_STATIC_TYPE(PluginLcdsEvent, "struct Vexa::PluginLcdsEvent");
VEXA_STATIC_TYPE(PluginLcdsResponse, "struct Vexa::PluginLcdsResponse");
VEXA_STATIC_TYPE(PluginServiceProxyResponse, "struct Vexa::PluginServiceProxyResponse");
VEXA_STATIC_TYPE(Failure, "class Vexa::Failure");

namespace StaticTypeDetail {

// MaybeType<Failure, T> is named after T, so that a wait announces what it waits for. Like every
// template text, it closes after a nested template with a blank between the brackets.
template <typename T>
requires kHasText<T>
struct Text<MaybeType<Failure, T>> {
  static constexpr auto value = Join(StaticTypeText("class Vexa::MaybeType<class Vexa::Failure,"),
                                     Text<T>::value, CloseAfter<T>());
};

template <>
struct Text<MaybeType<Failure, void>> {
  static constexpr auto value = StaticTypeText("class Vexa::MaybeType<class Vexa::Failure,void>");
};

}  // namespace StaticTypeDetail

// The name messages and wait labels give T: StaticType::Name's form ("const char *__cdecl
// StaticType::Name<struct X>(void)") for every type with a type text, MaybeType included. A type
// without a type text has no name: not "?", and not "#" and its hash code either, since the
// hash code is taken over the type text. Naming one does not compile; declare its text with
// VEXA_STATIC_TYPE beside it.
template <typename T>
requires StaticType::kHasText<T>
[[nodiscard]] constexpr const char* TypeNameOf() {
  return StaticTypeDetail::kNameText<T>.chars;
}

}  // namespace Vexa
