#include "dispatch/endpoint_declaration.h"

#include <cassert>

#include "dispatch/invoker.h"
#include "dispatch/route_pattern.h"

namespace Vexa {

EndpointMethod EndpointMethod::Other(std::string_view methodName) {
  EndpointMethod other(HttpMethod::Other);
  other.name = methodName;
  return other;
}

std::string_view EndpointMethod::Text() const {
  return method == HttpMethod::Other ? name : HttpMethodText(method);
}

EndpointRoute MakeEndpointRoute(const EndpointMethod& method, std::string_view uriTemplate) {
  EndpointRoute route;
  route.uriTemplate = NormalizeRouteTemplate(uriTemplate);
  route.operationName = OperationName(method.Text(), route.uriTemplate);
  return route;
}

EndpointDeclarationBase DeclareBoundEndpoint(RequestDispatcher& dispatcher,
                                             BindingRegistry& registry,
                                             const EndpointMethod& method,
                                             const EndpointRoute& route,
                                             BindingFunctionDescriptor& function) {
  // A taken name left `function` detached: the host could never reach it by name, and its
  // endpoint would shadow nothing but confuse the API table, so it goes away again.
  if (registry.FindFunction(route.operationName) != &function) {
    assert(false && "an endpoint with this operation name is declared already");
    registry.RemoveFunction(&function);
    return {};
  }
  assert((method.method != HttpMethod::Other || !method.name.empty()) &&
         "EndpointMethod::Other needs the method's name");

  EndpointRecord& endpoint = dispatcher.Endpoint(function);
  endpoint.SetUriTemplate(route.uriTemplate);
  endpoint.method = method.method;
  endpoint.methodName = method.method == HttpMethod::Other ? std::string(method.name) : "";
  endpoint.invoker = InvokerOf(function);
  return EndpointDeclarationBase(function, endpoint);
}

void EndpointDeclarationBase::NameArgument(std::string_view name, std::string_view description,
                                           ArgumentLocation location) {
  if (function_ == nullptr) {
    return;
  }
  if (function_->namedArguments >= function_->arguments.size()) {
    assert(false && "every argument of this endpoint's function has been named");
    return;
  }
  assert(!name.empty() && "an endpoint argument needs a name");
  assert(function_->FindArgument(name) == nullptr && "two endpoint arguments have the same name");
  const std::size_t index = BindingRegistry::AddArgument(*function_, name, description);
  endpoint_->SetLocation(index, location);
}

void EndpointDeclarationBase::AddTags(std::span<const std::string> tags) {
  if (function_ != nullptr) {
    function_->tags.insert(function_->tags.end(), tags.begin(), tags.end());
  }
}

void EndpointDeclarationBase::AddTags(std::initializer_list<std::string_view> tags) {
  if (function_ != nullptr) {
    for (const std::string_view tag : tags) {
      function_->tags.emplace_back(tag);
    }
  }
}

void EndpointDeclarationBase::SetHelp(std::string_view help) {
  if (function_ != nullptr) {
    function_->help = help;
  }
}

void EndpointDeclarationBase::SetDescription(std::string_view description) {
  if (function_ != nullptr) {
    function_->description = description;
  }
}

}  // namespace Vexa
