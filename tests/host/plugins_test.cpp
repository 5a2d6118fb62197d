// vexa-host with several plugins: GeoInfo beside the echo plugin (one GET endpoint), the
// watch plugin (which observes GeoInfo's location and its own configuration namespace, and
// relays a request) and the relay plugin, all built in this folder and named by their bare file
// names, as a developer names them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>

#include "host_process.h"

namespace {

constexpr char kSession[] = R"({"state":"SUCCEEDED","profileId":7,"accountId":9})";

TEST(HostPlugins, RoutesEachPluginsEndpointsAndDescribesThemAll) {
  HostProcess host({"--plugin", "libkor_geoinfo.so", "--plugin", "libkor_echo.so"});
  EXPECT_EQ(Call(host, "GET", "/kor-echo/v1/echo?text=hi"), "200 \"hi\"");
  EXPECT_EQ(Call(host, "GET", "/kor-geoinfo/v1/whereami"), "200 " + Location("DE", true));
  const std::string plugins = Call(host, "GET", "/host/v1/plugins");
  const std::string api = Call(host, "GET", "/host/v1/api");
  for (const auto& [answer, part] :
       {std::pair{&plugins, R"(200 [{"name":"kor_geoinfo","fullName":"mdl-be-kor-geoinfo",)"
                            R"("pluginApi":"18.0.0","entry":"load_kor_geoinfo","path":")"},
        {&plugins, R"({"name":"kor_echo","fullName":"mdl-be-kor-echo","pluginApi":"18.0.0",)"
                   R"("entry":"load_kor_echo","path":")"},
        {&plugins, R"(libkor_echo.so","health":{"status":"ok","endpoints":1,)"},
        {&plugins, R"("statistics":{"peakBytes":)"},
        {&api, R"({"name":"kor_echo","fullName":"mdl-be-kor-echo","endpoints":)"
               R"(["GetKorEchoV1Echo"]}]})"},
        {&api, R"({"name":"GetKorEchoV1Echo","method":"GET","uri":"/kor-echo/v1/echo")"}}) {
    EXPECT_NE(answer->find(part), std::string::npos) << *answer << "\n  lacks " << part;
  }
  host.Stop();
  const std::string log = host.StandardError();
  const std::size_t order[] = {
      log.find("starting plugin kor_geoinfo"), log.find("starting plugin kor_echo"),
      log.find("stopping plugin kor_echo"), log.find("stopping plugin kor_geoinfo")};
  EXPECT_TRUE(order[0] < order[1] && order[1] < order[2] && order[2] < order[3] &&
              order[3] != std::string::npos)
      << log;
}

// GeoInfo's location event reaches the watch plugin; each namespace's change reaches whoever
// observes it, and a namespace nobody set reads as {}.
TEST(HostPlugins, DeliversEventsAcrossAndConfigurationByNamespace) {
  HostProcess host({"--signed-out", "--plugin", "libkor_watch.so", "--plugin", "libkor_geoinfo.so",
                    "--plugin", "libkor_relay.so", "--config", R"(Watch={"Mode":"start"})"});
  EventLog events(host);
  EXPECT_EQ(Call(host, "GET", "/kor-platform-config/v1/namespaces/Watch"),
            R"(200 {"Mode":"start"})");
  EXPECT_EQ(Call(host, "PUT", "/host/v1/session", kSession), std::string("200 ") + kSession);
  events.Take(2);  // GeoInfo's location, sent under its resource's name and the base name
  EXPECT_EQ(Call(host, "PUT", "/host/v1/config/Watch", R"({"Mode":"x"})"), R"(200 {"Mode":"x"})");
  EXPECT_EQ(Call(host, "PUT", "/host/v1/config/GeoInfo", R"({"Enabled":false})"),
            R"(200 {"Enabled":false})");
  EXPECT_EQ(
      Call(host, "GET", "/kor-watch/v1/heard"),
      R"(200 ["Create /kor-geoinfo/v1/whereami","Update /kor-platform-config/v1/namespaces/Watch"])");
  EXPECT_EQ(Call(host, "GET", "/kor-geoinfo/v1/whereami"),
            "200 " + Location("", false, "contenttargeting.geoinfo is not enabled"));
  EXPECT_EQ(Call(host, "GET", "/kor-platform-config/v1/namespaces/Watch"), R"(200 {"Mode":"x"})");
  EXPECT_EQ(Call(host, "GET", "/kor-platform-config/v1/namespaces/Nobody"), "200 {}");
  // The watch plugin's request reaches GeoInfo's endpoint, directly or through the relay plugin,
  // query and all, and comes back with what GeoInfo answered, status and error included. A URI
  // nobody serves is still unknown; a request of a plugin to itself, or back to a plugin waiting
  // for its own, is refused.
  const struct {
    const char* uri;
    std::string answer;
  } kRelayed[] = {
      {"/kor-relay/v1/relay%3Furi%3D/kor-geoinfo/v1/whereami",
       "200 " + Location("", false, "contenttargeting.geoinfo is not enabled")},
      {"/kor-geoinfo/v1/getlocation%3Fip_address%3D8.8.8.8",
       R"(503 {"errorCode":"SERVICE_UNAVAILABLE","message":"Error response for GET )"
       R"(/kor-geoinfo/v1/getlocation?ip_address=8.8.8.8: contenttargeting.geoinfo is not )"
       R"(enabled"})"},
      {"/nowhere", R"(404 {"errorCode":"NOT_FOUND","message":"Error response for GET /nowhere: )"
                   R"(No resource at GET /nowhere"})"},
      {"/kor-watch/v1/heard",
       R"(508 {"errorCode":"LOOP_DETECTED","message":"Error response for GET /kor-watch/v1/heard: )"
       R"(The host does not route a plugin's request to the plugin itself: GET )"
       R"(/kor-watch/v1/heard is kor_watch's own endpoint"})"},
      {"/kor-relay/v1/relay%3Furi%3D/kor-watch/v1/heard",
       R"(508 {"errorCode":"LOOP_DETECTED","message":"Error response for GET )"
       R"(/kor-relay/v1/relay?uri=/kor-watch/v1/heard: Error response for GET )"
       R"(/kor-watch/v1/heard: The host does not route GET /kor-watch/v1/heard to kor_watch, )"
       R"(which is waiting for a request of its own to another plugin"})"},
  };
  for (const auto& row : kRelayed) {
    EXPECT_EQ(Call(host, "GET", std::string("/kor-watch/v1/relay?uri=") + row.uri), row.answer);
  }
  host.Stop();
}

