// The host's API table and handle in C++ terms: the ten entries a module may call, each checked
// for presence, with every host value built, read and released here.
//
//   Vexa::HostLink host(context);                              // at Start; borrowed until Stop
//   Vexa::Maybe<Vexa::BindingProperty> answer =
//       host.Request({Vexa::HttpMethod::Get, "/kor-login/v1/session"}, &registry, yield);
//   host.Subscribe("OnJsonApiEvent_kor-login_v1_session", receiver, 0);
//   host.Log(2, "text");
//
// A call through an entry the host does not offer (or through a link without a host) calls
// nothing and answers false, or for a request a Failure.
//
// Ownership: a link borrows the host's context, which the host keeps valid from Start until
// Stop returns; copying a link copies the borrow. A receiver given to Subscribe must stay alive
// until it is unsubscribed or the module stops.
//
// Threading: a link is used on the module's sequence (vexa/host_contract.h); it keeps no
// state of its own but the borrow.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "diagnostics/sequence_checker.h"
#include "dispatch/http_call.h"
#include "value/failure.h"
#include "value/property.h"
#include "value/result.h"

// The seam's record of the host, complete in vexa/host_contract.h.
struct HostContext;

namespace Vexa {

class BindingRegistry;

// One request to a host URI: the method, the URI and the positional body items.
struct HostCall {
  HttpMethod method = HttpMethod::None;
  std::string_view uri;
  std::span<const BindingProperty* const> arguments;  // borrowed for the call
  // False: the answer is not read; success then carries an empty value.
  bool readAnswer = true;
};

// Receives the events of the subscriptions made with it.
class HostEventReceiver {
 public:
  // One delivered event: its name and its payload as a value, or the conversion's failure (the
  // value named "<result>"). Called on the module's sequence; what it throws is dropped.
  virtual void ReceiveHostEvent(std::string_view name, BindingResult&& payload) = 0;
  // The sequence the events belong to: the module's.
  [[nodiscard]] virtual SequenceChecker& Sequence() = 0;

 protected:
  ~HostEventReceiver() = default;
};

class HostLink {
 public:
  // A link without a host: every call answers false (a request, a Failure).
  HostLink() = default;
  // A link to the host of `context` (may be null, or lack its table: then none).
  explicit HostLink(const HostContext* context);

  [[nodiscard]] bool Connected() const { return context_ != nullptr; }
  // The host's handle for the module (word 2 of the context); 0 without a host.
  [[nodiscard]] HostHandle Handle() const;

  // Entry 1. Converts the arguments to host values (enum values named through `registry`, may
  // be null), sends the request, and reads the answer: the host's error text as a Failure with
  // the host's status ("Error response for %1 %2: %3"); a streamed body piece by piece, calling
  // `yield` when the host has no piece ready yet, and parsed as JSON; otherwise the body value.
  // Failures carry the texts of bridge/host_messages.h: code 400 when an argument has no host
  // form, 0 when the answer does not read or a streamed one exceeds kMaxStreamedAnswerBytes.
  [[nodiscard]] Maybe<BindingProperty> Request(const HostCall& call,
                                               const BindingRegistry* registry,
                                               const std::function<void()>& yield) const;
  // Entry 2. Offered by the host for other plugins; this runtime never calls it.
  bool Reserved2(uintptr_t first, uintptr_t second) const;
  // Entry 3: sends `payload` (converted once, enum values named through `registry`) under each
  // of `names` in turn. False when the payload has no host form or the host has no entry.
  [[nodiscard]] bool SendEvent(std::span<const std::string_view> names,
                               const BindingProperty& payload, uint32_t flags,
                               const BindingRegistry* registry) const;
  // Entries 4 and 5. The host calls back the plugin's event callback with `receiver` as context.
  bool Subscribe(const char* eventName, HostEventReceiver& receiver, uint32_t flags) const;
  bool Unsubscribe(const char* eventName) const;
  // Entry 6. Offered by the host for other plugins; this runtime never calls it.
  bool Reserved6(uintptr_t first, uintptr_t second, uintptr_t third, double value,
                 uintptr_t fourth) const;
  // Entries 7, 8 and 9: one turn of the host while waiting, and the wait's bounds.
  bool Yield() const;
  bool WaitBegin(const char* label, uintptr_t reserved) const;
  bool WaitEnd() const;
  // Entry 10: one log record; the text is only read during the call.
  bool Log(int32_t level, const char* message) const;

 private:
  const HostContext* context_ = nullptr;
};

}  // namespace Vexa
