#include "runtime/app_module.h"

#include "binding/field_registration.h"
#include "diagnostics/assertion.h"
#include "diagnostics/log_manager.h"
#include "dispatch/route_pattern.h"
#include "runtime/messages.h"
#include "runtime/plugin_log_target.h"
#include "runtime/telemetry.h"
#include "util/format.h"

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

Maybe<BindingProperty> AppModule::CallHostRequest(const HostCall& call) {
  return host_.Request(call, &registry_, [this] { Yield(); });
}

bool AppModule::CallHostReserved2(uintptr_t first, uintptr_t second) {
  return host_.Reserved2(first, second);
}

bool AppModule::CallHostSendEvent(std::span<const std::string_view> names,
                                  const BindingProperty& payload, uint32_t flags) {
  return host_.SendEvent(names, payload, flags, &registry_);
}

bool AppModule::CallHostSubscribe(const char* eventName, HostEventReceiver& receiver,
                                  uint32_t flags) {
  return host_.Subscribe(eventName, receiver, flags);
}

bool AppModule::CallHostUnsubscribe(const char* eventName) {
  return host_.Unsubscribe(eventName);
}

bool AppModule::CallHostReserved6(uintptr_t first, uintptr_t second, uintptr_t third, double value,
                                  uintptr_t fourth) {
  return host_.Reserved6(first, second, third, value, fourth);
}

bool AppModule::CallHostYield() {
  // Counted, so that a Stop the host sends while the module waits is refused (bridge/entry.h).
  ++yields_;
  const bool yielded = host_.Yield();
  --yields_;
  return yielded;
}

bool AppModule::CallHostWaitBegin(const char* label, uintptr_t reserved) {
  return host_.WaitBegin(label, reserved);
}

bool AppModule::CallHostWaitEnd() {
  return host_.WaitEnd();
}

void AppModule::OnDeclare() {}

bool AppModule::OnStart() {
  return true;
}

bool AppModule::CallHostLog(int32_t level, const char* message) {
  return host_.Log(level, message);
}

// --- Lifecycle ---

void AppModule::Register(const PluginApiVersion& core, std::string_view shortName,
                         std::string_view type) {
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
  DeclarePlatformRecords();
  apiTable_.Build(dispatcher_, registry_);
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

// After the Declare hook, so that a module places them among its own records where it needs
// them (before a record that holds a LoginSession, say); a registration made there stays, and
// this one then changes nothing.
void AppModule::DeclarePlatformRecords() {
  Client::Api::RegisterLoginSessionRecords(registry_, apiName_, apiTags_);
}

void AppModule::DeclareEventOf(std::string_view name, const BindingTypeDescriptor* payload,
                               std::string_view description) {
  BindingEventBuilder event = registry_.RegisterEvent(name, payload);
  for (const std::string& tag : apiTags_) {
    event.AddTag(tag);
  }
  event.SetDescription(description);
}

bool AppModule::Start(const HostLink& host) {
  if (!host.Connected()) {
    return false;
  }
  host_ = host;
  AttachLogTarget();
  userAgent_ = Format(kUserAgentTemplate, coreVersion_, identity_.fullName);
  telemetry_ = std::make_unique<TelemetrySink>(calls_);
  events_.RegisterTakingHandler<PluginServiceProxyResponse>(
      kServiceProxyUuidEventName,
      [this](PluginServiceProxyResponse&& response) {
        serviceProxy_.OnUuidResponse(std::move(response));
      },
      1);
  events_.RegisterTakingHandler<PluginServiceProxyResponse>(
      kServiceProxyMethodEventName,
      [this](PluginServiceProxyResponse&& response) {
        serviceProxy_.OnMethodResponse(std::move(response));
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
  logTarget_ = std::make_unique<PluginLogTarget>(calls_);
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

// --- The host calls of the module's parts ---

Maybe<BindingProperty> AppModule::SlotCalls::Request(const HostCall& call) {
  return module_.CallHostRequest(call);
}

bool AppModule::SlotCalls::SendEvent(std::span<const std::string_view> names,
                                     const BindingProperty& payload, uint32_t flags) {
  return module_.CallHostSendEvent(names, payload, flags);
}

bool AppModule::SlotCalls::Subscribe(const char* eventName, HostEventReceiver& receiver,
                                     uint32_t flags) {
  return module_.CallHostSubscribe(eventName, receiver, flags);
}

bool AppModule::SlotCalls::Unsubscribe(const char* eventName) {
  return module_.CallHostUnsubscribe(eventName);
}

bool AppModule::SlotCalls::Yield() {
  return module_.CallHostYield();
}

bool AppModule::SlotCalls::WaitBegin(const char* label) {
  return module_.CallHostWaitBegin(label, 0);
}

bool AppModule::SlotCalls::WaitEnd() {
  return module_.CallHostWaitEnd();
}

bool AppModule::SlotCalls::Log(int32_t level, const char* message) {
  return module_.CallHostLog(level, message);
}

HostHandle AppModule::SlotCalls::Handle() const {
  return module_.Handle();
}

const std::string& AppModule::SlotCalls::FullName() const {
  return module_.FullName();
}

const BindingRegistry& AppModule::SlotCalls::Registry() const {
  return module_.Registry();
}

bool AppModule::SlotCalls::IsStopping() const {
  return module_.IsStopping();
}

}  // namespace Vexa
