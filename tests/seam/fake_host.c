// The host's side of the seam; see fake_host.h.
#include "fake_host.h"

#include <inttypes.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

void(VEXA_HOST_CALL* PluginLoad)(HostLoadRecord* record) = NULL;
int SeamFailures = 0;

// Responses the host filled for the plugin and the plugin has not released yet. A global, as
// the release function the host stores in a response is handed the response alone.
static int unreleasedResponses = 0;

void Check(int condition, const char* what, const char* file, int line) {
  if (!condition) {
    fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    ++SeamFailures;
  }
}

void CheckText(char* actual, const char* expected, const char* file, int line) {
  if (actual == NULL || strcmp(actual, expected) != 0) {
    fprintf(stderr, "%s:%d: expected\n  %s\nbut got\n  %s\n", file, line, expected,
            actual != NULL ? actual : "(null)");
    ++SeamFailures;
  }
  free(actual);
}

static char* CopyText(const char* text) {
  size_t length = strlen(text);
  char* copy = malloc(length + 1);
  memcpy(copy, text, length + 1);
  return copy;
}

// ------------------------------------------------------------------------------------------
// Values

static HostValue Scalar(HostValueKind kind) {
  HostValue value;
  memset(&value, 0, sizeof value);
  value.kind = kind;
  return value;
}

HostValue ValueString(const char* text) {
  HostValue value = Scalar(HOST_VALUE_STRING);
  value.payload.string.text = CopyText(text);
  value.payload.string.length = (uint32_t)strlen(text);
  return value;
}

HostValue ValueBool(int flag) {
  HostValue value = Scalar(HOST_VALUE_BOOL);
  value.payload.boolean = (uint8_t)(flag != 0);
  return value;
}

HostValue ValueUnsigned(uint64_t number) {
  HostValue value = Scalar(HOST_VALUE_UNSIGNED);
  value.payload.unsignedValue = number;
  return value;
}

