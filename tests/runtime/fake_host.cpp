#include "fake_host.h"

#include "binding/host_value.h"
#include "codecs/json.h"

namespace Vexa::Testing {

namespace {

std::string Json(const HostValue& value) {
  HostResult result{};
  BindingProperty property;
  const bool read = FromHostValue(result, property, value, "<journal>");
  ReleaseHostResult(result);
  return read ? ToJson(property) : "unreadable";
}

}  // namespace

FakeHost::FakeHost() {
  table_.host = this;
  table_.api.request = [](const HostApiTable* api, HostResponse* response,
                          const HostRequest* request) {
    std::string arguments;
    for (uint32_t index = 0; index < request->argumentCount; ++index) {
      arguments += (index == 0 ? "" : ",") + Json(request->arguments[index].value);
    }
    FakeHost& host = From(api);
    host.journal.push_back("request " +
                           std::string(HttpMethodText(static_cast<HttpMethod>(request->method))) +
                           " " + request->path + " [" + arguments + "]");
    response->status = 200;
    response->release = [](HostResponse* answered) {
      ReleaseHostResult(answered->result);
      *answered = HostResponse{};
    };
    if (host.answer) {
      host.answer(*response, *request);
    }
  };
  table_.api.sendEvent = [](const HostApiTable* api, const HostEvent* event) {
    From(api).journal.push_back(std::string("send ") + event->name + " " + Json(event->payload));
  };
  table_.api.subscribe = [](const HostApiTable* api, const char* name, HostHandle,
                            HostEventCallback callback, void* context, uint32_t flags) {
    From(api).subscribed_.insert_or_assign(name, std::make_pair(callback, context));
    From(api).journal.push_back(std::string("subscribe ") + name + " " + std::to_string(flags));
  };
  table_.api.unsubscribe = [](const HostApiTable* api, const char* name, HostHandle) {
    From(api).subscribed_.erase(name);
    From(api).journal.push_back(std::string("unsubscribe ") + name);
  };
  table_.api.log = [](const HostApiTable* api, int32_t level, const char* message) {
    From(api).journal.push_back("log " + std::to_string(level) + " " + message);
  };
  context_ = HostContext{&table_.api, kHandle};
}

bool FakeHost::Deliver(std::string_view name, const BindingProperty& payload) {
  const auto found = subscribed_.find(name);
  HostValue value{};
  if (found == subscribed_.end() || !ToHostValue(payload, value)) {
    return false;
  }
  const std::string text(name);
  const HostEvent event{text.c_str(), value, 0, found->second.second};
  found->second.first(&event);
  ReleaseHostValue(value);
  return true;
}

std::vector<std::string> FakeHost::Journal(std::string_view prefix) const {
  std::vector<std::string> entries;
  for (const std::string& entry : journal) {
    if (entry.starts_with(prefix)) {
      entries.push_back(entry);
    }
  }
  return entries;
}

bool StartModule(AppModule& module, FakeHost& host) {
  HostLoadRecord record{kPluginApiVersion.major,
                        kPluginApiVersion.minor,
                        kPluginApiVersion.patch,
                        nullptr,
                        nullptr,
                        nullptr,
                        nullptr};
  module.Register(record, "kor-test");
  return module.Start(&host.Context());
}

}  // namespace Vexa::Testing
