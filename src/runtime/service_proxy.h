// Requests to remote services through the host's service proxy, and the matching of their
// answers, which arrive later as events.
//
//   Vexa::Maybe<void> posted = proxy.Invoke("contenttargeting.geoinfo", "getWhereAmI", payload,
//       "", "", [](const Vexa::PluginServiceProxyResponse& response) { ... });
//   // typed: a future of the answer's payload converted to a record
//   std::future<Vexa::Maybe<WhereAmIResponse>> answer =
//       proxy.Call<WhereAmIResponse>("contenttargeting.geoinfo", "getWhereAmI", request);
//
// A uuid request (no reply method) is keyed by the uuid that the host answers to the POST; a
// method request by service + "." + reply method. An answer event is keyed by its uuid
// ("OnServiceProxyUuidEvent") or by service + "." + method ("OnServiceProxyMethodEvent") and
// kept until a pending request of that key exists, so an answer that overtakes its own POST is
// matched as soon as the request is stored. Each matching run completes at most one request.
// An answer is kept only while a POST is out: one that no request can claim (delivered twice,
// or for a key nobody asked for) is dropped with a trace line once no POST is out.
//
// Ownership: the module owns its ServiceProxyRequests. Completion handlers are owned by the
// pending table until they run once; clearing the tables destroys them unrun (a typed call's
// future then reports a broken promise).
//
// Threading: one mutex guards the three tables (and the keys of method requests being posted)
// and is held while a completion or async handler runs; such a handler must not start another
// service proxy request on the same module, which would wait for the mutex it holds. The
// module's calls come as one sequence, but the tables stay consistent even when requests are
// started from several threads: a method request's key is taken under the mutex before its
// POST, so a second request of that key is refused while the first is out.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "codecs/json.h"
#include "runtime/host_calls.h"
#include "runtime/messages.h"
#include "runtime/records.h"
#include "runtime/requests.h"
#include "value/failure.h"
#include "value/property.h"

namespace Vexa {

using ServiceProxyHandler = std::function<void(const PluginServiceProxyResponse&)>;

class ServiceProxyRequests {
 public:
  explicit ServiceProxyRequests(HostCalls& host) : host_(host) {}
  ServiceProxyRequests(const ServiceProxyRequests&) = delete;
  ServiceProxyRequests& operator=(const ServiceProxyRequests&) = delete;

  // Posts the request and stores `onComplete` as pending under its key; the reply method and
  // text are empty for a uuid request. A refusal says why nothing is pending, with code 0:
  // "Finalizing" while the module stops, "Request already in flight" for a method request
  // whose key is pending, the host's failure message, or "Failed to convert type ... to
  // BindingProperty for serialization" when `payload` (a registered record, or a value) does
  // not convert. The payload is posted as compact JSON text.
  template <typename Payload>
  [[nodiscard]] Maybe<void> Invoke(std::string_view service, std::string_view method,
                                   const Payload& payload, std::string_view replyMethod,
                                   std::string_view replyText, ServiceProxyHandler onComplete);
  // A uuid request whose answer payload (JSON) is converted to T under the value name
  // "<value>". The future is ready at once when no request could be made; it reports a broken
  // promise when the tables are cleared before the answer came.
  template <typename T, typename Payload>
  [[nodiscard]] std::future<Maybe<T>> Call(std::string_view service, std::string_view method,
                                           const Payload& payload);

  // --- Awaited calls ---
  //
  // A typed uuid request whose caller waits for the answer before it returns (AppModule's
  // ServiceProxy): the answer lands in a slot on the caller's stack, so the request needs no
  // std::promise (whose first completion costs a futex system call) and its completion handler
  // is two pointers, kept inside the std::function.
  //
  //   ServiceProxyRequests::AnswerSlot<WhereAmIResponse> slot;
  //   proxy.Start("contenttargeting.geoinfo", "getWhereAmI", request, slot);
  //   while (proxy.StateOf(slot) == ServiceProxyRequests::SlotState::Waiting) { ...yield... }

