// The built GeoInfo plugin driven end to end by a host written in C against
// include/vexa/host_contract.h alone, as the platform's core is: it loads the library, answers the
// plugin's requests from a small resource table, runs a service proxy whose answers arrive as
// events in later yields, records what the plugin sends, subscribes and logs, and calls the
// endpoints. The scenarios walk the feature, the version rule, the API table, Stop, a careless host
// and the allocation statistics.
//
//   vexa_seam_geoinfo_tests [path/to/libkor_geoinfo.so | path\to\kor_geoinfo.dll]
//
// The same source builds for Linux (dlopen) and for Windows (LoadLibraryW); what differs is kept
// in the platform section below. The scenarios run one after the other in this process, each with
// hosts of its own; a crash or an abort ends the run as a failure. Failed checks are reported on
// stderr. Only a refused core version, which ends the process by design, runs in a child.
#include <inttypes.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

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
  if (strcmp(actual, expected) != 0) {
    fprintf(stderr, "geoinfo_seam.c:%d: expected\n  %s\nbut got\n  %s\n", line, expected, actual);
    ++failures;
  }
  free(actual);
}

#define CHECK(condition) Check((condition) != 0, #condition, __LINE__)
#define CHECK_TEXT(actual, expected) CheckText((actual), (expected), __LINE__)

// A malloc'd copy of `text` (strdup is POSIX's, not C99's).
static char* Copy(const char* text) {
  const size_t size = strlen(text) + 1;
  return memcpy(malloc(size), text, size);
}

// ------------------------------------------------------------------------------------------
// Texts, and values, which the host writes and reads as compact JSON

// A text that grows by printf pieces; `data` is malloc'd, NULL until the first piece.
typedef struct Text {
  char* data;
  size_t length;
} Text;

static void PutList(Text* text, const char* format, va_list arguments) {
  va_list measuring;
  va_copy(measuring, arguments);
  const size_t needed = (size_t)vsnprintf(NULL, 0, format, measuring);
  va_end(measuring);
  text->data = realloc(text->data, text->length + needed + 1);
  vsnprintf(text->data + text->length, needed + 1, format, arguments);
  text->length += needed;
}

static void Put(Text* text, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  PutList(text, format, arguments);
  va_end(arguments);
}

// What `text` holds (never NULL), which it forgets.
static char* Take(Text* text) {
  Put(text, "");
  char* taken = text->data;
  memset(text, 0, sizeof *text);
  return taken;
}

// A new malloc'd text.
static char* Format(const char* format, ...) {
  Text text = {NULL, 0};
  va_list arguments;
  va_start(arguments, format);
  PutList(&text, format, arguments);
  va_end(arguments);
  return Take(&text);
}

// A value as JSON, members in the record's order; a kind the plugin never sends here shows as a
// mismatch.
static void PutValue(Text* text, const HostValue* value) {
  if (value->kind == HOST_VALUE_STRUCTURE) {
    for (uint32_t index = 0; index < value->payload.structure.count; ++index) {
      const HostValueMember* member = &value->payload.structure.members[index];
      Put(text, "%s\"%s\":", index > 0 ? "," : "{", member->key);
      PutValue(text, &member->value);
    }
    Put(text, value->payload.structure.count > 0 ? "}" : "{}");
  } else if (value->kind == HOST_VALUE_STRING || value->kind == HOST_VALUE_BORROWED_STRING) {
    Put(text, "\"");
    for (const char* at = value->payload.string.text; *at != '\0'; ++at) {
      Put(text, *at == '"' || *at == '\\' ? "\\%c" : "%c", *at);
    }
    Put(text, "\"");
  } else if (value->kind == HOST_VALUE_UNSIGNED) {
    Put(text, "%" PRIu64, value->payload.unsignedValue);
  } else if (value->kind == HOST_VALUE_SIGNED) {
    Put(text, "%" PRId64, value->payload.signedValue);
  } else if (value->kind == HOST_VALUE_BOOL) {
    Put(text, value->payload.boolean ? "true" : "false");
  } else {
    Put(text, value->kind == HOST_VALUE_EMPTY ? "null" : "<kind %u>", (unsigned)value->kind);
  }
}

// Reads the value at *at and moves past it. The host's own JSON only: objects, texts escaping
// just '"' and '\\', unsigned numbers, true, false, null. The value owns every text and key.
static HostValue ParseValue(const char** at) {
  HostValue value = {HOST_VALUE_EMPTY};
  if (**at == '{') {
    value.kind = HOST_VALUE_STRUCTURE;
    for (++*at; **at != '}'; *at += **at == ',') {
      const uint32_t count = ++value.payload.structure.count;
      value.payload.structure.members =
          realloc(value.payload.structure.members, count * sizeof(HostValueMember));
      HostValueMember* member = &value.payload.structure.members[count - 1];
      member->key = ParseValue(at).payload.string.text;
      member->ownsKey = 1;
      ++*at;  // ':'
      member->value = ParseValue(at);
    }
  } else if (**at == '"') {
    Text text = {NULL, 0};
    for (++*at; **at != '"'; ++*at) {
      *at += **at == '\\';
      Put(&text, "%c", **at);
    }
    value.kind = HOST_VALUE_STRING;
    value.payload.string.length = (uint32_t)text.length;
    value.payload.string.text = Take(&text);
  } else if (**at >= '0' && **at <= '9') {
    value.kind = HOST_VALUE_UNSIGNED;
    value.payload.unsignedValue = strtoull(*at, (char**)at, 10);
    return value;
  } else {
    value.kind = **at == 'n' ? HOST_VALUE_EMPTY : HOST_VALUE_BOOL;
    value.payload.boolean = **at == 't';
    *at += strcspn(*at, ",}") - 1;  // to the word's last letter
  }
  ++*at;
  return value;
}

