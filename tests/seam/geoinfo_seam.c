// The built GeoInfo plugin driven end to end by a host written in C against
// include/vexa/host_contract.h alone, as the platform's core is: it loads the library, answers the
// plugin's requests from a small resource table, runs a service proxy whose answers arrive as
// events in later yields, records what the plugin sends, subscribes and logs, and calls the
// endpoints. The scenarios walk the feature, the version rule, the API table, Stop, a careless host
// and the allocation statistics.
//
//   vexa_seam_geoinfo_tests [path/to/libkor_geoinfo.so [scenario]]
//
// Each scenario runs in a child process of its own, so that a crash or an abort in one is that
// scenario's failure and the others still run. Failed checks are reported on stderr.
#include <dlfcn.h>
#include <inttypes.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "vexa/host_contract.h"

static int failures = 0;

static void Check(int condition, const char* what, int line) {
  if (!condition) {
    fprintf(stderr, "geoinfo_seam.c:%d: check failed: %s\n", line, what);
    ++failures;
  }
}

// Compares, then frees `actual`.
static void CheckText(char* actual, const char* expected, int line) {
  if (actual == NULL || strcmp(actual, expected) != 0) {
    fprintf(stderr, "geoinfo_seam.c:%d: expected\n  %s\nbut got\n  %s\n", line, expected,
            actual != NULL ? actual : "(null)");
    ++failures;
  }
  free(actual);
}

#define CHECK(condition) Check((condition) != 0, #condition, __LINE__)
#define CHECK_TEXT(actual, expected) CheckText((actual), (expected), __LINE__)

// ------------------------------------------------------------------------------------------
// Texts and values

// A text that grows by printf pieces; `data` is malloc'd.
typedef struct Text {
  char* data;
  size_t length, capacity;
} Text;

static void Put(Text* text, const char* format, ...) {
  va_list arguments;
  int needed;
  va_start(arguments, format);
  needed = vsnprintf(NULL, 0, format, arguments);
  va_end(arguments);
  if (text->length + (size_t)needed + 1 > text->capacity) {
    text->capacity = (text->length + (size_t)needed + 1) * 2;
    text->data = realloc(text->data, text->capacity);
  }
  va_start(arguments, format);
  vsnprintf(text->data + text->length, (size_t)needed + 1, format, arguments);
  va_end(arguments);
  text->length += (size_t)needed;
}

static char* CopyText(const char* text) {
  Text copy = {NULL, 0, 0};
  Put(&copy, "%s", text);
  return copy.data;
}

// A value as compact JSON, members in the record's order.
static void PutValue(Text* text, const HostValue* value) {
  const char* string;
  uint32_t index;
  switch (value->kind) {
    case HOST_VALUE_EMPTY:
      Put(text, "null");
      break;
    case HOST_VALUE_BOOL:
      Put(text, value->payload.boolean ? "true" : "false");
      break;
    case HOST_VALUE_SIGNED:
      Put(text, "%" PRId64, value->payload.signedValue);
      break;
    case HOST_VALUE_UNSIGNED:
      Put(text, "%" PRIu64, value->payload.unsignedValue);
      break;
    case HOST_VALUE_STRING:
    case HOST_VALUE_BORROWED_STRING:
      Put(text, "\"");
      for (string = value->payload.string.text; *string != '\0'; ++string) {
        Put(text, *string == '"' || *string == '\\' ? "\\%c" : "%c", *string);
      }
      Put(text, "\"");
      break;
    case HOST_VALUE_STRUCTURE:
      for (index = 0; index < value->payload.structure.count; ++index) {
        const HostValueMember* member = &value->payload.structure.members[index];
        Put(text, "%s\"%s\":", index > 0 ? "," : "{", member->key);
        PutValue(text, &member->value);
      }
      Put(text, value->payload.structure.count > 0 ? "}" : "{}");
      break;
    default:
      Put(text, "<kind %u>", (unsigned)value->kind);
      break;
  }
}

static char* ValueJson(const HostValue* value) {
  Text text = {NULL, 0, 0};
  PutValue(&text, value);
  return text.data;
}

// Values the host builds own every text and key.
static HostValue Scalar(HostValueKind kind) {
  HostValue value;
  memset(&value, 0, sizeof value);
  value.kind = kind;
  return value;
}

static HostValue ValueString(const char* text) {
  HostValue value = Scalar(HOST_VALUE_STRING);
  value.payload.string.text = CopyText(text);
  value.payload.string.length = (uint32_t)strlen(text);
  return value;
}

static HostValue ValueBool(int flag) {
  HostValue value = Scalar(HOST_VALUE_BOOL);
  value.payload.boolean = (uint8_t)(flag != 0);
  return value;
}

static HostValue ValueUnsigned(uint64_t number) {
  HostValue value = Scalar(HOST_VALUE_UNSIGNED);
  value.payload.unsignedValue = number;
  return value;
}

// A structure of `count` pairs: const char* key, HostValue value (taken).
static HostValue ValueObject(int count, ...) {
  HostValue value = Scalar(HOST_VALUE_STRUCTURE);
  va_list pairs;
  int index;
  value.payload.structure.count = (uint32_t)count;
  value.payload.structure.members = calloc((size_t)count + 1, sizeof(HostValueMember));
  va_start(pairs, count);
  for (index = 0; index < count; ++index) {
    HostValueMember* member = &value.payload.structure.members[index];
    member->key = CopyText(va_arg(pairs, const char*));
    member->ownsKey = 1;
    member->value = va_arg(pairs, HostValue);
  }
  va_end(pairs);
  return value;
}

