#include "runtime/service_proxy.h"

#include <cstdint>
#include <optional>
#include <utility>

#include "codecs/json.h"
#include "diagnostics/log.h"
#include "runtime/messages.h"

namespace Vexa {

namespace {

std::string Qualified(std::string_view service, std::string_view method) {
  std::string key;
  key.reserve(service.size() + 1 + method.size());
  key.append(service).append(".").append(method);
  return key;
}

// service + "." + method for a log line, NUL-terminated, in a buffer of the thread's that keeps
// its capacity: valid until the thread's next call.
const char* QualifiedForLog(std::string_view service, std::string_view method) {
  thread_local std::string text;
  text.assign(service).append(".").append(method);
  return text.c_str();
}

// The payload's JSON text, in a buffer of the thread's that keeps its capacity: valid until the
// thread's next call.
std::string_view JsonForPost(const BindingProperty& payload, const BindingRegistry& registry) {
  thread_local std::string text;
  text.clear();
  AppendJson(text, payload, &registry);
  return text;
}

BindingProperty TextValue(std::string_view text) {
  BindingProperty value;
  value.SetString(text);
  return value;
}

}  // namespace

Maybe<void> ServiceProxyRequests::InvokeValue(std::string_view service, std::string_view method,
                                              const BindingProperty& payload,
                                              std::string_view replyMethod,
                                              std::string_view replyText,
                                              ServiceProxyHandler onComplete) {
  const BindingProperty payloadText = TextValue(JsonForPost(payload, host_.Registry()));
  const char* const fullName = host_.FullName().c_str();
  Log(kLevelAlways, kGroupDebug, kPreparingLine, fullName, QualifiedForLog(service, method));

  const BindingProperty serviceText = TextValue(service);
  const BindingProperty methodText = TextValue(method);
  const uint64_t handle = host_.Handle();
  const bool uuidRequest = replyMethod.empty();
  std::string key = uuidRequest ? std::string() : Qualified(service, replyMethod);
  {
    const std::lock_guard lock(mutex_);
    // A method request's key is taken here, in the same step as the check, and held while its
    // POST is out: a second request of that key started meanwhile is refused, not posted too.
    if (!uuidRequest && (pending_.Contains(key) || postingKeys_.contains(key))) {
      Log(kLevelError, kGroupDebug, kInFlightLine, fullName);
      return Failure::Static(0, kInFlightMessage);
    }
    if (!uuidRequest) {
      postingKeys_.insert(key);
    }
    ++posting_;
  }
  std::optional<Failure> failure;
  if (uuidRequest) {
    Maybe<std::string> uuid = Request<std::string>(host_, HttpMethod::Post, kUuidRequestUri,
                                                   serviceText, methodText, handle, payloadText);
    if (uuid) {
      key = std::move(uuid).Value();
    } else {
      failure = Failure(0, uuid.Error().Message());
    }
  } else {
    const Maybe<void> posted =
        Request(host_, HttpMethod::Post, kMethodRequestUri, serviceText, methodText,
                TextValue(replyMethod), TextValue(replyText), handle, payloadText);
    if (!posted) {
      failure = Failure(0, posted.Error().Message());
    }
  }
  if (failure) {
    const std::lock_guard lock(mutex_);
    if (!uuidRequest) {
      postingKeys_.erase(key);
    }
    EndPostingLocked();
    return *std::move(failure);
  }
  Log(kLevelAlways, kGroupDebug, kStartedLine, fullName, QualifiedForLog(service, method),
      key.c_str());

  const std::lock_guard lock(mutex_);
  if (!uuidRequest) {
    postingKeys_.erase(key);  // pending from here on, in the same step
  }
  pending_.Assign(std::move(key), std::move(onComplete));
  // The answer may have arrived while the POST was out, before its key was known.
  MatchLocked();
  EndPostingLocked();
  return {};
}

void ServiceProxyRequests::OnUuidResponse(PluginServiceProxyResponse&& response) {
  std::string key = response.uuid;
  StoreResponse(std::move(key), std::move(response));
}

void ServiceProxyRequests::OnMethodResponse(PluginServiceProxyResponse&& response) {
  std::string key = Qualified(response.serviceName, response.methodName);
  StoreResponse(std::move(key), std::move(response));
}

void ServiceProxyRequests::OnAsyncResponse(const PluginServiceProxyResponse& response) {
  const std::string key = Qualified(response.serviceName, response.methodName);
  const std::lock_guard lock(mutex_);
  const auto handler = async_.find(key);
  if (handler == async_.end()) {
    Log(kLevelError, kGroupDebug, kNoAsyncHandlerLine, host_.FullName().c_str(), key.c_str());
    return;
  }
  handler->second(response);
}

void ServiceProxyRequests::SetAsyncHandler(std::string_view service, std::string_view method,
                                           ServiceProxyHandler handler) {
  std::string key = Qualified(service, method);
  const std::lock_guard lock(mutex_);
  async_.insert_or_assign(std::move(key), std::move(handler));
}

void ServiceProxyRequests::Clear() {
  decltype(pending_) pending;
  decltype(received_) received;
  decltype(async_) async;
  {
    const std::lock_guard lock(mutex_);
    pending.swap(pending_);
    received.swap(received_);
    async.swap(async_);
  }
  settled_.notify_all();  // an awaited call still pending will get no answer
  // The handlers are destroyed here, outside the mutex: what they own (a typed call's promise,
  // anything a module captured) may run code of its own when destroyed.
}

std::size_t ServiceProxyRequests::PendingCount() const {
  const std::lock_guard lock(mutex_);
  return pending_.size();
}

void ServiceProxyRequests::StoreResponse(std::string key, PluginServiceProxyResponse&& response) {
  const std::lock_guard lock(mutex_);
  // The usual order: the request is pending and nothing else waits to be matched, so the answer
  // completes it at once, without a stay in the table.
  if (received_.empty()) {
    if (const auto pending = pending_.Find(key); pending != pending_.end()) {
      const ServiceProxyHandler handler = std::move(pending->second);
      pending_.Erase(pending);
      CompleteLocked(key, handler, response);
      return;
    }
  }
  // Kept only while a POST is out, whose key may be this one; otherwise no request can ever claim
  // it (an answer delivered twice, or one nobody asked for), and keeping it would grow the table
  // with every such answer, or hand a stale one to the next method request of that key.
  if (posting_ == 0 && !pending_.Contains(key)) {
    Trace(kIgnoredAnswerTrace, host_.FullName().c_str(), key.c_str());
    return;
  }
  received_.insert_or_assign(std::move(key), std::move(response));
  MatchLocked();
}

void ServiceProxyRequests::EndPostingLocked() {
  if (--posting_ > 0) {
    return;
  }
  // Every arrival and every stored request has run the matching, so what is left matches nothing.
  for (const auto& [key, response] : received_) {
    Trace(kIgnoredAnswerTrace, host_.FullName().c_str(), key.c_str());
  }
  received_.clear();
}

void ServiceProxyRequests::MatchLocked() {
  for (auto received = received_.begin(); received != received_.end(); ++received) {
    const auto pending = pending_.Find(received->first);
    if (pending == pending_.end()) {
      continue;
    }
    // Taken out of the tables before the call, so a handler that throws leaves neither behind.
    const std::string key = received->first;
    const ServiceProxyHandler handler = std::move(pending->second);
    const PluginServiceProxyResponse response = std::move(received->second);
    pending_.Erase(pending);
    received_.erase(received);
    CompleteLocked(key, handler, response);
    return;
  }
}

void ServiceProxyRequests::CompleteLocked(const std::string& key,
                                          const ServiceProxyHandler& handler,
                                          const PluginServiceProxyResponse& response) {
  // Waiters are told even when the handler throws: its request is no longer pending either way.
  struct Notify {
    std::condition_variable& settled;
    ~Notify() { settled.notify_all(); }
  } notify{settled_};
  handler(response);
  Log(kLevelAlways, kGroupDebug, kFulfilledLine, host_.FullName().c_str(), key.c_str());
}

}  // namespace Vexa
