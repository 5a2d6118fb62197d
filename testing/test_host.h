// A host for a plugin's own tests: it loads nothing from disk and opens no port. It takes the
// plugin's load function (linked into the test, or found with dlsym), calls it, starts the
// module with a scripted host table, and lets a test call endpoints, serve the resources the
// plugin reads, answer its service proxy calls, deliver events to its subscriptions, and read
// back what the plugin asked for, sent and logged.
//
//   #include "testing/test_host.h"   // Vexa::test_host in CMake
//   extern "C" void VEXA_HOST_CALL load_kor_notes(HostLoadRecord* record);
//
//   Vexa::Testing::TestHost host(&load_kor_notes);
//   host.Serve("/kor-settings/v2/local/Notes", R"({"schemaVersion":1})");  // before Start
//   host.AnswerService("notes.archive", "store", R"({"stored":true})");  // if it calls one
//   ASSERT_TRUE(host.Start()) << host.Failure();
//   Vexa::Testing::Answer answer = host.Call("POST", "/kor-notes/v1/notes", R"({"text":"hi"})");
//   EXPECT_EQ(answer.status, 201);
//   EXPECT_EQ(answer.json, R"({"id":1,"priority":"NORMAL","text":"hi"})");
//   host.Publish("/kor-platform-config/v1/namespaces/Notes", R"({"MaxNotes":2})");
//   EXPECT_EQ(host.SentEvents().front().name, "OnJsonApiEvent_kor-notes_v1_notes");
//
// What the scripted host does with the plugin's requests (host entry 1), each recorded in
// Requests() as "METHOD PATH [ARGUMENTS as JSON]":
//   - GET of a URI given to Serve or Publish answers its document (200; a request's query is
//     not part of the match); a PATCH merges the
//     members of its one object argument into the document (creating it) and answers the
//     result; a PUT replaces it (either answers 400 when the argument is no object); anything
//     else answers 404 "No resource at METHOD PATH".
//   - POST /kor-login/v1/service-proxy-uuid-requests and .../service-proxy-method-requests
//     answer a key at once and queue the answer event, as a platform does: the payload given
//     to AnswerService for that service and method (status "200"), the status and error given
//     to AnswerServiceError, or status "404" with an error when none was given. Queued events reach
//     the plugin at its next yield (while it awaits the answer), at the end of the next Call,
//     Deliver or Publish, or at Flush.
// Events the plugin sends are recorded (SentEvents), not delivered back to it. Only the log
// entry keeps lines of every level; nothing is muted here beyond what the plugin mutes.
//
// Statuses: Call reports the status the plugin set, or, when it left the choice to the host
// (status 0), 200 for an answer and 500 for a failure, as vexa-host does.
//
// Mistakes of the test are exceptions: a JSON text given to Serve, Publish, AnswerService or
// Deliver that is not JSON throws std::invalid_argument. (Call's body is sent as it is: a
// plugin's answer to a malformed body is worth testing.)
//
// Ownership: the TestHost owns the module between Start and its destruction, which stops it
// (the host's Stop destroys the module). Texts it hands out are copies.
//
// Threading: one test thread calls the TestHost, as a host calls a module from one sequence.
// The log recorder alone is locked, since a plugin may log from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "vexa/host_contract.h"

namespace Vexa::Testing {

using PluginLoadFunction = void(VEXA_HOST_CALL*)(HostLoadRecord* record);

// The answer of an endpoint call.
struct Answer {
  uint32_t status = 0;
  std::string json;   // the body as compact JSON ("" for none); a streamed body as sent
  std::string error;  // the plugin's failure message; empty on success
};

// An event the plugin sent, its payload as compact JSON.
struct SentEvent {
  std::string name;
  std::string json;
};

class TestHost {
 public:
  // Calls `load` with the core version 18.0.0; the module is started by Start.
  explicit TestHost(PluginLoadFunction load);
  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  // Starts the module (host handle 42). False, with Failure() saying why, when the entry gave
  // no module or the module's Start refused.
  bool Start();
  [[nodiscard]] const std::string& Failure() const { return failure_; }
  // The full name the entry gave ("mdl-be-kor-notes"), empty when it gave none.
  [[nodiscard]] std::string FullName() const;
  // The module's API table, as a host routes from it; null when the entry gave none.
  [[nodiscard]] const HostEndpointTable* Endpoints() const { return record_.endpoints; }