// Copies what the plugin hands the host to keep (the settings document): scalars, texts and
// structures.
static HostValue ValueCopy(const HostValue* value) {
  HostValue copy = *value;
  uint32_t index;
  if (value->kind == HOST_VALUE_STRING || value->kind == HOST_VALUE_BORROWED_STRING) {
    return ValueString(value->payload.string.text);
  }
  if (value->kind != HOST_VALUE_STRUCTURE) {
    CHECK(value->kind <= HOST_VALUE_FLOAT);
    return value->kind <= HOST_VALUE_FLOAT ? copy : Scalar(HOST_VALUE_EMPTY);
  }
  copy.payload.structure.members =
      calloc((size_t)copy.payload.structure.count + 1, sizeof(HostValueMember));
  for (index = 0; index < value->payload.structure.count; ++index) {
    const HostValueMember* from = &value->payload.structure.members[index];
    HostValueMember* to = &copy.payload.structure.members[index];
    to->key = CopyText(from->key);
    to->ownsKey = 1;
    to->value = ValueCopy(&from->value);
  }
  return copy;
}

static void ValueFree(HostValue* value) {
  uint32_t index;
  if (value->kind == HOST_VALUE_STRING) {
    free((void*)value->payload.string.text);
  } else if (value->kind == HOST_VALUE_STRUCTURE) {
    for (index = 0; index < value->payload.structure.count; ++index) {
      HostValueMember* member = &value->payload.structure.members[index];
      if (member->ownsKey) {
        free((void*)member->key);
      }
      ValueFree(&member->value);
    }
    free(value->payload.structure.members);
  }
  memset(value, 0, sizeof *value);
}

// ------------------------------------------------------------------------------------------
// The host

enum { kHandle = 0x5EA1, kMaxSubscriptions = 16 };

typedef struct Subscription {
  char name[96];
  HostEventCallback callback;
  void* context;
  uint32_t flags;
  int active;
} Subscription;

typedef struct Host {
  HostApiTable api;  // first: every entry finds its host from the table it is handed
  HostContext context;
  HostLoadRecord record;

  // What the resources and the remote service answer; scenarios change them at will.
  int enabled;               // Enabled of the configuration namespace
  const char* sessionState;  // of the login session
  uint64_t profileId, accountId;
  HostValue settings;          // the settings document; kind 0 when there is none (404)
  const char* serviceError;    // the service's answer carries this error
  const char* servicePayload;  // else this payload
  int answerEarly;             // the answer arrives before the POST returns its uuid
  int answerAfterYields;       // else in this yield after the POST (1: the next one)

  // What the plugin did.
  int configGets, sessionGets, settingsGets, settingsPatches, uuidPosts, unknownRequests,
      unreleased;
  int yields, waitBegins, waitEnds, subscribes, unsubscribes;
  char lastServiceCall[256];  // the uuid POST's arguments as JSON
  char lastWaitLabel[160];
  Subscription subscriptions[kMaxSubscriptions];
  int subscriptionCount;
  Text sent;  // "name payload\n" for every event sent through entry 3
  Text log;   // "\nlevel message" for every record written through entry 10

  HostValue answer;  // the service's answer waiting for its yield (kind 0: none)
  int answerYields;
  int nextUuid;
} Host;

static void(VEXA_HOST_CALL* PluginLoad)(HostLoadRecord* record);
// The host of the scenario, for the release function the host stores in its responses, which is
// handed the response alone.
static Host* current;

static Host* HostOf(const HostApiTable* api) {
  return (Host*)(uintptr_t)api;
}

static Subscription* FindSubscription(Host* host, const char* name) {
  int index;
  for (index = 0; index < host->subscriptionCount; ++index) {
    if (strcmp(host->subscriptions[index].name, name) == 0) {
      return &host->subscriptions[index];
    }
  }
  return NULL;
}

// Calls the callback subscribed to `name` as the host does; 0 when nothing is subscribed.
static int Deliver(Host* host, const char* name, HostValue payload) {
  Subscription* subscription = FindSubscription(host, name);
  HostEvent event;
  if (subscription == NULL || !subscription->active) {
    return 0;
  }
  event.name = name;
  event.payload = payload;
  event.flags = 0;
  event.context = subscription->context;
  subscription->callback(&event);
  return 1;
}

static HostValue SessionValue(const Host* host) {
  return ValueObject(3, "state", ValueString(host->sessionState), "profileId",
                     ValueUnsigned(host->profileId), "accountId", ValueUnsigned(host->accountId));
}

static void VEXA_HOST_CALL ReleaseResponse(HostResponse* response) {
  ValueFree(&response->result.value);
  free((void*)response->result.error);
  memset(response, 0, sizeof *response);
  --current->unreleased;
}

// Answers one of the plugin's requests with `value` (taken), or with `error` when set. The plugin
// gives the response back through the release function stored in it.
static void Fill(HostResponse* response, uint32_t status, HostValue value, const char* error) {
  memset(response, 0, sizeof *response);
  response->result.value = value;
  if (error != NULL) {
    response->result.error = CopyText(error);
    response->result.ownsError = 1;
  }
  response->status = status;
  response->responseText = "";
  response->release = ReleaseResponse;
  ++current->unreleased;
}

// The service proxy's POST answers the uuid; the service's answer event comes at once (before the
// POST returns) or in a later yield.
static void ServiceProxyRequest(Host* host, HostResponse* response, const HostRequest* request) {
  const char* error = host->serviceError;
  Text text = {NULL, 0, 0};
  char uuid[32];
  uint32_t index;
  for (index = 0; index < request->argumentCount; ++index) {
    CHECK(request->arguments[index].name == NULL);
    Put(&text, index > 0 ? "," : "[");
    PutValue(&text, &request->arguments[index].value);
  }
  Put(&text, "]");
  snprintf(host->lastServiceCall, sizeof host->lastServiceCall, "%s", text.data);
  free(text.data);
  ++host->uuidPosts;
  snprintf(uuid, sizeof uuid, "uuid-%d", ++host->nextUuid);
  CHECK(host->answer.kind == HOST_VALUE_EMPTY);
  host->answer = ValueObject(
      6, "uuid", ValueString(uuid), "serviceName", ValueString("contenttargeting.geoinfo"),
      "methodName", ValueString("getWhereAmI"), "payload", ValueString(host->servicePayload),
      "status", ValueString(error != NULL ? "ERROR" : "OK"), "error",
      ValueString(error != NULL ? error : ""));
  host->answerYields = host->answerAfterYields;
  if (host->answerEarly) {
    CHECK(Deliver(host, "OnServiceProxyUuidEvent", host->answer));
    ValueFree(&host->answer);
  }
  Fill(response, 200, ValueString(uuid), NULL);
}