static HostValue Json(const char* json) {
  return ParseValue(&json);
}

static void ValueFree(HostValue* value) {
  if (value->kind == HOST_VALUE_STRING) {
    free((void*)value->payload.string.text);
  } else if (value->kind == HOST_VALUE_STRUCTURE) {
    for (uint32_t index = 0; index < value->payload.structure.count; ++index) {
      HostValueMember* member = &value->payload.structure.members[index];
      free(member->ownsKey ? (void*)member->key : NULL);
      ValueFree(&member->value);
    }
    free(value->payload.structure.members);
  }
  memset(value, 0, sizeof *value);
}

// ------------------------------------------------------------------------------------------
// The host

#define CONFIG "/kor-platform-config/v1/namespaces/GeoInfo"
#define SESSION "/kor-login/v1/session"
#define SETTINGS "/kor-settings/v2/local/GeoInfo"
static const char kConfigEvent[] = "OnJsonApiEvent_kor-platform-config_v1_namespaces_GeoInfo";
#define ENABLING "{\"uri\":\"" CONFIG "\",\"eventType\":\"Update\",\"data\":{\"Enabled\":true}}"

enum { kHandle = 0x5EA1, kMaxSubscriptions = 16 };

typedef struct Subscription {
  char name[96];
  HostEventCallback callback;
  void* context;
} Subscription;

typedef struct Host {
  HostApiTable api;  // first: every entry finds its host from the table it is handed
  HostContext context;
  HostLoadRecord record;

  // What the resources and the remote service answer; scenarios change them at will: Enabled of
  // the configuration namespace, the login session, the settings document as JSON (NULL: none,
  // 404), and the service's answer, which carries `serviceError` if set, else `servicePayload`, and
  // comes in the `answerAfterYields`th yield after the POST (0: at once, before the POST returns
  // its uuid).
  int enabled, answerAfterYields;
  const char *sessionState, *serviceError, *servicePayload;
  uint64_t profileId, accountId;
  char* settings;

  // What the plugin did. `calls` has a letter per call, in order: C, S, L and P for the
  // configuration, the session, the settings' GET and PATCH, U for the service proxy's POST, and
  // W, y and w for wait begin, yield and wait end. `sent` has "name payload\n" for every event
  // sent, `log` "\nlevel message" for every record written, `subscribed` " name/flags" for every
  // subscription. The last service call's arguments are kept as JSON.
  Text calls, sent, log, subscribed;
  char lastServiceCall[256];
  Subscription subscriptions[kMaxSubscriptions];
  int subscriptionCount, unreleased, yields, answerYields, nextUuid;
  char* answer;  // the service's answer event waiting for its yield, or NULL
} Host;

static void(VEXA_HOST_CALL* PluginLoad)(HostLoadRecord* record);
// The host of the scenario, for the release function the host stores in its responses, which is
// handed the response alone.
static Host* current;

#define HostOf(api) ((Host*)(uintptr_t)(api))

static Subscription* FindSubscription(Host* host, const char* name) {
  int index = 0;
  while (index < host->subscriptionCount && strcmp(host->subscriptions[index].name, name) != 0) {
    ++index;
  }
  return index < host->subscriptionCount ? &host->subscriptions[index] : NULL;
}

// Delivers the event `name` with the payload `json` (taken) as the host does (an event nothing is
// subscribed to crashes the scenario).
static void Deliver(Host* host, const char* name, char* json) {
  const Subscription* subscription = FindSubscription(host, name);
  HostValue payload = Json(json);
  free(json);
  CHECK(subscription != NULL && subscription->callback != NULL);
  const HostEvent event = {name, payload, 0, subscription->context};
  subscription->callback(&event);
  ValueFree(&payload);
}

static char* SessionJson(const Host* host) {
  return Format("{\"state\":\"%s\",\"profileId\":%" PRIu64 ",\"accountId\":%" PRIu64 "}",
                host->sessionState, host->profileId, host->accountId);
}

static void VEXA_HOST_CALL ReleaseResponse(HostResponse* response) {
  ValueFree(&response->result.value);
  free((void*)response->result.error);
  memset(response, 0, sizeof *response);
  --current->unreleased;
}

// Records the call as `letter` and answers it with the value of `json` (taken) or with `error`.
// The plugin gives the response back through the release function stored in it.
static void Answer(Host* host, char letter, HostResponse* response, uint32_t status, char* json,
                   const char* error) {
  const HostResponse answer = {
      .result = {Json(json), error != NULL ? Copy(error) : NULL, error != NULL},
      .status = status,
      .responseText = "",
      .release = ReleaseResponse};
  Put(&host->calls, "%c", letter);
  *response = answer;
  ++host->unreleased;
  free(json);
}