  template <typename T>
  struct AnswerSlot {
    std::optional<Maybe<T>> answer;  // set once, under the tables' mutex
  };
  enum class SlotState {
    Waiting,   // the request is pending
    Answered,  // the answer (or why no request could be made) is in the slot
    Broken,    // the tables were cleared with the request pending: no answer will come
  };

  // Makes the request as Call does; the slot must stay alive and in place until StateOf no
  // longer answers Waiting.
  template <typename T, typename Payload>
  void Start(std::string_view service, std::string_view method, const Payload& payload,
             AnswerSlot<T>& slot);
  template <typename T>
  [[nodiscard]] SlotState StateOf(const AnswerSlot<T>& slot) const;
  // Blocks until StateOf no longer answers Waiting: for a host that cannot be yielded to, whose
  // answers can only come from another thread.
  template <typename T>
  void WaitFor(const AnswerSlot<T>& slot) const;

  // An answer as the typed call's result: its error as a failure, or its payload converted to T
  // ("Failed to deserialize response payload ..." when it does not convert). A call for a
  // PluginServiceProxyResponse gets the answer itself, error and status included, as it came.
  template <typename T>
  [[nodiscard]] Maybe<T> AnswerOf(const PluginServiceProxyResponse& response) const;

  // An answer event of either kind: stored under its response key, then matched; taken over.
  void OnUuidResponse(PluginServiceProxyResponse&& response);
  void OnMethodResponse(PluginServiceProxyResponse&& response);
  // An unsolicited message: handed to the async handler of service + "." + method, or logged.
  void OnAsyncResponse(const PluginServiceProxyResponse& response);

  // Registers the handler of unsolicited messages of `service` + "." + `method`.
  void SetAsyncHandler(std::string_view service, std::string_view method,
                       ServiceProxyHandler handler);

  // Drops every pending request, received answer and async handler.
  void Clear();

  [[nodiscard]] std::size_t PendingCount() const;

 private:
  // Invoke's posting, once the module is known not to stop and the payload is a value.
  [[nodiscard]] Maybe<void> InvokeValue(std::string_view service, std::string_view method,
                                        const BindingProperty& payload,
                                        std::string_view replyMethod, std::string_view replyText,
                                        ServiceProxyHandler onComplete);
  void StoreResponse(std::string key, PluginServiceProxyResponse&& response);
  // Runs the handler of a request that was pending and logs its completion; mutex_ held.
  void CompleteLocked(const std::string& key, const ServiceProxyHandler& handler,
                      const PluginServiceProxyResponse& response);
  void MatchLocked();       // mutex_ held
  void EndPostingLocked();  // mutex_ held: a POST has answered
  template <typename T>
  [[nodiscard]] SlotState StateLocked(const AnswerSlot<T>& slot) const;  // mutex_ held

  // The completion handler of an awaited call: fills the slot with the converted answer.
  template <typename T>
  struct FillSlot {
    const ServiceProxyRequests* requests;
    AnswerSlot<T>* slot;
    void operator()(const PluginServiceProxyResponse& response) const {
      slot->answer.emplace(requests->AnswerOf<T>(response));
    }
  };

  HostCalls& host_;
  mutable std::mutex mutex_;
  // The requests waiting for their answers, by key: a few at a time, so a vector, whose
  // capacity stays for the next requests (a tree would allocate a node for each).
  class PendingTable {
   public:
    using Entry = std::pair<std::string, ServiceProxyHandler>;
    [[nodiscard]] auto Find(std::string_view key) {
      return std::find_if(entries_.begin(), entries_.end(),
                          [key](const Entry& entry) { return entry.first == key; });
    }
    [[nodiscard]] bool Contains(std::string_view key) { return Find(key) != entries_.end(); }
    void Assign(std::string key, ServiceProxyHandler handler) {
      if (const auto found = Find(key); found != entries_.end()) {
        found->second = std::move(handler);
      } else {
        entries_.emplace_back(std::move(key), std::move(handler));
      }
    }
    // Order does not matter: the last entry takes the place of the erased one.
    void Erase(std::vector<Entry>::iterator entry) {
      if (entry != entries_.end() - 1) {
        *entry = std::move(entries_.back());
      }
      entries_.pop_back();
    }
    [[nodiscard]] auto begin() const { return entries_.begin(); }
    [[nodiscard]] auto end() { return entries_.end(); }
    [[nodiscard]] auto end() const { return entries_.end(); }
    [[nodiscard]] std::size_t size() const { return entries_.size(); }
    void swap(PendingTable& other) noexcept { entries_.swap(other.entries_); }

