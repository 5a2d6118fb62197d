#include "service_proxy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <maxminddb.h>

#include <fstream>
#include <stdexcept>

#include "json.h"

namespace VexaHost {
namespace {

using namespace std::chrono_literals;
using ::testing::MatchesRegex;

// Knows where 1.2.3.4 is, and nothing else; breaks on "boom".
class FakeLocator final : public GeoLocator {
 public:
  std::optional<GeoLocation> Locate(std::string_view address, std::string& error) override {
    if (address == "boom") {
      throw std::runtime_error("out of order");
    }
    error = "no location known for " + std::string(address);
    return address == "1.2.3.4" ? std::optional(GeoLocation{"DE", "Berlin", "BE"}) : std::nullopt;
  }
  std::string Describe() const override { return "fake"; }
};

constexpr const char* kGeo = "contenttargeting.geoinfo";
const std::string kName = "contenttargeting.geoinfo.getWhereAmI: ";
constexpr const char* kUuid = "[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}";
constexpr const char* kBerlin = R"({"country":"DE","city":"Berlin","region":"BE"})";

// The one answer to a call, the POST's key, and the bounds of the time of the call.
struct Answered {
  std::string key, outcome;  // outcome: status and error
  ServiceProxyAnswer answer;
  Json response;
  Clock::time_point before = Clock::now(), after;
  std::string Field(const char* name) const {
    const bool present = response.IsObject() && response.HasMember(name);
    return present && response[name].IsString() ? response[name].GetString() : "<none>";
  }
};

Answered Ask(const std::string& payload, const std::string& reply = "", ServiceFaults faults = {},
             const std::string& service = kGeo, const std::string& method = "getWhereAmI") {
  std::vector<ServiceProxyAnswer> answers;
  ServiceProxy proxy(std::make_unique<FakeLocator>(), "1.2.3.4", 5000ms, faults,
                     [&](ServiceProxyAnswer answer) { answers.push_back(std::move(answer)); });
  Answered answered;
  answered.key = proxy.Submit({service, method, payload, reply, "text"});
  answered.after = Clock::now();
  EXPECT_EQ(answers.size(), 1u);
  answered.answer = answers.at(0);
  answered.response = std::move(ParseJson(answered.answer.response).document);
  answered.outcome = answered.Field("status") + " " + answered.Field("error");
  return answered;
}

TEST(ServiceProxyTest, AnswersEveryRequestWithItsKey) {
  const std::string bad = "400 " + kName + "payload is not a WhereAmIRequest: ";
  struct Row {
    std::string service, method, payload, reply, outcome;
  } rows[] = {
      {"x", "getWhereAmI", "{}", "", R"(404 unknown service "x")"},
      {kGeo, "y", "{}", "", R"(404 contenttargeting.geoinfo has no method "y")"},
      {kGeo, "getWhereAmI", "{", "", bad + "Missing a name for object member. (at offset 1)"},
      {kGeo, "getWhereAmI", "[]", "", bad + "not a JSON object"},
      {kGeo, "getWhereAmI", R"({"ipAddress":7})", "", bad + "ipAddress is not a string"},
      {kGeo, "getWhereAmI", "{}", "", "200 "},
      {kGeo, "getWhereAmI", R"({"ipAddress":"10.0.0.1"})", "",
       "404 " + kName + "no location known for 10.0.0.1"},
      {kGeo, "getWhereAmI", R"({"ipAddress":"boom"})", "", "500 " + kName + "out of order"},
      {kGeo, "getWhereAmI", R"({"ipAddress":""})", "onWhere", "200 "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.service + "." + row.method + " " + row.payload);
    const Answered answered = Ask(row.payload, row.reply, {}, row.service, row.method);
    EXPECT_EQ(answered.outcome, row.outcome);
    EXPECT_EQ(answered.Field("payload"), row.outcome == "200 " ? kBerlin : "");
    if (row.reply.empty()) {
      EXPECT_EQ(answered.answer.eventName, "OnServiceProxyUuidEvent");
      EXPECT_THAT(answered.key, MatchesRegex(kUuid));
      EXPECT_EQ(answered.Field("methodName"), row.method);
    } else {
      EXPECT_EQ(answered.answer.eventName, "OnServiceProxyMethodEvent");
      EXPECT_EQ(answered.key, "contenttargeting.geoinfo.onWhere");
      EXPECT_EQ(answered.answer.response,
                R"({"uuid":"","serviceName":"contenttargeting.geoinfo","methodName":"onWhere",)"
                R"("payload":"{\"country\":\"DE\",\"city\":\"Berlin\",\"region\":\"BE\"}",)"
                R"("status":"200","error":""})");
    }
  }
}

TEST(ServiceProxyTest, InjectedFaultsAreAnsweredByTheDeadlineAtTheLatest) {
  const std::string failed = "500 " + kName + "injected error";
  const std::string late = "504 " + kName + "no answer within 5000 ms";
  const std::tuple<ServiceFaults, std::chrono::milliseconds, std::string> rows[] = {
      {{1, 0ms, 0}, 0ms, failed},  {{1, 300ms, 0}, 300ms, failed},   {{0, 0ms, 1}, 5000ms, late},
      {{1, 0ms, 1}, 5000ms, late}, {{0, 4999ms, 0}, 4999ms, "200 "}, {{0, 5000ms, 0}, 5000ms, late},
  };
  for (const auto& [faults, due, outcome] : rows) {
    SCOPED_TRACE(outcome + " after " + std::to_string(due.count()) + " ms");
    const Answered answered = Ask("{}", "", faults);
    EXPECT_EQ(answered.outcome, outcome);
    EXPECT_GE(answered.answer.due, answered.before + due);
    EXPECT_LE(answered.answer.due, answered.after + due);
  }
}

// A duplicated answer comes twice; a stray one, the same reply as a uuid answer under another
// uuid, comes first.
TEST(ServiceProxyTest, DuplicateAndStrayAnswersComeBesideTheRealOne) {
  for (const std::string reply : {"", "onWhere"}) {
    std::vector<ServiceProxyAnswer> answers;
    ServiceProxy proxy(std::make_unique<FakeLocator>(), "1.2.3.4", 5000ms, {0, 0ms, 0, 1, 1},
                       [&](ServiceProxyAnswer answer) { answers.push_back(std::move(answer)); });
    const std::string key = proxy.Submit({kGeo, "getWhereAmI", "{}", reply, "text"});
    ASSERT_EQ(answers.size(), 3u);
    const Json stray = std::move(ParseJson(answers[0].response).document);
    EXPECT_EQ(answers[0].eventName, "OnServiceProxyUuidEvent");
    EXPECT_THAT(stray["uuid"].GetString(), MatchesRegex(kUuid));
    EXPECT_NE(stray["uuid"].GetString(), key);
    EXPECT_STREQ(stray["payload"].GetString(), kBerlin);
  }
}

// Where each address is ("country/city/region"), or why not; separated by "; ".
std::string Locate(GeoLocator& locator, std::initializer_list<std::string> addresses) {
  std::string text;
  for (const std::string& address : addresses) {
    std::string error;
    const std::optional<GeoLocation> found = locator.Locate(address, error);
    text += (text.empty() ? "" : "; ") +
            (found ? found->country + "/" + found->city + "/" + found->region : error);
  }
  return text;
}

// An IPv4 database of one search node: 0.0.0.0/1 holds a Berlin record, 128.0.0.0/1 nothing.
std::filesystem::path WriteTinyMaxMindDb() {
  // A control byte (type, size; extended types take a second byte), then the data.
  const auto head = [](int type, std::size_t size) {
    const char control = static_cast<char>((type <= 7 ? type << 5 : 0) | static_cast<int>(size));
    return type <= 7 ? std::string(1, control) : std::string{control, static_cast<char>(type - 7)};
  };
  const auto text = [&](std::string_view value) {
    return head(2, value.size()) + std::string(value);
  };
  const auto map = [&](std::string_view key, const std::string& value) {
    return head(7, 1) + text(key) + value;
  };
  const std::string record = head(7, 3) + text("country") + map("iso_code", text("DE")) +
                             text("city") + map("names", map("en", text("Berlin"))) +
                             text("subdivisions") + head(11, 1) + map("iso_code", text("BE"));
  const std::string metadata =
      head(7, 9) + text("node_count") + head(6, 1) + '\x01' + text("record_size") + head(5, 1) +
      '\x18' + text("ip_version") + head(5, 1) + '\x04' + text("database_type") + text("Tiny") +
      text("languages") + head(11, 0) + text("binary_format_major_version") + head(5, 1) + '\x02' +
      text("binary_format_minor_version") + head(5, 0) + text("build_epoch") + head(9, 1) + '\x01' +
      text("description") + head(7, 0);
  // Records of 24 bits: left 17 = node count + 16 + data offset 0, right 1 = node count (none).
  const std::string tree("\0\0\x11\0\0\x01", 6);
  const std::filesystem::path file = testing::TempDir() + "tiny.mmdb";
  std::ofstream(file, std::ios::binary)
      << tree << std::string(16, '\0') << record << "\xAB\xCD\xEFMaxMind.com" << metadata;
  return file;
}

TEST(GeoLocatorTest, LocatesInDebianCountryDataAndInAMaxMindDb) {
  std::string error;
  std::unique_ptr<GeoLocator> locator = OpenGeoIpCountryData(error);
  ASSERT_NE(locator, nullptr) << error;
  EXPECT_EQ(locator->Describe(),
            "GeoIP country data (/usr/share/GeoIP/GeoIP.dat, /usr/share/GeoIP/GeoIPv6.dat)");
  EXPECT_EQ(Locate(*locator, {"193.99.144.80", "81.2.69.160", "::ffff:8.8.8.8",
                              "2001:4860:4860::8888", "10.0.0.1", "example.com"}),
            "DE//; GB//; US//; US//; no location known for 10.0.0.1; "
            "not an IP address: example.com");

  const std::filesystem::path file = WriteTinyMaxMindDb();
  locator = OpenMaxMindDb(file, error);
  ASSERT_NE(locator, nullptr) << error;
  EXPECT_EQ(locator->Describe(), "MaxMind DB Tiny (" + file.string() + ")");
  EXPECT_EQ(Locate(*locator, {"1.2.3.4", "1.2.3", "200.1.1.1", "::1"}),
            "DE/Berlin/BE; not an IP address: 1.2.3; no location known for 200.1.1.1; ::1: " +
                std::string(MMDB_strerror(MMDB_IPV6_LOOKUP_IN_IPV4_DATABASE_ERROR)));
  EXPECT_EQ(OpenMaxMindDb("/nonexistent.mmdb", error), nullptr);
  EXPECT_EQ(error,
            "cannot open /nonexistent.mmdb: " + std::string(MMDB_strerror(MMDB_FILE_OPEN_ERROR)) +
                " (No such file or directory)");
}

}  // namespace
}  // namespace VexaHost

