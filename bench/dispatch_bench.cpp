// The endpoint handler end to end, as the host calls it, against calling the bound function
// and converting its result for the host directly (what any dispatch must do at least):
//
//   BM_DirectCall               the function, ToValue of its record, ToHostValue, release
//   BM_DispatchLiteral          GET /bench/v1/status: a literal route without arguments
//   BM_DirectSum                the three-argument function called directly, result converted
//   BM_DispatchQueryArguments   GET /bench/v1/sum?a=..&b=..&c=..: a literal route, three query
//                               arguments converted to int32
//   BM_DispatchTemplated        GET /bench/v1/items/1234: one placeholder, converted to int32
//
// Each dispatch iteration builds nothing but the request record on the stack, calls
// HandleEndpointRequest and releases the response through its own release function, as the
// host does. The counter `allocations` is the number of heap allocations per request (per call
// for the direct anchors), the response's own included.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "binding/conversion/conversion.h"
#include "binding/field_registration.h"
#include "binding/registry.h"
#include "bridge/endpoint_handler.h"
#include "bridge/host_value.h"
#include "dispatch/endpoint.h"
#include "dispatch/endpoint_declaration.h"
#include "malloc_counter.h"
#include "ratio.h"

namespace Bench {

struct Status {
  int32_t code = 0;
  std::string text;
};
VEXA_STATIC_TYPE(Status, "struct Bench::Status");

}  // namespace Bench

namespace {

using Bench::Status;

Status CurrentStatus() {
  return Status{200, "ready"};
}
int64_t Sum(int32_t a, int32_t b, int32_t c) {
  return int64_t{a} + b + c;
}
Status Item(int32_t id) {
  return Status{id, "item"};
}

// One registry and dispatcher with the three endpoints, built once.
struct Service {
  Vexa::BindingRegistry registry;
  Vexa::RequestDispatcher dispatcher;
  Vexa::EndpointRecord* status = nullptr;
  Vexa::EndpointRecord* sum = nullptr;
  Vexa::EndpointRecord* item = nullptr;

  Service() {
    registry.Initialize();
    Vexa::RegisterRecord<Status>(registry, "Status")
        .Field("code", &Status::code)
        .Field("text", &Status::text);
    status = Vexa::DeclareEndpoint(dispatcher, registry, Vexa::HttpMethod::Get, "/bench/v1/status",
                                   &CurrentStatus)
                 .Endpoint();
    sum = Vexa::DeclareEndpoint(dispatcher, registry, Vexa::HttpMethod::Get, "/bench/v1/sum", &Sum)
              .Query("a")
              .Query("b")
              .Query("c")
              .Endpoint();
    item = Vexa::DeclareEndpoint(dispatcher, registry, Vexa::HttpMethod::Get,
                                 "/bench/v1/items/{id}", &Item)
               .Path("id")
               .Endpoint();
    if (status == nullptr || sum == nullptr || item == nullptr) {
      std::fprintf(stderr, "dispatch_bench: an endpoint was not declared\n");
      std::exit(1);
    }
  }
};

Service& TheService() {
  static Service service;
  return service;
}

// Runs `call` once per iteration and reports its heap allocations per call, like RunDispatch.
template <typename Call>
void RunCounted(benchmark::State& state, Call call) {
  long long allocations = 0;
  for (auto _ : state) {
    Vexa::Bench::MallocCounter::Start();
    call();
    Vexa::Bench::MallocCounter::Stop();
    allocations += Vexa::Bench::MallocCounter::Calls();
  }
  state.counters["allocations"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}

// Calls the handler as the host would and checks the answer once, so that a benchmark of a
// failing request cannot pass unnoticed.
void RunDispatch(benchmark::State& state, Vexa::EndpointRecord& endpoint, const char* path) {
  HostRequest request{};
  request.method = HOST_METHOD_GET;
  request.path = path;
  const HostEndpointUserData userData{nullptr, &endpoint};  // what the API table hands the host
  request.userData = &userData;
  HostResponse response{};
  Vexa::HandleEndpointRequest(&response, &request);
  if (response.result.error != nullptr || response.result.value.kind == HOST_VALUE_EMPTY) {
    state.SkipWithError(response.result.error != nullptr ? response.result.error : "no body");
    response.release(&response);
    return;
  }
  response.release(&response);

  RunCounted(state, [&] {
    Vexa::HandleEndpointRequest(&response, &request);
    benchmark::DoNotOptimize(response);
    response.release(&response);
  });
}

// The anchor: the function's result converted to a value and to a host value, then released.
template <typename Result>
void ConvertForHost(Vexa::BindingRegistry& registry, const Result& result) {
  const Vexa::BindingResult value = Vexa::ToValue(result, registry);
  HostValue host{};
  if (!value || !Vexa::ToHostValue(value.value, host, &registry))
    std::abort();
  benchmark::DoNotOptimize(host);
  Vexa::ReleaseHostValue(host);
}

void BM_DirectCall(benchmark::State& state) {
  Service& service = TheService();
  RunCounted(state, [&] { ConvertForHost(service.registry, CurrentStatus()); });
}

void BM_DispatchLiteral(benchmark::State& state) {
  RunDispatch(state, *TheService().status, "/bench/v1/status");
}

void BM_DirectSum(benchmark::State& state) {
  Service& service = TheService();
  int32_t a = 1;
  RunCounted(state, [&] {
    benchmark::DoNotOptimize(a);
    ConvertForHost(service.registry, Sum(a, 20, 300));
  });
}

void BM_DispatchQueryArguments(benchmark::State& state) {
  RunDispatch(state, *TheService().sum, "/bench/v1/sum?a=1&b=20&c=300");
}

void BM_DispatchTemplated(benchmark::State& state) {
  RunDispatch(state, *TheService().item, "/bench/v1/items/1234");
}

BENCHMARK(BM_DirectCall);
BENCHMARK(BM_DispatchLiteral);
BENCHMARK(BM_DirectSum);
BENCHMARK(BM_DispatchQueryArguments);
BENCHMARK(BM_DispatchTemplated);

VEXA_BENCHMARK_RATIO(BM_DispatchLiteral, BM_DirectCall);
VEXA_BENCHMARK_RATIO(BM_DispatchQueryArguments, BM_DirectSum);
VEXA_BENCHMARK_RATIO(BM_DispatchTemplated, BM_DirectCall);

}  // namespace
