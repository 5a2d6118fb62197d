// vexa-host under faults, end to end: a service that errs, is slow past its deadline, never
// answers, answers twice or answers a uuid nobody asked for; a settings store that is read-only,
// full or holds a corrupt document; a host killed in a stream of PATCHes. Every answer stays the
// documented one, the host keeps serving, and it logs each fault once, not per request.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "host_process.h"

namespace {

namespace fs = std::filesystem;

constexpr char kWhereAmI[] = "/kor-geoinfo/v1/whereami";
constexpr char kGetLocation[] = "/kor-geoinfo/v1/getlocation?ip_address=8.8.8.8";
constexpr char kSaved[] = "/kor-settings/v2/local/GeoInfo";
constexpr char kFaults[] = "/host/v1/faults";

long long LiveAllocations(const HostProcess& host) {
  long long allocations = -1, frees = 0;
  std::sscanf(Call(host, "GET", "/host/v1/statistics").c_str(),
              "200 {\"peakBytes\":%*d,\"peakAllocations\":%*d,\"bytesAllocated\":%*d,"
              "\"allocations\":%lld,\"bytesFreed\":%*d,\"frees\":%lld}",
              &allocations, &frees);
  return allocations - frees;
}

bool Healthy(const HostProcess& host) {
  return Call(host, "GET", "/host/v1/health").starts_with(R"(200 {"status":"ok",)");
}

TEST(HostFaults, ServiceFaultsGetTheirDocumentedAnswersAndOneLogLineEach) {
  HostProcess host(
      {"--service-deadline", "200ms", "--duplicate-rate", "0.5", "--stray-rate", "0.25"});
  EXPECT_EQ(Call(host, "GET", kFaults),
            R"(200 {"latencyMs":0,"errorRate":0.000000,)"
            R"("silenceRate":0.000000,"duplicateRate":0.500000,"strayRate":0.250000})");
  const std::string failed =
      R"(404 {"errorCode":"NOT_FOUND","message":"contenttargeting.geoinfo.getWhereAmI: )";
  const std::string late = failed + R"(no answer within 200 ms"})";
  const std::string located = R"(200 {"city":"","country":"US","region":""})";
  const struct {
    const char* fault;
    std::string getLocation, whereAmI;
    std::vector<std::string> logged;
  } rows[] = {
      {R"("errorRate":1)",
       failed + R"(injected error"})",
       Location("DE", false),
       {"getWhereAmI: injected error (status 500)"}},
      {R"("latencyMs":1000)",
       late,
       Location("DE", false),
       {"getWhereAmI: no answer within 200 ms, answered at the deadline (status 504)"}},
      {R"("silenceRate":1)", late, Location("DE", false), {"no answer within 200 ms"}},
      {R"("duplicateRate":1)", located, Location("DE", true), {"getWhereAmI: answered twice"}},
      {R"("strayRate":1)",
       located,
       Location("DE", true),
       {"getWhereAmI: answered a uuid nobody asked for as well"}},
      {R"("duplicateRate":1,"strayRate":1)",
       located,
       Location("DE", true),
       {"answered twice", "answered a uuid nobody asked for"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.fault);
    ASSERT_EQ(Call(host, "PUT", kFaults,
                   R"({"errorRate":0,"latencyMs":0,"silenceRate":0,"duplicateRate":0,)"
                   R"("strayRate":0,)" +
                       std::string(row.fault) + "}")
                  .substr(0, 3),
              "200");
    const std::size_t logged = host.StandardError().size();
    long long live = 0;
    for (int round = 0; round < 2; ++round) {
      EXPECT_EQ(Call(host, "GET", kGetLocation), row.getLocation);
      EXPECT_EQ(Call(host, "GET", kWhereAmI), "200 " + row.whereAmI);
      live = round == 0 ? LiveAllocations(host) : live;
    }
    EXPECT_EQ(LiveAllocations(host), live);  // nothing the plugin ignored stays behind
    const std::string log = host.StandardError().substr(logged);
    EXPECT_EQ(Count(log, " WARN host "), row.logged.size()) << log;
    for (const std::string& line : row.logged) {
      EXPECT_EQ(Count(log, line), 1u) << log;
    }
  }
  EXPECT_TRUE(Healthy(host));
}

// Run in the host's process before it starts. A read-only folder is read-only to root only
// without the capability to override permissions, so it leaves the host's (and its program's)
// bounding set; for anyone else, who has none to drop, this fails harmlessly.
void WithoutPermissionOverride() {
  prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
}

// A full disk for root too: no file may grow past 64 KiB, and writing past that fails with
// EFBIG instead of ending the process.
void WithFilesOf64KiB() {
  const rlimit limit{64 << 10, 64 << 10};
  setrlimit(RLIMIT_FSIZE, &limit);
  signal(SIGXFSZ, SIG_IGN);
}

