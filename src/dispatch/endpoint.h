// Endpoints and the request dispatcher: what a module declares for each bound function that
// the host may call over HTTP, and the one handler the host calls for all of them.
//
//   Vexa::RequestDispatcher dispatcher;
//   Vexa::EndpointRecord& endpoint = dispatcher.Endpoint(function);   // created on first use
//   endpoint.uriTemplate = "/items/{id}";
//   endpoint.method = Vexa::HttpMethod::Get;
//   endpoint.SetLocation(0, Vexa::ArgumentLocation::Path);
//   ... registration hands the host endpoint.userData and &Vexa::HandleEndpointRequest ...
//
// The handler finds the endpoint through the request's user data, matches the path against
// the endpoint's template, binds the function's arguments from the path, the query, the
// headers, the host's argument list and the body, calls the function through its invoker and
// writes the result into the response. It never throws and answers every fault of the request
// with an error text in the response.
//
// Ownership: the dispatcher owns its endpoint records (stable addresses, for as long as the
// dispatcher lives); a record borrows its function descriptor and invoker from the registry.
//
// Threading: one mutex guards the dispatcher's records while they are created, looked up or
// listed. Handling a request takes no lock: endpoints are declared before the host calls them
// and are only read afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "dispatch/http_call.h"
#include "vexa/host_contract.h"

namespace Vexa {

struct BindingFunctionDescriptor;
class BindingInvoker;
struct RoutePattern;

// Where an argument of an endpoint's function may be given.
enum class ArgumentLocation : uint32_t { Any = 0, Query = 1, Path = 2, Header = 4, Body = 5 };

struct EndpointRecord {
  const BindingFunctionDescriptor* function = nullptr;
  BindingInvoker* invoker = nullptr;     // the function's; null until the function is bound
  std::string uriTemplate;               // empty: the function's name is the route
  HttpMethod method = HttpMethod::None;  // None allows every method
  std::string methodName;                // for HttpMethod::Other
  uint8_t flags = 0;                     // passed through to the host's endpoint table
  std::vector<std::vector<std::string>> textLists;  // passed through likewise
  // One entry per argument (ArgumentLocation values); arguments beyond the list count as Any.
  std::vector<uint32_t> argumentLocations;
  // The record the host hands back with every request: {dispatcher, this endpoint}.
  HostEndpointUserData userData{};

  [[nodiscard]] ArgumentLocation LocationOf(std::size_t argumentIndex) const;
  // Stores `location` for the argument, growing the list with Any entries to reach it.
  void SetLocation(std::size_t argumentIndex, ArgumentLocation location);
};

class RequestDispatcher {
 public:
  RequestDispatcher() = default;
  RequestDispatcher(const RequestDispatcher&) = delete;
  RequestDispatcher& operator=(const RequestDispatcher&) = delete;

  // The endpoint of `function`, created on first use with one Any location per argument, the
  // function's invoker and user data pointing at this dispatcher and the record.
  EndpointRecord& Endpoint(const BindingFunctionDescriptor& function);
  // The endpoint of `function`, or null.
  [[nodiscard]] EndpointRecord* FindEndpoint(const BindingFunctionDescriptor* function) const;
  // Every endpoint, in the order of their creation.
  [[nodiscard]] std::vector<const EndpointRecord*> EndpointsSnapshot() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<EndpointRecord>> endpoints_;  // in creation order
  std::unordered_map<const BindingFunctionDescriptor*, EndpointRecord*> byFunction_;
};

// The handler registered with every endpoint: releases what `response` holds, then answers
// `request` for the endpoint named by request->userData. Null records and malformed requests
// are answered with an error text, never followed.
void VEXA_HOST_CALL HandleEndpointRequest(HostResponse* response, const HostRequest* request);

// Matches `request` against `patterns` and invokes the accepted endpoint's function; answers
// "Invalid function" with status 404 when none matches.
void DispatchRequest(HostResponse& response, const HostRequest& request,
                     std::span<const RoutePattern> patterns);

}  // namespace Vexa
