// Bound functions: a free function, a member function bound to its object, or a callable,
// registered in a BindingRegistry together with the typed invoker through which the request
// dispatcher calls it with dynamic argument values.
//
//   // EndpointAnswer<Item> ItemModule::GetItem(int32_t id, const Vexa::RemotingRequest& request)
//   Vexa::BindingFunctionDescriptor& function =
//       Vexa::RegisterBoundFunction(registry, "GetItemsById", &ItemModule::GetItem, this);
//   Vexa::BindingRegistry::AddArgument(function, "id", "The item's number");
//   // function.arguments.size() == 1: the request record is not an argument.
//   // The dispatcher then calls, through InvokerOf(function) (dispatch/invoker.h):
//   //   void* token = invoker->Prepare(state, values, context, room);   // one value per argument
//   //   if (!state.Failed()) invoker->Invoke(state, request, token, context);
//   //   if (token != nullptr) invoker->Release(token);
//
// Parameters. Every parameter of a bindable type (binding/conversion/native_type_of.h) is one
// argument of the function, in parameter order; Prepare converts its value with ToNative under the
// argument's name (the descriptor's). A parameter `const HttpBaseTransport::Request&` or
// `const RemotingRequest&`, or a pointer to const of either, is not an argument: it receives
// the request record, which the dispatcher builds because RequestContextType asks for it. A
// reference parameter given no record receives an empty one, a pointer parameter null.
//
// Results. void leaves the call state's value empty. A plain T is converted with ToValue into
// the call state's result. An EndpointAnswer<T> (dispatch/endpoint_answer.h) fails the call
// with its message when !ok, else its value is converted like a plain T; its flag byte,
// format, status, response text and headers are copied into the call state in both cases, and
// when the call has not failed its body stream becomes the streamed response body.
//
// Failures: a refused argument or result conversion fails the call state with the
// conversion's message (a refused argument with status 400, kBadArgumentsStatus). Nothing
// thrown by the function or by a conversion leaves an invoker: it fails the call with "Call of
// '%1' failed: %2" (function name, the exception's text) or, for an exception that is not a
// std::exception, "Call of '%1' failed with an unknown exception.", status 500 unless the call
// state holds one; so does an Invoke without its token.
//
// Ownership: the registry owns the descriptor, the descriptor its invoker, the invoker a copy
// of the callable. A member function's object is borrowed and must outlive the registration (a
// module binds its own operations and owns its registry). Register the enums and records that
// arguments and results name before the function: the argument identifiers are taken at
// registration; conversions look descriptors up on every call.
//
// Threading: an invoker keeps no per-call state; concurrent calls are as safe as the function.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/conversion/conversion.h"
#include "binding/conversion/native_type_of.h"
#include "binding/descriptors.h"
#include "binding/registry.h"
#include "dispatch/endpoint_answer.h"
#include "dispatch/http_call.h"
#include "dispatch/invoker.h"
#include "value/property.h"

namespace Vexa {

// The parameter types that receive the request record instead of an argument value.
template <typename P>
inline constexpr bool kIsRequestParameter = std::is_same_v<P, const HttpBaseTransport::Request&> ||
                                            std::is_same_v<P, const RemotingRequest&> ||
                                            std::is_same_v<P, const HttpBaseTransport::Request*> ||
                                            std::is_same_v<P, const RemotingRequest*>;

// The untyped part of every bound function's invoker: conversions, result storing and failure
// reporting, so that the typed layer only lists its parameter types.
class BoundFunctionInvoker : public BindingInvoker {
 public:
  [[nodiscard]] const StaticTypeInfo* RequestContextType() const final { return requestType_; }
  [[nodiscard]] const BindingFunctionDescriptor& Function() const { return *function_; }

 protected:
  // `function` (registered, so its registry is set) owns this invoker.
  BoundFunctionInvoker(const BindingFunctionDescriptor& function, const StaticTypeInfo* requestType)
      : function_(&function), requestType_(requestType) {}