// The saved document is larger than that limit, so that rewriting it overflows it; the corrupt
// one is its first half.
TEST(HostFaults, StoreFaultsKeepTheOldDocumentAndAreLoggedOnce) {
  const std::string saved =
      R"({"schemaVersion":1,"data":{"country":"FR","city":"","region":""},"notes":")" +
      std::string(100 << 10, 'x') + "\"}";
  const std::string refused = R"(500 {"errorCode":"INTERNAL_SERVER_ERROR","message":")";
  const char* kMissing =
      "Error response for GET /kor-settings/v2/local/GeoInfo: No settings under GeoInfo";
  const struct {
    const char* fault;
    std::function<void()> confine;
    fs::perms mode;     // of the data directory and its settings folder
    bool corrupt;       // the saved document is cut in half
    std::string error;  // what a failed write says, or the line of the document moved aside
    std::string before, patch, after;  // whereami while the service fails, a PATCH, whereami
    std::string recovered;             // logged once the folder is writable again
  } rows[] = {
      {"read-only", WithoutPermissionOverride, fs::perms(0555), false,
       "GeoInfo.json (create temporary file): Permission denied", Location("FR", false), refused,
       Location("FR", false), "settings: writing works again after 3 failures"},
      {"full", WithFilesOf64KiB, fs::perms(0755), false, "GeoInfo.json (write): File too large",
       Location("FR", false), refused, Location("FR", false), ""},
      {"corrupt", nullptr, fs::perms(0755), true, "settings: GeoInfo.json does not parse (",
       Location("", false, kMissing), R"(200 {"data":{"country":"GB"}})", Location("DE", false),
       ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.fault);
    char folder[] = "/tmp/vexa-host-data-XXXXXX";
    const fs::path data = mkdtemp(folder);
    fs::create_directory(data / "settings");
    std::ofstream(data / "telemetry.jsonl").flush();
    std::ofstream(data / "settings/GeoInfo.json")
        << (row.corrupt ? saved.substr(0, saved.size() / 2) : saved);
    fs::permissions(data / "settings", row.mode);
    fs::permissions(data, row.mode);
    {
      HostProcess host({"--error-rate", "1"}, data, row.confine);
      EXPECT_EQ(Call(host, "GET", kWhereAmI), "200 " + row.before);
      const std::string patch = Call(host, "PATCH", kSaved, R"({"data":{"country":"GB"}})");
      EXPECT_TRUE(patch.starts_with(row.patch)) << patch;
      Call(host, "PUT", kFaults, R"({"errorRate":0})");
      for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(Call(host, "GET", kGetLocation), R"(200 {"city":"","country":"US","region":""})");
        EXPECT_EQ(Call(host, "GET", kWhereAmI), "200 " + Location("DE", true));
      }
      Call(host, "PUT", kFaults, R"({"errorRate":1})");
      EXPECT_EQ(Call(host, "GET", kWhereAmI), "200 " + row.after);
      fs::permissions(data / "settings", fs::perms(0755));
      fs::permissions(data, fs::perms(0755));
      Call(host, "PUT", kFaults, R"({"errorRate":0})");
      Call(host, "GET", kWhereAmI);  // a write once more
      EXPECT_TRUE(Healthy(host));
      const std::string log = host.StandardError();
      EXPECT_EQ(Count(log, " WARN host   settings: "), 1u) << log;
      EXPECT_EQ(Count(log, row.error), 1u) << log;
      EXPECT_EQ(Count(log, "writing works again"), row.recovered.empty() ? 0u : 1u) << log;
      EXPECT_TRUE(row.recovered.empty() || Count(log, row.recovered) == 1) << log;
    }
    fs::remove_all(data);
  }
}

// Killed in the middle of a stream of PATCHes that move the saved location back and forth, the
// host restarts with one of the two documents, whole.
TEST(HostFaults, AHostKilledWhileSavingRestartsWithTheOldOrTheNewLocation) {
  char folder[] = "/tmp/vexa-host-data-XXXXXX";
  const std::string data = mkdtemp(folder);
  const char* kLocations[] = {R"({"data":{"country":"FR","city":"","region":""}})",
                              R"({"data":{"country":"GB","city":"","region":""}})"};
  std::string documents[2];
  {
    HostProcess host({"--error-rate", "1"}, data);
    documents[0] = Call(host, "PATCH", kSaved, kLocations[0]);
    documents[1] = Call(host, "PATCH", kSaved, kLocations[1]);
    std::atomic<int> patches = 0;
    std::thread writer([&] {
      httplib::Client client = host.Client();
      while (client.Patch(kSaved, kLocations[patches % 2], "application/json")) {
        ++patches;
      }
    });
    while (patches < 20) {
      std::this_thread::yield();
    }
    host.Stop(SIGKILL);
    writer.join();
  }
  HostProcess host({"--error-rate", "1"}, data);
  const std::string document = Call(host, "GET", kSaved);
  EXPECT_TRUE(document == documents[0] || document == documents[1]) << document;
  EXPECT_EQ(Call(host, "GET", kWhereAmI),
            "200 " + Location(document == documents[0] ? "FR" : "GB", false));
  EXPECT_EQ(Count(host.StandardError(), "does not parse"), 0u);
  fs::remove_all(data);
}

}  // namespace
