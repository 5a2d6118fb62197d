// The starter plugin that Kit.NotesExampleBuildsAndPassesItsTests built out of tree against the
// installed runtime (NOTES_PLUGIN), loaded by the vexa-host installed with it beside the
// installed GeoInfo (named by its bare file name, as an author names it) and called over HTTP: a
// note posted is answered 201, published as its resource's event and read back by its number;
// GeoInfo's location event, sent again by signing out and in, reaches the notes; the OpenAPI
// document and the API description describe both plugins; the Notes namespace set through the
// host reaches the example.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host_process.h"

using ::testing::HasSubstr;

TEST(KitNotes, BesideGeoInfoThroughVexaHost) {
  HostProcess host({"--plugin", "libkor_geoinfo.so", "--plugin", NOTES_PLUGIN});
  EventLog events(host);
  EXPECT_EQ(Call(host, "DELETE", "/host/v1/session"), "200 null");
  EXPECT_THAT(
      Call(host, "PUT", "/host/v1/session", R"({"state":"SUCCEEDED","profileId":7,"accountId":9})"),
      ::testing::StartsWith("200 "));
  const std::string note = R"({"country":"DE","id":1,"priority":"HIGH","text":"milk"})";
  EXPECT_EQ(Call(host, "POST", "/kor-notes/v1/notes", R"({"text":"milk","priority":"HIGH"})"),
            "201 " + note);
  EXPECT_EQ(Call(host, "GET", "/kor-notes/v1/notes/1"), "200 " + note);
  EXPECT_THAT(events.Take(3), HasSubstr("event: OnJsonApiEvent_kor-notes_v1_notes\n"
                                        R"(data: {"data":)" +
                                        note));
  EXPECT_THAT(Call(host, "GET", "/kor-geoinfo/v1/getlocation?ip_address=81.2.69.160"),
              ::testing::StartsWith("200 {"));
  const std::string openapi = Call(host, "GET", "/host/v1/openapi.json");
  const std::string api = Call(host, "GET", "/host/v1/api");
  const std::string plugins = Call(host, "GET", "/host/v1/plugins");
  for (const auto& [text, part] :
       {std::pair{&openapi, R"("/kor-notes/v1/notes/{id}": {)"},
        {&openapi, R"("/kor-geoinfo/v1/whereami": {)"},
        {&openapi, R"("OnJsonApiEvent_kor-notes_v1_notes": {)"},
        {&api, R"("in":"path","optional":false,"description":"The note's number"})"},
        {&plugins, R"(/prefix/lib/vexa/plugins/libkor_geoinfo.so")"}}) {
    EXPECT_THAT(*text, HasSubstr(part));
  }

  EXPECT_EQ(Call(host, "PUT", "/host/v1/config/Notes", R"({"MaxNotes":1})"),
            R"(200 {"MaxNotes":1})");
  EXPECT_THAT(Call(host, "POST", "/kor-notes/v1/notes", R"({"text":"eggs"})"),
              ::testing::StartsWith("409 "));
  EXPECT_EQ(host.Stop(), 0) << host.StandardError();
}
