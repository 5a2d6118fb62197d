// The system's event-tracing providers: registered while the library is loaded so that an
// external trace controller can follow the process, and the event that names a thread.
//
//   Vexa::Platform::SharedLibrary library("Advapi32.dll");
//   Vexa::TraceProviders providers(Vexa::LoadEventTraceFunctions(library));
//   providers.RegisterAll();            // also names this thread "Main thread" if enabled
//   providers.WriteThreadName(Vexa::Platform::CurrentThreadId(), "worker");
//   providers.UnregisterAll();          // or let the destructor do it
//
// The tracing service lives in the system library "Advapi32.dll", which Linux does not
// have: there every function slot stays empty and tracing does nothing. Tests hand
// TraceProviders functions of their own, declared with VEXA_TRACE_CALL.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/library.h"

// The calling convention of the service's functions and of the enable callback that it calls:
// the system's own (stdcall) on Windows. On 32-bit Windows the default (cdecl) leaves the
// popping of the arguments to the caller while the service pops them itself, which unbalances
// the stack on every call. Elsewhere there is one convention.
#ifdef _WIN32
#define VEXA_TRACE_CALL __stdcall
#else
#define VEXA_TRACE_CALL
#endif

namespace Vexa {

// A provider's identifier, laid out as the tracing service expects.
struct TraceGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

// What an event is: the service's descriptor record.
struct EventDescriptor {
  uint16_t id;
  uint8_t version;
  uint8_t channel;
  uint8_t level;
  uint8_t opcode;
  uint16_t task;
  uint64_t keyword;
};

// One item of an event's payload; `pointer` holds the address widened to 64 bits.
struct EventDataDescriptor {
  uint64_t pointer;
  uint32_t size;
  uint32_t reserved;
};

using TraceRegistrationHandle = uint64_t;

// Control codes the service passes to an enable callback.
inline constexpr uint32_t kTraceControlDisable = 0;
inline constexpr uint32_t kTraceControlEnable = 1;

// The callback by which the service tells a provider that a controller enabled or
// disabled it.
using TraceEnableCallback = void(VEXA_TRACE_CALL*)(const TraceGuid* sourceId, uint32_t controlCode,
                                                   uint8_t level, uint64_t matchAnyKeyword,
                                                   uint64_t matchAllKeyword, const void* filterData,
                                                   void* callbackContext);

// The three functions of the tracing service; each answers 0 on success.
using EventRegisterFunction = uint32_t(VEXA_TRACE_CALL*)(const TraceGuid* providerId,
                                                         TraceEnableCallback enableCallback,
                                                         void* callbackContext,
                                                         TraceRegistrationHandle* handle);
using EventWriteFunction = uint32_t(VEXA_TRACE_CALL*)(TraceRegistrationHandle handle,
                                                      const EventDescriptor* descriptor,
                                                      uint32_t dataCount,
                                                      EventDataDescriptor* data);
using EventUnregisterFunction = uint32_t(VEXA_TRACE_CALL*)(TraceRegistrationHandle handle);

// The function slots; a slot left null turns every operation that needs it into a no-op.
struct EventTraceFunctions {
  EventRegisterFunction eventRegister = nullptr;
  EventWriteFunction eventWrite = nullptr;
  EventUnregisterFunction eventUnregister = nullptr;
};

// What a controller asked of one provider, and which of its events that enables. The
// service hands it back to the enable callback. Layout fixed by the service.
struct TraceEnableContext {
  uint64_t reserved[2];
  uint64_t matchAnyKeyword;
  uint64_t matchAllKeyword;
  uint32_t flags;
  uint32_t isEnabled;
  uint8_t level;
  uint8_t reserved2;
  uint16_t eventCount;
  uint32_t* enableBits;  // one bit per event, event 0 in bit 0 of word 0
  const uint64_t* eventKeywords;
  const uint8_t* eventLevels;
};

// The enable callback of every provider. Without a context it does nothing. Disable clears
// the controller's settings and every enable bit. Enable stores them and enables each event
// whose level is within the controller's (or the controller's level is 0) and whose keyword
// is 0 or shares a bit with match-any and contains every bit of match-all. Other codes
// change nothing.
void VEXA_TRACE_CALL HandleTraceEnable(const TraceGuid* sourceId, uint32_t controlCode,
                                       uint8_t level, uint64_t matchAnyKeyword,
                                       uint64_t matchAllKeyword, const void* filterData,
                                       void* callbackContext);

// The event naming a thread, written to provider 2 (index 1): the thread's id (4 bytes) and
// its name with terminator ("NULL" when there is none).
inline constexpr EventDescriptor kThreadNameEvent{103, 0, 0, 0, 14, 2, 1};

// The four providers of this system, in registration order, and their events.
inline constexpr size_t kTraceProviderCount = 4;
inline constexpr size_t kThreadNameProvider = 1;
inline constexpr size_t kThreadNameEventIndex = 0;
extern const std::array<TraceGuid, kTraceProviderCount> kTraceProviderIds;

// The registration state of the four providers: handles and enable contexts.
//
// Threading: registration and unregistration belong to one thread (the library's load and
// unload); the service may call the enable callback on its own thread at any time while a
// provider is registered. Not copyable: the service keeps pointers to the contexts.
class TraceProviders {
 public:
  explicit TraceProviders(const EventTraceFunctions& functions);
  // Unregisters whatever is still registered.
  ~TraceProviders();
  TraceProviders(const TraceProviders&) = delete;
  TraceProviders& operator=(const TraceProviders&) = delete;

  // Registers providers 1 to 4 in order, each only when its handle is 0; then, if a
  // controller already enabled the thread-name event, names the calling thread
  // "Main thread". Failures leave tracing off, silently.
  void RegisterAll();
  // Unregisters every provider whose handle is not 0 and clears the handle.
  void UnregisterAll();

  // Writes the thread-name event when it is enabled. Answers the service's status, or 0
  // when nothing was written.
  uint32_t WriteThreadName(uint32_t threadId, const char* name);

  TraceRegistrationHandle Handle(size_t provider) const { return handles_[provider]; }
  const TraceEnableContext& Context(size_t provider) const { return contexts_[provider]; }
  bool IsEventEnabled(size_t provider, size_t event) const;

 private:
  static constexpr size_t kMaxEventsPerProvider = 2;

  EventTraceFunctions functions_;
  std::array<TraceRegistrationHandle, kTraceProviderCount> handles_{};
  std::array<TraceEnableContext, kTraceProviderCount> contexts_{};
  std::array<std::array<uint32_t, 1>, kTraceProviderCount> enableBits_{};
};

// The service's functions as found in `library` (empty slots for what is missing). The
// library must stay loaded as long as the functions are used.
EventTraceFunctions LoadEventTraceFunctions(const Platform::SharedLibrary& library);

// The process-wide providers: loads the tracing service and registers them. Run when the
// library is loaded; does nothing where the service is missing.
void RegisterTraceProviders();
// Unregisters the process-wide providers; run when the library is unloaded.
void UnregisterTraceProviders();
// The process-wide providers, read-only, so that tests can see what the real service made of
// them: null while they are not registered (before RegisterTraceProviders, after
// UnregisterTraceProviders, or where the service is missing). Same thread as registration.
const TraceProviders* ProcessTraceProviders();

}  // namespace Vexa