static void VEXA_HOST_CALL EntryRequest(const HostApiTable* api, HostResponse* response,
                                        const HostRequest* request) {
  Host* host = HostOf(api);
  const char* path = request->path != NULL ? request->path : "";
  const int get = request->method == HOST_METHOD_GET;
  CHECK(request->context == kHandle);
  if (get && strcmp(path, "/kor-platform-config/v1/namespaces/GeoInfo") == 0) {
    ++host->configGets;
    Fill(response, 200, ValueObject(1, "Enabled", ValueBool(host->enabled)), NULL);
  } else if (get && strcmp(path, "/kor-login/v1/session") == 0) {
    ++host->sessionGets;
    Fill(response, 200, SessionValue(host), NULL);
  } else if (get && strcmp(path, "/kor-settings/v2/local/GeoInfo") == 0) {
    const int found = host->settings.kind != HOST_VALUE_EMPTY;
    ++host->settingsGets;
    Fill(response, found ? 200 : 404, ValueCopy(&host->settings),
         found ? NULL : "No such document");
  } else if (request->method == HOST_METHOD_PATCH && request->argumentCount == 1 &&
             strcmp(path, "/kor-settings/v2/local/GeoInfo") == 0) {
    // The plugin frees its body after the call: the store keeps a copy.
    ++host->settingsPatches;
    ValueFree(&host->settings);
    host->settings = ValueCopy(&request->arguments[0].value);
    Fill(response, 200, Scalar(HOST_VALUE_EMPTY), NULL);
  } else if (request->method == HOST_METHOD_POST &&
             strcmp(path, "/kor-login/v1/service-proxy-uuid-requests") == 0) {
    ServiceProxyRequest(host, response, request);
  } else {
    ++host->unknownRequests;
    fprintf(stderr, "host: no resource for %u %s\n", (unsigned)request->method, path);
    Fill(response, 404, Scalar(HOST_VALUE_EMPTY), "No such resource");
  }
}

static void VEXA_HOST_CALL EntryReserved2(const HostApiTable* api, uintptr_t first,
                                          uintptr_t second) {
  (void)api, (void)first, (void)second;
  CHECK(!"host entry 2 is never called");
}

static void VEXA_HOST_CALL EntrySendEvent(const HostApiTable* api, const HostEvent* event) {
  Host* host = HostOf(api);
  Put(&host->sent, "%s ", event->name);
  PutValue(&host->sent, &event->payload);
  Put(&host->sent, "\n");
}

static void VEXA_HOST_CALL EntrySubscribe(const HostApiTable* api, const char* eventName,
                                          HostHandle handle, HostEventCallback callback,
                                          void* context, uint32_t flags) {
  Host* host = HostOf(api);
  Subscription* subscription = FindSubscription(host, eventName);
  CHECK(handle == kHandle && callback != NULL);
  ++host->subscribes;
  if (subscription == NULL && host->subscriptionCount < kMaxSubscriptions) {
    subscription = &host->subscriptions[host->subscriptionCount++];
    snprintf(subscription->name, sizeof subscription->name, "%s", eventName);
  }
  CHECK(subscription != NULL);
  if (subscription != NULL) {
    subscription->callback = callback;
    subscription->context = context;
    subscription->flags = flags;
    subscription->active = 1;
  }
}

static void VEXA_HOST_CALL EntryUnsubscribe(const HostApiTable* api, const char* eventName,
                                            HostHandle handle) {
  Host* host = HostOf(api);
  Subscription* subscription = FindSubscription(host, eventName);
  CHECK(handle == kHandle && subscription != NULL && subscription->active);
  ++host->unsubscribes;
  if (subscription != NULL) {
    subscription->active = 0;
  }
}

static void VEXA_HOST_CALL EntryReserved6(const HostApiTable* api, uintptr_t first,
                                          uintptr_t second, uintptr_t third, double value,
                                          uintptr_t fourth) {
  (void)api, (void)first, (void)second, (void)third, (void)value, (void)fourth;
  CHECK(!"host entry 6 is never called");
}

// One pass of the host: the service's answer is delivered when its time has come.
static void VEXA_HOST_CALL EntryYield(const HostApiTable* api) {
  Host* host = HostOf(api);
  if (++host->yields > 100000) {
    fprintf(stderr, "host: the plugin waits for an answer that never comes\n");
    exit(3);
  }
  if (host->answer.kind != HOST_VALUE_EMPTY && --host->answerYields <= 0) {
    HostValue answer = host->answer;
    host->answer = Scalar(HOST_VALUE_EMPTY);
    CHECK(Deliver(host, "OnServiceProxyUuidEvent", answer));
    ValueFree(&answer);
  }
}

static void VEXA_HOST_CALL EntryWaitBegin(const HostApiTable* api, const char* label,
                                          uintptr_t reserved) {
  Host* host = HostOf(api);
  CHECK(reserved == 0 && label != NULL);
  ++host->waitBegins;
  snprintf(host->lastWaitLabel, sizeof host->lastWaitLabel, "%s", label != NULL ? label : "");
}

