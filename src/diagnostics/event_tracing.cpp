#include "diagnostics/event_tracing.h"

#include <cstring>
#include <optional>

#include "platform/process.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: the tracing header builds on its types.
#include <evntprov.h>

#include <type_traits>
#endif

namespace Vexa {

const std::array<TraceGuid, kTraceProviderCount> kTraceProviderIds = {{
    {0x2F9EFE86, 0x4AF7, 0x4F37, {0xA4, 0x0F, 0x94, 0xB9, 0x09, 0xA1, 0x57, 0xD6}},
    {0xEA08C559, 0x95A8, 0x4AA2, {0xAF, 0xA6, 0x18, 0x73, 0x8E, 0xEC, 0x6D, 0x37}},
    {0x10F6728C, 0xEF92, 0x4BF1, {0x83, 0x97, 0x49, 0xE6, 0x93, 0xA6, 0xEB, 0x74}},
    {0x46DD7F96, 0x60CB, 0x416B, {0x80, 0x85, 0xDA, 0x5C, 0xD8, 0xF4, 0x91, 0xDD}},
}};

#ifdef _WIN32
// The service reads our records and calls us back through the system's own declarations; what
// we hand it must match them byte for byte, and our function types must match its convention.
static_assert(sizeof(TraceGuid) == sizeof(GUID) &&
              offsetof(TraceGuid, data1) == offsetof(GUID, Data1) &&
              offsetof(TraceGuid, data2) == offsetof(GUID, Data2) &&
              offsetof(TraceGuid, data3) == offsetof(GUID, Data3) &&
              offsetof(TraceGuid, data4) == offsetof(GUID, Data4));
static_assert(sizeof(EventDescriptor) == sizeof(EVENT_DESCRIPTOR) &&
              alignof(EventDescriptor) == alignof(EVENT_DESCRIPTOR) &&
              offsetof(EventDescriptor, id) == offsetof(EVENT_DESCRIPTOR, Id) &&
              offsetof(EventDescriptor, version) == offsetof(EVENT_DESCRIPTOR, Version) &&
              offsetof(EventDescriptor, channel) == offsetof(EVENT_DESCRIPTOR, Channel) &&
              offsetof(EventDescriptor, level) == offsetof(EVENT_DESCRIPTOR, Level) &&
              offsetof(EventDescriptor, opcode) == offsetof(EVENT_DESCRIPTOR, Opcode) &&
              offsetof(EventDescriptor, task) == offsetof(EVENT_DESCRIPTOR, Task) &&
              offsetof(EventDescriptor, keyword) == offsetof(EVENT_DESCRIPTOR, Keyword));
static_assert(sizeof(EventDataDescriptor) == sizeof(EVENT_DATA_DESCRIPTOR) &&
              alignof(EventDataDescriptor) == alignof(EVENT_DATA_DESCRIPTOR) &&
              offsetof(EventDataDescriptor, pointer) == offsetof(EVENT_DATA_DESCRIPTOR, Ptr) &&
              offsetof(EventDataDescriptor, size) == offsetof(EVENT_DATA_DESCRIPTOR, Size) &&
              offsetof(EventDataDescriptor, reserved) == offsetof(EVENT_DATA_DESCRIPTOR, Reserved));
static_assert(sizeof(TraceRegistrationHandle) == sizeof(REGHANDLE) &&
              sizeof(uint32_t) == sizeof(ULONG));
// The parameter types differ in name only (ULONG is not uint32_t to the compiler); the
// convention is what these check.
static_assert(std::is_same_v<decltype(&::EventRegister),
                             ULONG(VEXA_TRACE_CALL*)(LPCGUID, PENABLECALLBACK, PVOID, PREGHANDLE)>);
static_assert(std::is_same_v<decltype(&::EventWrite),
                             ULONG(VEXA_TRACE_CALL*)(REGHANDLE, PCEVENT_DESCRIPTOR, ULONG,
                                                     PEVENT_DATA_DESCRIPTOR)>);
static_assert(std::is_same_v<decltype(&::EventUnregister), ULONG(VEXA_TRACE_CALL*)(REGHANDLE)>);
static_assert(std::is_same_v<PENABLECALLBACK,
                             VOID(VEXA_TRACE_CALL*)(LPCGUID, ULONG, UCHAR, ULONGLONG, ULONGLONG,
                                                    PEVENT_FILTER_DESCRIPTOR, PVOID)>);
#endif

namespace {

constexpr const char* kTraceLibraryName = "Advapi32.dll";
constexpr const char* kMainThreadName = "Main thread";
constexpr const char* kAbsentThreadName = "NULL";

// The events of each provider: how many, their keywords, their levels (all 0).
struct ProviderEvents {
  uint16_t count;
  const uint64_t* keywords;
};
constexpr uint64_t kKeywordOne[] = {1};
constexpr uint64_t kKeywordNone[] = {0};
constexpr uint64_t kKeywordsOneTwo[] = {1, 2};
constexpr uint8_t kEventLevels[] = {0, 0};
constexpr ProviderEvents kProviderEvents[kTraceProviderCount] = {
    {1, kKeywordOne}, {1, kKeywordOne}, {1, kKeywordNone}, {2, kKeywordsOneTwo}};

void SetEnableBit(TraceEnableContext& context, size_t event, bool enabled) {
  const uint32_t bit = uint32_t{1} << (event % 32);
  uint32_t& word = context.enableBits[event / 32];
  word = enabled ? (word | bit) : (word & ~bit);
}

bool EventMatches(const TraceEnableContext& context, size_t event) {
  const bool levelMatches = context.eventLevels[event] <= context.level || context.level == 0;
  const uint64_t keyword = context.eventKeywords[event];
  const bool keywordMatches =
      keyword == 0 || ((keyword & context.matchAnyKeyword) != 0 &&
                       (keyword & context.matchAllKeyword) == context.matchAllKeyword);
  return levelMatches && keywordMatches;
}

uint64_t AddressOf(const void* pointer) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pointer));
}

}  // namespace

