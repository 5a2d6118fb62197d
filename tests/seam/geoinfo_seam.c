// The built GeoInfo plugin driven end to end by a host written in C (fake_host.h): the feature
// through its endpoints and events, the version rule, the API table, Stop, robustness against a
// careless host, and the allocation statistics.
//
//   vexa_seam_geoinfo_tests [path/to/libkor_geoinfo.so [scenario]]
//
// Each scenario runs in a child process of its own, so that a crash or an abort in one is
// reported as that scenario's failure and the others still run.
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fake_host.h"

#define WHEREAMI(host) HostCall((host), "GetKorGeoinfoV1Whereami", "/kor-geoinfo/v1/whereami")
#define GETLOCATION(host) \
  HostCall((host), "GetKorGeoinfoV1Getlocation", "/kor-geoinfo/v1/getlocation?ip_address=1.2.3.4")

// Whereami bodies: Berlin from the service, and a lookup that failed with `message`.
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
static FakeHost* Started(int enabled, const char* sessionState) {
  FakeHost* host = HostNew();
  host->enabled = enabled;
  host->sessionState = sessionState;
  CHECK(HostLoad(host, 18, 0, 0));
  CHECK(HostStart(host));
  return host;
}

static void Finish(FakeHost* host) {
  HostStop(host);
  HostFree(host);
}

// The whereami resource event carrying `data`, sent under the resource's name, then the base
// name, and nothing else since the last look.
static void CheckPublished(FakeHost* host, const char* data, const char* eventType) {
  static const char kEvent[] =
      "%s {\"data\":%s,\"eventType\":\"%s\",\"uri\":\"/kor-geoinfo/v1/whereami\"}\n";
  HostText expected = {NULL, 0, 0};
  TextPut(&expected, kEvent, "OnJsonApiEvent_kor-geoinfo_v1_whereami", data, eventType);
  TextPut(&expected, kEvent, "OnJsonApiEvent", data, eventType);
  CHECK_TEXT(HostTakeSent(host), expected.data);
  free(expected.data);
}

static int SessionEvent(FakeHost* host, const char* eventType) {
  HostValue none;
  memset(&none, 0, sizeof none);
  return HostResourceEvent(host, kSessionEvent, kSession, eventType,
                           strcmp(eventType, "Delete") == 0 ? none : HostSessionValue(host));
}

// ------------------------------------------------------------------------------------------

static void Disabled(void) {
  FakeHost* host = Started(0, "SUCCEEDED");
  CHECK_TEXT(WHEREAMI(host), "0 " NO_LOCATION(NOT_ENABLED));
  CHECK_TEXT(GETLOCATION(host), "503 error: " NOT_ENABLED);
  CHECK(host->uuidPosts == 0 && host->settingsGets == 0 && host->settingsPatches == 0);
  CHECK(host->sent.length == 0);
  Finish(host);
}

// The resource is published once per session: enabled before the login, the login publishes;
// logging out and back in asks again but publishes nothing; Delete clears, so the next login
// publishes anew; configuration events never clear.
static void PublishOncePerSession(void) {
  FakeHost* host = Started(1, "IN_PROGRESS");
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
  CHECK(HostResourceEvent(host, kConfigEvent, kConfig, "Update",
                          ValueObject(1, "Enabled", ValueBool(1))));
  CHECK(host->uuidPosts == 6 && host->sent.length == 0);
  Finish(host);
}