  [[nodiscard]] const BindingRegistry& Registry() const { return *function_->registry; }

  // Converts arguments[k] into the native object natives[k] of type types[k], named after the
  // descriptor's argument k; a value missing from `arguments` counts as empty and extra values
  // are ignored. On the first refusal fails `state` with its message and answers false.
  bool ConvertArguments(HttpCallState& state, std::span<const BindingProperty> arguments,
                        std::span<void* const> natives,
                        std::span<const BindingNativeType> types) const;
  // Makes the native object's value the call's result, or fails the call with the
  // conversion's message.
  void StoreValue(HttpCallState& state, const void* native, const BindingNativeType& type) const;
  template <typename T>
  void StoreAnswer(HttpCallState& state, EndpointAnswer<T>&& answer) const;
  // Fails `state` with the message of the exception being handled; call only from a handler.
  void FailWithCurrentException(HttpCallState& state) const noexcept;
  // Fails `state` because Invoke received no token although the function has arguments.
  void FailUnprepared(HttpCallState& state) const;

  // Records the argument's type and whether it is optional in the descriptor.
  static void DescribeArgument(BindingFunctionDescriptor& function, std::size_t index,
                               const BindingNativeType& type);
  // The record a request-record reference parameter receives when the caller gave none.
  [[nodiscard]] static const RemotingRequest& NoRequestRecord();

 private:
  static void CopyResponseData(HttpCallState& state, uint8_t flags, uint32_t format,
                               uint32_t status, std::string&& text, HttpHeaderMap&& headers);

  const BindingFunctionDescriptor* function_;  // the owner
  const StaticTypeInfo* requestType_;          // null: no request record wanted
};

template <typename T>
void BoundFunctionInvoker::StoreAnswer(HttpCallState& state, EndpointAnswer<T>&& answer) const {
  if (answer.Ok()) {
    StoreValue(state, &answer.value, NativeTypeOf<T>(Registry()));
  } else {
    state.Fail(answer.message);
  }
  CopyResponseData(state, answer.responseFlags, answer.responseFormat, answer.status,
                   std::move(answer.responseText), std::move(answer.headers));
  // The stream is the function's only way to stream a body; a failed call sends none.
  if (!state.Failed()) {
    state.bodyStream = std::move(answer.bodyStream);
  }
}

namespace BoundFunctionDetail {

template <typename P>
using Bare = std::remove_cv_t<std::remove_pointer_t<std::remove_cvref_t<P>>>;

template <typename P>
inline constexpr bool kNamesRemotingRequest = std::is_same_v<Bare<P>, RemotingRequest>;
template <typename P>
inline constexpr bool kNamesRequestRecord =
    kNamesRemotingRequest<P> || std::is_same_v<Bare<P>, HttpBaseTransport::Request>;

template <typename P>
consteval bool CheckParameter() {
  static_assert(!kNamesRequestRecord<P> || kIsRequestParameter<P>,
                "a bound function receives the request record as const "
                "HttpBaseTransport::Request& or const RemotingRequest&, or as a pointer to const "
                "of either");
  return true;
}

// What the typed invoker needs to know about a parameter list: which parameters are
// arguments, and where each parameter's value comes from.
template <typename... Params>
struct ParameterList {
  static constexpr bool kChecked = (CheckParameter<Params>() && ...);
  static constexpr std::size_t kCount = sizeof...(Params);
  static constexpr std::size_t kArgumentCount =
      (std::size_t{0} + ... + (kIsRequestParameter<Params> ? 0 : 1));
  static constexpr std::array<bool, kCount + 1> kIsRequest = {kIsRequestParameter<Params>...,
                                                              false};