static void VEXA_HOST_CALL EntryWaitEnd(const HostApiTable* api) {
  ++HostOf(api)->waitEnds;
}

static void VEXA_HOST_CALL EntryLog(const HostApiTable* api, int32_t level, const char* message) {
  Put(&HostOf(api)->log, "\n%d %s", (int)level, message);
}

// A host with the feature enabled, a session SUCCEEDED with both ids, no settings document and a
// service that answers Berlin in the first yield after the request; the plugin loaded for a core of
// `major`.`minor`.0.
static Host* HostNew(uint32_t major, uint32_t minor) {
  Host* host = calloc(1, sizeof *host);
  HostApiTable api = {EntryRequest,     EntryReserved2, EntrySendEvent, EntrySubscribe,
                      EntryUnsubscribe, EntryReserved6, EntryYield,     EntryWaitBegin,
                      EntryWaitEnd,     EntryLog};
  host->api = api;
  host->context.api = &host->api;
  host->context.handle = kHandle;
  host->enabled = 1;
  host->sessionState = "SUCCEEDED";
  host->profileId = 7;
  host->accountId = 9;
  host->servicePayload = "{\"country\":\"DE\",\"city\":\"Berlin\",\"region\":\"BE\"}";
  host->answerAfterYields = 1;
  Put(&host->sent, "");
  Put(&host->log, "");
  host->record.apiMajor = major;
  host->record.apiMinor = minor;
  current = host;
  PluginLoad(&host->record);
  CHECK(host->record.callbacks != NULL && host->record.module != NULL);
  return host;
}

static int Start(Host* host) {
  return host->record.callbacks->start(host->record.module, &host->context);
}

// Stops the plugin, checks that it unsubscribed everything, released every response and asked for
// no unknown URI, and frees the host.
static void Finish(Host* host) {
  int index;
  host->record.callbacks->stop(host->record.module);
  for (index = 0; index < host->subscriptionCount; ++index) {
    if (host->subscriptions[index].active) {
      fprintf(stderr, "host: still subscribed after Stop: %s\n", host->subscriptions[index].name);
      ++failures;
    }
  }
  CHECK(host->unreleased == 0 && host->unknownRequests == 0);
  free(host->sent.data);
  free(host->log.data);
  ValueFree(&host->answer);
  ValueFree(&host->settings);
  free(host);
}

static Host* Started(int enabled, const char* sessionState) {
  Host* host = HostNew(18, 0);
  host->enabled = enabled;
  host->sessionState = sessionState;
  CHECK(Start(host));
  return host;
}

// Calls endpoint `name` with "GET" `path` (and its user data unless `bare`); answers "<status>
// <body as JSON>" or "<status> error: <text>" after releasing the response.
static char* CallEndpoint(Host* host, const char* name, const char* path, int bare) {
  static const HostResponse kReleased;
  const HostEndpointRecord* endpoint = host->record.endpoints->endpoints;
  HostRequest request;
  HostResponse response;
  Text text = {NULL, 0, 0};
  while (endpoint != NULL && strcmp(endpoint->function.name, name) != 0) {
    endpoint = (const HostEndpointRecord*)endpoint->function.next;
  }
  if (endpoint == NULL) {
    return CopyText("no such endpoint");
  }
  memset(&request, 0, sizeof request);
  request.method = HOST_METHOD_GET;
  request.path = path;
  request.userData = bare ? NULL : endpoint->function.userData;
  request.context = kHandle;
  memset(&response, 0, sizeof response);
  endpoint->handler(&response, &request);
  Put(&text, "%u ", (unsigned)response.status);
  if (response.result.error != NULL) {
    Put(&text, "error: %s", response.result.error);
  } else {
    PutValue(&text, &response.result.value);
  }
  CHECK(response.release != NULL);
  if (response.release != NULL) {
    response.release(&response);
  }
  CHECK(memcmp(&response, &kReleased, sizeof response) == 0);  // a released response is zeroed
  return text.data;
}

#define WHEREAMI(host) \
  CallEndpoint((host), "GetKorGeoinfoV1Whereami", "/kor-geoinfo/v1/whereami", 0)
#define GETLOCATION(host)                            \
  CallEndpoint((host), "GetKorGeoinfoV1Getlocation", \
               "/kor-geoinfo/v1/getlocation?ip_address=1.2.3.4", 0)

// Delivers the resource event {uri, eventType, data} under `name`; takes `data`.
static int ResourceEvent(Host* host, const char* name, const char* uri, const char* eventType,
                         HostValue data) {
  HostValue payload =
      ValueObject(3, "uri", ValueString(uri), "eventType", ValueString(eventType), "data", data);
  const int delivered = Deliver(host, name, payload);
  ValueFree(&payload);
  return delivered;
}

// 1 when a log record with `level` and exactly `message` was written.
static int Logged(const Host* host, int level, const char* message) {
  Text line = {NULL, 0, 0};
  const char* found;
  Put(&line, "\n%d %s", level, message);
  found = strstr(host->log.data, line.data);
  free(line.data);
  return found != NULL && (found[line.length] == '\0' || found[line.length] == '\n');
}

// The events sent since the last look.
static char* TakeSent(Host* host) {
  char* sent = host->sent.data;
  memset(&host->sent, 0, sizeof host->sent);
  Put(&host->sent, "");
  return sent;
}

// ------------------------------------------------------------------------------------------
// Scenarios

// Whereami bodies: Berlin from the service, and no location with `message`.
#define BERLIN "{\"city\":\"Berlin\",\"country\":\"DE\",\"region\":\"BE\"}"
#define BERLIN_LATEST \
  "{\"errorMessage\":\"\",\"geoInfo\":" BERLIN ",\"isLatest\":true,\"success\":true}"
#define NO_LOCATION(message)                                   \
  "{\"errorMessage\":\"" message                               \
  "\",\"geoInfo\":{\"city\":\"\",\"country\":\"\",\"region\":" \
  "\"\"},\"isLatest\":false,\"success\":false}"
