#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "diagnostics/log_manager.h"
#include "fake_host.h"
#include "support/values.h"

namespace Vexa {
namespace {

using Testing::Structure;
using Journal = std::vector<std::string>;

constexpr const char kSession[] = "OnJsonApiEvent_kor-login_v1_session";

TEST(EventNameForUriTest, KeepsTheTopLevelResource) {
  const struct {
    const char* uri;
    const char* name;
  } rows[] = {
      {"/kor-login/v1/session", kSession},
      {"kor-login//v1/session/extra/", kSession},
      {"/kor-platform-config/v1/namespaces/GeoInfo",
       "OnJsonApiEvent_kor-platform-config_v1_namespaces_GeoInfo"},
      {"/kor-platform-config/v1/namespaces/GeoInfo/Enabled/x",
       "OnJsonApiEvent_kor-platform-config_v1_namespaces_GeoInfo_Enabled"},
      {"/x/kor-platform-config/a/b/c", "OnJsonApiEvent_x_kor-platform-config_a"},
      {"/kor-login", "OnJsonApiEvent_kor-login"},
      {"", "OnJsonApiEvent"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(EventNameForUri(row.uri), row.name) << row.uri;
  }
}

TEST(UriMatchesPatternTest, StarStopsAtTheNextSlash) {
  const struct {
    const char* pattern;
    const char* uri;
    bool matches;
  } rows[] = {
      {"/a/*", "/a/b", true},    {"/a/*", "/a/", false},    {"/a/*", "/a/b/c", false},
      {"/a/*/c", "/a//c", true}, {"/a/*x", "/a/bx", false}, {"/a/b", "/a/b", true},
      {"/a/b", "/a/bc", false},  {"/a/bc", "/a/b", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(UriMatchesPattern(row.pattern, row.uri), row.matches) << row.pattern << row.uri;
  }
}

class ModuleEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Testing::StartModule(module_, host_));
    host_.journal.clear();
  }

  // What the resource handlers saw of one event with `uri`.
  Journal Dispatch(const std::string& uri) {
    seen_.clear();
    host_.Deliver(kSession, Structure({{"uri", uri}, {"eventType", "Update"}, {"data", 1}}));
    return seen_;
  }

  ResourceEventHandler Recorder(std::string label) {
    return [this, label](const PluginResourceEvent& event) {
      seen_.push_back(label + " " + event.uri);
    };
  }

  Testing::FakeHost host_;
  AppModule module_;
  Journal seen_;
};

TEST_F(ModuleEventsTest, SubscriptionsAreCountedAndStopReleasesTheRest) {
  module_.Subscribe("/kor-login/v1/session");
  module_.Subscribe("/kor-login/v1/session/extra");
  module_.Subscribe("/kor-geoinfo/v1/whereami");
  module_.Unsubscribe("/kor-login/v1/session");
  module_.Unsubscribe("/kor-login/v1/session");
  module_.Unsubscribe("/kor-login/v1/session");  // one too many: ignored
  module_.BeginStop();
  EXPECT_EQ(host_.journal, (Journal{"subscribe OnJsonApiEvent_kor-login_v1_session 0",
                                    "subscribe OnJsonApiEvent_kor-geoinfo_v1_whereami 0",
                                    "unsubscribe OnJsonApiEvent_kor-login_v1_session",
                                    "unsubscribe OnJsonApiEvent_kor-geoinfo_v1_whereami",
                                    "unsubscribe OnServiceProxyAsyncEvent",
                                    "unsubscribe OnServiceProxyMethodEvent",
                                    "unsubscribe OnServiceProxyUuidEvent"}));
  EXPECT_EQ(module_.Events().SubscriptionCount("/kor-geoinfo/v1/whereami"), 0);
}

TEST_F(ModuleEventsTest, ExactHandlerFirstThenMatchingPatternsInOrder) {
  module_.Events().AddResourceHandler("/kor-login/v1/*", Recorder("any"));
  module_.Events().AddResourceHandler("/kor-login/v1/session/*", Recorder("below"));
  module_.Events().AddResourceHandler("/*/v1/session/extra", Recorder("extra"));
  module_.Events().AddResourceHandler("/kor-login/v1/session", Recorder("replaced"));
  module_.Events().AddResourceHandler("kor-login/v1/session", Recorder("exact"));  // same URI
  module_.Subscribe("/kor-login/v1/session");
  EXPECT_EQ(Dispatch("/kor-login/v1/session"),
            (Journal{"exact /kor-login/v1/session", "any /kor-login/v1/session"}));
  EXPECT_EQ(Dispatch("kor-login/v1/session/extra"),
            (Journal{"below /kor-login/v1/session/extra", "extra /kor-login/v1/session/extra"}));
}

TEST_F(ModuleEventsTest, UnreadableAndFailingEventsAreDroppedWithATrace) {
  module_.Events().AddResourceHandler("/kor-login/v1/session", [](const PluginResourceEvent&) {
    throw std::runtime_error("handler failed");
  });
  module_.Subscribe("/kor-login/v1/session");
  LogManager::Obtain()->SetMutedGroups(0);
  HostEvent unreadable{kSession, {}, 0, &module_};
  unreadable.payload.kind = 99;
  module_.Events().Deliver(unreadable);
  Dispatch("/kor-login/v1/session");
  module_.Events().Deliver(HostEvent{});  // no name
  module_.Events().Deliver(HostEvent{"OnNothing", {}, 0, &module_});
  LogManager::Obtain()->SetMutedGroups(kGroupExtra);
  EXPECT_EQ(host_.Journal("log"),
            (Journal{"log 0 mdl-be-kor-test: Couldn't convert payload const char *__cdecl "
                     "StaticType::Name<struct Vexa::PluginResourceEvent>(void) for event "
                     "OnJsonApiEvent_kor-login_v1_session: Couldn't assign value to '<result>' of "
                     "type object because the input is of an incompatible type ''.",
                     "log 0 mdl-be-kor-test: Handling event OnJsonApiEvent_kor-login_v1_session",
                     "log 0 mdl-be-kor-test: Dropped event OnJsonApiEvent_kor-login_v1_session: "
                     "handler failed"}));
}

TEST_F(ModuleEventsTest, SendsUnderTheBaseNameOnlyWhenItDiffers) {
  const PluginResourceEvent event{"/kor-geoinfo/v1/whereami", PluginResourceEventType::Delete, {}};
  ASSERT_TRUE(module_.SendEvent(kJsonApiEventName, event));
  ASSERT_TRUE(module_.SendEvent("OnJsonApiEvent_kor-geoinfo_v1_whereami", event));
  const std::string payload =
      R"( {"data":null,"eventType":"Delete","uri":"/kor-geoinfo/v1/whereami"})";
  EXPECT_EQ(host_.Journal("send"),
            (Journal{"send OnJsonApiEvent_kor-geoinfo_v1_whereami" + payload,
                     "send OnJsonApiEvent" + payload,
                     "send OnJsonApiEvent_kor-geoinfo_v1_whereami" + payload}));
}

}  // namespace
}  // namespace Vexa
