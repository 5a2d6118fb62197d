// Endpoint declarations: the one statement with which a module binds a function to an HTTP
// method and URI template and names the function's arguments with where a request gives them.
//
//   Vexa::DeclareEndpoint(dispatcher, registry, Vexa::HttpMethod::Get,
//                         "/kor-geoinfo/v1/getlocation", &GeoInfoModule::GetLocation, this)
//       .Tags(apiTags)
//       .Query("ip_address", "The IP address to locate");
//   Vexa::DeclareEndpoint(dispatcher, registry, Vexa::EndpointMethod::Other("PURGE"),
//                         "/cache/{key}/", &CacheModule::Purge, this)
//       .Path("key");                          // route "/cache/{key}", function "PurgeCacheByKey"
//
// The statement normalises the template (NormalizeRouteTemplate), registers the function with
// its invoker (dispatch/bound_function.h) under the operation name of the method and template
// (OperationName; for EndpointMethod::Other the given method name stands for the method
// text), creates the function's endpoint in the dispatcher and fills in the template, method,
// method name and invoker. The returned declaration then names the function's arguments in
// parameter order (request-record parameters are not arguments), each call naming the next
// one and storing its location: Query, Path, Header, Body, or Argument for any location.
// Arguments left unnamed can only be given positionally by the host.
//
// Misuse:
// - Naming more arguments than the function has does not compile ("every argument of this
//   endpoint's function has been named"). A declaration kept in a variable and named through
//   twice is caught at run time: the extra names are ignored.
// - Declaring a method and template whose operation name is already registered (the same
//   route twice, or two templates that differ only in the characters the operation name
//   drops) is refused: the second function is removed again, no endpoint is made, the
//   declaration ignores every call and Declared() is false.
// - An empty argument name, two arguments of the same name, and EndpointMethod::Other without
//   a name are declared as given (so positions stay right), but make no usable API.
// Debug builds stop at each of the run-time cases with a failed assert; release builds carry on
// as described. These are programming errors of the declaring module, found at start-up.
//
// Ownership: declarations borrow the registry's descriptor and the dispatcher's endpoint; use
// them within the declaring statement (or at least while both live). The callable, or the
// object a member function is bound to, is handled as by RegisterBoundFunction.
//
// Threading: declarations belong to a module's start-up, on one thread.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "binding/descriptors.h"
#include "binding/registry.h"
#include "dispatch/bound_function.h"
#include "dispatch/endpoint.h"
#include "dispatch/http_call.h"

namespace Vexa {

// The method of a declaration: an HttpMethod (converts implicitly), or Other with its name.
struct EndpointMethod {
  EndpointMethod(HttpMethod httpMethod) : method(httpMethod) {}  // implicit: Get, Post, ...
  // A method outside the host's table, matched by its name ("PURGE"). The name is borrowed for
  // the declaring statement.
  [[nodiscard]] static EndpointMethod Other(std::string_view methodName);

  // The method text of the operation name: the name for Other, else HttpMethodText.
  [[nodiscard]] std::string_view Text() const;

  HttpMethod method;
  std::string_view name;  // Other only
};

// A declared route: the normalised template and the operation name derived from it.
struct EndpointRoute {
  std::string uriTemplate;
  std::string operationName;
};
[[nodiscard]] EndpointRoute MakeEndpointRoute(const EndpointMethod& method,
                                              std::string_view uriTemplate);

// The untyped part of a declaration: a function descriptor and its endpoint (both null when
// the declaration was refused). Copies refer to the same function and endpoint.
class EndpointDeclarationBase {
 public:
  EndpointDeclarationBase() = default;
  EndpointDeclarationBase(BindingFunctionDescriptor& function, EndpointRecord& endpoint)
      : function_(&function), endpoint_(&endpoint) {}

  // Names the function's next unnamed argument and stores its location; ignored when every
  // argument is named already (an assert in debug builds) and when the declaration was refused.
  void NameArgument(std::string_view name, std::string_view description, ArgumentLocation location);
  void AddTags(std::span<const std::string> tags);
  void AddTags(std::initializer_list<std::string_view> tags);
  void SetHelp(std::string_view help);
  void SetDescription(std::string_view description);

  [[nodiscard]] bool Declared() const { return function_ != nullptr; }
  [[nodiscard]] BindingFunctionDescriptor* Function() const { return function_; }
  [[nodiscard]] EndpointRecord* Endpoint() const { return endpoint_; }