// What whereami answers, and publishes at the login, when the service fails: by what the
// settings store holds.
static void FallsBackToSavedLocation(void) {
  static const struct {
    int document;  // 0 none, 1 a saved location, 2 one without "data", 3 "data" null
    const char* body;
  } kRows[] = {
      {1,
       "{\"errorMessage\":\"\",\"geoInfo\":{\"city\":\"Paris\",\"country\":\"FR\",\"region\":"
       "\"IDF\"},\"isLatest\":false,\"success\":true}"},
      {2, NO_LOCATION("Data retrieved is empty")},
      {3, NO_LOCATION("Data retrieved is empty")},
      {0, NO_LOCATION("Error response for GET /kor-settings/v2/local/GeoInfo: No such document")},
  };
  size_t row;
  for (row = 0; row < sizeof kRows / sizeof kRows[0]; ++row) {
    FakeHost* host = HostNew();
    HostText expected = {NULL, 0, 0};
    HostValue none;
    memset(&none, 0, sizeof none);
    host->serviceError = "boom";
    if (kRows[row].document == 1) {
      host->settings = ValueObject(2, "schemaVersion", ValueUnsigned(1), "data",
                                   ValueObject(3, "country", ValueString("FR"), "city",
                                               ValueString("Paris"), "region", ValueString("IDF")));
    } else if (kRows[row].document > 1) {
      host->settings = kRows[row].document == 2 ? ValueObject(1, "schemaVersion", ValueUnsigned(1))
                                                : ValueObject(1, "data", none);
    }
    CHECK(HostLoad(host, 18, 0, 0) && HostStart(host));
    CheckPublished(host, kRows[row].body, "Create");  // a failed lookup is published too
    TextPut(&expected, "0 %s", kRows[row].body);
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
    int enabled;
    const char* serviceError;
    const char* payload;
    int answerEarly, answerAfterYields;
    const char* expected;
  } kRows[] = {
      {1, NULL, NULL, 0, 1, "0 " BERLIN},
      {1, NULL, NULL, 0, 3, "0 " BERLIN},
      {1, NULL, NULL, 1, 0, "0 " BERLIN},  // the answer arrives before the POST returns its uuid
      {1, "boom", NULL, 0, 1, "404 error: boom"},
      {1, NULL, "not json", 0, 1,
       "404 error: Failed to deserialize response payload \"not json\" to a const char *__cdecl "
       "StaticType::Name<struct Vexa::Client::Api::WhereAmIResponse>(void)"},
      {0, NULL, NULL, 0, 1, "503 error: " NOT_ENABLED},
  };
  size_t row;
  for (row = 0; row < sizeof kRows / sizeof kRows[0]; ++row) {
    FakeHost* host = Started(kRows[row].enabled, "IN_PROGRESS");
    const int waits = kRows[row].enabled && !kRows[row].answerEarly;
    host->serviceError = kRows[row].serviceError;
    host->servicePayload = kRows[row].payload != NULL ? kRows[row].payload : host->servicePayload;
    host->answerEarly = kRows[row].answerEarly;
    host->answerAfterYields = kRows[row].answerAfterYields;
    host->yields = host->waitBegins = host->waitEnds = 0;
    host->log.length = 0;
    host->log.data[0] = '\0';
    CHECK_TEXT(GETLOCATION(host), kRows[row].expected);
    CHECK(host->waitBegins == waits && host->waitEnds == waits);
    CHECK(host->yields == (waits ? kRows[row].answerAfterYields : 0));
    CHECK(!waits || strcmp(host->lastWaitLabel,
                           "Wait: future<const char *__cdecl StaticType::Name<class "
                           "Vexa::MaybeType<class Vexa::Failure,struct "
                           "Vexa::Client::Api::WhereAmIResponse>>(void)>") == 0);
    if (kRows[row].enabled) {
      CHECK(strcmp(host->lastServiceCall,
                   "[\"contenttargeting.geoinfo\",\"getWhereAmI\",24225,"
                   "\"{\\\"ipAddress\\\":\\\"1.2.3.4\\\"}\"]") == 0);
      CHECK(HostLogged(host, 3,
                       "mdl-be-kor-geoinfo: Preparing service proxy request: "
                       "contenttargeting.geoinfo.getWhereAmI"));
      CHECK(HostLogged(host, 3,
                       "mdl-be-kor-geoinfo: Started service proxy request: "
                       "contenttargeting.geoinfo.getWhereAmI (uuid-2)"));
      CHECK(HostLogged(host, 3, "mdl-be-kor-geoinfo: Fulfilled service proxy request: uuid-2"));
      CHECK(strstr(host->log.data, "sending request") == NULL);  // traces stay muted
    }
    Finish(host);
  }
}

// ------------------------------------------------------------------------------------------