#define NOT_ENABLED "contenttargeting.geoinfo is not enabled"

static const char kSession[] = "/kor-login/v1/session";
static const char kSessionEvent[] = "OnJsonApiEvent_kor-login_v1_session";
static const char kConfig[] = "/kor-platform-config/v1/namespaces/GeoInfo";
static const char kConfigEvent[] = "OnJsonApiEvent_kor-platform-config_v1_namespaces_GeoInfo";

// The whereami resource event carrying `data`, sent under the resource's name and then the base
// name, and nothing else since the last look.
static void CheckPublished(Host* host, const char* data, const char* eventType) {
  static const char kEvent[] =
      "%s "
      "{\"data\":%s,\"eventType\":\"%s\",\"uri\":\"/"
      "kor-geoinfo/v1/whereami\"}\n";
  Text expected = {NULL, 0, 0};
  Put(&expected, kEvent, "OnJsonApiEvent_kor-geoinfo_v1_whereami", data, eventType);
  Put(&expected, kEvent, "OnJsonApiEvent", data, eventType);
  CHECK_TEXT(TakeSent(host), expected.data);
  free(expected.data);
}

static int SessionEvent(Host* host, const char* eventType) {
  return ResourceEvent(
      host, kSessionEvent, kSession, eventType,
      strcmp(eventType, "Delete") == 0 ? Scalar(HOST_VALUE_EMPTY) : SessionValue(host));
}

static void Disabled(void) {
  Host* host = Started(0, "SUCCEEDED");
  CHECK_TEXT(WHEREAMI(host), "0 " NO_LOCATION(NOT_ENABLED));
  CHECK_TEXT(GETLOCATION(host), "503 error: " NOT_ENABLED);
  CHECK(host->uuidPosts == 0 && host->settingsGets == 0 && host->settingsPatches == 0);
  CHECK(host->sent.length == 0);
  Finish(host);
}

// Published once per session: enabled before the login, the login publishes; logging out and back
// in asks again but publishes nothing; Delete clears, so the next login publishes anew;
// configuration events never clear.
static void PublishOncePerSession(void) {
  Host* host = Started(1, "IN_PROGRESS");
  CHECK(host->configGets == 1 && host->sessionGets == 1);
  CHECK(host->uuidPosts == 1 && host->settingsPatches == 1 && host->sent.length == 0);
  CHECK_TEXT(ValueJson(&host->settings), "{\"data\":" BERLIN ",\"schemaVersion\":1}");

  host->sessionState = "SUCCEEDED";
  host->accountId = 0;  // without both ids, no login
  CHECK(SessionEvent(host, "Update"));
  host->accountId = 9;
  host->profileId = 0;
  CHECK(SessionEvent(host, "Update"));
  CHECK(host->uuidPosts == 1 && host->sent.length == 0);
  host->profileId = 7;
  CHECK(SessionEvent(host, "Update"));
  CHECK(host->uuidPosts == 2);
  CheckPublished(host, BERLIN_LATEST, "Create");

  CHECK_TEXT(WHEREAMI(host), "0 " BERLIN_LATEST);
  host->sessionState = "LOGGING_OUT";
  CHECK(SessionEvent(host, "Update"));
  CHECK(host->uuidPosts == 3);
  host->sessionState = "SUCCEEDED";
  CHECK(SessionEvent(host, "Update"));
  CHECK(host->uuidPosts == 4 && host->sent.length == 0);

  CHECK(SessionEvent(host, "Delete"));
  CheckPublished(host, "null", "Delete");
  CHECK(SessionEvent(host, "Create"));
  CHECK(host->uuidPosts == 5);
  CheckPublished(host, BERLIN_LATEST, "Create");
  CHECK(ResourceEvent(host, kConfigEvent, kConfig, "Update",
                      ValueObject(1, "Enabled", ValueBool(1))));
  CHECK(host->uuidPosts == 6 && host->sent.length == 0);
  Finish(host);
}

// What whereami answers, and publishes at the login, when the service fails: by what the settings
// store holds.
static void FallsBackToSavedLocation(void) {
  static const struct {
    int document;  // 0 none, 1 a saved location, 2 one without "data", 3 "data"
                   // null
    const char* body;
  } kRows[] = {
      {1,
       "{\"errorMessage\":\"\",\"geoInfo\":{\"city\":\"Paris\",\"country\":"
       "\"FR\",\"region\":"
       "\"IDF\"},\"isLatest\":false,\"success\":true}"},
      {2, NO_LOCATION("Data retrieved is empty")},
      {3, NO_LOCATION("Data retrieved is empty")},
      {0, NO_LOCATION("Error response for GET /kor-settings/v2/local/GeoInfo: "
                      "No such document")},
  };
  size_t row;
  for (row = 0; row < sizeof kRows / sizeof kRows[0]; ++row) {
    Host* host = HostNew(18, 0);
    const int document = kRows[row].document;
    Text expected = {NULL, 0, 0};
    host->serviceError = "boom";
    if (document == 1) {
      host->settings = ValueObject(2, "schemaVersion", ValueUnsigned(1), "data",
                                   ValueObject(3, "country", ValueString("FR"), "city",
                                               ValueString("Paris"), "region", ValueString("IDF")));
    } else if (document > 1) {
      host->settings = ValueObject(1, document == 2 ? "schemaVersion" : "data",
                                   document == 2 ? ValueUnsigned(1) : Scalar(HOST_VALUE_EMPTY));
    }
    CHECK(Start(host));
    CheckPublished(host, kRows[row].body,
                   "Create");  // a failed lookup is published too
    Put(&expected, "0 %s", kRows[row].body);
    CHECK_TEXT(WHEREAMI(host), expected.data);
    free(expected.data);
    CHECK(host->settingsPatches == 0);
    Finish(host);
  }
}

