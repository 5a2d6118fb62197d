// The invoker: how the request dispatcher calls one bound function with dynamic argument values.
// It is the implementation a function descriptor carries for the dispatcher (see
// BindingFunctionImplementation in binding/descriptors.h); bound functions install theirs when
// they are registered (dispatch/bound_function.h).
//
//   Vexa::BindingInvoker* invoker = Vexa::InvokerOf(function);   // null: not callable here
//   Vexa::BindingTokenRoom room;                                 // outlives the token
//   void* token = invoker->Prepare(state, values, context, room);  // values: one per argument
//   if (!state.Failed()) invoker->Invoke(state, request, token, context);
//   if (token != nullptr) invoker->Release(token);
//
// Ownership: the function descriptor owns its invoker; the dispatcher only borrows it, for as
// long as the function stays registered. A token is the invoker's until Release, whether it
// stands in the room the caller lent or on the heap.
//
// Threading: an invoker keeps no per-call state; concurrent calls are as safe as the function.
#pragma once

#include <cstddef>
#include <span>

#include "binding/descriptors.h"
#include "binding/static_type.h"
#include "dispatch/http_call.h"
#include "value/property.h"

namespace Vexa {

// Room that the caller of Prepare lends for the token, so that the native arguments of most
// functions need no block of the heap. It must stay in place (not be copied or reused) until
// the token is released.
struct BindingTokenRoom {
  static constexpr std::size_t kBytes = 128;
  alignas(std::max_align_t) unsigned char bytes[kBytes];
};

// Calls one bound function for the dispatcher, in this order: Prepare, Invoke (when Prepare
// left no failure in the call state), Release (whenever Prepare returned a token). Failures go
// into the call state, never out as exceptions.
class BindingInvoker : public BindingFunctionImplementation {
 public:
  // Converts `arguments` (one per argument, in order; the invoker may move from them) into
  // the native arguments and returns them as a token, or null when it needs none. The token
  // may stand in `room`.
  [[nodiscard]] virtual void* Prepare(HttpCallState& state, std::span<BindingProperty> arguments,
                                      HostHandle context, BindingTokenRoom& room) = 0;
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
