#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "binding/host_value.h"
#include "fake_host.h"
#include "support/values.h"

namespace Vexa {
namespace {

using Testing::FakeHost;
using Journal = std::vector<std::string>;

// An answer event's payload: the uuid, service "svc", the method, then payload and error texts.
BindingProperty Response(std::string uuid, std::string method, std::string payload = "{}",
                         std::string error = "") {
  return Testing::Structure({{"uuid", uuid},
                             {"serviceName", "svc"},
                             {"methodName", method},
                             {"payload", payload},
                             {"error", error}});
}

class ServiceProxyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Uuid requests are answered "u1" (after delivering its answer when `early_`).
    host_.answer = [this](HostResponse& response, const HostRequest& request) {
      if (std::string_view(request.path) == kUuidRequestUri) {
        if (early_) {
          host_.Deliver(kServiceProxyUuidEventName, Response("u1", "getX", "1"));
        }
        (void)SetHostString(response.result.value, "u1");
      }
    };
    ASSERT_TRUE(Testing::StartModule(module_, host_));
    host_.journal.clear();
  }

  // A uuid request, or a method request when `replyMethod` is given.
  std::string Invoke(std::string_view replyMethod = "") {
    return module_.InvokeServiceProxy("svc", "getX", Testing::Structure({{"ip", "1.2.3.4"}}),
                                      replyMethod, replyMethod.empty() ? "" : "text",
                                      [this](const PluginServiceProxyResponse& response) {
                                        answers_.push_back(response.payload);
                                      });
  }

  FakeHost host_;
  AppModule module_;
  bool early_ = false;
  Journal answers_;
};

TEST_F(ServiceProxyTest, AnswerBeforeItsUuidIsMatchedOnceTheRequestIsStored) {
  early_ = true;
  EXPECT_EQ(Invoke(), "");
  EXPECT_EQ(answers_, Journal{"1"});
  EXPECT_EQ(host_.journal,
            (Journal{"log 3 mdl-be-kor-test: Preparing service proxy request: svc.getX",
                     "request POST /kor-login/v1/service-proxy-uuid-requests "
                     R"(["svc","getX",42,"{\"ip\":\"1.2.3.4\"}"])",
                     "log 3 mdl-be-kor-test: Started service proxy request: svc.getX (u1)",
                     "log 3 mdl-be-kor-test: Fulfilled service proxy request: u1"}));
}

TEST_F(ServiceProxyTest, MethodRequestIsRefusedWhileItsReplyIsPending) {
  EXPECT_EQ(Invoke("reply"), "");
  EXPECT_EQ(Invoke("reply"), "Request already in flight");
  EXPECT_EQ(host_.Journal("request"),
            Journal{"request POST /kor-login/v1/service-proxy-method-requests "
                    R"(["svc","getX","reply","text",42,"{\"ip\":\"1.2.3.4\"}"])"});
  EXPECT_EQ(host_.Journal("log 2"), Journal{"log 2 mdl-be-kor-test: Could not invoke service "
                                            "proxy as request is already in flight"});
  host_.Deliver(kServiceProxyMethodEventName, Response("", "reply", "3"));
  EXPECT_EQ(answers_, Journal{"3"});
  EXPECT_EQ(Invoke("reply"), "");
}

TEST_F(ServiceProxyTest, HostFailuresLeaveNothingPending) {
  host_.answer = [](HostResponse& response, const HostRequest&) {
    SetHostError(response.result, "down");
  };
  EXPECT_EQ(Invoke(), "Error response for POST /kor-login/v1/service-proxy-uuid-requests: down");
  EXPECT_EQ(Invoke("reply"),
            "Error response for POST /kor-login/v1/service-proxy-method-requests: down");
  EXPECT_EQ(module_.ServiceProxyTables().PendingCount(), 0u);
}

TEST_F(ServiceProxyTest, TypedCallFailsWithTheErrorOrTheUnreadablePayload) {
  const struct {
    const char* payload;
    const char* error;
    const char* failure;
  } rows[] = {
      {"not json", "Service unavailable", "Service unavailable"},
      {"[1]", "",
       "Failed to deserialize response payload \"[1]\" to a const char *__cdecl "
       "StaticType::Name<struct Vexa::PluginManagerResource>(void)"},
  };
  for (const auto& row : rows) {
    auto future = module_.ServiceProxyCall<PluginManagerResource>("svc", "getX", BindingProperty{});
    host_.Deliver(kServiceProxyUuidEventName, Response("u1", "getX", row.payload, row.error));
    ASSERT_EQ(future.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    const Maybe<PluginManagerResource> answer = future.get();
    ASSERT_FALSE(answer) << row.payload;
    EXPECT_EQ(answer.Error().code, 0);
    EXPECT_STREQ(answer.Error().Message(), row.failure);
  }
}

TEST_F(ServiceProxyTest, AsyncMessagesReachTheirHandlerOrTheLog) {
  module_.ServiceProxyTables().SetAsyncHandler(
      "svc", "push",
      [this](const PluginServiceProxyResponse& response) { answers_.push_back(response.payload); });
  host_.Deliver(kServiceProxyAsyncEventName, Response("", "push", "4"));
  host_.Deliver(kServiceProxyAsyncEventName, Response("", "pull", "5"));
  EXPECT_EQ(answers_, Journal{"4"});
  EXPECT_EQ(host_.Journal("log"), Journal{"log 2 mdl-be-kor-test: Could not find registered "
                                          "handler for async service proxy event svc.pull"});
}

TEST_F(ServiceProxyTest, StopBreaksWaitingCallsAndRefusesNewOnes) {
  auto future = module_.ServiceProxyCall<PluginManagerResource>("svc", "getX", BindingProperty{});
  module_.BeginStop();
  EXPECT_THROW(future.get(), std::future_error);
  host_.journal.clear();
  EXPECT_EQ(module_.ServiceProxyTables().Invoke("svc", "getX", {}, "", "", {}), "Finalizing");
  EXPECT_EQ(host_.journal, Journal{});
}

}  // namespace
}  // namespace Vexa