static char* DescribeType(const HostEndpointTable* table, const char* name) {
  const HostTypeRecord* type = table->types;
  HostText text = {NULL, 0, 0};
  uint32_t index;
  while (type != NULL && strcmp(type->name, name) != 0) {
    type = type->next;
  }
  if (type == NULL) {
    TextPut(&text, "no type %s", name);
    return text.data;
  }
  TextPut(&text, "%s [", type->name);
  for (index = 0; index < type->tagCount; ++index) {
    TextPut(&text, "%s%s", index > 0 ? "," : "", type->tags[index]);
  }
  TextPut(&text, "]");
  if (type->fields != NULL) {
    const HostFieldRecord* field = type->fields;
    for (index = 0; field != NULL; field = field->next, ++index) {
      TextPut(&text, " %s:%u%s%s", field->name, (unsigned)field->kind,
              field->typeName[0] != '\0' ? ":" : "", field->typeName);
    }
  } else {
    const HostEnumeratorRecord* enumerator = type->enumerators;
    // Listed in value order, whatever order the table keeps them in.
    int32_t value;
    for (value = 0; value < 8; ++value) {
      for (enumerator = type->enumerators, index = 0; enumerator != NULL;
           enumerator = enumerator->next, ++index) {
        if (enumerator->value == value) {
          TextPut(&text, " %s=%d", enumerator->name, (int)value);
        }
      }
    }
  }
  CHECK(index == type->count);
  return text.data;
}

static char* DescribeEndpoints(const HostEndpointTable* table) {
  const HostEndpointRecord* endpoint = table->endpoints;
  HostText text = {NULL, 0, 0};
  uint32_t count = 0, index;
  TextPut(&text, "");
  for (; endpoint != NULL; endpoint = (const HostEndpointRecord*)endpoint->function.next) {
    const HostArgumentRecord* argument = endpoint->function.arguments;
    const HostArgumentLocation* location = endpoint->argumentLocations;
    ++count;
    CHECK(endpoint->handler != NULL && endpoint->function.userData != NULL);
    TextPut(&text, "%s%s %u %s (", count > 1 ? "\n" : "", endpoint->function.name,
            (unsigned)endpoint->method, endpoint->uriTemplate);
    for (; argument != NULL; argument = argument->next) {
      TextPut(&text, "%s:%u@%u", argument->name, (unsigned)argument->kind,
              location != NULL ? (unsigned)location->location : 99u);
      location = location != NULL ? location->next : NULL;
    }
    TextPut(&text, ") [");
    for (index = 0; index < endpoint->function.tagCount; ++index) {
      TextPut(&text, "%s%s", index > 0 ? "," : "", endpoint->function.tags[index]);
    }
    TextPut(&text, "]");
  }
  CHECK(count == table->endpointCount);
  return text.data;
}

