// Endpoints and the request dispatcher: what a module declares for each bound function that
// the host may call over HTTP, kept per function.
//
//   Vexa::RequestDispatcher dispatcher;
//   Vexa::EndpointRecord& endpoint = dispatcher.Endpoint(function);   // created on first use
//   endpoint.SetUriTemplate("/items/{id}");                          // builds the route once
//   endpoint.method = Vexa::HttpMethod::Get;
//   endpoint.SetLocation(0, Vexa::ArgumentLocation::Path);
//   ... the API table (bridge/endpoint_table.h) hands the host this record and the one handler ...
//
// Endpoints are usually made by a declaration (dispatch/endpoint_declaration.h) and answered by
// the one endpoint handler (bridge/endpoint_handler.h), which finds the record through the
// request's user data and matches the request against the record's route
// (dispatch/request_handler.h).
//
// Ownership: the dispatcher owns its endpoint records (stable addresses, for as long as the
// dispatcher lives); a record borrows its function descriptor and invoker from the registry.
//
// Threading: one mutex guards the dispatcher's records while they are created, looked up or
// listed, so that listing them (building the API table) never sees a record half inserted.
// Handling a request takes no lock: endpoints are declared before the host calls them, and
// are only read afterwards, on the module's one sequence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "diagnostics/sequence_checker.h"
#include "dispatch/http_call.h"
#include "dispatch/route_pattern.h"

namespace Vexa {

struct BindingFunctionDescriptor;
class BindingInvoker;

// Where an argument of an endpoint's function may be given.
enum class ArgumentLocation : uint32_t { Any = 0, Query = 1, Path = 2, Header = 4, Body = 5 };

// One endpoint. Its route points back at the record, so a record stays where it was made.
struct EndpointRecord {
  // An endpoint of `function` (may be null: the endpoint then has no route), routed by the
  // function's name until a template is set.
  explicit EndpointRecord(const BindingFunctionDescriptor* endpointFunction = nullptr);
  EndpointRecord(const EndpointRecord&) = delete;
  EndpointRecord& operator=(const EndpointRecord&) = delete;

  const BindingFunctionDescriptor* const function;
  BindingInvoker* invoker = nullptr;     // the function's; null until the function is bound
  HttpMethod method = HttpMethod::None;  // None allows every method
  std::string methodName;                // for HttpMethod::Other
  uint8_t flags = 0;                     // passed through to the host's endpoint table
  std::vector<std::vector<std::string>> textLists;  // passed through likewise
  // One entry per argument (ArgumentLocation values); arguments beyond the list count as Any.
  std::vector<uint32_t> argumentLocations;

  // The URI template as declared; empty when the function's name is the route.
  [[nodiscard]] const std::string& UriTemplate() const { return uriTemplate_; }
  // Sets the template and builds the route from it (from the function's name when it is
  // empty): once, here, and not for every request.
  void SetUriTemplate(std::string_view uriTemplate);
  // The pattern that requests to this endpoint are matched against.
  [[nodiscard]] const RoutePattern& Route() const { return route_; }

  // The method rule of routing: an endpoint method of None allows every method; any other
  // must equal the request's, and so must the method names (both empty unless the method is
  // Other).
  [[nodiscard]] bool AllowsMethod(HttpMethod requestMethod,
                                  std::string_view requestMethodName) const {
    return method == HttpMethod::None ||
           (method == requestMethod && methodName == requestMethodName);
  }

  [[nodiscard]] ArgumentLocation LocationOf(std::size_t argumentIndex) const;
  // Stores `location` for the argument, growing the list with Any entries to reach it.
  void SetLocation(std::size_t argumentIndex, ArgumentLocation location);

 private:
  std::string uriTemplate_;
  RoutePattern route_;
};

class RequestDispatcher {
 public:
  RequestDispatcher() = default;
  RequestDispatcher(const RequestDispatcher&) = delete;
  RequestDispatcher& operator=(const RequestDispatcher&) = delete;

  // The endpoint of `function`, created on first use with one Any location per argument, the
  // function's invoker and its name as the route.
  EndpointRecord& Endpoint(const BindingFunctionDescriptor& function);
  // The endpoint of `function`, or null.
  [[nodiscard]] EndpointRecord* FindEndpoint(const BindingFunctionDescriptor* function) const;
  // Every endpoint, in the order of their creation.
  [[nodiscard]] std::vector<const EndpointRecord*> EndpointsSnapshot() const;
  // The sequence of the module that owns the dispatcher: the host's calls of its endpoints,
  // events, Start and Stop (checked in debug builds; see diagnostics/sequence_checker.h).
  [[nodiscard]] SequenceChecker& Sequence() const { return sequence_; }

 private:
  mutable std::mutex mutex_;
  mutable SequenceChecker sequence_;
  std::vector<std::unique_ptr<EndpointRecord>> endpoints_;  // in creation order
  std::unordered_map<const BindingFunctionDescriptor*, EndpointRecord*> byFunction_;
};

}  // namespace Vexa
