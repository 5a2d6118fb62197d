// The trace providers of the built plugin library, seen from a process that loads it: the
// library registers them while it loads and unregisters them while it unloads, from its own
// start-up and shutdown code, which nothing but loading the library reaches. The tracing
// service's three functions are diverted to stand-ins first, declared from the system's own
// header: the library is checked against the service's declarations, calling convention and
// record layouts included, not against its own.
#include <windows.h>
// windows.h first: the tracing header builds on its types.
#include <evntprov.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kProviderTwo = "EA08C559-95A8-4AA2-AFA6-18738EEC6D37";

// The stand-in service: providers as their identifiers' text, events as text (handle,
// descriptor fields, payload bytes). The controller, when there is one, enables provider 2
// with the given match-any keywords while it registers, as a running trace session would.
struct TraceService {
  std::vector<std::string> registered, written;
  std::vector<REGHANDLE> unregistered;
  bool controller = false;
  ULONGLONG matchAny = 0;
} service;

std::string Text(const GUID& id) {
  char text[40];
  std::snprintf(text, sizeof text, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", id.Data1,
                id.Data2, id.Data3, id.Data4[0], id.Data4[1], id.Data4[2], id.Data4[3], id.Data4[4],
                id.Data4[5], id.Data4[6], id.Data4[7]);
  return text;
}

ULONG WINAPI Register(LPCGUID id, PENABLECALLBACK callback, PVOID context, PREGHANDLE handle) {
  service.registered.push_back(Text(*id));
  *handle = 0x1000 + service.registered.size() - 1;
  if (service.controller && service.registered.back() == kProviderTwo && callback != nullptr) {
    callback(id, 1, 0, service.matchAny, 0, nullptr, context);
  }
  return ERROR_SUCCESS;
}

ULONG WINAPI Write(REGHANDLE handle, PCEVENT_DESCRIPTOR d, ULONG count,
                   PEVENT_DATA_DESCRIPTOR data) {
  char text[96];
  std::snprintf(text, sizeof text, "%llx:%u,%u,%u,%u,%u,%u,%llu", handle, d->Id, d->Version,
                d->Channel, d->Level, d->Opcode, d->Task, d->Keyword);
  std::string event = text;
  for (ULONG item = 0; item < count; ++item) {
    event +=
        "|" + std::string(reinterpret_cast<const char*>(static_cast<uintptr_t>(data[item].Ptr)),
                          data[item].Size);
  }
  service.written.push_back(event);
  return ERROR_SUCCESS;
}

ULONG WINAPI Unregister(REGHANDLE handle) {
  service.unregistered.push_back(handle);
  return ERROR_SUCCESS;
}

// Sends every call of one exported function of a loaded library to `target` for its lifetime,
// by a jump written over the function's first five bytes. Whoever looks the function up,
// the plugin library included, lands in the stand-in.
class Diversion {
 public:
  Diversion(HMODULE library, const char* name, const void* target)
      : code_(reinterpret_cast<unsigned char*>(GetProcAddress(library, name))) {
    if (code_ == nullptr) {
      ADD_FAILURE() << name << " is missing";
      return;
    }
    std::memcpy(saved_, code_, sizeof saved_);
    unsigned char jump[sizeof saved_] = {0xE9};
    const auto distance = static_cast<int32_t>(reinterpret_cast<uintptr_t>(target) -
                                               reinterpret_cast<uintptr_t>(code_ + sizeof jump));
    std::memcpy(jump + 1, &distance, sizeof distance);
    Overwrite(jump);
  }
  ~Diversion() {
    if (code_ != nullptr) {
      Overwrite(saved_);
    }
  }
  Diversion(const Diversion&) = delete;
  Diversion& operator=(const Diversion&) = delete;

 private:
  void Overwrite(const unsigned char* bytes) {
    DWORD protection = 0;
    ASSERT_TRUE(VirtualProtect(code_, sizeof saved_, PAGE_EXECUTE_READWRITE, &protection));
    std::memcpy(code_, bytes, sizeof saved_);
    VirtualProtect(code_, sizeof saved_, protection, &protection);
    FlushInstructionCache(GetCurrentProcess(), code_, sizeof saved_);
  }

  unsigned char* code_;
  unsigned char saved_[5] = {};
};

std::string Bytes(const void* bytes, size_t size) {
  return std::string(static_cast<const char*>(bytes), size);
}

// Wine's own service is a stub that never calls an enable callback; here the stand-in plays
// the controller, so the one write the library may make at load is checked too.
TEST(TraceProvidersOfThePluginLibrary, RegisteredWhileLoadedAndMainThreadNamedOnlyWhenAsked) {
  const DWORD thread = GetCurrentThreadId();
  const std::string mainThread =
      "1001:103,0,0,0,14,2,1|" + Bytes(&thread, sizeof thread) + "|" + Bytes("Main thread", 12);
  struct Case {
    bool controller;
    ULONGLONG matchAny;
    std::vector<std::string> written;
  };
  const Case cases[] = {{false, 0, {}}, {true, 1, {mainThread}}, {true, 2, {}}};
  HMODULE advapi = LoadLibraryW(L"Advapi32.dll");
  ASSERT_NE(advapi, nullptr);
  for (const Case& row : cases) {
    service = {};
    service.controller = row.controller;
    service.matchAny = row.matchAny;
    {
      Diversion registering(advapi, "EventRegister", reinterpret_cast<const void*>(&Register));
      Diversion writing(advapi, "EventWrite", reinterpret_cast<const void*>(&Write));
      Diversion unregistering(advapi, "EventUnregister",
                              reinterpret_cast<const void*>(&Unregister));
      HMODULE plugin = LoadLibraryA(VEXA_PLUGIN_PATH);
      ASSERT_NE(plugin, nullptr) << GetLastError();
      EXPECT_THAT(service.registered,
                  ElementsAre("2F9EFE86-4AF7-4F37-A40F-94B909A157D6", kProviderTwo,
                              "10F6728C-EF92-4BF1-8397-49E693A6EB74",
                              "46DD7F96-60CB-416B-8085-DA5CD8F491DD"))
          << row.controller << " " << row.matchAny;
      EXPECT_THAT(service.unregistered, IsEmpty());
      EXPECT_TRUE(FreeLibrary(plugin));
    }
    EXPECT_EQ(service.written, row.written) << row.controller << " " << row.matchAny;
    EXPECT_THAT(service.unregistered, ElementsAre(0x1000u, 0x1001u, 0x1002u, 0x1003u));
  }
  FreeLibrary(advapi);
}

}  // namespace
