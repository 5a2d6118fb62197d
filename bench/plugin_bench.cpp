// The plugin through its seam, as a host drives it: the built library is loaded with dlopen,
// started with a host that answers every request at once (the service proxy's answer event
// is delivered before the POST returns its uuid, so no request ever waits), and its two
// endpoints are called through the API table:
//
//   BM_PluginWhereAmI       GET /kor-geoinfo/v1/whereami: a remote call, a settings write
//   BM_PluginGetLocation    GET /kor-geoinfo/v1/getlocation?ip_address=...: a remote call
//
// beside BM_DispatchLiteral of this binary (a literal route answering a small record), the
// floor of any endpoint call. The counter `plugin_allocations` is the plugin's own heap
// allocations per request, read from its Statistics counters.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ratio.h"
#include "vexa/host_contract.h"

namespace {

// --- Host values built once, borrowed by the plugin ---

HostValue Text(const char* text) {
  HostValue value{};
  value.kind = HOST_VALUE_BORROWED_STRING;
  value.payload.string.text = text;
  value.payload.string.length = static_cast<uint32_t>(std::strlen(text));
  return value;
}

HostValue Structure(HostValueMember* members, uint32_t count) {
  HostValue value{};
  value.kind = HOST_VALUE_STRUCTURE;
  value.payload.structure.members = members;
  value.payload.structure.count = count;
  return value;
}

HostValue Unsigned(uint64_t number) {
  HostValue value{};
  value.kind = HOST_VALUE_UNSIGNED;
  value.payload.unsignedValue = number;
  return value;
}

HostValue Bool(bool flag) {
  HostValue value{};
  value.kind = HOST_VALUE_BOOL;
  value.payload.boolean = flag ? 1 : 0;
  return value;
}

constexpr const char kUuid[] = "bench-request";
constexpr const char kAnswerPayload[] = R"({"country":"DE","city":"Berlin","region":"BE"})";

HostValueMember configMembers[] = {{"Enabled", Bool(true), 0}};
HostValueMember sessionMembers[] = {
    {"accountId", Unsigned(7), 0}, {"profileId", Unsigned(11), 0}, {"state", Text("SUCCEEDED"), 0}};
HostValueMember answerMembers[] = {{"uuid", Text(kUuid), 0},
                                   {"serviceName", Text("contenttargeting.geoinfo"), 0},
                                   {"methodName", Text("getWhereAmI"), 0},
                                   {"payload", Text(kAnswerPayload), 0},
                                   {"status", Text("200"), 0},
                                   {"error", Text(""), 0}};

// --- The host ---

struct Subscription {
  char name[96];
  HostEventCallback callback;
  void* context;
};

struct BenchHost {
  Subscription subscriptions[16] = {};
  int subscriptionCount = 0;

  void Deliver(const char* name, const HostValue& payload) const {
    for (int index = 0; index < subscriptionCount; ++index) {
      if (std::strcmp(subscriptions[index].name, name) == 0) {
        const HostEvent event{name, payload, 0, subscriptions[index].context};
        subscriptions[index].callback(&event);
      }
    }
  }
};

BenchHost host;

void VEXA_HOST_CALL Request(const HostApiTable*, HostResponse* response,
                            const HostRequest* request) {
  *response = HostResponse{};
  const char* path = request->path;
  if (std::strcmp(path, "/kor-platform-config/v1/namespaces/GeoInfo") == 0) {
    response->result.value = Structure(configMembers, 1);
  } else if (std::strcmp(path, "/kor-login/v1/session") == 0) {
    response->result.value = Structure(sessionMembers, 3);
  } else if (std::strcmp(path, "/kor-login/v1/service-proxy-uuid-requests") == 0) {
    // The answer overtakes the POST: the plugin keeps it until it knows the uuid.
    host.Deliver("OnServiceProxyUuidEvent", Structure(answerMembers, 6));
    response->result.value = Text(kUuid);
  } else if (std::strcmp(path, "/kor-settings/v2/local/GeoInfo") == 0) {
    response->status = 200;
  } else {
    response->status = 404;
    response->result.error = "not found";
  }
}

void VEXA_HOST_CALL SendEvent(const HostApiTable*, const HostEvent*) {}

void VEXA_HOST_CALL Subscribe(const HostApiTable*, const char* name, HostHandle,
                              HostEventCallback callback, void* context, uint32_t) {
  if (host.subscriptionCount < 16) {
    Subscription& subscription = host.subscriptions[host.subscriptionCount++];
    std::snprintf(subscription.name, sizeof subscription.name, "%s", name);
    subscription.callback = callback;
    subscription.context = context;
  }
}

void VEXA_HOST_CALL Unsubscribe(const HostApiTable*, const char*, HostHandle) {}
void VEXA_HOST_CALL Yield(const HostApiTable*) {}
void VEXA_HOST_CALL WaitBegin(const HostApiTable*, const char*, uintptr_t) {}
void VEXA_HOST_CALL WaitEnd(const HostApiTable*) {}
void VEXA_HOST_CALL Log(const HostApiTable*, int32_t, const char*) {}

const HostApiTable kApi{&Request, nullptr, &SendEvent, &Subscribe, &Unsubscribe,
                        nullptr,  &Yield,  &WaitBegin, &WaitEnd,   &Log};
const HostContext kContext{&kApi, 1};

// The plugin, loaded and started once for the whole run.
struct LoadedPlugin {
  HostLoadRecord record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
  const HostEndpointRecord* whereami = nullptr;
  const HostEndpointRecord* getlocation = nullptr;