 private:
  BindingFunctionDescriptor* function_ = nullptr;
  EndpointRecord* endpoint_ = nullptr;
};

// Makes or refuses the endpoint of `function`, which the caller has just registered under
// route.operationName (see the misuse rules above).
EndpointDeclarationBase DeclareBoundEndpoint(RequestDispatcher& dispatcher,
                                             BindingRegistry& registry,
                                             const EndpointMethod& method,
                                             const EndpointRoute& route,
                                             BindingFunctionDescriptor& function);

// A declaration whose function has `Remaining` arguments left to name.
template <std::size_t Remaining>
class EndpointDeclaration {
 public:
  explicit EndpointDeclaration(EndpointDeclarationBase base) : base_(base) {}

  // Name the next argument, given in the query string, a path placeholder, a header, the
  // request body, or anywhere.
  auto Query(std::string_view name, std::string_view description = {}) {
    return Next(name, description, ArgumentLocation::Query);
  }
  auto Path(std::string_view name, std::string_view description = {}) {
    return Next(name, description, ArgumentLocation::Path);
  }
  auto Header(std::string_view name, std::string_view description = {}) {
    return Next(name, description, ArgumentLocation::Header);
  }
  auto Body(std::string_view name, std::string_view description = {}) {
    return Next(name, description, ArgumentLocation::Body);
  }
  auto Argument(std::string_view name, std::string_view description = {}) {
    return Next(name, description, ArgumentLocation::Any);
  }

  // The function's tags, help text and description, as the API description shows them.
  EndpointDeclaration& Tags(std::span<const std::string> tags) {
    base_.AddTags(tags);
    return *this;
  }
  EndpointDeclaration& Tags(std::initializer_list<std::string_view> tags) {
    base_.AddTags(tags);
    return *this;
  }
  EndpointDeclaration& Help(std::string_view help) {
    base_.SetHelp(help);
    return *this;
  }
  EndpointDeclaration& Description(std::string_view description) {
    base_.SetDescription(description);
    return *this;
  }

  [[nodiscard]] bool Declared() const { return base_.Declared(); }
  [[nodiscard]] BindingFunctionDescriptor* Function() const { return base_.Function(); }
  [[nodiscard]] EndpointRecord* Endpoint() const { return base_.Endpoint(); }

 private:
  EndpointDeclaration<(Remaining > 0 ? Remaining - 1 : 0)> Next(std::string_view name,
                                                                std::string_view description,
                                                                ArgumentLocation location) {
    static_assert(Remaining > 0, "every argument of this endpoint's function has been named");
    base_.NameArgument(name, description, location);
    return EndpointDeclaration<(Remaining > 0 ? Remaining - 1 : 0)>(base_);
  }

  EndpointDeclarationBase base_;
};

// Declares a free function (pointer) or a callable object as the endpoint of `method` and
// `uriTemplate`.
template <typename Function>
EndpointDeclaration<kBoundArgumentCount<Function>> DeclareEndpoint(RequestDispatcher& dispatcher,
                                                                   BindingRegistry& registry,
                                                                   EndpointMethod method,
                                                                   std::string_view uriTemplate,
                                                                   Function function) {
  const EndpointRoute route = MakeEndpointRoute(method, uriTemplate);
  BindingFunctionDescriptor& descriptor =
      RegisterBoundFunction(registry, route.operationName, std::move(function));
  return EndpointDeclaration<kBoundArgumentCount<Function>>(
      DeclareBoundEndpoint(dispatcher, registry, method, route, descriptor));
}

// Declares a member function called on `object` (borrowed; must outlive the registration).
template <typename Method, typename Object>
requires std::is_member_function_pointer_v<Method> EndpointDeclaration<kBoundArgumentCount<Method>>
DeclareEndpoint(RequestDispatcher& dispatcher, BindingRegistry& registry, EndpointMethod method,
                std::string_view uriTemplate, Method memberFunction, Object* object) {
  const EndpointRoute route = MakeEndpointRoute(method, uriTemplate);
  BindingFunctionDescriptor& descriptor =
      RegisterBoundFunction(registry, route.operationName, memberFunction, object);
  return EndpointDeclaration<kBoundArgumentCount<Method>>(
      DeclareBoundEndpoint(dispatcher, registry, method, route, descriptor));
}

}  // namespace Vexa
