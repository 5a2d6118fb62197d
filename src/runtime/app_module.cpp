#include "runtime/app_module.h"

#include "binding/field_registration.h"
#include "bridge/host_value.h"
#include "diagnostics/log_manager.h"
#include "dispatch/route_pattern.h"
#include "runtime/entry.h"
#include "runtime/plugin_log_target.h"
#include "runtime/telemetry.h"

namespace Vexa {

AppModule::AppModule() {
  registry_.Initialize();
}

AppModule::~AppModule() = default;

// --- Virtual operations ---

void AppModule::Subscribe(std::string_view uri) {
  events_.Subscribe(uri);
}

void AppModule::Unsubscribe(std::string_view uri) {
  events_.Unsubscribe(uri);
}

void AppModule::OnStop() {
  events_.UnsubscribeAll();
  serviceProxy_.Clear();
}

namespace {

// Calls one entry of the host's table with the table first, unless the host offers no table or
// no such entry: then nothing is called and the answer is false.
template <auto Entry, typename... Arguments>
bool CallEntry(const HostApiTable* api, Arguments... arguments) {
  if (api == nullptr || api->*Entry == nullptr) {
    return false;
  }
  (api->*Entry)(api, arguments...);
  return true;
}

}  // namespace

bool AppModule::CallHostRequest(HostResponse& response, const HostRequest& request) {
  return CallEntry<&HostApiTable::request>(Api(), &response, &request);
}

bool AppModule::CallHostReserved2(uintptr_t first, uintptr_t second) {
  return CallEntry<&HostApiTable::reserved2>(Api(), first, second);
}

bool AppModule::CallHostSendEvent(const HostEvent& event) {
  return CallEntry<&HostApiTable::sendEvent>(Api(), &event);
}

bool AppModule::CallHostSubscribe(const char* eventName, HostHandle handle,
                                  HostEventCallback callback, void* context, uint32_t flags) {
  return CallEntry<&HostApiTable::subscribe>(Api(), eventName, handle, callback, context, flags);
}

bool AppModule::CallHostUnsubscribe(const char* eventName, HostHandle handle) {
  return CallEntry<&HostApiTable::unsubscribe>(Api(), eventName, handle);
}

bool AppModule::CallHostReserved6(uintptr_t first, uintptr_t second, uintptr_t third, double value,
                                  uintptr_t fourth) {
  return CallEntry<&HostApiTable::reserved6>(Api(), first, second, third, value, fourth);
}

bool AppModule::CallHostYield() {
  return CallEntry<&HostApiTable::yield>(Api());
}

bool AppModule::CallHostWaitBegin(const char* label, uintptr_t reserved) {
  return CallEntry<&HostApiTable::waitBegin>(Api(), label, reserved);
}

bool AppModule::CallHostWaitEnd() {
  return CallEntry<&HostApiTable::waitEnd>(Api());
}

void AppModule::OnDeclare() {}

bool AppModule::OnStart() {
  return true;
}

bool AppModule::CallHostLog(int32_t level, const char* message) {
  return CallEntry<&HostApiTable::log>(Api(), level, message);
}

// --- Lifecycle ---

void AppModule::Register(HostLoadRecord& record, std::string_view shortName,
                         std::string_view type) {
  const PluginApiVersion core{record.apiMajor, record.apiMinor, record.apiPatch, {}, {}};
  if (!IsCompatible(core, kPluginApiVersion)) {
    const std::string description = IncompatibleVersionText(shortName, kPluginApiVersion, core);
    FatalError(kIncompatibleVersionIdentifier, description.c_str());
  }
  coreVersion_ = core;
  identity_ = PluginIdentity{
      FullNameFromShortNameAndType(shortName, type), std::string(shortName), std::string(type), {}};
  apiTags_ = {kPluginsTag, kPluginTagPrefix + identity_.fullName};
  apiName_ = OperationName("", identity_.fullName);
  DeclareRuntime();
  OnDeclare();
  apiTable_.Build(dispatcher_, registry_);

  record.apiMajor = kPluginApiVersion.major;
  record.apiMinor = kPluginApiVersion.minor;
  record.apiPatch = kPluginApiVersion.patch;
  record.callbacks = &ModuleCallbacks();
  record.module = this;
  record.fullName = identity_.fullName.c_str();
  record.endpoints = &apiTable_.Table();
}

// The runtime's own records, enums and events, each under its plain name with the one tag
// "vclient", in the order a host's description lists them.
void AppModule::DeclareRuntime() {
  RegisterEnum<PluginManagerState>(registry_, "PluginManagerState")
      .Value("NotReady", PluginManagerState::NotReady)
      .Value("PluginsInitialized", PluginManagerState::PluginsInitialized)
      .AddTag(kRuntimeTag);
  RegisterRecord<PluginManagerResource>(registry_, "PluginManagerResource")
      .Field("state", &PluginManagerResource::state)
      .AddTag(kRuntimeTag);
  RegisterEnum<PluginResourceEventType>(registry_, "PluginResourceEventType")
      .Value("Create", PluginResourceEventType::Create)
      .Value("Update", PluginResourceEventType::Update)
      .Value("Delete", PluginResourceEventType::Delete)
      .AddTag(kRuntimeTag);
  RegisterRecord<PluginResourceEvent>(registry_, "PluginResourceEvent")
      .Field("uri", &PluginResourceEvent::uri)
      .Field("eventType", &PluginResourceEvent::eventType)
      .Field("data", &PluginResourceEvent::data)
      .AddTag(kRuntimeTag);
  RegisterRecord<PluginLcdsEvent>(registry_, "PluginLcdsEvent")
      .Field("clientId", &PluginLcdsEvent::clientId)
      .Field("subtopic", &PluginLcdsEvent::subtopic)
      .Field("typeName", &PluginLcdsEvent::typeName)
      .Field("body", &PluginLcdsEvent::body)
      .AddTag(kRuntimeTag);
  RegisterRecord<PluginLcdsResponse>(registry_, "PluginLcdsResponse")
      .Field("typeName", &PluginLcdsResponse::typeName)
      .Field("body", &PluginLcdsResponse::body)
      .AddTag(kRuntimeTag);
  RegisterRecord<PluginServiceProxyResponse>(registry_, "PluginServiceProxyResponse")
      .Field("uuid", &PluginServiceProxyResponse::uuid)
      .Field("serviceName", &PluginServiceProxyResponse::serviceName)
      .Field("methodName", &PluginServiceProxyResponse::methodName)
      .Field("payload", &PluginServiceProxyResponse::payload)
      .Field("status", &PluginServiceProxyResponse::status)
      .Field("error", &PluginServiceProxyResponse::error)
      .AddTag(kRuntimeTag);

  const auto declareEvent = [&](const char* name, const BindingTypeDescriptor* payload,
                                const char* help) {
    registry_.RegisterEvent(name, payload).AddTag(kRuntimeTag).SetDescription(help);
  };
  const BindingTypeDescriptor* resourceEvent = registry_.FindType("PluginResourceEvent");
  const BindingTypeDescriptor* proxyResponse = registry_.FindType("PluginServiceProxyResponse");
  declareEvent(kJsonApiEventName, resourceEvent, kJsonApiEventHelp);
  declareEvent(kLcdsEventName, registry_.FindType("PluginLcdsEvent"), kLcdsEventHelp);
  declareEvent(kServiceProxyUuidEventName, proxyResponse, kUuidEventHelp);
  declareEvent(kServiceProxyMethodEventName, proxyResponse, kMethodEventHelp);
  declareEvent(kServiceProxyAsyncEventName, proxyResponse, kAsyncEventHelp);
}

bool AppModule::Start(const HostContext* context) {
  if (context == nullptr || context->api == nullptr) {
    return false;
  }
  context_ = context;
  AttachLogTarget();
  userAgent_ = Format(kUserAgentTemplate, coreVersion_, identity_.fullName);
  handle_ = context->handle;
  telemetry_ = std::make_unique<TelemetrySink>(*this);
  RegisterEventHandler<PluginServiceProxyResponse>(
      kServiceProxyUuidEventName,
      [this](const PluginServiceProxyResponse& response) {
        serviceProxy_.OnUuidResponse(response);
      },
      1);
  RegisterEventHandler<PluginServiceProxyResponse>(
      kServiceProxyMethodEventName,
      [this](const PluginServiceProxyResponse& response) {
        serviceProxy_.OnMethodResponse(response);
      },
      1);
  RegisterEventHandler<PluginServiceProxyResponse>(
      kServiceProxyAsyncEventName,
      [this](const PluginServiceProxyResponse& response) {
        serviceProxy_.OnAsyncResponse(response);
      },
      1);
  return OnStart();
}

// Under a host the log has one destination, the host (see runtime/plugin_log_target.h). A
// process that already hands its log to a plugin target keeps that one.
void AppModule::AttachLogTarget() {
  LogManager* manager = LogManager::Obtain();
  if (manager == nullptr || manager->FindTarget(kPluginLogTargetName) != nullptr) {
    return;
  }
  logTarget_.reset();
  logTarget_ = std::make_unique<PluginLogTarget>(*this);
}

void AppModule::BeginStop() {
  stopping_ = true;
  OnStop();
}

// --- Waiting ---

void AppModule::Yield() {
  CallHostWaitBegin(kWaitYieldLabel, 0);
  CallHostYield();
  CallHostWaitEnd();
}

void AppModule::BrokenFuture(const std::future_error& error) {
  const std::string description =
      Format(kBrokenFutureMessage, error.code().value(), error.code().message());
  FatalError(kBrokenFutureIdentifier, description.c_str());
}

// --- Events ---

Maybe<void> AppModule::SendEventValue(std::string_view baseName, std::string_view uri,
                                      const BindingProperty& value, uint32_t flags) {
  const std::string name = EventNameForUri(uri);
  Trace(kSendingEventTrace, identity_.fullName.c_str(), name.c_str());
  HostEvent event{};
  if (!ToHostValue(value, event.payload, &registry_)) {
    return Failure(0, Format(kEventNotSentMessage, name));
  }
  event.name = name.c_str();
  event.flags = flags;
  const bool sent = CallHostSendEvent(event);
  const std::string base(baseName);
  if (sent && name != base) {
    event.name = base.c_str();
    CallHostSendEvent(event);
  }
  ReleaseHostValue(event.payload);
  if (!sent) {
    return Failure(0, Format(kEventNotSentMessage, name));
  }
  return {};
}

}  // namespace Vexa