namespace VexaHost {
namespace {

// Declared services answer before the GeoIP one, templated from the request; a file that is not
// a declaration is refused with where and why.
TEST(ServiceProxyTest, AnswersDeclaredServices) {
  const std::string path = ::testing::TempDir() + "declared_services.json";
  std::ofstream(path) << R"({"notes.store": {
      "getShelf": {"payload": {"name": "{{shelf}}", "all": "{{}}", "title": "Shelf {{shelf}} of {{n}}"},
                   "latencyMs": 40},
      "putNote": {"status": 503, "error": "the store of {{shelf}} is down"}},
    "contenttargeting.geoinfo": {"getWhereAmI": {"payload": {"country": "FR"}}}})";
  std::string error;
  std::optional<DeclaredServices> declared = DeclaredServices::Load(path, error);
  ASSERT_TRUE(declared) << error;
  EXPECT_EQ(declared->Describe(),
            "contenttargeting.geoinfo (getWhereAmI), notes.store (getShelf, putNote)");
  const struct {
    const char *service, *method, *payload, *answer;
    long latency;
  } kRows[] = {
      {"notes.store", "getShelf", R"({"shelf":[1],"n":2})",
       R"(200  {"name":[1],"all":{"shelf":[1],"n":2},"title":"Shelf [1] of 2"})", 40},
      {"notes.store", "getShelf", "{}", R"(200  {"name":null,"all":{},"title":"Shelf  of "})", 40},
      {"notes.store", "putNote", R"({"shelf":"work"})", "503 the store of work is down ", 0},
      {"notes.store", "other", "{}", R"(404 notes.store has no method "other" )", 0},
      {kGeo, "getWhereAmI", "{}", R"(200  {"country":"FR"})", 0},
      {"x", "y", "{}", R"(404 unknown service "x" )", 0},
  };
  for (const auto& row : kRows) {
    std::vector<ServiceProxyAnswer> answers;
    ServiceProxy proxy(std::make_unique<FakeLocator>(), "1.2.3.4", 5000ms, {},
                       [&](ServiceProxyAnswer answer) { answers.push_back(std::move(answer)); });
    proxy.Declare(*declared);
    const Clock::time_point before = Clock::now();
    proxy.Submit({row.service, row.method, row.payload, "", ""});
    ASSERT_EQ(answers.size(), 1u);
    const Json response = std::move(ParseJson(answers[0].response).document);
    EXPECT_EQ(std::string(response["status"].GetString()) + " " + response["error"].GetString() +
                  " " + response["payload"].GetString(),
              row.answer);
    EXPECT_GE(answers[0].due - before, std::chrono::milliseconds(row.latency));
  }
  for (const auto& [text, says] :
       {std::pair{"[]", "must be an object of services"},
        {R"({"s":{"m":{"status":"200"}}})", "s.m: \"status\" is not one of status (100 to 599)"},
        {R"({"s":{"m":{"payload":1,}}})", "not JSON: "}}) {
    std::ofstream(path) << text;
    EXPECT_FALSE(DeclaredServices::Load(path, error));
    EXPECT_NE(error.find(says), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace VexaHost
