// A host for the built plugin library, written in C against include/vexa/host_contract.h
// alone, the way the platform's core would be: it loads the plugin, answers its requests from a
// small resource table, runs a service proxy whose answers arrive as events during later
// yields, records what the plugin sends, subscribes and logs, and drives the endpoints.
//
//   FakeHost* host = HostNew();
//   HostLoad(host, 18, 0, 0);
//   HostStart(host);
//   char* answer = HostCall(host, "GetKorGeoinfoV1Whereami", "/kor-geoinfo/v1/whereami");
//   ...
//   HostStop(host);   // checks that every subscription was released and every response too
//   HostFree(host);
//
// One host exists at a time in a process. Checks that fail are counted in SeamFailures and
// reported on stderr with their place.
#ifndef VEXA_TESTS_SEAM_FAKE_HOST_H
#define VEXA_TESTS_SEAM_FAKE_HOST_H

#include <stddef.h>
#include <stdint.h>

#include "vexa/host_contract.h"

enum { kMaxSubscriptions = 16, kMaxSentEvents = 16, kMaxLogs = 64, kMaxAnswers = 8 };

typedef struct HostSubscription {
  char name[96];
  HostHandle handle;
  HostEventCallback callback;
  void* context;
  uint32_t flags;
  int active;
} HostSubscription;

// A service proxy answer waiting for its delivery in a later yield.
typedef struct HostQueuedAnswer {
  HostValue payload;  // the PluginServiceProxyResponse structure
  int yieldsLeft;     // delivered when this reaches 0 in a yield
} HostQueuedAnswer;

typedef struct FakeHost {
  HostApiTable api;  // first, so that every entry finds its host from the table it is given
  HostContext context;
  HostLoadRecord record;

  // --- The resources and the remote service, as a scenario sets them ---
  int enabled;               // Enabled of the configuration namespace
  const char* sessionState;  // state of the login session, or null for none (404)
  uint64_t profileId, accountId;
  HostValue settings;          // the settings document; kind 0 when there is none (404)
  const char* serviceError;    // answer with this error text instead of a location
  const char* servicePayload;  // the answer's payload text (a location by default)
  int answerEarly;             // deliver the answer before the POST returns its uuid
  int answerAfterYields;       // yields before the answer arrives (1: the first yield)
  int callWithoutUserData;     // endpoint calls leave the request's user data null

  // --- What the plugin did ---
  int configGets, sessionGets, settingsGets, settingsPatches, telemetryPosts, uuidPosts;
  int unknownRequests, yields, waitBegins, waitEnds, subscribes, unsubscribes;
  char lastServiceCall[256];  // the uuid POST's arguments as JSON text
  char lastWaitLabel[160];
  HostSubscription subscriptions[kMaxSubscriptions];
  int subscriptionCount;
  char* sent[kMaxSentEvents];  // "name payload-JSON" of each event sent (entry 3)
  int sentCount;
  char logs[kMaxLogs][200];  // "level message" of the first kMaxLogs log records
  int logCount;
  HostQueuedAnswer answers[kMaxAnswers];
  int answerCount;
  int nextUuid;
} FakeHost;

// The plugin's export, found by the test's main.
extern void(VEXA_HOST_CALL* PluginLoad)(HostLoadRecord* record);
extern int SeamFailures;

// A host with the feature enabled, a session SUCCEEDED with both ids, no settings document and
// a service that answers Berlin at the first yield.
FakeHost* HostNew(void);
void HostFree(FakeHost* host);
// Calls the export with the core version given; 1 when a callback table came back.
int HostLoad(FakeHost* host, uint32_t major, uint32_t minor, uint32_t patch);
// Start's answer.
int HostStart(FakeHost* host);
// Stop, then checks that every subscribed event is unsubscribed and no response is unreleased.
void HostStop(FakeHost* host);

// Calls endpoint `name` with "GET" `path` and answers "<status> <body as JSON>" or
// "<status> error: <text>" (malloc'd), after releasing the response through its own release.
char* HostCall(FakeHost* host, const char* name, const char* path);
// Delivers an event to the callback subscribed under `name`, as the host does; the payload
// stays the caller's. 0 when nothing is subscribed under that name.
int HostDeliver(FakeHost* host, const char* name, const char* eventName, HostValue payload);
// Delivers the resource event {uri, eventType, data} under the event name of `uri`'s first
// three pieces (the configuration's namespace name for its namespaces); takes `data`.
int HostResourceEvent(FakeHost* host, const char* uri, const char* eventType, HostValue data);
// The session as the host's session resource describes it now.
HostValue HostSessionValue(const FakeHost* host);
// 1 when a log record with `level` and exactly `message` was written.
int HostLogged(const FakeHost* host, int level, const char* message);
// A copy of the `index`th event sent, or of "(none)".
char* HostSent(const FakeHost* host, int index);
void HostForgetSent(FakeHost* host);

// --- Values built by the host (everything owned, keys included) ---
HostValue ValueString(const char* text);
HostValue ValueBool(int value);
HostValue ValueUnsigned(uint64_t value);
// A structure of `count` pairs: const char* key, HostValue value (taken).
HostValue ValueObject(int count, ...);
HostValue ValueCopy(const HostValue* value);
void ValueFree(HostValue* value);
// The value as compact JSON (members in the record's order), malloc'd.
char* ValueJson(const HostValue* value);

// A text that grows as printf pieces are appended; `data` is malloc'd.
typedef struct HostText {
  char* data;
  size_t length, capacity;
} HostText;
void TextPut(HostText* text, const char* format, ...);

// --- Checks ---
void Check(int condition, const char* what, const char* file, int line);
// Compares and frees `actual`.
void CheckText(char* actual, const char* expected, const char* file, int line);
#define CHECK(condition) Check((condition) != 0, #condition, __FILE__, __LINE__)
#define CHECK_TEXT(actual, expected) CheckText((actual), (expected), __FILE__, __LINE__)

#endif
