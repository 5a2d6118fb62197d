// A host made of plain functions that writes down what a module asks of it, for tests of the
// runtime through the same table a real host hands over.
//
//   Vexa::Testing::FakeHost host;
//   Vexa::AppModule module;
//   Vexa::Testing::StartModule(module, host);            // registered as "kor-test", started
//   host.Deliver("OnJsonApiEvent_kor-test_v1_x", value); // as the host would
//   EXPECT_EQ(host.Journal("subscribe"), ...);
//
// Journal entries: "subscribe NAME FLAGS", "unsubscribe NAME", "send NAME PAYLOAD",
// "request METHOD PATH ARGUMENTS" (the arguments as one JSON array), "log LEVEL TEXT".
// The host offers no yield and no wait entries.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/app_module.h"

namespace Vexa::Testing {

class FakeHost {
 public:
  static constexpr HostHandle kHandle = 42;

  FakeHost();
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  [[nodiscard]] const HostContext& Context() const { return context_; }

  // Hands the payload to the callback subscribed under `name`; false when none is.
  bool Deliver(std::string_view name, const BindingProperty& payload);

  // The journal entries that begin with `prefix`, in order.
  [[nodiscard]] std::vector<std::string> Journal(std::string_view prefix) const;

  // Fills the response of a request (already journalled; status 200, no value, a release
  // function that frees what binding/host_value.h allocated in `result`).
  std::function<void(HostResponse& response, const HostRequest& request)> answer;
  std::vector<std::string> journal;

 private:
  struct Table {
    HostApiTable api;
    FakeHost* host;
  };
  static FakeHost& From(const HostApiTable* api) {
    return *reinterpret_cast<const Table*>(api)->host;
  }

  Table table_{};
  HostContext context_{};
  std::map<std::string, std::pair<HostEventCallback, void*>, std::less<>> subscribed_;
};

// Registers `module` as "kor-test" (full name "mdl-be-kor-test") with a compatible core and
// starts it with `host`.
bool StartModule(AppModule& module, FakeHost& host);

}  // namespace Vexa::Testing
