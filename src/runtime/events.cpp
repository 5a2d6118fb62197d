#include "runtime/events.h"

#include <exception>
#include <span>

#include "diagnostics/log.h"
#include "runtime/messages.h"
#include "util/format.h"
#include "util/text.h"

namespace Vexa {

namespace {

// How many elements of "OnJsonApiEvent" + the URI's pieces name an event: the configuration
// namespaces sit two levels deeper than every other resource.
constexpr std::size_t kEventNameElements = 4;
constexpr std::size_t kConfigEventNameElements = 6;
constexpr std::string_view kConfigResource = "kor-platform-config";

}  // namespace

std::string EventNameForUri(std::string_view uri) {
  std::vector<std::string> elements{kJsonApiEventName};
  for (std::string& piece : Tokenize(uri, "/")) {
    elements.push_back(std::move(piece));
  }
  const bool config = elements.size() >= 2 && elements[1] == kConfigResource;
  return Join(elements, "_", 0, config ? kConfigEventNameElements : kEventNameElements);
}

bool UriMatchesPattern(std::string_view pattern, std::string_view uri) {
  std::size_t p = 0;
  std::size_t u = 0;
  // The walk stops as soon as either text ends, so a "*" left at the end of the pattern has
  // consumed nothing and the texts do not end together: a trailing "*" needs one character.
  while (p < pattern.size() && u < uri.size()) {
    if (pattern[p] == '*') {
      while (u < uri.size() && uri[u] != '/') {
        ++u;
      }
      ++p;
    } else if (pattern[p] == uri[u]) {
      ++p;
      ++u;
    } else {
      return false;
    }
  }
  return p == pattern.size() && u == uri.size();
}

void ModuleEvents::RegisterHandler(std::string_view name, std::shared_ptr<EventHandler> handler,
                                   uint32_t flags) {
  std::string key(name);
  handlers_.insert_or_assign(key, std::move(handler));
  host_.Subscribe(key.c_str(), *this, flags);
}

void ModuleEvents::Subscribe(std::string_view uri) {
  const std::string name = EventNameForUri(uri);
  if (++counts_[name] != 1) {
    return;
  }
  RegisterHandler<PluginResourceEvent>(
      name, [this](const PluginResourceEvent& event) { DispatchResourceEvent(event); }, 0);
  Trace(kSubscribingTrace, host_.FullName().c_str(), name.c_str());
}

void ModuleEvents::Unsubscribe(std::string_view uri) {
  const std::string name = EventNameForUri(uri);
  const auto count = counts_.find(name);
  // An unsubscription without a subscription is ignored: counting below zero would make the
  // next subscription a silent one.
  if (count == counts_.end() || --count->second > 0) {
    return;
  }
  counts_.erase(count);
  host_.Unsubscribe(name.c_str());
  handlers_.erase(name);
  Trace(kUnsubscribingTrace, host_.FullName().c_str(), name.c_str());
}

void ModuleEvents::AddResourceHandler(std::string_view uri, ResourceEventHandler handler) {
  auto shared = std::make_shared<ResourceEventHandler>(std::move(handler));
  // Stored the way events are routed, with a leading "/", so that "kor-login/v1/session" and
  // "/kor-login/v1/session" observe the same resource.
  std::string key = uri.starts_with('/') ? std::string(uri) : "/" + std::string(uri);
  if (key.find('*') != std::string::npos) {
    patternHandlers_.emplace_back(std::move(key), std::move(shared));
  } else {
    exactHandlers_.insert_or_assign(std::move(key), std::move(shared));
  }
}

void ModuleEvents::DispatchResourceEvent(const PluginResourceEvent& event) {
  PluginResourceEvent prefixed;
  const PluginResourceEvent* routed = &event;
  if (event.uri.empty() || event.uri.front() != '/') {
    prefixed = event;
    prefixed.uri.insert(0, 1, '/');
    routed = &prefixed;
  }
  // Collected first: a handler may add or replace handlers, which must neither invalidate this
  // walk nor destroy a handler while it runs.
  std::vector<std::shared_ptr<ResourceEventHandler>> matched;
  if (const auto exact = exactHandlers_.find(routed->uri); exact != exactHandlers_.end()) {
    matched.push_back(exact->second);
  }
  for (const auto& [pattern, handler] : patternHandlers_) {
    if (UriMatchesPattern(pattern, routed->uri)) {
      matched.push_back(handler);
    }
  }
  for (const auto& handler : matched) {
    (*handler)(*routed);
  }
}

void ModuleEvents::ReceiveHostEvent(std::string_view name, BindingResult&& payload) {
  const int nameLength = static_cast<int>(name.size());  // the name as "%.*s" takes it
  try {
    const auto found = handlers_.find(name);
    if (found == handlers_.end()) {
      return;
    }
    // Held for the call: the handler may replace or remove itself.
    const std::shared_ptr<EventHandler> handler = found->second;
    if (!payload) {
      const std::string message(payload.ErrorText());
      Trace(kConvertPayloadTrace, host_.FullName().c_str(), handler->TypeName(), nameLength,
            name.data(), message.c_str());
      return;
    }
    handler->Handle(host_, name, payload.value);
  } catch (const std::exception& error) {
    Trace(kDroppedEventTrace, host_.FullName().c_str(), nameLength, name.data(), error.what());
  } catch (...) {
    Trace(kDroppedEventTrace, host_.FullName().c_str(), nameLength, name.data(),
          "unknown exception");
  }
}

void ModuleEvents::UnsubscribeAll() {
  // Moved out first, so that nothing the host does during an unsubscription sees a table that
  // is being walked.
  const auto handlers = std::move(handlers_);
  handlers_.clear();
  for (const auto& entry : handlers) {
    host_.Unsubscribe(entry.first.c_str());
  }
  counts_.clear();
  exactHandlers_.clear();
  patternHandlers_.clear();
}

Maybe<void> ModuleEvents::SendValue(std::string_view baseName, std::string_view uri,
                                    const BindingProperty& value, uint32_t flags) {
  const std::string name = EventNameForUri(uri);
  Trace(kSendingEventTrace, host_.FullName().c_str(), name.c_str());
  const std::string_view names[] = {name, baseName};
  if (!host_.SendEvent(std::span(names, name == baseName ? 1 : 2), value, flags)) {
    return Failure(0, Format(kEventNotSentMessage, name));
  }
  return {};
}

int ModuleEvents::SubscriptionCount(std::string_view uri) const {
  const auto found = counts_.find(EventNameForUri(uri));
  return found == counts_.end() ? 0 : found->second;
}

}  // namespace Vexa
