// The notes plugin in the test host: its entry is linked in and called as a host calls it.
#include <gtest/gtest.h>

#include <string>

#include "testing/test_host.h"
#include "vexa/host_contract.h"

extern "C" void VEXA_HOST_CALL load_kor_notes(HostLoadRecord* record);

namespace {

using Vexa::Testing::TestHost;

constexpr char kSettings[] = "/kor-settings/v2/local/Notes";

// A note posted is answered with 201, published, numbered on from the settings document and
// read back; the number is saved for the next start, and the event is in the API table.
TEST(Notes, AddPublishAndRead) {
  TestHost host(&load_kor_notes);
  host.Serve(kSettings, R"({"schemaVersion":1,"nextId":7})");
  ASSERT_TRUE(host.Start()) << host.Failure();

  const auto added =
      host.Call("POST", "/kor-notes/v1/notes", R"({"text":"milk","priority":"HIGH"})");
  EXPECT_EQ(added.status, 201u) << added.error;
  EXPECT_EQ(added.json, R"({"id":7,"priority":"HIGH","text":"milk"})");
  EXPECT_EQ(host.Served(kSettings), R"({"nextId":8,"schemaVersion":1})");
  ASSERT_FALSE(host.SentEvents().empty());
  EXPECT_EQ(host.SentEvents().front().name, "OnJsonApiEvent_kor-notes_v1_notes");
  EXPECT_EQ(host.SentEvents().front().json,
            R"({"data":{"id":7,"priority":"HIGH","text":"milk"},"eventType":"Create",)"
            R"("uri":"/kor-notes/v1/notes/7"})");

  const struct {
    const char* path;
    uint32_t status;
    const char* json;
  } reads[] = {
      {"/kor-notes/v1/notes/7", 200, R"({"id":7,"priority":"HIGH","text":"milk"})"},
      {"/kor-notes/v1/notes/8", 404, ""},
  };
  for (const auto& read : reads) {
    const auto answer = host.Call("GET", read.path);
    EXPECT_EQ(answer.status, read.status) << read.path << ": " << answer.error;
    EXPECT_EQ(answer.json, read.json) << read.path;
  }

  const HostEndpointTable* table = host.Endpoints();
  ASSERT_NE(table, nullptr);
  bool declared = false;
  for (const HostEventDescription* event = table->events; event != nullptr; event = event->next) {
    declared = declared || std::string(event->name) == "OnJsonApiEvent_kor-notes_v1_notes";
  }
  EXPECT_TRUE(declared);
}

// The configuration namespace bounds the notes; a note without text is the client's mistake.
TEST(Notes, ConfigurationAndRefusals) {
  TestHost host(&load_kor_notes);
  ASSERT_TRUE(host.Start()) << host.Failure();  // no settings yet: numbered from 1
  host.Publish("/kor-platform-config/v1/namespaces/Notes", R"({"MaxNotes":1})");

  const struct {
    const char* body;
    uint32_t status;
  } posts[] = {
      {R"({"text":""})", 400},
      {R"({"text":"one"})", 201},
      {R"({"text":"two"})", 409},
  };
  for (const auto& post : posts) {
    EXPECT_EQ(host.Call("POST", "/kor-notes/v1/notes", post.body).status, post.status) << post.body;
  }
  EXPECT_EQ(host.Call("GET", "/kor-notes/v1/notes/1").status, 200u);
}

// A note carries the country GeoInfo last announced; signed out (Delete), none.
TEST(Notes, CountryFromGeoInfo) {
  TestHost host(&load_kor_notes);
  ASSERT_TRUE(host.Start()) << host.Failure();
  const struct {
    const char* eventType;
    const char* data;
    const char* note;
  } steps[] = {
      {"Create", R"({"success":true,"geoInfo":{"country":"DE","city":""},"isLatest":true})",
       R"({"country":"DE","id":1,"priority":"NORMAL","text":"a"})"},
      {"Delete", "null", R"({"id":2,"priority":"NORMAL","text":"a"})"},
  };
  for (const auto& step : steps) {
    host.Publish("/kor-geoinfo/v1/whereami", step.data, step.eventType);
    EXPECT_EQ(host.Call("POST", "/kor-notes/v1/notes", R"({"text":"a"})").json, step.note)
        << step.eventType;
  }
}

}  // namespace