// The service proxy's POST answers the uuid; the service's answer event comes at once (before the
// POST returns) or in a later yield.
static void ServiceProxyRequest(Host* host, HostResponse* response, const HostRequest* request) {
  Text text = {NULL, 0};
  for (uint32_t index = 0; index < request->argumentCount; ++index) {
    Put(&text, index > 0 ? "," : "[");
    PutValue(&text, &request->arguments[index].value);
  }
  Put(&text, "]");
  snprintf(host->lastServiceCall, sizeof host->lastServiceCall, "%s", text.data);
  free(Take(&text));
  CHECK(host->answer == NULL);
  Put(&text,
      "{\"uuid\":\"uuid-%d\",\"serviceName\":\"contenttargeting.geoinfo\",\"methodName\":"
      "\"getWhereAmI\",\"payload\":",
      ++host->nextUuid);
  const HostValue payload = {HOST_VALUE_BORROWED_STRING, .payload.string = {host->servicePayload}};
  PutValue(&text, &payload);
  Put(&text, ",\"status\":\"%s\",\"error\":\"%s\"}", host->serviceError != NULL ? "ERROR" : "OK",
      host->serviceError != NULL ? host->serviceError : "");
  host->answer = Take(&text);
  host->answerYields = host->answerAfterYields;
  if (host->answerAfterYields == 0) {
    Deliver(host, "OnServiceProxyUuidEvent", host->answer);
    host->answer = NULL;
  }
  Answer(host, 'U', response, 200, Format("\"uuid-%d\"", host->nextUuid), NULL);
}

static void VEXA_HOST_CALL EntryRequest(const HostApiTable* api, HostResponse* response,
                                        const HostRequest* request) {
  Host* host = HostOf(api);
  const char* path = request->path != NULL ? request->path : "";
  const int get = request->method == HOST_METHOD_GET;
  CHECK(request->context == kHandle);
  if (get && strcmp(path, CONFIG) == 0) {
    Answer(host, 'C', response, 200, Format("{\"Enabled\":%s}", host->enabled ? "true" : "false"),
           NULL);
  } else if (get && strcmp(path, SESSION) == 0) {
    Answer(host, 'S', response, 200, SessionJson(host), NULL);
  } else if (get && strcmp(path, SETTINGS) == 0) {
    Answer(host, 'L', response, host->settings != NULL ? 200 : 404,
           Format("%s", host->settings != NULL ? host->settings : "null"),
           host->settings != NULL ? NULL : "No such document");
  } else if (request->method == HOST_METHOD_PATCH && request->argumentCount == 1 &&
             strcmp(path, SETTINGS) == 0) {
    // The plugin frees its body after the call: the store keeps a copy.
    Text settings = {NULL, 0};
    PutValue(&settings, &request->arguments[0].value);
    free(host->settings);
    host->settings = Take(&settings);
    Answer(host, 'P', response, 200, Format("null"), NULL);
  } else if (request->method == HOST_METHOD_POST &&
             strcmp(path, "/kor-login/v1/service-proxy-uuid-requests") == 0) {
    ServiceProxyRequest(host, response, request);
  } else {
    Check(0, path, __LINE__);  // no resource for that request
    Answer(host, '?', response, 404, Format("null"), "No such resource");
  }
}

static void VEXA_HOST_CALL EntrySendEvent(const HostApiTable* api, const HostEvent* event) {
  Host* host = HostOf(api);
  Put(&host->sent, "%s ", event->name);
  PutValue(&host->sent, &event->payload);
  Put(&host->sent, "\n");
}

// Subscriptions are counted in the plugin: the host sees each name once.
static void VEXA_HOST_CALL EntrySubscribe(const HostApiTable* api, const char* eventName,
                                          HostHandle handle, HostEventCallback callback,
                                          void* context, uint32_t flags) {
  Host* host = HostOf(api);
  Subscription subscription = {"", callback, context};
  CHECK(handle == kHandle && callback != NULL && FindSubscription(host, eventName) == NULL);
  if (host->subscriptionCount == kMaxSubscriptions) {
    abort();
  }
  snprintf(subscription.name, sizeof subscription.name, "%s", eventName);
  Put(&host->subscribed, " %s/%u", eventName, (unsigned)flags);
  host->subscriptions[host->subscriptionCount++] = subscription;
}

static void VEXA_HOST_CALL EntryUnsubscribe(const HostApiTable* api, const char* eventName,
                                            HostHandle handle) {
  Subscription* subscription = FindSubscription(HostOf(api), eventName);
  CHECK(handle == kHandle && subscription != NULL && subscription->callback != NULL);
  if (subscription != NULL) {
    subscription->callback = NULL;  // unsubscribed
  }
}

// One pass of the host: the service's answer is delivered when its time has come.
static void VEXA_HOST_CALL EntryYield(const HostApiTable* api) {
  Host* host = HostOf(api);
  char* answer = host->answer;
  Put(&host->calls, "y");
  if (++host->yields > 100000) {
    abort();  // the plugin waits for an answer that never comes
  }
  if (answer != NULL && --host->answerYields <= 0) {
    host->answer = NULL;
    Deliver(host, "OnServiceProxyUuidEvent", answer);
  }
}

static void VEXA_HOST_CALL EntryWaitBegin(const HostApiTable* api, const char* label,
                                          uintptr_t reserved) {
  Host* host = HostOf(api);
  CHECK(reserved == 0 && label != NULL);
  Put(&host->calls, "W");
}

static void VEXA_HOST_CALL EntryWaitEnd(const HostApiTable* api) {
  Put(&HostOf(api)->calls, "w");
}

static void VEXA_HOST_CALL EntryLog(const HostApiTable* api, int32_t level, const char* message) {
  Put(&HostOf(api)->log, "\n%d %s", (int)level, message);
}