  // For parameter j: the index of its argument (meaningless for a request parameter).
  static constexpr std::array<std::size_t, kCount + 1> kArgumentIndex = [] {
    std::array<std::size_t, kCount + 1> indexes{};
    std::size_t next = 0;
    for (std::size_t parameter = 0; parameter < kCount; ++parameter) {
      indexes[parameter] = next;
      next += kIsRequest[parameter] ? 0 : 1;
    }
    return indexes;
  }();
  // For argument k: the index of its parameter.
  static constexpr std::array<std::size_t, kArgumentCount + 1> kParameterIndex = [] {
    std::array<std::size_t, kArgumentCount + 1> indexes{};
    for (std::size_t parameter = 0; parameter < kCount; ++parameter) {
      if (!kIsRequest[parameter]) {
        indexes[kArgumentIndex[parameter]] = parameter;
      }
    }
    return indexes;
  }();

  template <std::size_t J>
  using Parameter = std::tuple_element_t<J, std::tuple<Params...>>;
  template <std::size_t K>
  using ArgumentType = std::remove_cvref_t<Parameter<kParameterIndex[K]>>;

  template <typename Sequence>
  struct TupleOf;
  template <std::size_t... K>
  struct TupleOf<std::index_sequence<K...>> {
    using type = std::tuple<ArgumentType<K>...>;
  };
  // The native arguments, as Prepare holds them.
  using Arguments = typename TupleOf<std::make_index_sequence<kArgumentCount>>::type;

  [[nodiscard]] static const StaticTypeInfo* RequestType() {
    if constexpr ((kNamesRemotingRequest<Params> || ...)) {
      return &StaticTypeInfoOf<RemotingRequest>();
    } else if constexpr ((kIsRequestParameter<Params> || ...)) {
      return &StaticTypeInfoOf<HttpBaseTransport::Request>();
    } else {
      return nullptr;
    }
  }
};

// The call signature R(Params...) of a function pointer, member function pointer or callable
// (whose operator() must not be overloaded or a template).
template <typename F>
struct Signature : Signature<decltype(&F::operator())> {};
template <typename R, typename... P>
struct Signature<R (*)(P...)> {
  using type = R(P...);
};
template <typename R, typename... P>
struct Signature<R (*)(P...) noexcept> : Signature<R (*)(P...)> {};
template <typename R, typename C, typename... P>
struct Signature<R (C::*)(P...)> {
  using type = R(P...);
  using Class = C;
};
template <typename R, typename C, typename... P>
struct Signature<R (C::*)(P...) const> : Signature<R (C::*)(P...)> {};
template <typename R, typename C, typename... P>
struct Signature<R (C::*)(P...) noexcept> : Signature<R (C::*)(P...)> {};
template <typename R, typename C, typename... P>
struct Signature<R (C::*)(P...) const noexcept> : Signature<R (C::*)(P...)> {};

template <typename F>
using SignatureOf = typename Signature<std::decay_t<F>>::type;

// The parameter of type P as the function receives it from the request record (a
// RemotingRequest is an HttpBaseTransport::Request, so either name takes it as it is).
template <typename P>
P RequestAs(const RemotingRequest* request, const RemotingRequest& none) {
  const Bare<P>* record = request;
  if constexpr (std::is_pointer_v<P>) {
    return record;
  } else {
    return record != nullptr ? *record : none;
  }
}

template <typename Signature>
struct MemberCall;
template <typename R, typename... Params>
struct MemberCall<R(Params...)> {
  template <typename Method, typename Object>
  static std::function<R(Params...)> Bind(Method method, Object* object) {
    return [method, object](Params... params) -> R {
      if (object == nullptr) {
        throw std::invalid_argument("the function was bound to no object");
      }
      return std::invoke(method, object, std::forward<Params>(params)...);
    };
  }
};

}  // namespace BoundFunctionDetail

template <typename Signature>
class BoundFunction;

// The invoker of a function with the call signature R(Params...).
template <typename R, typename... Params>
class BoundFunction<R(Params...)> final : public BoundFunctionInvoker {
  using List = BoundFunctionDetail::ParameterList<Params...>;
  using Arguments = typename List::Arguments;
  static_assert(List::kChecked);
  static_assert(!kIsEndpointAnswer<R> || !std::is_reference_v<R>,
                "a bound function returns its EndpointAnswer by value");