// getlocation by the service's answer and its timing; the call's arguments, its wait and the
// runtime's log lines of the request.
static void GetLocation(void) {
  static const struct {
    const char* serviceError;
    const char* payload;
    int answerEarly, answerAfterYields;
    const char* expected;
  } kRows[] = {
      {NULL, NULL, 0, 1, "0 " BERLIN},
      {NULL, NULL, 0, 3, "0 " BERLIN},
      {NULL, NULL, 1, 0, "0 " BERLIN},  // the answer arrives before the POST returns its uuid
      {"boom", NULL, 0, 1, "404 error: boom"},
      {NULL, "not json", 0, 1,
       "404 error: Failed to deserialize response payload \"not json\" to a "
       "const char *__cdecl "
       "StaticType::Name<struct Vexa::Client::Api::WhereAmIResponse>(void)"},
  };
  size_t row;
  for (row = 0; row < sizeof kRows / sizeof kRows[0]; ++row) {
    Host* host = Started(1, "IN_PROGRESS");
    const int waits = !kRows[row].answerEarly;
    host->serviceError = kRows[row].serviceError;
    host->servicePayload = kRows[row].payload != NULL ? kRows[row].payload : host->servicePayload;
    host->answerEarly = kRows[row].answerEarly;
    host->answerAfterYields = kRows[row].answerAfterYields;
    host->yields = host->waitBegins = host->waitEnds = 0;
    host->log.data[host->log.length = 0] = '\0';
    CHECK_TEXT(GETLOCATION(host), kRows[row].expected);
    CHECK(host->waitBegins == waits && host->waitEnds == waits);
    CHECK(host->yields == (waits ? kRows[row].answerAfterYields : 0));
    CHECK(!waits || strcmp(host->lastWaitLabel,
                           "Wait: future<const char *__cdecl StaticType::Name<class "
                           "Vexa::MaybeType<class Vexa::Failure,struct "
                           "Vexa::Client::Api::WhereAmIResponse>>(void)>") == 0);
    CHECK(strcmp(host->lastServiceCall,
                 "[\"contenttargeting.geoinfo\",\"getWhereAmI\",24225,"
                 "\"{\\\"ipAddress\\\":\\\"1.2.3.4\\\"}\"]") == 0);
    CHECK(Logged(host, 3,
                 "mdl-be-kor-geoinfo: Preparing service proxy request: "
                 "contenttargeting.geoinfo.getWhereAmI"));
    CHECK(Logged(host, 3,
                 "mdl-be-kor-geoinfo: Started service proxy request: "
                 "contenttargeting.geoinfo.getWhereAmI (uuid-2)"));
    CHECK(Logged(host, 3, "mdl-be-kor-geoinfo: Fulfilled service proxy request: uuid-2"));
    CHECK(strstr(host->log.data, "sending request") == NULL);  // traces stay muted
    Finish(host);
  }
}

static void PutTags(Text* text, const char* const* tags, uint32_t count) {
  uint32_t index;
  for (index = 0; index < count; ++index) {
    Put(text, "%s%s", index > 0 ? "," : " [", tags[index]);
  }
  Put(text, "]");
}

// A type of the API table as "name [tags] field:kind[:type]..." or "name [tags] NAME=value...".
static char* DescribeType(const HostEndpointTable* table, const char* name) {
  const HostTypeRecord* type = table->types;
  const HostFieldRecord* field;
  const HostEnumeratorRecord* enumerator;
  Text text = {NULL, 0, 0};
  uint32_t count = 0;
  while (type != NULL && strcmp(type->name, name) != 0) {
    type = type->next;
  }
  if (type == NULL) {
    return CopyText(name);
  }
  Put(&text, "%s", type->name);
  PutTags(&text, type->tags, type->tagCount);
  for (field = type->fields; field != NULL; field = field->next, ++count) {
    Put(&text, " %s:%u%s%s", field->name, (unsigned)field->kind,
        field->typeName[0] != '\0' ? ":" : "", field->typeName);
  }
  for (enumerator = type->enumerators; enumerator != NULL; enumerator = enumerator->next) {
    Put(&text, " %s=%d", enumerator->name, (int)enumerator->value);
    ++count;
  }
  CHECK(count == type->count);
  return text.data;
}

// The endpoints of the API table as "name method uri (argument:kind@location) [tags]" lines.
static char* DescribeEndpoints(const HostEndpointTable* table) {
  const HostEndpointRecord* endpoint = table->endpoints;
  Text text = {NULL, 0, 0};
  uint32_t count = 0;
  Put(&text, "");
  for (; endpoint != NULL; endpoint = (const HostEndpointRecord*)endpoint->function.next) {
    const HostArgumentRecord* argument = endpoint->function.arguments;
    const HostArgumentLocation* location = endpoint->argumentLocations;
    CHECK(endpoint->handler != NULL && endpoint->function.userData != NULL);
    Put(&text, "%s%s %u %s (", count++ > 0 ? "\n" : "", endpoint->function.name,
        (unsigned)endpoint->method, endpoint->uriTemplate);
    for (; argument != NULL; argument = argument->next) {
      Put(&text, "%s:%u@%u", argument->name, (unsigned)argument->kind,
          location != NULL ? (unsigned)location->location : 99u);
      location = location != NULL ? location->next : NULL;
    }
    Put(&text, ")");
    PutTags(&text, endpoint->function.tags, endpoint->function.tagCount);
  }
  CHECK(count == table->endpointCount);
  return text.data;
}