// A host with the feature enabled, a session SUCCEEDED with both ids, no settings document and a
// service that answers Berlin in the first yield after the request; the plugin loaded for a core of
// `major`.`minor`.0. The reserved entries 2 and 6 stay null: the plugin never calls them.
static Host* HostNew(uint32_t major, uint32_t minor) {
  const Host defaults = {
      .api = {EntryRequest, NULL, EntrySendEvent, EntrySubscribe, EntryUnsubscribe, NULL,
              EntryYield, EntryWaitBegin, EntryWaitEnd, EntryLog},
      .context = {NULL, kHandle},
      .record = {.apiMajor = major, .apiMinor = minor},
      .enabled = 1,
      .sessionState = "SUCCEEDED",
      .profileId = 7,
      .accountId = 9,
      .servicePayload = "{\"country\":\"DE\",\"city\":\"Berlin\",\"region\":\"BE\"}",
      .answerAfterYields = 1};
  Host* host = malloc(sizeof *host);
  *host = defaults;
  host->context.api = &host->api;
  current = host;
  PluginLoad(&host->record);  // a record left empty crashes the scenario at Start
  return host;
}

static int Start(Host* host) {
  return host->record.callbacks->start(host->record.module, &host->context);
}

static Host* Started(int enabled, const char* sessionState) {
  Host* host = HostNew(18, 0);
  host->enabled = enabled;
  host->sessionState = sessionState;
  CHECK(Start(host));
  return host;
}

// Stops the plugin, checks that it unsubscribed everything and released every response, and frees
// the host.
static void Finish(Host* host) {
  host->record.callbacks->stop(host->record.module);
  for (int index = 0; index < host->subscriptionCount; ++index) {
    Check(host->subscriptions[index].callback == NULL, host->subscriptions[index].name, __LINE__);
  }
  CHECK(host->unreleased == 0);
  free(host->calls.data);
  free(host->sent.data);
  free(host->log.data);
  free(host->subscribed.data);
  free(host->answer);
  free(host->settings);
  free(host);
}

// Calls endpoint `name` with "GET" `path` (and its user data unless `bare`); answers "<status>
// <body as JSON>" or "<status> error: <text>" after releasing the response, which must zero it.
static char* CallEndpoint(Host* host, const char* name, const char* path, int bare) {
  static const HostResponse kReleased;
  const HostEndpointRecord* endpoint = host->record.endpoints->endpoints;
  while (strcmp(endpoint->function.name, name) != 0) {  // a missing endpoint crashes the scenario
    endpoint = (const HostEndpointRecord*)endpoint->function.next;
  }
  HostRequest request = {.method = HOST_METHOD_GET, .path = path, .context = kHandle};
  request.userData = bare ? NULL : endpoint->function.userData;
  HostResponse response;
  memset(&response, 0xAB, sizeof response);  // the record handed in may hold anything...
  response.release = NULL;                   // ...but a release function to call first
  endpoint->handler(&response, &request);
  Text answer = {NULL, 0};
  Put(&answer, response.result.error != NULL ? "%u error: %s" : "%u ", (unsigned)response.status,
      response.result.error);
  if (response.result.error == NULL) {
    PutValue(&answer, &response.result.value);
  }
  response.release(&response);
  CHECK(memcmp(&response, &kReleased, sizeof response) == 0);
  return Take(&answer);
}

#define WHEREAMI(host) \
  CallEndpoint((host), "GetKorGeoinfoV1Whereami", "/kor-geoinfo/v1/whereami", 0)
#define GETLOCATION(host)                            \
  CallEndpoint((host), "GetKorGeoinfoV1Getlocation", \
               "/kor-geoinfo/v1/getlocation?ip_address=1.2.3.4", 0)

// Sets the login session and delivers its resource event (null data for Delete).
static void SessionEvent(Host* host, const char* eventType, const char* state, uint64_t profileId,
                         uint64_t accountId) {
  host->sessionState = state;
  host->profileId = profileId;
  host->accountId = accountId;
  char* session = strcmp(eventType, "Delete") == 0 ? Format("null") : SessionJson(host);
  char* payload =
      Format("{\"uri\":\"" SESSION "\",\"eventType\":\"%s\",\"data\":%s}", eventType, session);
  Deliver(host, "OnJsonApiEvent_kor-login_v1_session", payload);
  free(session);
}

// Checks the host calls (letters, see Host) and the whereami events since the last look: the
// resource event carrying `data` (NULL: none) under the resource's name and then the base name.
#define EVENT "{\"data\":%s,\"eventType\":\"%s\",\"uri\":\"/kor-geoinfo/v1/whereami\"}\n"
static void Expect(Host* host, const char* calls, const char* data, const char* eventType,
                   int line) {
  char* expected =
      data == NULL ? Format("")
                   : Format("OnJsonApiEvent_kor-geoinfo_v1_whereami " EVENT "OnJsonApiEvent " EVENT,
                            data, eventType, data, eventType);
  CheckText(Take(&host->calls), calls, line);
  CheckText(Take(&host->sent), expected, line);
  free(expected);
}

#define EXPECT(host, calls, data, eventType) Expect((host), (calls), (data), (eventType), __LINE__)

// ------------------------------------------------------------------------------------------
// The platform: loading the library, and the child process in which a refused core version ends

// What the child of a refusal runs: the load for a core of `major`.`minor`, which must end the
// process. With `replay`, a module is first loaded, started and stopped, as in the parent before
// its second refusal: the plugin's log then has to find its way back to standard error.
static void LoadRefused(uint32_t major, uint32_t minor, int replay) {
  if (replay) {
    Host* host = HostNew(18, 5);
    Start(host);
    Finish(host);
  }
  HostNew(major, minor);
}

#if defined(_WIN32)

// How a process ends through msvcrt's abort: SIGABRT's default action exits with code 3. A fault
// (a write at address zero before the abort, say) would end it with 0xC0000005 instead.
#define ABORT_ENDING "exit code 3"

static const char* libraryPath;

