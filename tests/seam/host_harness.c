// A host written in C, as the real one is: it finds endpoints in the module's API table by
// their names, fills request records, calls the handler through the table's function pointer,
// reads the packed response and hands it back through the response's own release function.
// It knows nothing of the plugin but include/vexa/host_contract.h.
#include "host_harness.h"

#include <stdio.h>
#include <string.h>

#include "vexa/host_contract.h"

static int failures = 0;

#define HARNESS_CHECK(condition)                                                    \
  do {                                                                              \
    if (!(condition)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                                   \
    }                                                                               \
  } while (0)

static const HostEndpointRecord* FindEndpoint(const HostEndpointTable* table, const char* name) {
  // Walked as a list, the way a host that ignores the count would.
  const HostEndpointRecord* endpoint = table->endpoints;
  while (endpoint != NULL) {
    if (strcmp(endpoint->function.name, name) == 0) {
      return endpoint;
    }
    endpoint = (const HostEndpointRecord*)endpoint->function.next;
  }
  return NULL;
}

static void Call(const HostEndpointRecord* endpoint, HostResponse* response, HostMethod method,
                 const char* path, const HostHeader* headers, uint32_t headerCount,
                 const char* contentType, const char* body) {
  HostRequest request;
  memset(&request, 0, sizeof request);
  request.method = method;
  request.path = path;
  request.userData = endpoint->function.userData;
  request.headers = headers;
  request.headerCount = headerCount;
  request.contentType = contentType;
  request.body = (const uint8_t*)body;
  request.bodyLength = body != NULL ? (uint32_t)strlen(body) : 0;
  endpoint->handler(response, &request);
}

// The member `key` of a structure body, or NULL.
static const HostValue* Member(const HostValue* body, const char* key) {
  uint32_t index;
  if (body->kind != HOST_VALUE_STRUCTURE) {
    return NULL;
  }
  for (index = 0; index < body->payload.structure.count; ++index) {
    const HostValueMember* member = &body->payload.structure.members[index];
    if (strcmp(member->key, key) == 0) {
      return &member->value;
    }
  }
  return NULL;
}

static void Release(HostResponse* response) {
  HostResponseRelease release = response->release;
  HARNESS_CHECK(release != NULL);
  if (release != NULL) {
    release(response);
  }
  HARNESS_CHECK(response->release == NULL && response->result.error == NULL);
}

// A greeting by query and header, and a request with the wrong method: a failure is the error
// text and the status, with no body.
static void Greets(const HostEndpointRecord* greet) {
  HostHeader headers[1];
  HostResponse response;
  const HostValue* text;
  headers[0].name = "salutation";
  headers[0].value = "Hello";
  memset(&response, 0xAB, sizeof response); /* what the host hands in may hold anything... */
  response.release = NULL;                  /* ...except a release function to call */
  Call(greet, &response, HOST_METHOD_GET, "/harness/v1/greeting?name=Ada", headers, 1, NULL, NULL);
  HARNESS_CHECK(response.result.error == NULL && response.status == 0);
  HARNESS_CHECK(response.responseText != NULL && response.responseText[0] == '\0');
  text = Member(&response.result.value, "text");
  HARNESS_CHECK(text != NULL && text->kind == HOST_VALUE_STRING &&
                strcmp(text->payload.string.text, "Hello, Ada") == 0);
  Release(&response);

  Call(greet, &response, HOST_METHOD_POST, "/harness/v1/greeting", NULL, 0, NULL, NULL);
  HARNESS_CHECK(response.status == 404 && response.result.error != NULL &&
                strcmp(response.result.error, "Invalid function") == 0);
  HARNESS_CHECK(response.result.value.kind == HOST_VALUE_EMPTY);
  Release(&response);
}

int RunHostHarness(const HostEndpointTable* table) {
  const HostEndpointRecord* greet;
  failures = 0;
  HARNESS_CHECK(table != NULL && table->endpointCount == 2);
  if (table == NULL) {
    return failures;
  }
  greet = FindEndpoint(table, "GetHarnessV1Greeting");
  HARNESS_CHECK(greet != NULL);
  if (greet != NULL) {
    Greets(greet);
  }
  HARNESS_CHECK(FindEndpoint(table, "PostHarnessV1Echo") != NULL); /* the list's second record */
  return failures;
}