static void ApiTable(void) {
  static const struct {
    const char* name;
    const char* expected;
  } kTypes[] = {
      {"PluginResourceEvent",
       "PluginResourceEvent [vclient] uri:12 eventType:16:PluginResourceEventType data:13"},
      {"PluginResourceEventType", "PluginResourceEventType [vclient] Create=0 Update=1 Delete=2"},
      {"MdlBeKorGeoinfoGeoInfoResponse",
       "MdlBeKorGeoinfoGeoInfoResponse [Plugins,Plugin mdl-be-kor-geoinfo] success:1 "
       "geoInfo:17:MdlBeKorGeoinfoGeoInfo errorMessage:12 isLatest:1"},
      {"MdlBeKorGeoinfoLoginSessionState",
       "MdlBeKorGeoinfoLoginSessionState [Plugins,Plugin mdl-be-kor-geoinfo] IN_PROGRESS=0 "
       "SUCCEEDED=1 LOGGING_OUT=2 ERROR=3"},
  };
  FakeHost* host = HostNew();
  const HostEventDescription* event;
  HostText subscriptions = {NULL, 0, 0};
  size_t row;
  int index;
  CHECK(HostLoad(host, 18, 0, 0));
  CHECK(host->record.apiMajor == 18 && host->record.apiMinor == 0 && host->record.apiPatch == 0);
  CHECK(strcmp(host->record.fullName, "mdl-be-kor-geoinfo") == 0);
  CHECK_TEXT(DescribeEndpoints(host->record.endpoints),
             "GetKorGeoinfoV1Whereami 2 /kor-geoinfo/v1/whereami () [Plugins,Plugin "
             "mdl-be-kor-geoinfo]\nGetKorGeoinfoV1Getlocation 2 /kor-geoinfo/v1/getlocation "
             "(ip_address:12@1) [Plugins,Plugin mdl-be-kor-geoinfo]");
  for (row = 0; row < sizeof kTypes / sizeof kTypes[0]; ++row) {
    CHECK_TEXT(DescribeType(host->record.endpoints, kTypes[row].name), kTypes[row].expected);
  }
  for (event = host->record.endpoints->events; event != NULL; event = event->next) {
    if (strcmp(event->name, "OnJsonApiEvent") == 0) {
      CHECK(strcmp(event->dataTypeName, "PluginResourceEvent") == 0);
      CHECK(strcmp(event->description, "Fired when a resource is changed.") == 0);
      CHECK(event->tagCount == 1 && strcmp(event->tags[0], "vclient") == 0);
      break;
    }
  }
  CHECK(event != NULL);

  CHECK(HostStart(host));
  TextPut(&subscriptions, "");
  for (index = 0; index < host->subscriptionCount; ++index) {
    TextPut(&subscriptions, "%s%s/%u", index > 0 ? " " : "", host->subscriptions[index].name,
            (unsigned)host->subscriptions[index].flags);
  }
  CHECK_TEXT(subscriptions.data,
             "OnServiceProxyUuidEvent/1 OnServiceProxyMethodEvent/1 OnServiceProxyAsyncEvent/1 "
             "OnJsonApiEvent_kor-platform-config_v1_namespaces_GeoInfo/0 "
             "OnJsonApiEvent_kor-login_v1_session/0");
  CHECK(host->subscribes == 5);
  HostStop(host);  // checks that each of them is unsubscribed
  CHECK(host->unsubscribes == 5);
  HostFree(host);
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
    FakeHost* host = HostNew();
    close(pipes[0]);
    dup2(pipes[1], 2);
    HostLoad(host, major, minor, 0);
    _exit(0);
  }
  close(pipes[1]);
  // The report is a few hundred bytes; the pipe never fills.
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

// The refusals come first: once a module has started and stopped, the process has no log
// target left to write the report to.
static void VersionRule(void) {
  FakeHost* host = HostNew();
  Refused(19, 0,
          "kor-geoinfo which supports plugin API 18.0.0 is not compatible with core's plugin API "
          "19.0.0");
  Refused(17, 9,
          "kor-geoinfo which supports plugin API 18.0.0 is not compatible with core's plugin API "
          "17.9.0");
  CHECK(HostLoad(host, 18, 5, 0));
  CHECK(host->record.apiMajor == 18 && host->record.apiMinor == 0 && host->record.apiPatch == 0);
  CHECK(HostStart(host));
  Finish(host);
}

// ------------------------------------------------------------------------------------------

// Calls the configuration's callback as a careless host would.
static void DeliverBroken(FakeHost* host, const char* eventName, HostValue payload, int context) {
  HostSubscription* subscription = host->subscriptions;
  HostEvent event;
  while (strcmp(subscription->name, kConfigEvent) != 0) {
    ++subscription;
  }
  event.name = eventName;
  event.payload = payload;
  event.flags = 0;
  event.context = context ? subscription->context : NULL;
  subscription->callback(&event);
}

