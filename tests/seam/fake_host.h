// A host for the built plugin library, written in C against include/vexa/host_contract.h
// alone, as the platform's core would be: it loads the plugin, answers its requests from a
// small resource table, runs a service proxy whose answers arrive as events during later
// yields, records what the plugin sends, subscribes and logs, and calls the endpoints.
//
//   FakeHost* host = HostNew();
//   HostLoad(host, 18, 0, 0);
//   HostStart(host);
//   char* answer = HostCall(host, "GetKorGeoinfoV1Whereami", "/kor-geoinfo/v1/whereami");
//   ...
//   HostStop(host);  // checks that every subscription and every host response was released
//   HostFree(host);
//
// One host lives in a process at a time. Failed checks are counted in SeamFailures and
// reported on stderr with their place.
#ifndef VEXA_TESTS_SEAM_FAKE_HOST_H
#define VEXA_TESTS_SEAM_FAKE_HOST_H

#include <stddef.h>
#include <stdint.h>

#include "vexa/host_contract.h"

// A text that grows by printf pieces; `data` is malloc'd (null until the first piece).
typedef struct HostText {
  char* data;
  size_t length, capacity;
} HostText;

typedef struct HostSubscription {
  char name[96];
  HostEventCallback callback;
  void* context;
  uint32_t flags;
  int active;
} HostSubscription;

enum { kHostHandle = 0x5EA1, kMaxSubscriptions = 16 };

typedef struct FakeHost {
  HostApiTable api;  // first: every entry finds its host from the table it is handed
  HostContext context;
  HostLoadRecord record;

  // What the resources and the remote service answer; a scenario changes them at will.
  int enabled;               // Enabled of the configuration namespace
  const char* sessionState;  // of the login session
  uint64_t profileId, accountId;
  HostValue settings;          // the settings document; kind 0 when there is none (404)
  const char* serviceError;    // the service's answer carries this error
  const char* servicePayload;  // else this payload (JSON text)
  int answerEarly;             // the answer arrives before the POST returns its uuid
  int answerAfterYields;       // else in this yield after the POST (1: the next one)
  int callWithoutUserData;     // endpoint calls leave the request's user data null

  // What the plugin did.
  int configGets, sessionGets, settingsGets, settingsPatches, uuidPosts, unknownRequests;
  int yields, waitBegins, waitEnds, subscribes, unsubscribes;
  char lastServiceCall[256];  // the uuid POST's arguments as JSON
  char lastWaitLabel[160];
  HostSubscription subscriptions[kMaxSubscriptions];
  int subscriptionCount;
  HostText sent;  // "name payload-JSON\n" for every event sent through entry 3
  HostText log;   // "\nlevel message" for every record written through entry 10

  HostValue answer;  // the service's answer waiting for its yield (kind 0: none)
  int answerYields;
  int nextUuid;
} FakeHost;

// The plugin's export, found by the test's main.
extern void(VEXA_HOST_CALL* PluginLoad)(HostLoadRecord* record);
extern int SeamFailures;

// A host with the feature enabled, a session SUCCEEDED with both ids, no settings document and
// a service that answers Berlin in the first yield after the request.
FakeHost* HostNew(void);
void HostFree(FakeHost* host);
// Calls the export with the core version given; 1 when a callback table and module came back.
int HostLoad(FakeHost* host, uint32_t major, uint32_t minor, uint32_t patch);
int HostStart(FakeHost* host);
// Stop, then checks that every event is unsubscribed, every host response released and no
// unknown URI requested.
void HostStop(FakeHost* host);

// Calls endpoint `name` with "GET" `path`; answers "<status> <body as JSON>" or
// "<status> error: <text>" (malloc'd) after releasing the response through its own release.
char* HostCall(FakeHost* host, const char* name, const char* path);
// Calls the callback subscribed to `name` with `payload` (which stays the caller's); 0 when
// nothing is subscribed.
int HostDeliver(FakeHost* host, const char* name, HostValue payload);
// Delivers the resource event {uri, eventType, data} of `uri` under `name`; takes `data`.
int HostResourceEvent(FakeHost* host, const char* name, const char* uri, const char* eventType,
                      HostValue data);
// The login session as the host's resource describes it now.
HostValue HostSessionValue(const FakeHost* host);
// 1 when a log record with `level` and exactly `message` was written.
int HostLogged(const FakeHost* host, int level, const char* message);
// The events sent so far (malloc'd), forgotten by the host.
char* HostTakeSent(FakeHost* host);

// --- Values the host builds: every text and key owned ---
HostValue ValueString(const char* text);
HostValue ValueBool(int value);
HostValue ValueUnsigned(uint64_t value);
// A structure of `count` pairs: const char* key, HostValue value (taken).
HostValue ValueObject(int count, ...);
void ValueFree(HostValue* value);
// The value as compact JSON, members in the record's order (malloc'd).
char* ValueJson(const HostValue* value);

void TextPut(HostText* text, const char* format, ...);

// --- Checks ---
void Check(int condition, const char* what, const char* file, int line);
// Compares, then frees `actual`.
void CheckText(char* actual, const char* expected, const char* file, int line);
#define CHECK(condition) Check((condition) != 0, #condition, __FILE__, __LINE__)
#define CHECK_TEXT(actual, expected) CheckText((actual), (expected), __FILE__, __LINE__)

#endif