// A malloc'd UTF-16 copy of `text`, which is in the ANSI code page as main's arguments are; NULL
// when it does not convert.
static wchar_t* Wide(const char* text) {
  const int count = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, NULL, 0);
  wchar_t* wide = count > 0 ? malloc((size_t)count * sizeof *wide) : NULL;
  if (wide != NULL &&
      MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, wide, count) != count) {
    free(wide);
    wide = NULL;
  }
  return wide;
}

// Sets PluginLoad from the DLL at `path`, which stays loaded until the process ends.
static int LoadPlugin(const char* path) {
  wchar_t* wide = Wide(path);
  HMODULE library = wide != NULL ? LoadLibraryW(wide) : NULL;
  FARPROC entry = library != NULL ? GetProcAddress(library, "load_kor_geoinfo") : NULL;
  const unsigned long error = (unsigned long)GetLastError();
  free(wide);
  if (entry == NULL) {
    fprintf(stderr, "cannot load %s: error %lu\n", path, error);
    return 0;
  }
  memcpy(&PluginLoad, &entry, sizeof PluginLoad);
  libraryPath = path;
  return 1;
}

// Runs LoadRefused in a new process of this program (see main's "--refuse"), with its standard
// error read through a pipe into `report` (NUL-terminated, cut to `size`). Answers how the child
// ended, malloc'd.
static char* RunRefused(uint32_t major, uint32_t minor, int replay, char* report, size_t size) {
  wchar_t program[32768];
  wchar_t* library = Wide(libraryPath);
  const DWORD programLength = GetModuleFileNameW(NULL, program, sizeof program / sizeof *program);
  const size_t commandSize = programLength + (library != NULL ? wcslen(library) : 0) + 64;
  wchar_t* command = malloc(commandSize * sizeof *command);
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, NULL, TRUE};
  HANDLE reading = NULL, writing = NULL;
  STARTUPINFOW startup;
  PROCESS_INFORMATION child;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  report[0] = '\0';
  fflush(NULL);
  // The child inherits the pipe's writing end alone, and the parent closes its own copy once the
  // child has started: the reads below end when the child's stderr closes, that is when it ends.
  if (library == NULL || programLength == 0 || programLength == sizeof program / sizeof *program ||
      !CreatePipe(&reading, &writing, &inherited, 0) ||
      !SetHandleInformation(reading, HANDLE_FLAG_INHERIT, 0)) {
    const unsigned long error = (unsigned long)GetLastError();
    if (reading != NULL) {
      CloseHandle(reading);
      CloseHandle(writing);
    }
    free(library);
    free(command);
    return Format("not started: error %lu", error);
  }
  swprintf(command, commandSize, L"\"%ls\" --refuse %u %u %d \"%ls\"", program, (unsigned)major,
           (unsigned)minor, replay, library);
  startup.hStdError = writing;
  const BOOL started =
      CreateProcessW(program, command, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &child);
  const unsigned long startError = (unsigned long)GetLastError();
  CloseHandle(writing);
  free(library);
  free(command);
  if (!started) {
    CloseHandle(reading);
    return Format("not started: error %lu", startError);
  }
  size_t length = 0;
  char scratch[4096];
  DWORD got = 0;
  for (;;) {  // past `size`, the rest is drained so that the child never blocks on a full pipe
    char* into = length + 1 < size ? report + length : scratch;
    const DWORD room = into == scratch ? (DWORD)sizeof scratch : (DWORD)(size - 1 - length);
    if (!ReadFile(reading, into, room, &got, NULL) || got == 0) {
      break;
    }
    length += into == scratch ? 0 : got;
  }
  report[length] = '\0';
  DWORD exitCode = 0;
  WaitForSingleObject(child.hProcess, INFINITE);
  const BOOL ended = GetExitCodeProcess(child.hProcess, &exitCode);
  CloseHandle(reading);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return ended ? Format("exit code %lu", (unsigned long)exitCode) : Format("exit code unknown");
}

#else

#define ABORT_ENDING "signal SIGABRT"

// Sets PluginLoad from the library at `path`, which stays loaded until the process ends.
static int LoadPlugin(const char* path) {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  void* symbol = library != NULL ? dlsym(library, "load_kor_geoinfo") : NULL;
  if (symbol == NULL) {
    fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
    return 0;
  }
  memcpy(&PluginLoad, &symbol, sizeof PluginLoad);
  return 1;
}

// Runs LoadRefused in a fork of this process, with its standard error in a temporary file read
// back into `report` (NUL-terminated, cut to `size`). Answers how the child ended, malloc'd. The
// fork has this process's history, so it replays nothing.
static char* RunRefused(uint32_t major, uint32_t minor, int replay, char* report, size_t size) {
  FILE* file = tmpfile();
  int status = 0;
  (void)replay;
  report[0] = '\0';
  if (file == NULL) {
    return Format("not started: no temporary file");
  }
  fflush(NULL);
  const pid_t child = fork();
  if (child == 0) {
    dup2(fileno(file), 2);
    LoadRefused(major, minor, 0);
    _exit(0);
  }
  const int waited = child > 0 && waitpid(child, &status, 0) == child;
  rewind(file);
  report[fread(report, 1, size - 1, file)] = '\0';
  fclose(file);
  if (!waited) {
    return Format("not started");
  }
  if (WIFSIGNALED(status)) {
    return WTERMSIG(status) == SIGABRT ? Format("signal SIGABRT")
                                       : Format("signal %d", WTERMSIG(status));
  }
  return Format("exit code %d", WEXITSTATUS(status));
}

#endif

// ------------------------------------------------------------------------------------------
// Scenarios

