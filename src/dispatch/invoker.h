// The invoker: how the request dispatcher calls one bound function with dynamic argument values.
// It is the implementation a function descriptor carries for the dispatcher (see
// BindingFunctionImplementation in binding/descriptors.h); bound functions install theirs when
// they are registered (dispatch/bound_function.h).
//
//   Vexa::BindingInvoker* invoker = Vexa::InvokerOf(function);   // null: not callable here
//   void* token = invoker->Prepare(state, values, context);     // values: one per argument
//   if (!state.Failed()) invoker->Invoke(state, request, token, context);
//   if (token != nullptr) invoker->Release(token);
//
// Ownership: the function descriptor owns its invoker; the dispatcher only borrows it, for as
// long as the function stays registered.
//
// Threading: an invoker keeps no per-call state; concurrent calls are as safe as the function.
#pragma once

#include <vector>

#include "binding/descriptors.h"
#include "binding/static_type.h"
#include "dispatch/http_call.h"
#include "value/property.h"

namespace Vexa {

// Calls one bound function for the dispatcher, in this order: Prepare, Invoke (when Prepare
// left no failure in the call state), Release (whenever Prepare returned a token). Failures go
// into the call state, never out as exceptions.
class BindingInvoker : public BindingFunctionImplementation {
 public:
  // Converts `arguments` (one per argument, in order; the invoker may move from them) into
  // the native arguments and returns them as a token, or null when it needs none.
  [[nodiscard]] virtual void* Prepare(HttpCallState& state, std::vector<BindingProperty>& arguments,
                                      HostHandle context) = 0;
  // Calls the function with the prepared arguments and leaves its result and response data
  // in `state`. `request` is the request record when RequestContextType asks for one (under
  // either of its names), else null.
  virtual void Invoke(HttpCallState& state, const RemotingRequest* request, void* token,
                      HostHandle context) = 0;
  // Frees what Prepare made; called once per non-null token.
  virtual void Release(void* token) = 0;
  // The request record type the function receives, or null when it wants none.
  [[nodiscard]] virtual const StaticTypeInfo* RequestContextType() const = 0;
};

// The invoker that `function` carries, or null when it carries none or an implementation of
// another layer.
[[nodiscard]] inline BindingInvoker* InvokerOf(const BindingFunctionDescriptor& function) {
  return dynamic_cast<BindingInvoker*>(function.implementation.get());
}

}  // namespace Vexa