 public:
  using Callable = std::function<R(Params...)>;
  // How many arguments the function has (its parameters but the request-record ones).
  static constexpr std::size_t kArgumentCount = List::kArgumentCount;

  BoundFunction(const BindingFunctionDescriptor& function, Callable callable)
      : BoundFunctionInvoker(function, List::RequestType()), callable_(std::move(callable)) {}

  // Fills the argument types and the return type of the function's descriptor.
  static void Describe(BindingFunctionDescriptor& function, const BindingRegistry& registry) {
    DescribeArguments(function, registry, std::make_index_sequence<kArgumentCount>{});
    function.returnType = ReturnType(registry);
  }

  // The token: the native arguments (a std::tuple), or null when the function has none or a
  // value was refused. Arguments that fit the caller's room are built there, larger ones on
  // the heap; which of the two is fixed by the function's type, so Release knows it too.
  [[nodiscard]] void* Prepare(HttpCallState& state, std::span<BindingProperty> arguments,
                              HostHandle /*context*/, BindingTokenRoom& room) override {
    if constexpr (kArgumentCount == 0) {
      return nullptr;
    } else {
      try {
        if constexpr (kFitsRoom) {
          auto* natives = ::new (static_cast<void*>(room.bytes)) Arguments();
          bool converted = false;
          try {
            converted =
                Convert(state, arguments, *natives, std::make_index_sequence<kArgumentCount>{});
          } catch (...) {
            natives->~Arguments();
            throw;
          }
          if (!converted) {
            natives->~Arguments();
            return nullptr;
          }
          return natives;
        } else {
          auto natives = std::make_unique<Arguments>();
          if (!Convert(state, arguments, *natives, std::make_index_sequence<kArgumentCount>{})) {
            return nullptr;
          }
          return natives.release();
        }
      } catch (...) {
        FailWithCurrentException(state);
        return nullptr;
      }
    }
  }

  void Invoke(HttpCallState& state, const RemotingRequest* request, void* token,
              HostHandle /*context*/) override {
    if constexpr (kArgumentCount > 0) {
      if (token == nullptr) {
        FailUnprepared(state);
        return;
      }
    }
    try {
      Call(state, request, static_cast<Arguments*>(token), std::index_sequence_for<Params...>{});
    } catch (...) {
      FailWithCurrentException(state);
    }
  }

  void Release(void* token) override {
    if constexpr (kFitsRoom) {
      static_cast<Arguments*>(token)->~Arguments();
    } else {
      delete static_cast<Arguments*>(token);
    }
  }

 private:
  template <std::size_t... K>
  static void DescribeArguments(BindingFunctionDescriptor& function,
                                const BindingRegistry& registry, std::index_sequence<K...>) {
    (DescribeArgument(function, K, NativeTypeOf<typename List::template ArgumentType<K>>(registry)),
     ...);
  }

  static BindingTypeIdentifier ReturnType(const BindingRegistry& registry) {
    if constexpr (std::is_void_v<R>) {
      return {};
    } else if constexpr (kIsEndpointAnswer<R>) {
      return NativeTypeOf<typename std::remove_cvref_t<R>::ValueType>(registry).type;
    } else {
      return NativeTypeOf<std::remove_cvref_t<R>>(registry).type;
    }
  }

  // Whether the native arguments are built in the caller's room.
  static constexpr bool kFitsRoom = sizeof(Arguments) <= BindingTokenRoom::kBytes &&
                                    alignof(Arguments) <= alignof(BindingTokenRoom);