// The API table walked from the load record, and the subscriptions of Start, all released by Stop.
static void ApiTable(void) {
  static const char* const kTypes[] = {
      "PluginResourceEvent [vclient] uri:12 "
      "eventType:16:PluginResourceEventType data:13",
      "PluginResourceEventType [vclient] Create=0 Delete=2 Update=1",
      "MdlBeKorGeoinfoGeoInfoResponse [Plugins,Plugin mdl-be-kor-geoinfo] "
      "success:1 "
      "geoInfo:17:MdlBeKorGeoinfoGeoInfo errorMessage:12 isLatest:1",
      "MdlBeKorGeoinfoLoginSessionState [Plugins,Plugin mdl-be-kor-geoinfo] "
      "ERROR=3 "
      "IN_PROGRESS=0 LOGGING_OUT=2 SUCCEEDED=1",
  };
  Host* host = HostNew(18, 0);
  const HostEventDescription* event = host->record.endpoints->events;
  Text subscriptions = {NULL, 0, 0};
  size_t row;
  int index;
  CHECK(host->record.apiMajor == 18 && host->record.apiMinor == 0 && host->record.apiPatch == 0);
  CHECK(strcmp(host->record.fullName, "mdl-be-kor-geoinfo") == 0);
  CHECK_TEXT(DescribeEndpoints(host->record.endpoints),
             "GetKorGeoinfoV1Whereami 2 /kor-geoinfo/v1/whereami () [Plugins,Plugin "
             "mdl-be-kor-geoinfo]\nGetKorGeoinfoV1Getlocation 2 "
             "/kor-geoinfo/v1/getlocation "
             "(ip_address:12@1) [Plugins,Plugin mdl-be-kor-geoinfo]");
  for (row = 0; row < sizeof kTypes / sizeof kTypes[0]; ++row) {
    char name[64];
    sscanf(kTypes[row], "%63s", name);
    CHECK_TEXT(DescribeType(host->record.endpoints, name), kTypes[row]);
  }
  while (event != NULL && strcmp(event->name, "OnJsonApiEvent") != 0) {
    event = event->next;
  }
  CHECK(event != NULL && strcmp(event->dataTypeName, "PluginResourceEvent") == 0 &&
        strcmp(event->description, "Fired when a resource is changed.") == 0 &&
        event->tagCount == 1 && strcmp(event->tags[0], "vclient") == 0);

  CHECK(Start(host));
  Put(&subscriptions, "");
  for (index = 0; index < host->subscriptionCount; ++index) {
    Put(&subscriptions, "%s%s/%u", index > 0 ? " " : "", host->subscriptions[index].name,
        (unsigned)host->subscriptions[index].flags);
  }
  CHECK_TEXT(subscriptions.data,
             "OnServiceProxyUuidEvent/1 OnServiceProxyMethodEvent/1 "
             "OnServiceProxyAsyncEvent/1 "
             "OnJsonApiEvent_kor-platform-config_v1_namespaces_GeoInfo/0 "
             "OnJsonApiEvent_kor-login_v1_session/0");
  CHECK(host->subscribes == 5);
  Finish(host);  // checks that each of them is unsubscribed
}

// An incompatible core ends the process with the fatal report, in a child of this one.
static void Refused(uint32_t major, uint32_t minor, const char* description) {
  char output[16384];
  size_t length = 0;
  ssize_t got;
  int pipes[2], status = 0;
  pid_t child;
  CHECK(pipe(pipes) == 0);
  fflush(NULL);
  child = fork();
  if (child == 0) {
    close(pipes[0]);
    dup2(pipes[1], 2);
    HostNew(major, minor);
    _exit(0);
  }
  close(pipes[1]);
  // The report is a few hundred bytes: the pipe never fills.
  while (length + 1 < sizeof output &&
         (got = read(pipes[0], output + length, sizeof output - 1 - length)) > 0) {
    length += (size_t)got;
  }
  output[length] = '\0';
  close(pipes[0]);
  waitpid(child, &status, 0);
  CHECK(WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT);
  CHECK(strstr(output, "Expression: ALE-EECF0606") != NULL);
  CHECK(strstr(output, description) != NULL);
}

// The refusals come first: once a module has started and stopped, the process has no log target
// left to write the report to.
static void VersionRule(void) {
  Host* host;
  Refused(19, 0,
          "kor-geoinfo which supports plugin API 18.0.0 is not compatible with "
          "core's plugin API "
          "19.0.0");
  host = HostNew(18, 5);
  CHECK(host->record.apiMajor == 18 && host->record.apiMinor == 0 && host->record.apiPatch == 0);
  CHECK(Start(host));
  Finish(host);
  /* After a module has had the log and stopped, a report still reaches standard error. */
  Refused(17, 9,
          "kor-geoinfo which supports plugin API 18.0.0 is not compatible with "
          "core's plugin API 17.9.0");
}

// Calls the configuration's callback as a careless host might.
static void DeliverBroken(Host* host, const char* name, HostValue payload, void* context) {
  Subscription* subscription = FindSubscription(host, kConfigEvent);
  HostEvent event;
  event.name = name;
  event.payload = payload;
  event.flags = 0;
  event.context = context;
  subscription->callback(&event);
}

