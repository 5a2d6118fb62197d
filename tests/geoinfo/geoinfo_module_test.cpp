// The GeoInfo module in the authors' test host (testing/test_host.h), its entry called as a host
// calls it: enabled and signed in, it asks the location service, publishes the whereami resource
// and keeps the location; when the service fails it publishes the location it kept, and
// getlocation answers the service's error.
#include <gtest/gtest.h>

#include <string>

#include "testing/test_host.h"
#include "vexa/host_contract.h"

namespace {

constexpr char kSettings[] = "/kor-settings/v2/local/GeoInfo";
constexpr char kWhereAmIEvent[] = "OnJsonApiEvent_kor-geoinfo_v1_whereami";

// The payload of the last event of that name the plugin sent, or "none".
std::string LastSent(const Vexa::Testing::TestHost& host, const std::string& name) {
  std::string json = "none";
  for (const Vexa::Testing::SentEvent& event : host.SentEvents()) {
    json = event.name == name ? event.json : json;
  }
  return json;
}

TEST(GeoInfoModule, PublishesTheServicesLocationOrTheSavedOne) {
  const std::string berlin = R"({"city":"Berlin","country":"DE","region":"BE"})";
  const std::string paris = R"({"city":"Paris","country":"FR","region":"IDF"})";
  const struct {
    const char* service;  // the service's answer; null: it has none (404)
    std::string location;
    const char* isLatest;
    std::string saved;  // the settings document afterwards
  } rows[] = {
      {R"({"country":"DE","city":"Berlin","region":"BE"})", berlin, "true",
       R"({"data":)" + berlin + R"(,"schemaVersion":1})"},
      {nullptr, paris, "false", R"({"data":)" + paris + R"(,"schemaVersion":1})"},
  };
  for (const auto& row : rows) {
    Vexa::Testing::TestHost host(&load_kor_geoinfo);
    host.Serve(kSettings, R"({"schemaVersion":1,"data":)" + paris + "}");
    if (row.service != nullptr) {
      host.AnswerService("contenttargeting.geoinfo", "getWhereAmI", row.service);
    }
    ASSERT_TRUE(host.Start()) << host.Failure();
    host.Publish("/kor-platform-config/v1/namespaces/GeoInfo", R"({"Enabled":true})");
    host.Publish("/kor-login/v1/session", R"({"state":"SUCCEEDED","profileId":7,"accountId":9})",
                 "Create");
    EXPECT_EQ(LastSent(host, kWhereAmIEvent), R"({"data":{"errorMessage":"","geoInfo":)" +
                                                  row.location + R"(,"isLatest":)" + row.isLatest +
                                                  R"(,"success":true},"eventType":"Create",)" +
                                                  R"("uri":"/kor-geoinfo/v1/whereami"})")
        << row.location;
    EXPECT_EQ(host.Served(kSettings), row.saved);
  }
}

// A failing service's error text is what getlocation answers, with 404.
TEST(GeoInfoModule, AnswersTheServicesError) {
  Vexa::Testing::TestHost host(&load_kor_geoinfo);
  host.AnswerServiceError("contenttargeting.geoinfo", "getWhereAmI", "503", "the service is down");
  ASSERT_TRUE(host.Start()) << host.Failure();
  host.Publish("/kor-platform-config/v1/namespaces/GeoInfo", R"({"Enabled":true})");
  const Vexa::Testing::Answer answer =
      host.Call("GET", "/kor-geoinfo/v1/getlocation?ip_address=1.2.3.4");
  EXPECT_EQ(std::to_string(answer.status) + " " + answer.error, "404 the service is down");
}

}  // namespace