  template <std::size_t... K>
  bool Convert(HttpCallState& state, std::span<const BindingProperty> arguments, Arguments& natives,
               std::index_sequence<K...>) const {
    void* const addresses[] = {&std::get<K>(natives)...};
    const BindingNativeType types[] = {
        NativeTypeOf<typename List::template ArgumentType<K>>(Registry())...};
    return ConvertArguments(state, arguments, addresses, types);
  }

  template <std::size_t... J>
  void Call(HttpCallState& state, const RemotingRequest* request,
            [[maybe_unused]] Arguments* arguments, std::index_sequence<J...>) {
    if constexpr (std::is_void_v<R>) {
      callable_(Pass<J>(request, arguments)...);
    } else if constexpr (kIsEndpointAnswer<R>) {
      StoreAnswer(state, callable_(Pass<J>(request, arguments)...));
    } else {
      const auto& value = callable_(Pass<J>(request, arguments)...);
      StoreValue(state, &value, NativeTypeOf<std::remove_cvref_t<R>>(Registry()));
    }
  }

  // Parameter J: the request record, or its argument (moved unless taken by lvalue reference).
  template <std::size_t J>
  decltype(auto) Pass([[maybe_unused]] const RemotingRequest* request,
                      [[maybe_unused]] Arguments* arguments) const {
    using P = typename List::template Parameter<J>;
    if constexpr (kIsRequestParameter<P>) {
      return BoundFunctionDetail::RequestAs<P>(request, NoRequestRecord());
    } else {
      return std::forward<P>(std::get<List::kArgumentIndex[J]>(*arguments));
    }
  }

  Callable callable_;
};

// The number of arguments of a function, member function or callable as RegisterBoundFunction
// registers it.
template <typename Function>
inline constexpr std::size_t kBoundArgumentCount =
    BoundFunction<BoundFunctionDetail::SignatureOf<Function>>::kArgumentCount;

// Registers `callable` under `name` with one argument entry per argument (types and optional
// flags filled by position, names left for the caller: BindingRegistry::AddArgument), its
// return type and its invoker. Returns the registry's descriptor. When the name is taken the
// new descriptor is detached (see BindingRegistry::RegisterFunction): check with FindFunction.
template <typename Signature>
BindingFunctionDescriptor& RegisterBoundCallable(BindingRegistry& registry, std::string_view name,
                                                 std::function<Signature> callable) {
  using Invoker = BoundFunction<Signature>;
  BindingFunctionDescriptor& function = registry.RegisterFunction(name, Invoker::kArgumentCount);
  Invoker::Describe(function, registry);
  function.implementation = std::make_unique<Invoker>(function, std::move(callable));
  return function;
}

// A free function (pointer) or a callable object (copied; its operator() must be unique).
template <typename Function>
BindingFunctionDescriptor& RegisterBoundFunction(BindingRegistry& registry, std::string_view name,
                                                 Function function) {
  static_assert(!std::is_member_function_pointer_v<Function>,
                "a member function is bound to its object: RegisterBoundFunction(registry, name, "
                "&Class::Method, object)");
  using Signature = BoundFunctionDetail::SignatureOf<Function>;
  return RegisterBoundCallable<Signature>(registry, name,
                                          std::function<Signature>(std::move(function)));
}

// A member function called on `object` (borrowed; must outlive the registration).
template <typename Method, typename Object>
requires std::is_member_function_pointer_v<Method> BindingFunctionDescriptor& RegisterBoundFunction(
    BindingRegistry& registry, std::string_view name, Method method, Object* object) {
  using Traits = BoundFunctionDetail::Signature<Method>;
  static_assert(std::is_base_of_v<typename Traits::Class, std::remove_cv_t<Object>>,
                "the object is not of the member function's class");
  using Signature = typename Traits::type;
  return RegisterBoundCallable<Signature>(
      registry, name, BoundFunctionDetail::MemberCall<Signature>::Bind(method, object));
}

}  // namespace Vexa