// A careless host: no record, no context, missing entries, broken events, no user data.
static void Robustness(void) {
  HostApiTable empty;
  HostContext bare;
  HostValue enabling, broken;
  HostValueMember* members;
  uint32_t counters[14];
  FakeHost* host;
  char* answer;

  PluginLoad(NULL);
  host = HostNew();
  CHECK(HostLoad(host, 18, 0, 0));
  CHECK(!host->record.callbacks->start(host->record.module, NULL));
  host->record.callbacks->stop(NULL);
  host->record.callbacks->statistics(NULL, counters);
  Finish(host);

  // No entries at all: nothing is fetched, so the feature stays disabled.
  host = HostNew();
  memset(&empty, 0, sizeof empty);
  bare.api = &empty;
  bare.handle = 0x5EA1;
  CHECK(HostLoad(host, 18, 0, 0));
  host->record.callbacks->start(host->record.module, &bare);
  CHECK_TEXT(WHEREAMI(host), "0 " NO_LOCATION(NOT_ENABLED));
  Finish(host);

  // No request entry: the service call and the store fail as values, not as calls through null.
  host = HostNew();
  host->api.request = NULL;
  CHECK(HostLoad(host, 18, 0, 0) && HostStart(host));
  CHECK(HostResourceEvent(host, kConfigEvent, kConfig, "Create",
                          ValueObject(1, "Enabled", ValueBool(1))));
  CHECK_TEXT(GETLOCATION(host),
             "404 error: Request not sent: the host offers no request entry for POST "
             "/kor-login/v1/service-proxy-uuid-requests");
  CHECK_TEXT(WHEREAMI(host), "0 " NO_LOCATION("Request not sent: the host offers no request "
                                              "entry for GET /kor-settings/v2/local/GeoInfo"));
  Finish(host);

  // Broken events are dropped; the same event intact enables the feature.
  host = Started(0, "IN_PROGRESS");
  enabling = ValueObject(3, "uri", ValueString(kConfig), "eventType", ValueString("Update"), "data",
                         ValueObject(1, "Enabled", ValueBool(1)));
  DeliverBroken(host, NULL, enabling, 1);
  DeliverBroken(host, "OnJsonApiEvent_kor-nothing_v1_here", enabling, 1);
  DeliverBroken(host, kConfigEvent, enabling, 0);
  broken = ValueObject(3, "uri", ValueString(kConfig), "eventType", ValueString("Update"), "data",
                       ValueObject(1, "Enabled", ValueBool(1)));
  broken.payload.structure.members[2].value.payload.structure.members[0].value.kind = 11;
  DeliverBroken(host, kConfigEvent, broken, 1);
  broken.payload.structure.members[2].value.payload.structure.members[0].value.kind =
      HOST_VALUE_BOOL;
  members = broken.payload.structure.members;
  broken.payload.structure.members = NULL;  // three members behind a null pointer
  DeliverBroken(host, kConfigEvent, broken, 1);
  broken.payload.structure.members = members;
  ValueFree(&broken);
  CHECK_TEXT(WHEREAMI(host), "0 " NO_LOCATION(NOT_ENABLED));
  CHECK(host->uuidPosts == 0);
  DeliverBroken(host, kConfigEvent, enabling, 1);
  ValueFree(&enabling);
  CHECK_TEXT(WHEREAMI(host), "0 " BERLIN_LATEST);

  // An endpoint call without its user data fails as an answer.
  host->callWithoutUserData = 1;
  answer = WHEREAMI(host);
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
  FakeHost* host = Started(1, "SUCCEEDED");
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
  void* library;
  void* symbol;
  size_t index;
  int failed = 0;
  const char* const path = argc > 1 ? argv[1] : VEXA_PLUGIN_PATH;
  library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  symbol = library != NULL ? dlsym(library, "load_kor_geoinfo") : NULL;
  if (symbol == NULL) {
    fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
    return 2;
  }
  memcpy(&PluginLoad, &symbol, sizeof PluginLoad);
  for (index = 0; index < sizeof kScenarios / sizeof kScenarios[0]; ++index) {
    pid_t child;
    int status = 0;
    if (argc > 2 && strcmp(argv[2], kScenarios[index].name) != 0) {
      continue;
    }
    fflush(NULL);
    child = fork();
    if (child == 0) {
      kScenarios[index].run();
      exit(SeamFailures == 0 ? 0 : 1);
    }
    waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
      printf("ok      %s\n", kScenarios[index].name);
    } else {
      ++failed;
      printf("FAILED  %s (%s %d)\n", kScenarios[index].name,
             WIFSIGNALED(status) ? "signal" : "exit",
             WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status));
    }
  }
  // The library stays loaded: unloading it would orphan its C++ runtime's emergency pool.
  return failed == 0 ? 0 : 1;
}