// Whereami bodies: Berlin from the service, and no location with `message`.
#define BERLIN "{\"city\":\"Berlin\",\"country\":\"DE\",\"region\":\"BE\"}"
#define BERLIN_LATEST \
  "{\"errorMessage\":\"\",\"geoInfo\":" BERLIN ",\"isLatest\":true,\"success\":true}"
#define NO_LOCATION(message)                                         \
  "{\"errorMessage\":\"" message                                     \
  "\",\"geoInfo\":{\"city\":\"\",\"country\":\"\",\"region\":\"\"}," \
  "\"isLatest\":false,\"success\":false}"
#define NOT_ENABLED "contenttargeting.geoinfo is not enabled"

// Published once per session: enabled before the login, the configuration runs whereami (saved,
// not published) and the login publishes; logging out and back in asks again but publishes
// nothing; Delete clears, so the next login publishes anew; configuration events never clear.
static void PublishOncePerSession(void) {
  Host* host = Started(1, "IN_PROGRESS");
  EXPECT(host, "CUWywPS", NULL, NULL);
  CHECK(strcmp(host->settings, "{\"data\":" BERLIN ",\"schemaVersion\":1}") == 0);

  SessionEvent(host, "Update", "SUCCEEDED", 7, 0);  // without both ids, no login
  SessionEvent(host, "Update", "SUCCEEDED", 0, 9);
  EXPECT(host, "", NULL, NULL);
  SessionEvent(host, "Update", "SUCCEEDED", 7, 9);
  EXPECT(host, "UWywP", BERLIN_LATEST, "Create");

  CHECK_TEXT(WHEREAMI(host), "0 " BERLIN_LATEST);
  SessionEvent(host, "Update", "LOGGING_OUT", 7, 9);
  SessionEvent(host, "Update", "SUCCEEDED", 7, 9);
  EXPECT(host, "UWywPUWywP", NULL, NULL);  // the endpoint's call, then the login again

  SessionEvent(host, "Delete", "SUCCEEDED", 7, 9);
  EXPECT(host, "", "null", "Delete");
  SessionEvent(host, "Create", "SUCCEEDED", 7, 9);
  EXPECT(host, "UWywP", BERLIN_LATEST, "Create");
  Deliver(host, kConfigEvent, Format(ENABLING));
  EXPECT(host, "UWywP", NULL, NULL);
  Finish(host);
}

// What whereami answers, and publishes at the login, when the service fails: by what the settings
// store holds. Nothing is saved.
static void FallsBackToSavedLocation(void) {
  static const struct {
    const char* document;
    const char* answer;  // "0 " and the body that is published too
  } kRows[] = {
      {"{\"schemaVersion\":1,\"data\":{\"country\":\"FR\",\"city\":\"Paris\",\"region\":\"IDF\"}}",
       "0 {\"errorMessage\":\"\",\"geoInfo\":{\"city\":\"Paris\",\"country\":\"FR\",\"region\":"
       "\"IDF\"},\"isLatest\":false,\"success\":true}"},
      {"{\"schemaVersion\":1}", "0 " NO_LOCATION("Data retrieved is empty")},
      {"{\"data\":null}", "0 " NO_LOCATION("Data retrieved is empty")},
      {NULL, "0 " NO_LOCATION("Error response for GET " SETTINGS ": No such document")},
  };
  for (size_t row = 0; row < sizeof kRows / sizeof kRows[0]; ++row) {
    Host* host = HostNew(18, 0);
    host->serviceError = "boom";
    host->settings = kRows[row].document != NULL ? Format("%s", kRows[row].document) : NULL;
    CHECK(Start(host));
    EXPECT(host, "CUWywLSUWywL", kRows[row].answer + 2, "Create");  // a failure is published too
    CHECK_TEXT(WHEREAMI(host), kRows[row].answer);
    Finish(host);
  }
}

// getlocation by the service's answer and its timing; the call's arguments and the runtime's log
// lines of the request.
static void GetLocation(void) {
  static const struct {
    const char* serviceError;
    const char* payload;
    int answerAfterYields;
    const char* calls;
    const char* expected;
  } kRows[] = {
      {NULL, NULL, 1, "UWyw", "0 " BERLIN},
      {NULL, NULL, 3, "UWyyyw", "0 " BERLIN},  // the runtime yields until the answer comes
      {NULL, NULL, 0, "U", "0 " BERLIN},  // the answer arrives before the POST returns its uuid
      {"boom", NULL, 1, "UWyw", "404 error: boom"},
      {NULL, "not json", 1, "UWyw",
       "404 error: Failed to deserialize response payload \"not json\" to a const char *__cdecl "
       "StaticType::Name<struct Vexa::Client::Api::WhereAmIResponse>(void)"},
  };
  for (size_t row = 0; row < sizeof kRows / sizeof kRows[0]; ++row) {
    Host* host = Started(1, "IN_PROGRESS");
    host->serviceError = kRows[row].serviceError;
    host->servicePayload = kRows[row].payload != NULL ? kRows[row].payload : host->servicePayload;
    host->answerAfterYields = kRows[row].answerAfterYields;
    free(Take(&host->calls));
    free(Take(&host->log));
    CHECK_TEXT(GETLOCATION(host), kRows[row].expected);
    EXPECT(host, kRows[row].calls, NULL, NULL);
    CHECK(strcmp(host->lastServiceCall,
                 "[\"contenttargeting.geoinfo\",\"getWhereAmI\",24225,"
                 "\"{\\\"ipAddress\\\":\\\"1.2.3.4\\\"}\"]") == 0);
    // Every line at level 3 (the runtime's "always"), and the debug traces muted.
    CHECK_TEXT(Take(&host->log),
               "\n3 mdl-be-kor-geoinfo: Preparing service proxy request: "
               "contenttargeting.geoinfo.getWhereAmI\n3 mdl-be-kor-geoinfo: Started service proxy "
               "request: contenttargeting.geoinfo.getWhereAmI (uuid-2)\n3 mdl-be-kor-geoinfo: "
               "Fulfilled service proxy request: uuid-2");
    Finish(host);
  }
}

