// Requests to remote services through the host's service proxy, and the matching of their
// answers, which arrive later as events.
//
//   std::string error = proxy.Invoke("contenttargeting.geoinfo", "getWhereAmI", payload, "", "",
//       [](const Vexa::PluginServiceProxyResponse& response) { ... });
//   // typed, through the module:
//   Vexa::Maybe<WhereAmIResponse> answer =
//       module.ServiceProxy<WhereAmIResponse>("contenttargeting.geoinfo", "getWhereAmI", request);
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

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "runtime/records.h"
#include "value/property.h"

namespace Vexa {

class AppModule;

using ServiceProxyHandler = std::function<void(const PluginServiceProxyResponse&)>;

class ServiceProxyRequests {
 public:
  explicit ServiceProxyRequests(AppModule& module) : module_(module) {}
  ServiceProxyRequests(const ServiceProxyRequests&) = delete;
  ServiceProxyRequests& operator=(const ServiceProxyRequests&) = delete;

  // Posts the request and stores `onComplete` as pending under its key. Answers the empty text
  // on success, else why nothing is pending: "Finalizing" while the module stops, "Request
  // already in flight" for a method request whose key is pending, or the host's failure
  // message. `payload` is the payload record already converted to a value (the module's
  // InvokeServiceProxy converts it); it is posted as compact JSON text.
  [[nodiscard]] std::string Invoke(std::string_view service, std::string_view method,
                                   const BindingProperty& payload, std::string_view replyMethod,
                                   std::string_view replyText, ServiceProxyHandler onComplete);

  // An answer event of either kind: stored under its response key, then matched.
  void OnUuidResponse(const PluginServiceProxyResponse& response);
  void OnMethodResponse(const PluginServiceProxyResponse& response);
  // An unsolicited message: handed to the async handler of service + "." + method, or logged.
  void OnAsyncResponse(const PluginServiceProxyResponse& response);

  // Registers the handler of unsolicited messages of `service` + "." + `method`.
  void SetAsyncHandler(std::string_view service, std::string_view method,
                       ServiceProxyHandler handler);

  // Drops every pending request, received answer and async handler.
  void Clear();

  [[nodiscard]] std::size_t PendingCount() const;

 private:
  void StoreResponse(std::string key, const PluginServiceProxyResponse& response);
  void MatchLocked();       // mutex_ held
  void EndPostingLocked();  // mutex_ held: a POST has answered

  AppModule& module_;
  mutable std::mutex mutex_;
  std::map<std::string, ServiceProxyHandler, std::less<>> pending_;
  std::map<std::string, PluginServiceProxyResponse, std::less<>> received_;
  std::map<std::string, ServiceProxyHandler, std::less<>> async_;
  std::size_t posting_ = 0;                         // POSTs out, whose keys are not known yet
  std::set<std::string, std::less<>> postingKeys_;  // keys of method requests whose POST is out
};

}  // namespace Vexa
