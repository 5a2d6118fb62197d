// vexa-host end to end: the host program started on a free port, the built plugin in it, and
// the feature driven over HTTP as a developer drives it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <thread>

#include "host_process.h"

namespace {

constexpr char kWhereAmI[] = "/kor-geoinfo/v1/whereami";
constexpr char kSession[] = R"({"state":"SUCCEEDED","profileId":7,"accountId":9})";

std::string WhereAmIEvent(const char* eventType, const std::string& data) {
  const std::string payload = "{\"data\":" + data + ",\"eventType\":\"" + eventType +
                              "\",\"uri\":\"/kor-geoinfo/v1/whereami\"}";
  return "event: OnJsonApiEvent_kor-geoinfo_v1_whereami\ndata: " + payload +
         "\nevent: OnJsonApiEvent\ndata: " + payload + "\n";
}

TEST(Host, DisabledFeatureIsEnabledAtRunTime) {
  HostProcess host({"--disabled"});
  const char* kNotEnabled = "contenttargeting.geoinfo is not enabled";
  EXPECT_EQ(Call(host, "GET", kWhereAmI), "200 " + Location("", false, kNotEnabled));
  EXPECT_EQ(Call(host, "GET", "/kor-geoinfo/v1/getlocation?ip_address=8.8.8.8"),
            std::string("503 {\"errorCode\":\"SERVICE_UNAVAILABLE\",\"message\":\"") + kNotEnabled +
                "\"}");
  EXPECT_EQ(Call(host, "PUT", "/host/v1/config", R"({"Enabled":true})"), R"(200 {"Enabled":true})");
  EXPECT_EQ(Call(host, "GET", kWhereAmI), "200 " + Location("DE", true));
}

TEST(Host, RefusesBadHttpInputAndChangesNothing) {
  HostProcess host({"--max-body", "1KiB"});
  const std::string deep = std::string(100, '[') + std::string(100, ']');  // past the limit
  const char* kDeep = deep.c_str();
  const struct {
    const char *method, *path, *body, *expected;
  } kRows[] = {
      {"GET", "/nothing/here", "",
       "404 {\"errorCode\":\"NOT_FOUND\",\"message\":\"Nothing is "
       "served at /nothing/here\"}"},
      {"POST", kWhereAmI, "",
       "405 {\"errorCode\":\"METHOD_NOT_ALLOWED\",\"message\":\"POST is not "
       "allowed on /kor-geoinfo/v1/whereami (allowed: GET)\"}"},
      {"GET", "/kor-geoinfo/v1/getlocation?ip_address=%00%ff999", "",
       "400 {\"errorCode\":\"BAD_REQUEST\",\"message\":\"Argument 'ip_address' for "
       "'GetKorGeoinfoV1Getlocation' holds a NUL byte.\"}"},
      {"PUT", "/host/v1/session", "{\"state\":",
       "400 {\"errorCode\":\"BAD_REQUEST\",\"message\":"
       "\"The body is not JSON: Invalid value. (at "
       "offset 9)\"}"},
      {"PUT", "/host/v1/session", R"({"state":"GONE"})",
       "400 {\"errorCode\":\"BAD_REQUEST\",\"message\":\"\\\"state\\\" must be one of IN_PROGRESS, "
       "SUCCEEDED, LOGGING_OUT, ERROR\"}"},
      {"PUT", "/host/v1/faults", R"({"errorRate":2})",
       "400 {\"errorCode\":\"BAD_REQUEST\",\"message\":\"\\\"errorRate\\\" must be a number from 0 "
       "to 1\"}"},
      {"PATCH", "/kor-settings/v2/local/Key", "{\"a\":\"\xff\"}",
       "400 {\"errorCode\":\"BAD_REQUEST\",\"message\":\"The body is not JSON: Invalid encoding "
       "in string. (at offset 6)\"}"},
      {"PATCH", "/kor-settings/v2/local/Key", kDeep,
       "400 {\"errorCode\":\"BAD_REQUEST\",\"message\":\"The body is not JSON: The document "
       "nests deeper than 64 levels. (at offset 64)\"}"},
      {"PATCH", "/kor-settings/v2/local/..", "{}",
       "400 {\"errorCode\":\"BAD_REQUEST\",\"message\":\"\\\"..\\\" is not a settings key: use 1 "
       "to 128 letters, digits, '-', '_' or '.', not starting with '.'\"}"},
  };
  for (const auto& row : kRows) {
    EXPECT_EQ(Call(host, row.method, row.path, row.body), row.expected) << row.path;
  }
  EXPECT_EQ(Call(host, "PUT", "/host/v1/config", std::string(2000, ' ') + "{}"),
            "413 {\"errorCode\":\"PAYLOAD_TOO_LARGE\",\"message\":\"The body is larger than the "
            "limit of 1024 bytes\"}");
  EXPECT_EQ(Call(host, "GET", "/host/v1/session"), std::string("200 ") + kSession);
  EXPECT_EQ(Call(host, "GET", "/host/v1/faults"),
            R"(200 {"latencyMs":0,"errorRate":0.000000,"silenceRate":0.000000,)"
            R"("duplicateRate":0.000000,"strayRate":0.000000})");
}

// Signing in publishes the location and Delete tells the clients, also while the service is
// slow and calls overlap: two whereami started inside the sign-in's wait still publish the
// location once, and each answers it. (That it is published once per session is the plugin's
// part: tests/seam.)
TEST(Host, CallsStartedWhileOneWaitsPublishTheLocationOnce) {
  HostProcess host({"--signed-out", "--latency", "300ms"});
  EventLog events(host);
  std::string signIn, answers[2];
  {
    std::jthread signing([&] { signIn = Call(host, "PUT", "/host/v1/session", kSession); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::jthread first([&] { answers[0] = Call(host, "GET", kWhereAmI); });
    std::jthread second([&] { answers[1] = Call(host, "GET", kWhereAmI); });
  }
  EXPECT_EQ(signIn, std::string("200 ") + kSession);
  for (const std::string& answer : answers) {
    EXPECT_EQ(answer, "200 " + Location("DE", true));
  }
  EXPECT_EQ(events.Take(2), WhereAmIEvent("Create", Location("DE", true)));
  EXPECT_EQ(Call(host, "DELETE", "/host/v1/session"), "200 null");
  EXPECT_EQ(events.Take(2), WhereAmIEvent("Delete", "null"));  // and no second Create before it
  // They overlapped: after the start-up's request, three went out before the next answer came.
  const std::string log = host.StandardError();
  const std::size_t started = log.find("Fulfilled service proxy request") + 1;
  const std::size_t answered = log.find("Fulfilled service proxy request", started);
  EXPECT_EQ(Count(log.substr(started, answered - started), "Started service proxy request"), 3u)
      << log;
  host.Stop();
}

// A session that ends while whereami waits: the answer still comes, and the location is not
// published into the session that is gone.
TEST(Host, ASessionEndingDuringAWaitGetsNoLocation) {
  HostProcess host({"--latency", "300ms"});
  EventLog events(host);
  std::string answer;
  {
    std::jthread asking([&] { answer = Call(host, "GET", kWhereAmI); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Call(host, "DELETE", "/host/v1/session"), "200 null");
  }
  EXPECT_EQ(answer, "200 " + Location("DE", true));
  EXPECT_EQ(events.Take(2), WhereAmIEvent("Delete", "null"));
  EXPECT_EQ(Call(host, "PUT", "/host/v1/session", kSession), std::string("200 ") + kSession);
  EXPECT_EQ(events.Take(2), WhereAmIEvent("Create", Location("DE", true)));
  host.Stop();
}

// What a page of another site could send through the browser is refused before it changes
// anything, and nothing invites such a page to read the answers.
TEST(Host, RefusesRequestsAnotherPageCouldSend) {
  HostProcess host;
  const std::string port = std::to_string(host.Port());
  const std::string own = "localhost:" + port, foreign = "evil.example:" + port;
  const struct {
    const char* method;
    std::string path, host, origin, contentType;
    int status;
  } kRows[] = {
      {"GET", "/host/v1/health", foreign, "", "", 421},
      {"GET", "/host/v1/health", "127.0.0.1.evil.example:" + port, "", "", 421},
      {"GET", "/host/v1/health", "127.0.0.1", "", "", 421},
      {"GET", "/host/v1/health", "LocalHost:" + port, "", "", 200},
      {"GET", "/host/v1/health", own, "http://" + foreign, "", 403},
      {"GET", "/host/v1/health", own, "null", "", 403},
      {"PUT", "/host/v1/faults", own, "http://" + foreign, "application/json", 403},
      {"PUT", "/host/v1/faults", own, "", "text/plain", 415},
      {"PUT", "/host/v1/faults", own, "", "application/x-www-form-urlencoded", 415},
      {"PUT", "/host/v1/faults", own, "", "multipart/form-data; boundary=x", 415},
      {"PUT", "/host/v1/faults", own, "", "application/x-msgpack", 415},
      {"DELETE", "/host/v1/session", own, "", "", 415},
      {"PATCH", "/kor-settings/v2/local/GeoInfo", own, "", "text/plain", 415},
      {"OPTIONS", "/host/v1/faults", own, "http://" + foreign, "", 403},
      {"OPTIONS", "/host/v1/faults", own, "http://" + own, "", 405},
      {"PUT", "/host/v1/faults", own, "http://" + own, "application/json; charset=utf-8", 200},
  };
  for (const auto& row : kRows) {
    httplib::Request request;
    request.method = row.method;
    request.path = row.path;
    request.body = R"({"errorRate":1})";
    request.set_header("Host", row.host);
    if (!row.origin.empty()) {
      request.set_header("Origin", row.origin);
      request.set_header("Access-Control-Request-Method", "PUT");
    }
    if (!row.contentType.empty()) {
      request.set_header("Content-Type", row.contentType);
    }
    httplib::Client client = host.Client();
    const httplib::Result result = client.send(request);
    ASSERT_TRUE(result) << row.method << " " << row.host << " " << row.contentType;
    EXPECT_EQ(result->status, row.status) << row.method << " " << row.host << " " << row.origin
                                          << " " << row.contentType << ": " << result->body;
    EXPECT_FALSE(result->has_header("Access-Control-Allow-Origin"));
  }
  // Only the last row, the console's own request, changed the faults.
  EXPECT_EQ(Count(Call(host, "GET", "/host/v1/faults"), "\"errorRate\":1.0"), 1u);
  EXPECT_EQ(Call(host, "GET", "/host/v1/session"), std::string("200 ") + kSession);
}

// The console is served with a policy that allows its own origin only and no inline script.
TEST(Host, ServesTheConsoleUnderItsPolicy) {
  HostProcess host;
  httplib::Client client = host.Client();
  for (const char* path : {"/", "/console/index.html", "/console/favicon.svg"}) {
    const httplib::Result page = client.Get(path);
    ASSERT_TRUE(page) << path;
    EXPECT_EQ(page->status, 200) << path;
    const std::string policy = page->get_header_value("Content-Security-Policy");
    EXPECT_NE(policy.find("default-src 'none'; script-src 'self';"), std::string::npos) << policy;
    EXPECT_EQ(policy.find("unsafe"), std::string::npos) << policy;
  }
  EXPECT_EQ(client.Get("/")->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(Call(host, "GET", "/console/nothing.js"),
            R"(404 {"errorCode":"NOT_FOUND","message":"The console has no file nothing.js"})");
}

// The log stream starts with the records logged before the client came, the plugin's loading
// and its first service request among them.
TEST(Host, LogStreamBeginsWithTheBacklog) {
  HostProcess host;
  std::string text;
  host.Client().Get("/host/v1/log", [&](const char* data, std::size_t size) {
    text.append(data, size);
    return text.find(R"("source":"plugin")") == std::string::npos;
  });
  EXPECT_TRUE(text.starts_with(": connected\n\nevent: log\ndata: {\"time\":\"")) << text;
  EXPECT_NE(text.find(R"("level":"OKAY","source":"host","text":"loading )"), std::string::npos)
      << text;
  EXPECT_NE(text.find(R"("source":"plugin")"), std::string::npos) << text;
}

// The admin API reads the plugin's records: its API table, its counters, its health.
TEST(Host, DescribesThePluginFromItsRecords) {
  HostProcess host;
  const std::string api = Call(host, "GET", "/host/v1/api");
  for (const char* part :
       {R"({"name":"GetKorGeoinfoV1Getlocation","method":"GET","uri":"/kor-geoinfo/v1/)"
        R"(getlocation","description":"","arguments":[{"name":"ip_address","type":{"kind":)"
        R"("string"},"in":"query","optional":false}],"result":{"type":{"kind":"struct",)"
        R"("name":"MdlBeKorGeoinfoGeoInfo"}},"tags":["Plugins","Plugin mdl-be-kor-geoinfo"]})",
        R"("fields":[{"name":"state","type":{"kind":"enum","name":)"
        R"("MdlBeKorGeoinfoLoginSessionState"},"optional":false},{"name":"profileId",)",
        R"({"name":"SUCCEEDED","value":1})",
        R"({"name":"OnJsonApiEvent","namespace":"","dataType":"PluginResourceEvent",)"}) {
    EXPECT_NE(api.find(part), std::string::npos) << part;
  }
  unsigned long long counters[6] = {};
  EXPECT_EQ(std::sscanf(Call(host, "GET", "/host/v1/statistics").c_str(),
                        "200 {\"peakBytes\":%llu,\"peakAllocations\":%llu,\"bytesAllocated\":%llu,"
                        "\"allocations\":%llu,\"bytesFreed\":%llu,\"frees\":%llu}",
                        &counters[0], &counters[1], &counters[2], &counters[3], &counters[4],
                        &counters[5]),
            6);
  EXPECT_TRUE(counters[3] > counters[5] && counters[2] > counters[4] &&
              counters[0] >= counters[2] - counters[4]);
  EXPECT_EQ(Call(host, "GET", "/host/v1/health").substr(0, 77),
            R"(200 {"status":"ok","plugin":"mdl-be-kor-geoinfo","pluginApi":"18.0.0","uptime)");
}

// A core version the plugin refuses ends the host with the plugin's report, announced first.
TEST(Host, EndsWithThePluginsReportOnAnIncompatibleCore) {
  char folder[] = "/tmp/vexa-host-data-XXXXXX";
  const std::string data = mkdtemp(folder);
  std::string standardError;
  const int status =
      RunHostToEnd({"--core-version", "19.0.0", "--port", "0", "--data-dir", data}, standardError);
  std::filesystem::remove_all(data);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT);
  EXPECT_NE(standardError.find("for core plugin API 19.0.0"), std::string::npos);
  EXPECT_NE(standardError.find("does not support the core version"), std::string::npos);
}

}  // namespace