// The endpoints of the API table as "name method uri (argument:kind@location) [tags]" lines.
static char* DescribeEndpoints(const HostEndpointTable* table) {
  Text text = {NULL, 0};
  uint32_t count = 0;
  for (const HostEndpointRecord* endpoint = table->endpoints; endpoint != NULL;
       endpoint = (const HostEndpointRecord*)endpoint->function.next) {
    const HostArgumentLocation* location = endpoint->argumentLocations;
    Put(&text, "%s%s %u %s (", count++ > 0 ? "\n" : "", endpoint->function.name,
        (unsigned)endpoint->method, endpoint->uriTemplate);
    for (const HostArgumentRecord* argument = endpoint->function.arguments; argument != NULL;
         argument = argument->next, location = location != NULL ? location->next : NULL) {
      Put(&text, "%s:%u@%u", argument->name, (unsigned)argument->kind,
          location != NULL ? (unsigned)location->location : 99u);
    }
    for (uint32_t tag = 0; tag < endpoint->function.tagCount; ++tag) {
      Put(&text, "%s%s", tag > 0 ? "," : ") [", endpoint->function.tags[tag]);
    }
    Put(&text, "]");
  }
  CHECK(count == table->endpointCount);
  return Take(&text);
}

// The API table walked from the load record, and the subscriptions of Start, all released by Stop.
static void ApiTable(void) {
  Host* host = HostNew(18, 0);
  const HostEndpointTable* table = host->record.endpoints;
  CHECK(strcmp(host->record.fullName, "mdl-be-kor-geoinfo") == 0);
  CHECK_TEXT(DescribeEndpoints(table),
             "GetKorGeoinfoV1Whereami 2 /kor-geoinfo/v1/whereami () [Plugins,Plugin "
             "mdl-be-kor-geoinfo]\nGetKorGeoinfoV1Getlocation 2 /kor-geoinfo/v1/getlocation "
             "(ip_address:12@1) [Plugins,Plugin mdl-be-kor-geoinfo]");
  // The runtime's seven records carry the single tag "vclient", GeoInfo's seven the two API tags.
  uint32_t count = 0, tagged = 0;
  for (const HostTypeRecord* type = table->types; type != NULL; type = type->next, ++count) {
    const int runtime = strncmp(type->name, "Plugin", 6) == 0;
    const int geoInfo = strncmp(type->name, "MdlBeKorGeoinfo", 15) == 0;
    Check(!runtime || (type->tagCount == 1 && strcmp(type->tags[0], "vclient") == 0), type->name,
          __LINE__);
    Check(!geoInfo || (type->tagCount == 2 && strcmp(type->tags[0], "Plugins") == 0 &&
                       strcmp(type->tags[1], "Plugin mdl-be-kor-geoinfo") == 0),
          type->name, __LINE__);
    tagged += runtime + geoInfo;
  }
  CHECK(count == table->typeCount && tagged == 14);
  const HostEventDescription* event = table->events;
  while (event != NULL && strcmp(event->name, "OnJsonApiEvent") != 0) {
    event = event->next;
  }
  CHECK(event != NULL && strcmp(event->dataTypeName, "PluginResourceEvent") == 0 &&
        strcmp(event->description, "Fired when a resource is changed.") == 0 &&
        event->tagCount == 1 && strcmp(event->tags[0], "vclient") == 0);

  CHECK(Start(host));
  CHECK_TEXT(Take(&host->subscribed),
             " OnServiceProxyUuidEvent/1 OnServiceProxyMethodEvent/1 OnServiceProxyAsyncEvent/1 "
             "OnJsonApiEvent_kor-platform-config_v1_namespaces_GeoInfo/0 "
             "OnJsonApiEvent_kor-login_v1_session/0");
  Finish(host);  // checks that each of them is unsubscribed
}

// An incompatible core ends the process through abort with the fatal report on standard error, in
// a child of this one; `afterModule` says whether a module has come and gone before.
static void Refused(uint32_t major, uint32_t minor, int afterModule) {
  char report[16384], description[128];
  CHECK_TEXT(RunRefused(major, minor, afterModule, report, sizeof report), ABORT_ENDING);
  snprintf(description, sizeof description,
           "kor-geoinfo which supports plugin API 18.0.0 is not compatible with core's plugin API "
           "%u.%u.0",
           (unsigned)major, (unsigned)minor);
  Check(strstr(report, "Expression: ALE-EECF0606") != NULL && strstr(report, description) != NULL,
        report, __LINE__);
}

// 18.0.0 and 18.5.0 are accepted (the plugin writes back its own 18.0.0); 19.0.0 and 17.9.0 are
// refused. The first refusal comes before any module has had the log, the second after one has had
// it and stopped: its report must still reach standard error.
static void VersionRule(void) {
  Refused(19, 0, 0);
  Host* host = HostNew(18, 5);
  CHECK(host->record.apiMajor == 18 && host->record.apiMinor == 0 && host->record.apiPatch == 0);
  CHECK(Start(host));
  Finish(host);
  Refused(17, 9, 1);
}