// Nothing is served half: a plugin that cannot be loaded, or a route two plugins claim, ends
// the host before it listens, with a line that says which.
TEST(HostPlugins, RefusesToStartWhatCannotRunTogether) {
  const struct {
    std::vector<std::string> arguments;
    int status;
    const char* says;
  } kRows[] = {
      {{"--plugin", "libkor_echo.so", "--plugin", "libkor_echo.so"},
       1,
       "the route GET /kor-echo/v1/echo is claimed by two plugins: kor_echo ("},
      {{"--plugin", "libkor_geoinfo.so", "--plugin", "libkor_missing.so"},
       1,
       "no plugin libkor_missing.so found; looked in "},
      {{"--plugin", "libkor_echo.so:load_nothing"},
       1,
       "has no entry \"load_nothing\"; name its entry with --plugin PATH:ENTRY"},
      {{"--plugin", "libkor_echo.so", "--plugin", "libkor_geoinfo.so", "--entry", "load_x"},
       2,
       "--entry names the entry of one plugin"},
      {{"--config", "Watch=[1]"}, 2, "--config: \"Watch=[1]\" is not NAME=JSON"},
  };
  char folder[] = "/tmp/vexa-host-data-XXXXXX";
  const std::string data = mkdtemp(folder);
  for (const auto& row : kRows) {
    std::vector<std::string> arguments = row.arguments;
    arguments.insert(arguments.end(), {"--port", "0", "--data-dir", data});
    std::string standardError;
    const int status = RunHostToEnd(arguments, standardError);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == row.status) << standardError;
    EXPECT_NE(standardError.find(row.says), std::string::npos) << standardError;
    EXPECT_EQ(standardError.find("starting plugin"), std::string::npos) << standardError;
  }
  std::filesystem::remove_all(data);
}

}  // namespace