   private:
    std::vector<Entry> entries_;
  };

  PendingTable pending_;
  std::map<std::string, PluginServiceProxyResponse, std::less<>> received_;
  std::map<std::string, ServiceProxyHandler, std::less<>> async_;
  std::size_t posting_ = 0;                         // POSTs out, whose keys are not known yet
  std::set<std::string, std::less<>> postingKeys_;  // keys of method requests whose POST is out
  mutable std::condition_variable settled_;         // a handler ran, or the tables were cleared
};

template <typename Payload>
Maybe<void> ServiceProxyRequests::Invoke(std::string_view service, std::string_view method,
                                         const Payload& payload, std::string_view replyMethod,
                                         std::string_view replyText,
                                         ServiceProxyHandler onComplete) {
  if (host_.IsStopping()) {
    return Failure::Static(0, kFinalizingMessage);
  }
  BindingResult converted;
  const BindingProperty* value = ValueOf(payload, converted, host_.Registry());
  if (value == nullptr) {
    return Failure(0, Format(kConvertPayloadMessage, TypeNameOf<Payload>()));
  }
  return InvokeValue(service, method, *value, replyMethod, replyText, std::move(onComplete));
}

template <typename T>
Maybe<T> ServiceProxyRequests::AnswerOf(const PluginServiceProxyResponse& response) const {
  if constexpr (std::is_same_v<T, PluginServiceProxyResponse>) {
    return response;
  } else {
    if (!response.error.empty()) {
      return Failure(0, response.error);
    }
    const BindingResult parsed = ParseJson(response.payload);
    T value{};
    BindingResult converted;
    if (!parsed || !ToNative(converted, value, parsed.value, kValueName, host_.Registry())) {
      return Failure(0, Format(kDeserializeMessage, response.payload, TypeNameOf<T>()));
    }
    return value;
  }
}

template <typename T, typename Payload>
std::future<Maybe<T>> ServiceProxyRequests::Call(std::string_view service, std::string_view method,
                                                 const Payload& payload) {
  auto promise = std::make_shared<std::promise<Maybe<T>>>();
  std::future<Maybe<T>> future = promise->get_future();
  Maybe<void> posted = Invoke(service, method, payload, {}, {},
                              [this, promise](const PluginServiceProxyResponse& response) {
                                promise->set_value(AnswerOf<T>(response));
                              });
  if (!posted) {
    promise->set_value(posted.Error());
  }
  return future;
}

template <typename T, typename Payload>
void ServiceProxyRequests::Start(std::string_view service, std::string_view method,
                                 const Payload& payload, AnswerSlot<T>& slot) {
  Maybe<void> posted = Invoke(service, method, payload, {}, {}, FillSlot<T>{this, &slot});
  if (!posted) {
    const std::lock_guard lock(mutex_);
    slot.answer.emplace(std::move(posted).Error());
  }
}

template <typename T>
ServiceProxyRequests::SlotState ServiceProxyRequests::StateOf(const AnswerSlot<T>& slot) const {
  const std::lock_guard lock(mutex_);
  return StateLocked(slot);
}

template <typename T>
void ServiceProxyRequests::WaitFor(const AnswerSlot<T>& slot) const {
  std::unique_lock lock(mutex_);
  settled_.wait(lock, [&] { return StateLocked(slot) != SlotState::Waiting; });
}

template <typename T>
ServiceProxyRequests::SlotState ServiceProxyRequests::StateLocked(const AnswerSlot<T>& slot) const {
  if (slot.answer.has_value()) {
    return SlotState::Answered;
  }
  for (const auto& entry : pending_) {
    const auto* fill = entry.second.template target<FillSlot<T>>();
    if (fill != nullptr && fill->slot == &slot) {
      return SlotState::Waiting;
    }
  }
  return SlotState::Broken;
}

}  // namespace Vexa