// A careless host: no record, no context, missing entries, broken events, no user data.
static void Robustness(void) {
  PluginLoad(NULL);
  Host* host = HostNew(18, 0);
  CHECK(!host->record.callbacks->start(host->record.module, NULL));
  host->record.callbacks->stop(NULL);
  host->record.callbacks->statistics(NULL, (uint32_t[14]){0});
  Finish(host);

  // No entries at all: nothing is fetched, so the feature stays disabled.
  host = HostNew(18, 0);
  memset(&host->api, 0, sizeof host->api);
  Start(host);
  CHECK_TEXT(WHEREAMI(host), "0 " NO_LOCATION(NOT_ENABLED));
  Finish(host);

  // No request entry: the service call and the store fail as values, not as calls through null.
  host = HostNew(18, 0);
  host->api.request = NULL;
  CHECK(Start(host));
  Deliver(host, kConfigEvent, Format(ENABLING));
  CHECK_TEXT(GETLOCATION(host),
             "404 error: Request not sent: the host offers no request entry for POST "
             "/kor-login/v1/service-proxy-uuid-requests");
  CHECK_TEXT(WHEREAMI(host), "0 " NO_LOCATION("Request not sent: the host offers no request "
                                              "entry for GET " SETTINGS));
  Finish(host);

  // Broken events are dropped: no name, no context, members behind a null pointer. Disabled, the
  // feature has no location, getlocation answers 503, and neither the service nor the store is
  // asked. The configuration event intact then enables the feature.
  host = Started(0, "SUCCEEDED");
  const Subscription* config = FindSubscription(host, kConfigEvent);
  HostValue enabling = Json(ENABLING);
  const HostValue unreadable = {HOST_VALUE_STRUCTURE, .payload.structure = {NULL, 3}};
  const HostEvent broken[] = {{NULL, enabling, 0, config->context},
                              {kConfigEvent, enabling, 0, NULL},
                              {kConfigEvent, unreadable, 0, config->context}};
  for (size_t row = 0; row < sizeof broken / sizeof broken[0]; ++row) {
    config->callback(&broken[row]);
  }
  ValueFree(&enabling);
  CHECK_TEXT(WHEREAMI(host), "0 " NO_LOCATION(NOT_ENABLED));
  CHECK_TEXT(GETLOCATION(host), "503 error: " NOT_ENABLED);
  EXPECT(host, "CS", NULL, NULL);
  Deliver(host, kConfigEvent, Format(ENABLING));
  CHECK_TEXT(WHEREAMI(host), "0 " BERLIN_LATEST);

  // An endpoint call without its user data fails as an answer.
  CHECK_TEXT(CallEndpoint(host, "GetKorGeoinfoV1Whereami", "/kor-geoinfo/v1/whereami", 1),
             "400 error: Invalid request: the request names no endpoint");
  Finish(host);
}

// Counter `index` of the statistics' words, low word first.
#define Counter(words, index) ((words)[2 * (index)] | (uint64_t)(words)[2 * (index) + 1] << 32)

// Allocations minus frees return to their baseline over 10,000 requests, and the host's own
// allocations are not the plugin's.
static void Statistics(void) {
  Host* host = Started(1, "SUCCEEDED");
  uint32_t before[14], after[14], again[14];
  free(WHEREAMI(host));  // whatever is made once is made by now
  host->record.callbacks->statistics(host->record.module, before);
  for (int request = 0; request < 10000; ++request) {
    free(WHEREAMI(host));
    free(Take(&host->calls));  // which would grow by every request
  }
  memset(after, 0xFF, sizeof after);
  host->record.callbacks->statistics(host->record.module, after);
  // Back to the baseline; at least one allocation a request and not a thousand, which words
  // read high word first would break.
  CHECK(Counter(after, 3) - Counter(after, 5) == Counter(before, 3) - Counter(before, 5) &&
        Counter(after, 2) - Counter(after, 4) == Counter(before, 2) - Counter(before, 4) &&
        Counter(after, 3) - Counter(before, 3) >= 10000 &&
        Counter(after, 3) - Counter(before, 3) < 10000u * 1000u);
  CHECK(Counter(after, 0) >= Counter(after, 2) - Counter(after, 4) &&
        Counter(after, 1) <= Counter(after, 3) && after[12] == 0 && after[13] == 0);
  char* block = malloc(100000);
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
    {"VersionRule", VersionRule},  // first: its first refusal comes before any module had the log
    {"PublishOncePerSession", PublishOncePerSession},
    {"FallsBackToSavedLocation", FallsBackToSavedLocation},
    {"GetLocation", GetLocation},
    {"ApiTable", ApiTable},
    {"Robustness", Robustness},
    {"Statistics", Statistics},
};

// "--refuse <major> <minor> <replay> <library>" is the child of a refusal, which should never
// return from LoadRefused.
int main(int argc, char** argv) {
  if (argc == 6 && strcmp(argv[1], "--refuse") == 0) {
    if (LoadPlugin(argv[5])) {
      LoadRefused((uint32_t)strtoul(argv[2], NULL, 10), (uint32_t)strtoul(argv[3], NULL, 10),
                  strcmp(argv[4], "0") != 0);
    }
    return 0;
  }
  // The library stays loaded until the end: unloading it would orphan its C++ runtime's emergency
  // pool.
  if (!LoadPlugin(argc > 1 ? argv[1] : VEXA_PLUGIN_PATH)) {
    return 2;
  }
  for (size_t index = 0; index < sizeof kScenarios / sizeof kScenarios[0]; ++index) {
    const int before = failures;
    kScenarios[index].run();
    printf("%s %s\n", failures == before ? "ok    " : "FAILED", kScenarios[index].name);
  }
  return failures == 0 ? 0 : 1;
}