// A careless host: no record, no context, missing entries, broken events, no user data.
static void Robustness(void) {
  HostApiTable none;
  HostContext bare;
  HostValue enabling;
  HostValueMember* members;
  uint32_t counters[14];
  void* module;
  char* answer;
  Host* host;

  PluginLoad(NULL);
  host = HostNew(18, 0);
  CHECK(!host->record.callbacks->start(host->record.module, NULL));
  host->record.callbacks->stop(NULL);
  host->record.callbacks->statistics(NULL, counters);
  Finish(host);

  // No entries at all: nothing is fetched, so the feature stays disabled.
  host = HostNew(18, 0);
  memset(&none, 0, sizeof none);
  bare.api = &none;
  bare.handle = kHandle;
  host->record.callbacks->start(host->record.module, &bare);
  CHECK_TEXT(WHEREAMI(host), "0 " NO_LOCATION(NOT_ENABLED));
  Finish(host);

  // No request entry: the service call and the store fail as values, not as calls through null.
  host = HostNew(18, 0);
  host->api.request = NULL;
  CHECK(Start(host));
  CHECK(ResourceEvent(host, kConfigEvent, kConfig, "Create",
                      ValueObject(1, "Enabled", ValueBool(1))));
  CHECK_TEXT(GETLOCATION(host),
             "404 error: Request not sent: the host offers no request entry for POST "
             "/kor-login/v1/service-proxy-uuid-requests");
  CHECK_TEXT(WHEREAMI(host), "0 " NO_LOCATION("Request not sent: the host offers no request "
                                              "entry for GET /kor-settings/v2/local/GeoInfo"));
  Finish(host);

  // Broken events are dropped; the same event intact then enables the feature.
  host = Started(0, "IN_PROGRESS");
  module = FindSubscription(host, kConfigEvent)->context;
  enabling = ValueObject(3, "uri", ValueString(kConfig), "eventType", ValueString("Update"), "data",
                         ValueObject(1, "Enabled", ValueBool(1)));
  DeliverBroken(host, NULL, enabling, module);
  DeliverBroken(host, "OnJsonApiEvent_kor-nothing_v1_here", enabling, module);
  DeliverBroken(host, kConfigEvent, enabling, NULL);
  members = enabling.payload.structure.members;
  members[2].value.payload.structure.members[0].value.kind = 11;  // no such kind
  DeliverBroken(host, kConfigEvent, enabling, module);
  members[2].value.payload.structure.members[0].value.kind = HOST_VALUE_BOOL;
  enabling.payload.structure.members = NULL;  // three members behind a null pointer
  DeliverBroken(host, kConfigEvent, enabling, module);
  enabling.payload.structure.members = members;
  CHECK_TEXT(WHEREAMI(host), "0 " NO_LOCATION(NOT_ENABLED));
  CHECK(host->uuidPosts == 0);
  DeliverBroken(host, kConfigEvent, enabling, module);
  ValueFree(&enabling);
  CHECK_TEXT(WHEREAMI(host), "0 " BERLIN_LATEST);

  // An endpoint call without its user data fails as an answer.
  answer = CallEndpoint(host, "GetKorGeoinfoV1Whereami", "/kor-geoinfo/v1/whereami", 1);
  CHECK(strstr(answer, " error: ") != NULL && strncmp(answer, "0 ", 2) != 0);
  free(answer);
  Finish(host);
}

static uint64_t Counter(const uint32_t counters[14], int index) {
  return counters[2 * index] | (uint64_t)counters[2 * index + 1] << 32;
}

// Allocations minus frees return to their baseline over many requests, and the host's own
// allocations are not the plugin's.
static void Statistics(void) {
  Host* host = Started(1, "SUCCEEDED");
  uint32_t before[14], after[14], again[14];
  char* block;
  int request;
  free(WHEREAMI(host));  // whatever is made once is made by now
  host->record.callbacks->statistics(host->record.module, before);
  for (request = 0; request < 10000; ++request) {
    free(WHEREAMI(host));
  }
  memset(after, 0xFF, sizeof after);
  host->record.callbacks->statistics(host->record.module, after);
  CHECK(Counter(after, 3) - Counter(after, 5) == Counter(before, 3) - Counter(before, 5));
  CHECK(Counter(after, 2) - Counter(after, 4) == Counter(before, 2) - Counter(before, 4));
  CHECK(Counter(after, 3) - Counter(before, 3) >= 10000);
  CHECK(Counter(after, 3) - Counter(before, 3) < 10000u * 1000u);
  CHECK(Counter(after, 0) >= Counter(after, 2) - Counter(after, 4));
  CHECK(Counter(after, 1) <= Counter(after, 3) && after[12] == 0 && after[13] == 0);
  block = malloc(100000);
  memset(block, 1, 100000);
  host->record.callbacks->statistics(host->record.module, again);
  CHECK(memcmp(after, again, sizeof after) == 0);
  free(block);
  Finish(host);
}

// ------------------------------------------------------------------------------------------

static const struct {
  const char* name;
  void (*run)(void);
} kScenarios[] = {
    {"Disabled", Disabled},
    {"PublishOncePerSession", PublishOncePerSession},
    {"FallsBackToSavedLocation", FallsBackToSavedLocation},
    {"GetLocation", GetLocation},
    {"ApiTable", ApiTable},
    {"VersionRule", VersionRule},
    {"Robustness", Robustness},
    {"Statistics", Statistics},
};

int main(int argc, char** argv) {
  const char* const path = argc > 1 ? argv[1] : VEXA_PLUGIN_PATH;
  // The library stays loaded until the end: unloading it would orphan its C++ runtime's emergency
  // pool.
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  void* symbol = library != NULL ? dlsym(library, "load_kor_geoinfo") : NULL;
  size_t index;
  int failed = 0;
  if (symbol == NULL) {
    fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
    return 2;
  }
  memcpy(&PluginLoad, &symbol, sizeof PluginLoad);
  for (index = 0; index < sizeof kScenarios / sizeof kScenarios[0]; ++index) {
    int status = 0;
    if (argc > 2 && strcmp(argv[2], kScenarios[index].name) != 0) {
      continue;
    }
    fflush(NULL);
    if (fork() == 0) {
      kScenarios[index].run();
      exit(failures == 0 ? 0 : 1);
    }
    wait(&status);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
      printf("ok      %s\n", kScenarios[index].name);
    } else {
      ++failed;
      printf("FAILED  %s (%s %d)\n", kScenarios[index].name,
             WIFSIGNALED(status) ? "signal" : "exit",
             WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status));
    }
  }
  return failed == 0 ? 0 : 1;
}