  LoadedPlugin() {
    void* library = dlopen(VEXA_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    auto* load =
        library != nullptr
            ? reinterpret_cast<void (*)(HostLoadRecord*)>(dlsym(library, "load_kor_geoinfo"))
            : nullptr;
    if (load == nullptr) {
      std::fprintf(stderr, "plugin_bench: cannot load %s\n", VEXA_PLUGIN_PATH);
      std::exit(1);
    }
    load(&record);
    if (record.callbacks == nullptr || record.callbacks->start(record.module, &kContext) == 0) {
      std::fprintf(stderr, "plugin_bench: the plugin did not start\n");
      std::exit(1);
    }
    for (const HostEndpointRecord* endpoint = record.endpoints->endpoints; endpoint != nullptr;
         endpoint = reinterpret_cast<const HostEndpointRecord*>(endpoint->function.next)) {
      if (std::strcmp(endpoint->function.name, "GetKorGeoinfoV1Whereami") == 0) {
        whereami = endpoint;
      } else if (std::strcmp(endpoint->function.name, "GetKorGeoinfoV1Getlocation") == 0) {
        getlocation = endpoint;
      }
    }
    if (whereami == nullptr || getlocation == nullptr) {
      std::fprintf(stderr, "plugin_bench: an endpoint is missing\n");
      std::exit(1);
    }
  }

  [[nodiscard]] uint64_t Allocations() const {
    uint32_t words[14] = {};
    record.callbacks->statistics(record.module, words);
    return (uint64_t{words[7]} << 32) | words[6];
  }
};

LoadedPlugin& Plugin() {
  static LoadedPlugin plugin;
  return plugin;
}

void RunEndpoint(benchmark::State& state, const HostEndpointRecord& endpoint, const char* path) {
  LoadedPlugin& plugin = Plugin();
  HostRequest request{};
  request.method = HOST_METHOD_GET;
  request.path = path;
  request.userData = endpoint.function.userData;
  HostResponse response{};
  endpoint.handler(&response, &request);
  if (response.result.error != nullptr || response.result.value.kind != HOST_VALUE_STRUCTURE) {
    state.SkipWithError(response.result.error != nullptr ? response.result.error : "no record");
  }
  if (response.release != nullptr) {
    response.release(&response);
  }
  const uint64_t before = plugin.Allocations();
  for (auto _ : state) {
    endpoint.handler(&response, &request);
    benchmark::DoNotOptimize(response);
    response.release(&response);
  }
  state.counters["plugin_allocations"] = benchmark::Counter(
      static_cast<double>(plugin.Allocations() - before), benchmark::Counter::kAvgIterations);
}

void BM_PluginWhereAmI(benchmark::State& state) {
  RunEndpoint(state, *Plugin().whereami, "/kor-geoinfo/v1/whereami");
}

void BM_PluginGetLocation(benchmark::State& state) {
  RunEndpoint(state, *Plugin().getlocation, "/kor-geoinfo/v1/getlocation?ip_address=81.2.69.160");
}

}  // namespace

BENCHMARK(BM_PluginWhereAmI);
BENCHMARK(BM_PluginGetLocation);
VEXA_BENCHMARK_RATIO(BM_PluginWhereAmI, BM_DispatchLiteral);
VEXA_BENCHMARK_RATIO(BM_PluginGetLocation, BM_DispatchLiteral);