void VEXA_TRACE_CALL HandleTraceEnable(const TraceGuid* /*sourceId*/, uint32_t controlCode,
                                       uint8_t level, uint64_t matchAnyKeyword,
                                       uint64_t matchAllKeyword, const void* /*filterData*/,
                                       void* callbackContext) {
  auto* context = static_cast<TraceEnableContext*>(callbackContext);
  if (context == nullptr) {
    return;
  }
  if (controlCode == kTraceControlDisable) {
    context->level = 0;
    context->isEnabled = 0;
    context->matchAnyKeyword = 0;
    context->matchAllKeyword = 0;
    for (size_t event = 0; event < context->eventCount; ++event) {
      SetEnableBit(*context, event, false);
    }
  } else if (controlCode == kTraceControlEnable) {
    context->level = level;
    context->matchAnyKeyword = matchAnyKeyword;
    context->matchAllKeyword = matchAllKeyword;
    context->isEnabled = 1;
    for (size_t event = 0; event < context->eventCount; ++event) {
      SetEnableBit(*context, event, EventMatches(*context, event));
    }
  }
}

TraceProviders::TraceProviders(const EventTraceFunctions& functions) : functions_(functions) {
  for (size_t provider = 0; provider < kTraceProviderCount; ++provider) {
    TraceEnableContext& context = contexts_[provider];
    context.eventCount = kProviderEvents[provider].count;
    context.enableBits = enableBits_[provider].data();
    context.eventKeywords = kProviderEvents[provider].keywords;
    context.eventLevels = kEventLevels;
  }
}

TraceProviders::~TraceProviders() {
  UnregisterAll();
}

void TraceProviders::RegisterAll() {
  for (size_t provider = 0; provider < kTraceProviderCount; ++provider) {
    if (handles_[provider] != 0 || functions_.eventRegister == nullptr) {
      continue;
    }
    const uint32_t status =
        functions_.eventRegister(&kTraceProviderIds[provider], &HandleTraceEnable,
                                 &contexts_[provider], &handles_[provider]);
    if (status != 0) {
      handles_[provider] = 0;
    }
  }
  // A controller that was waiting for the providers enables them during registration; it
  // then learns the name of the thread that loaded the library.
  WriteThreadName(Platform::CurrentThreadId(), kMainThreadName);
}

void TraceProviders::UnregisterAll() {
  for (TraceRegistrationHandle& handle : handles_) {
    if (handle != 0 && functions_.eventUnregister != nullptr) {
      functions_.eventUnregister(handle);
      handle = 0;
    }
  }
}

bool TraceProviders::IsEventEnabled(size_t provider, size_t event) const {
  if (provider >= kTraceProviderCount || event >= contexts_[provider].eventCount) {
    return false;
  }
  return (enableBits_[provider][event / 32] & (uint32_t{1} << (event % 32))) != 0;
}

uint32_t TraceProviders::WriteThreadName(uint32_t threadId, const char* name) {
  const TraceRegistrationHandle handle = handles_[kThreadNameProvider];
  if (functions_.eventWrite == nullptr || handle == 0 ||
      !IsEventEnabled(kThreadNameProvider, kThreadNameEventIndex)) {
    return 0;
  }
  const char* text = name != nullptr ? name : kAbsentThreadName;
  EventDataDescriptor payload[2] = {
      {AddressOf(&threadId), sizeof threadId, 0},
      {AddressOf(text), static_cast<uint32_t>(std::strlen(text) + 1), 0},
  };
  return functions_.eventWrite(handle, &kThreadNameEvent, 2, payload);
}

EventTraceFunctions LoadEventTraceFunctions(const Platform::SharedLibrary& library) {
  EventTraceFunctions functions;
  functions.eventRegister = library.Symbol<EventRegisterFunction>("EventRegister");
  functions.eventWrite = library.Symbol<EventWriteFunction>("EventWrite");
  functions.eventUnregister = library.Symbol<EventUnregisterFunction>("EventUnregister");
  return functions;
}

namespace {

// The providers registered for the library's lifetime, and the service library they call.
struct ProcessTracing {
  Platform::SharedLibrary library;
  std::optional<TraceProviders> providers;
};

ProcessTracing& Process() {
  static ProcessTracing tracing;
  return tracing;
}

}  // namespace

void RegisterTraceProviders() {
  ProcessTracing& tracing = Process();
  if (tracing.providers.has_value()) {
    return;
  }
  tracing.library = Platform::SharedLibrary(kTraceLibraryName);
  if (!tracing.library.IsLoaded()) {
    return;
  }
  tracing.providers.emplace(LoadEventTraceFunctions(tracing.library));
  tracing.providers->RegisterAll();
}

void UnregisterTraceProviders() {
  ProcessTracing& tracing = Process();
  // Providers first: their functions live in the library.
  tracing.providers.reset();
  tracing.library = Platform::SharedLibrary();
}

const TraceProviders* ProcessTraceProviders() {
  const ProcessTracing& tracing = Process();
  return tracing.providers.has_value() ? &*tracing.providers : nullptr;
}

}  // namespace Vexa
