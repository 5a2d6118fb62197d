#include "dispatch/endpoint.h"

#include <utility>

#include "binding/descriptors.h"
#include "dispatch/invoker.h"

namespace Vexa {

EndpointRecord::EndpointRecord(const BindingFunctionDescriptor* endpointFunction)
    : function(endpointFunction) {
  SetUriTemplate({});
}

void EndpointRecord::SetUriTemplate(std::string_view uriTemplate) {
  // Built aside first: should building run out of memory, the record keeps its old route.
  const std::string_view routed =
      !uriTemplate.empty() || function == nullptr ? uriTemplate : std::string_view(function->name);
  RoutePattern route = BuildRoutePattern(function, this, routed);
  uriTemplate_ = uriTemplate;
  route_ = std::move(route);
}

ArgumentLocation EndpointRecord::LocationOf(std::size_t argumentIndex) const {
  if (argumentIndex >= argumentLocations.size())
    return ArgumentLocation::Any;
  return static_cast<ArgumentLocation>(argumentLocations[argumentIndex]);
}

void EndpointRecord::SetLocation(std::size_t argumentIndex, ArgumentLocation location) {
  if (argumentIndex >= argumentLocations.size()) {
    argumentLocations.resize(argumentIndex + 1, static_cast<uint32_t>(ArgumentLocation::Any));
  }
  argumentLocations[argumentIndex] = static_cast<uint32_t>(location);
}

EndpointRecord& RequestDispatcher::Endpoint(const BindingFunctionDescriptor& function) {
  std::lock_guard lock(mutex_);
  auto found = byFunction_.find(&function);
  if (found != byFunction_.end())
    return *found->second;

  auto endpoint = std::make_unique<EndpointRecord>(&function);
  endpoint->invoker = InvokerOf(function);
  endpoint->argumentLocations.assign(function.arguments.size(),
                                     static_cast<uint32_t>(ArgumentLocation::Any));
  EndpointRecord& created = *endpoint;
  byFunction_.emplace(&function, &created);
  endpoints_.push_back(std::move(endpoint));
  return created;
}

EndpointRecord* RequestDispatcher::FindEndpoint(const BindingFunctionDescriptor* function) const {
  std::lock_guard lock(mutex_);
  auto found = byFunction_.find(function);
  return found == byFunction_.end() ? nullptr : found->second;
}

std::vector<const EndpointRecord*> RequestDispatcher::EndpointsSnapshot() const {
  std::lock_guard lock(mutex_);
  std::vector<const EndpointRecord*> snapshot;
  snapshot.reserve(endpoints_.size());
  for (const auto& endpoint : endpoints_)
    snapshot.push_back(endpoint.get());
  return snapshot;
}

}  // namespace Vexa