HostValue ValueObject(int count, ...) {
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

// Copies what the plugin sends the host to keep (the settings document): scalars, texts and
// structures.
HostValue ValueCopy(const HostValue* value) {
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
      calloc((size_t)value->payload.structure.count + 1, sizeof(HostValueMember));
  for (index = 0; index < value->payload.structure.count; ++index) {
    const HostValueMember* from = &value->payload.structure.members[index];
    HostValueMember* to = &copy.payload.structure.members[index];
    to->key = CopyText(from->key);
    to->ownsKey = 1;
    to->value = ValueCopy(&from->value);
  }
  return copy;
}

// Frees a value the host built (texts and structures only).
void ValueFree(HostValue* value) {
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

void TextPut(HostText* text, const char* format, ...) {
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

static void PutString(HostText* text, const char* string) {
  TextPut(text, "\"");
  for (; *string != '\0'; ++string) {
    TextPut(text, *string == '"' || *string == '\\' ? "\\%c" : "%c", *string);
  }
  TextPut(text, "\"");
}

static void PutValue(HostText* text, const HostValue* value) {
  uint32_t index;
  switch (value->kind) {
    case HOST_VALUE_EMPTY:
      TextPut(text, "null");
      break;
    case HOST_VALUE_BOOL:
      TextPut(text, value->payload.boolean ? "true" : "false");
      break;
    case HOST_VALUE_SIGNED:
      TextPut(text, "%" PRId64, value->payload.signedValue);
      break;
    case HOST_VALUE_UNSIGNED:
      TextPut(text, "%" PRIu64, value->payload.unsignedValue);
      break;
    case HOST_VALUE_FLOAT:
      TextPut(text, "%g", value->payload.floatValue);
      break;
    case HOST_VALUE_STRING:
    case HOST_VALUE_BORROWED_STRING:
      PutString(text, value->payload.string.text != NULL ? value->payload.string.text : "(null)");
      break;
    case HOST_VALUE_COLLECTION:
      TextPut(text, "[");
      for (index = 0; index < value->payload.collection.count; ++index) {
        TextPut(text, index > 0 ? "," : "");
        PutValue(text, &value->payload.collection.elements[index]);
      }
      TextPut(text, "]");
      break;
    case HOST_VALUE_STRUCTURE:
      TextPut(text, "{");
      for (index = 0; index < value->payload.structure.count; ++index) {
        const HostValueMember* member = &value->payload.structure.members[index];
        TextPut(text, index > 0 ? "," : "");
        PutString(text, member->key);
        TextPut(text, ":");
        PutValue(text, &member->value);
      }
      TextPut(text, "}");
      break;
    default:
      TextPut(text, "<kind %u>", (unsigned)value->kind);
      break;
  }
}

char* ValueJson(const HostValue* value) {
  HostText text = {NULL, 0, 0};
  TextPut(&text, "");
  PutValue(&text, value);
  return text.data;
}

// ------------------------------------------------------------------------------------------
// The host API table

static void VEXA_HOST_CALL ReleaseHostResponse(HostResponse* response) {
  ValueFree(&response->result.value);
  free((void*)response->result.error);
  memset(response, 0, sizeof *response);
  --unreleasedResponses;
}

// Fills a response to one of the plugin's requests: `value` (taken), or the error text when
// `error` is set. The plugin hands it back through the release function stored in it.
static void Fill(HostResponse* response, uint32_t status, HostValue value, const char* error) {
  memset(response, 0, sizeof *response);
  response->result.value = value;
  if (error != NULL) {
    response->result.error = CopyText(error);
    response->result.ownsError = 1;
  }
  response->status = status;
  response->responseText = "";
  response->release = ReleaseHostResponse;
  ++unreleasedResponses;
}

static FakeHost* HostOf(const HostApiTable* api) {
  return (FakeHost*)(uintptr_t)api;
}

static HostSubscription* FindSubscription(FakeHost* host, const char* name) {
  int index;
  for (index = 0; index < host->subscriptionCount; ++index) {
    if (strcmp(host->subscriptions[index].name, name) == 0) {
      return &host->subscriptions[index];
    }
  }
  return NULL;
}

// The service proxy's POST: its uuid as the answer; the service's answer event either at once
// (before the POST returns) or in a later yield.
static void ServiceProxyRequest(FakeHost* host, HostResponse* response,
                                const HostRequest* request) {
  const char* error = host->serviceError;
  HostText text = {NULL, 0, 0};
  char uuid[32];
  uint32_t index;
  for (index = 0; index < request->argumentCount; ++index) {
    CHECK(request->arguments[index].name == NULL);
    TextPut(&text, index > 0 ? "," : "[");
    PutValue(&text, &request->arguments[index].value);
  }
  TextPut(&text, "]");
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
    CHECK(HostDeliver(host, "OnServiceProxyUuidEvent", host->answer));
    ValueFree(&host->answer);
  }
  Fill(response, 200, ValueString(uuid), NULL);
}

static void VEXA_HOST_CALL EntryRequest(const HostApiTable* api, HostResponse* response,
                                        const HostRequest* request) {
  static const HostValue kNothing = {HOST_VALUE_EMPTY, {0}};
  FakeHost* host = HostOf(api);
  const char* path = request->path != NULL ? request->path : "";
  const int get = request->method == HOST_METHOD_GET;
  CHECK(request->context == kHostHandle);
  if (get && strcmp(path, "/kor-platform-config/v1/namespaces/GeoInfo") == 0) {
    ++host->configGets;
    Fill(response, 200, ValueObject(1, "Enabled", ValueBool(host->enabled)), NULL);
  } else if (get && strcmp(path, "/kor-login/v1/session") == 0) {
    ++host->sessionGets;
    Fill(response, 200, HostSessionValue(host), NULL);
  } else if (get && strcmp(path, "/kor-settings/v2/local/GeoInfo") == 0) {
    const int found = host->settings.kind != HOST_VALUE_EMPTY;
    ++host->settingsGets;
    Fill(response, found ? 200 : 404, ValueCopy(&host->settings),
         found ? NULL : "No such document");
  } else if (request->method == HOST_METHOD_PATCH &&
             strcmp(path, "/kor-settings/v2/local/GeoInfo") == 0 && request->argumentCount == 1) {
    // The plugin frees its body after the call: the store keeps a copy.
    ++host->settingsPatches;
    ValueFree(&host->settings);
    host->settings = ValueCopy(&request->arguments[0].value);
    Fill(response, 200, kNothing, NULL);
  } else if (request->method == HOST_METHOD_POST &&
             strcmp(path, "/kor-login/v1/service-proxy-uuid-requests") == 0) {
    ServiceProxyRequest(host, response, request);
  } else {
    ++host->unknownRequests;
    fprintf(stderr, "host: no resource for %u %s\n", (unsigned)request->method, path);
    Fill(response, 404, kNothing, "No such resource");
  }
}

static void VEXA_HOST_CALL EntryReserved2(const HostApiTable* api, uintptr_t first,
                                          uintptr_t second) {
  (void)api, (void)first, (void)second;
  CHECK(!"host entry 2 is never called");
}

static void VEXA_HOST_CALL EntrySendEvent(const HostApiTable* api, const HostEvent* event) {
  FakeHost* host = HostOf(api);
  TextPut(&host->sent, "%s ", event->name);
  PutValue(&host->sent, &event->payload);
  TextPut(&host->sent, "\n");
}

static void VEXA_HOST_CALL EntrySubscribe(const HostApiTable* api, const char* eventName,
                                          HostHandle handle, HostEventCallback callback,
                                          void* context, uint32_t flags) {
  FakeHost* host = HostOf(api);
  HostSubscription* subscription = FindSubscription(host, eventName);
  CHECK(handle == kHostHandle && callback != NULL);
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
  FakeHost* host = HostOf(api);
  HostSubscription* subscription = FindSubscription(host, eventName);
  CHECK(handle == kHostHandle && subscription != NULL && subscription->active);
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
  FakeHost* host = HostOf(api);
  if (++host->yields > 100000) {
    fprintf(stderr, "host: the plugin waits for an answer that never comes\n");
    exit(3);
  }
  if (host->answer.kind != HOST_VALUE_EMPTY && --host->answerYields <= 0) {
    HostValue answer = host->answer;
    memset(&host->answer, 0, sizeof host->answer);
    CHECK(HostDeliver(host, "OnServiceProxyUuidEvent", answer));
    ValueFree(&answer);
  }
}

static void VEXA_HOST_CALL EntryWaitBegin(const HostApiTable* api, const char* label,
                                          uintptr_t reserved) {
  FakeHost* host = HostOf(api);
  CHECK(reserved == 0 && label != NULL);
  ++host->waitBegins;
  snprintf(host->lastWaitLabel, sizeof host->lastWaitLabel, "%s", label != NULL ? label : "");
}

static void VEXA_HOST_CALL EntryWaitEnd(const HostApiTable* api) {
  ++HostOf(api)->waitEnds;
}

static void VEXA_HOST_CALL EntryLog(const HostApiTable* api, int32_t level, const char* message) {
  TextPut(&HostOf(api)->log, "\n%d %s", (int)level, message);
}

// ------------------------------------------------------------------------------------------
// The host's life

FakeHost* HostNew(void) {
  FakeHost* host = calloc(1, sizeof *host);
  host->api.request = EntryRequest;
  host->api.reserved2 = EntryReserved2;
  host->api.sendEvent = EntrySendEvent;
  host->api.subscribe = EntrySubscribe;
  host->api.unsubscribe = EntryUnsubscribe;
  host->api.reserved6 = EntryReserved6;
  host->api.yield = EntryYield;
  host->api.waitBegin = EntryWaitBegin;
  host->api.waitEnd = EntryWaitEnd;
  host->api.log = EntryLog;
  host->context.api = &host->api;
  host->context.handle = kHostHandle;
  host->enabled = 1;
  host->sessionState = "SUCCEEDED";
  host->profileId = 7;
  host->accountId = 9;
  host->servicePayload = "{\"country\":\"DE\",\"city\":\"Berlin\",\"region\":\"BE\"}";
  host->answerAfterYields = 1;
  TextPut(&host->sent, "");
  TextPut(&host->log, "");
  return host;
}

void HostFree(FakeHost* host) {
  free(host->sent.data);
  free(host->log.data);
  ValueFree(&host->answer);
  ValueFree(&host->settings);
  free(host);
}

int HostLoad(FakeHost* host, uint32_t major, uint32_t minor, uint32_t patch) {
  memset(&host->record, 0, sizeof host->record);
  host->record.apiMajor = major;
  host->record.apiMinor = minor;
  host->record.apiPatch = patch;
  PluginLoad(&host->record);
  return host->record.callbacks != NULL && host->record.module != NULL;
}

int HostStart(FakeHost* host) {
  return host->record.callbacks->start(host->record.module, &host->context);
}

void HostStop(FakeHost* host) {
  int index;
  host->record.callbacks->stop(host->record.module);
  for (index = 0; index < host->subscriptionCount; ++index) {
    if (host->subscriptions[index].active) {
      fprintf(stderr, "host: still subscribed after Stop: %s\n", host->subscriptions[index].name);
      ++SeamFailures;
    }
  }
  CHECK(unreleasedResponses == 0 && host->unknownRequests == 0);
}

char* HostCall(FakeHost* host, const char* name, const char* path) {
  const HostEndpointRecord* endpoint = host->record.endpoints->endpoints;
  HostRequest request;
  HostResponse response;
  HostText text = {NULL, 0, 0};
  size_t index;
  while (endpoint != NULL && strcmp(endpoint->function.name, name) != 0) {
    endpoint = (const HostEndpointRecord*)endpoint->function.next;
  }
  if (endpoint == NULL) {
    return CopyText("no such endpoint");
  }
  memset(&request, 0, sizeof request);
  request.method = HOST_METHOD_GET;
  request.path = path;
  request.userData = host->callWithoutUserData ? NULL : endpoint->function.userData;
  request.context = kHostHandle;
  memset(&response, 0, sizeof response);
  endpoint->handler(&response, &request);
  TextPut(&text, "%u ", (unsigned)response.status);
  if (response.result.error != NULL) {
    TextPut(&text, "error: %s", response.result.error);
  } else {
    PutValue(&text, &response.result.value);
  }
  CHECK(response.release != NULL);
  if (response.release != NULL) {
    response.release(&response);
  }
  for (index = 0; index < sizeof response; ++index) {
    if (((const unsigned char*)&response)[index] != 0) {
      CHECK(!"a released response is zeroed");
      break;
    }
  }
  return text.data;
}

int HostDeliver(FakeHost* host, const char* name, HostValue payload) {
  HostSubscription* subscription = FindSubscription(host, name);
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

int HostResourceEvent(FakeHost* host, const char* name, const char* uri, const char* eventType,
                      HostValue data) {
  HostValue payload =
      ValueObject(3, "uri", ValueString(uri), "eventType", ValueString(eventType), "data", data);
  const int delivered = HostDeliver(host, name, payload);
  ValueFree(&payload);
  return delivered;
}

HostValue HostSessionValue(const FakeHost* host) {
  return ValueObject(3, "state", ValueString(host->sessionState), "profileId",
                     ValueUnsigned(host->profileId), "accountId", ValueUnsigned(host->accountId));
}

int HostLogged(const FakeHost* host, int level, const char* message) {
  HostText line = {NULL, 0, 0};
  const char* found;
  TextPut(&line, "\n%d %s", level, message);
  found = strstr(host->log.data, line.data);
  free(line.data);
  return found != NULL && (found[line.length] == '\0' || found[line.length] == '\n');
}

char* HostTakeSent(FakeHost* host) {
  char* sent = host->sent.data;
  memset(&host->sent, 0, sizeof host->sent);
  TextPut(&host->sent, "");
  return sent;
}
