// vexa-host with several HTTP clients at once while the platform changes under them (session,
// service faults): the HTTP workers hand every call to the plugin thread, so each still gets
// one of its documented answers, and the host ends cleanly. Under the tsan preset a data race
// in the host or the plugin ends the host with ThreadSanitizer's status instead of 0.
#include <gtest/gtest.h>
#include <signal.h>

#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "host_process.h"

namespace {

bool Documented(const std::string& answer, std::initializer_list<const char*> statuses) {
  for (const char* status : statuses) {
    if (answer.starts_with(std::string(status) + " {")) {
      return true;
    }
  }
  return false;
}

TEST(HostThreads, ClientsGetDocumentedAnswersWhileSessionAndFaultsChange) {
  HostProcess host;
  std::vector<std::thread> clients;
  for (int client = 0; client < 3; ++client) {
    clients.emplace_back([&host] {
      for (int call = 0; call < 20; ++call) {
        const bool whereAmI = call % 2 == 0;
        const std::string answer =
            whereAmI ? Call(host, "GET", "/kor-geoinfo/v1/whereami")
                     : Call(host, "GET", "/kor-geoinfo/v1/getlocation?ip_address=8.8.8.8");
        if (!(whereAmI ? Documented(answer, {"200"}) : Documented(answer, {"200", "404", "503"}))) {
          ADD_FAILURE() << answer;
        }
      }
    });
  }
  for (int change = 0; change < 15; ++change) {
    EXPECT_TRUE(Documented(Call(host, "PUT", "/host/v1/faults",
                                change % 2 == 0 ? R"({"errorRate":1})" : R"({"errorRate":0})"),
                           {"200"}));
    EXPECT_EQ(Call(host, "DELETE", "/host/v1/session"), "200 null");
    EXPECT_TRUE(Documented(Call(host, "PUT", "/host/v1/session",
                                R"({"state":"SUCCEEDED","profileId":7,"accountId":9})"),
                           {"200"}));
    EXPECT_TRUE(Documented(Call(host, "GET", "/host/v1/statistics"), {"200"}));
  }
  for (std::thread& client : clients) {
    client.join();
  }
  EXPECT_EQ(host.Stop(SIGTERM), 0);
}

}  // namespace