  // Calls the endpoint whose method and URI template match `path` (a query after "?" is
  // passed on). A non-empty body goes with the content type "application/json" unless another
  // is given. No matching endpoint answers 404 with an error, as a host's router would.
  Answer Call(std::string_view method, std::string_view path, std::string_view body = {},
              std::string_view contentType = "application/json");

  // The document a GET of `uri` answers; JSON text.
  void Serve(const std::string& uri, const std::string& json);
  // The current document of a served URI as compact JSON, keys in order ("" when none).
  [[nodiscard]] std::string Served(const std::string& uri) const;
  // Serves `json` at `uri` (removes it for "Delete") and delivers the resource event the
  // platform sends for it ({"uri", "eventType", "data"}) under the URI's event name.
  void Publish(const std::string& uri, const std::string& json,
               std::string_view eventType = "Update");
  // Scripts the payload (JSON text) of the answers to service.method proxy calls.
  void AnswerService(const std::string& service, const std::string& method,
                     const std::string& json);
  // Scripts a failing answer instead: the service's `status` ("503") and `error` text.
  void AnswerServiceError(const std::string& service, const std::string& method,
                          const std::string& status, const std::string& error);
  // Delivers the event `name` with the payload `json` to every subscription of that name;
  // answers how many there were.
  int Deliver(const std::string& name, const std::string& json);
  // Delivers the queued service proxy answers now.
  void Flush();

  // The event a platform announces a resource's changes under: "OnJsonApiEvent" and the URI's
  // first three pieces joined by "_" (five for /kor-platform-config/...).
  [[nodiscard]] static std::string ResourceEventName(std::string_view uri);

  // Recorders, oldest first.
  [[nodiscard]] const std::vector<std::string>& Requests() const { return requests_; }
  [[nodiscard]] const std::vector<SentEvent>& SentEvents() const { return sent_; }
  [[nodiscard]] std::vector<std::string> LogLines() const;                        // "LEVEL TEXT"
  [[nodiscard]] const std::vector<std::string>& Waits() const { return waits_; }  // labels
  [[nodiscard]] std::vector<std::string> Subscriptions() const;                   // event names
  void ClearRecorders();

 private:
  struct Table {
    HostApiTable api;
    TestHost* self;
  };
  struct Subscription {
    std::string name;
    HostEventCallback callback;
    void* context;
  };
  struct QueuedEvent {
    std::string name;
    std::string json;
  };

  static TestHost& Of(const HostApiTable* api);
  void FillTable();
  void ServeRequest(HostResponse& response, const HostRequest& request);
  void AnswerProxy(HostResponse& response, const std::vector<std::string>& arguments,
                   bool methodRequest);
  void Log(int32_t level, const char* message);

  HostLoadRecord record_{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
  bool started_ = false;
  std::string failure_;
  Table table_{};
  HostContext context_{};
  std::map<std::string, std::string, std::less<>> served_;
  // "service.method" to its scripted answer.
  struct ServiceAnswer {
    std::string payload, status, error;
  };
  std::map<std::string, ServiceAnswer, std::less<>> serviceAnswers_;
  std::vector<Subscription> subscriptions_;
  std::vector<QueuedEvent> queued_;
  int nextUuid_ = 1;
  std::vector<std::string> requests_;
  std::vector<SentEvent> sent_;
  std::vector<std::string> waits_;
  mutable std::mutex logMutex_;
  std::vector<std::string> log_;
};

}  // namespace Vexa::Testing
