/*
 * The seam between the GeoInfo plugin and the host that loads it: every record and table of
 * function pointers that crosses from one to the other. Valid C99 and C++.
 *
 * A host loads the plugin library and calls its one export:
 *
 *   HostLoadRecord record = {18, 0, 0};          // the core's plugin API version
 *   load_kor_geoinfo(&record);                   // fills in the rest
 *   record.callbacks->start(record.module, &context);
 *   ... route requests through record.endpoints, deliver subscribed events ...
 *   record.callbacks->stop(record.module);      // the module is gone afterwards
 *
 * The real host is a 32-bit process, so every record here has a fixed 32-bit layout (pinned
 * below with static assertions when built for i386). A 64-bit build keeps field order and
 * packing; only pointer-sized fields grow.
 *
 * Ownership, in one sentence: whoever allocates a record's contents frees them, and a record
 * the plugin fills for the host carries the plugin's own release function with it.
 *
 * Threading, in one rule: the host calls a module from one thread at a time. Start, Stop, the
 * endpoint handlers, the subscribed event callbacks, the release function of a response the
 * plugin filled and the read and release functions of a stream it handed out are one sequence:
 * never two of them at once, and each ends (in the host's memory order) before the next begins.
 * The thread may change between calls. Events the host delivers inside a yield (host entry 7)
 * belong to the sequence of the call that yields. Only load_kor_geoinfo and the Statistics
 * callback may come from any thread at any time. The plugin starts no thread of its own, and
 * calls the host's entries on the thread the host called it on; only the log entry may be
 * called on any thread that logs.
 *
 * Locks, and why a module called on one sequence has any: a process may hold several modules,
 * each on its own sequence, and they share process-wide state; and code of the plugin may run
 * on other threads (a line logged elsewhere). They are:
 *   - the log manager's lock (process-wide), then each log target's own, in that order;
 *   - one mutex per module's type registry, over its maps;
 *   - the value page pool's mutex (process-wide), while pages are handed out or given back;
 *   - one mutex per module's request dispatcher, over its endpoint records;
 *   - one service proxy mutex per module, over its pending, received and async tables;
 *   - leaf locks that call nothing while held (the log group table, the spare page caches).
 * Two of them are held while code outside their owner runs: the log manager's while the
 * plugin's log target hands a line to the host's log entry (which must not call back into the
 * plugin), and the service proxy mutex while a completion or async handler runs (such a
 * handler must not start another service proxy request on the same module: it would wait for
 * itself).
 *
 * Every function the host calls catches everything; nothing throws across this seam.
 */
#ifndef VEXA_HOST_CONTRACT_H
#define VEXA_HOST_CONTRACT_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define VEXA_HOST_CALL __cdecl
#define VEXA_PLUGIN_EXPORT __declspec(dllexport)
#else
#define VEXA_HOST_CALL
#define VEXA_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A word the host hands out and expects back unchanged (its own handle for the plugin). */
typedef uintptr_t HostHandle;

/* ---------------------------------------------------------------------------------------- */
/* Values                                                                                    */
/* ---------------------------------------------------------------------------------------- */

/* What a HostValue holds. Kinds 6, 8, 9 and 10 own their payload; 5 and 7 borrow it. */
typedef uint32_t HostValueKind;
enum {
  HOST_VALUE_EMPTY = 0,
  HOST_VALUE_BOOL = 1,
  HOST_VALUE_SIGNED = 2,
  HOST_VALUE_UNSIGNED = 3,
  HOST_VALUE_FLOAT = 4,
  HOST_VALUE_BORROWED_STRING = 5,
  HOST_VALUE_STRING = 6,
  HOST_VALUE_BORROWED_BLOB = 7,
  HOST_VALUE_BLOB = 8,
  HOST_VALUE_COLLECTION = 9,
  HOST_VALUE_STRUCTURE = 10
};

#pragma pack(push, 1)

struct HostValue;
struct HostValueMember;

/* One dynamic value: a kind word, then eight bytes of payload (on i386). Packed: the host
 * reads arrays of these back to back.
 *
 * Ownership: kinds 6 and 8 own their buffer, 9 owns the element array and every element, 10
 * owns the member array and every member. The side that built an owning value frees it with
 * its own release function (the plugin's for values it hands out, through the release
 * function of the record that carries them). Strings are NUL-terminated; their length word
 * does not count the NUL. */
typedef struct HostValue {
  HostValueKind kind;
  union {
    uint8_t boolean;
    int64_t signedValue;
    uint64_t unsignedValue;
    double floatValue;
    struct {
      const char* text;
      uint32_t length;
    } string;
    struct {
      const uint8_t* bytes;
      uint32_t size;
    } blob;
    struct {
      struct HostValue* elements;
      uint32_t count;
    } collection;
    struct {
      struct HostValueMember* members;
      uint32_t count;
    } structure;
  } payload;
} HostValue;

/* One member of a structure value. The key is freed with the member only when ownsKey is 1. */
typedef struct HostValueMember {
  const char* key;
  HostValue value;
  uint8_t ownsKey;
} HostValueMember;

/* A value or an error: what a failed conversion fills. When ownsError is 1 the error text
 * belongs to the record and is freed with it. */
typedef struct HostResult {
  HostValue value;
  const char* error;
  uint8_t ownsError;
} HostResult;

#pragma pack(pop)

/* ---------------------------------------------------------------------------------------- */
/* Requests and responses                                                                    */
/* ---------------------------------------------------------------------------------------- */

/* Request methods as numbers; HOST_METHOD_OTHER carries its name separately. */
typedef uint32_t HostMethod;
enum {
  HOST_METHOD_NONE = 0,
  HOST_METHOD_DELETE = 1,
  HOST_METHOD_GET = 2,
  HOST_METHOD_HEAD = 3,
  HOST_METHOD_OPTIONS = 4,
  HOST_METHOD_PATCH = 5,
  HOST_METHOD_POST = 6,
  HOST_METHOD_PUT = 7,
  HOST_METHOD_OTHER = 8
};

/* A header as a name and a value. In a request both belong to the host; in a response both
 * were allocated by the plugin and are freed by the response's release function. */
typedef struct HostHeader {
  const char* name;
  const char* value;
} HostHeader;

/* One argument of a request: a null name makes it positional. Owned by whoever built the
 * request. */
typedef struct HostRequestArgument {
  const char* name;
  HostValue value;
} HostRequestArgument;

/* A call of an endpoint. For calls into the plugin the host fills it, owns everything it
 * points to, keeps it alive for the duration of the call, and the plugin only reads it. For
 * the plugin's own requests to the host the roles are reversed and only method, path,
 * arguments and context are set. */
typedef struct HostRequest {
  HostMethod method;
  const char* path; /* may carry a query after the first "?" */
  const HostRequestArgument* arguments;
  uint32_t argumentCount;
  const struct HostEndpointUserData* userData; /* registered with the endpoint */
  const HostHeader* headers;
  uint32_t headerCount;
  const char* contentType;
  const uint8_t* body; /* null when there is no body */
  uint32_t bodyLength;
  HostHandle context; /* the host handle, passed through to the bound function */
  const char* methodName; /* for HOST_METHOD_OTHER; may be null */
} HostRequest;

struct HostResponse;

/* A response body streamed in pieces: read fills up to *size bytes of buffer, sets *size to
 * what it wrote and *more to 1 while more is to come; it returns 0 on a read error. */
typedef uint8_t(VEXA_HOST_CALL* HostStreamRead)(void* stream, void* buffer, uint32_t* size,
                                                  uint8_t* more);
typedef void(VEXA_HOST_CALL* HostStreamRelease)(void* stream);
typedef void(VEXA_HOST_CALL* HostResponseRelease)(struct HostResponse* response);

#pragma pack(push, 1)

/* The answer to a call. The host owns the record itself; everything the filling side stores
 * in it belongs to that side and is freed only through `release`, which the receiving side
 * calls once it is done, and which leaves the whole record zeroed. The body stream, when
 * present, is owned by the record from the moment it is stored and is destroyed through
 * `streamRelease`. */
typedef struct HostResponse {
  HostResult result;      /* body value, or the error text of a failed call */
  uint8_t responseFlags;  /* passed through from the bound function */
  uint32_t responseFormat; /* HOST_RESPONSE_FORMAT_FIRST to _LAST as set, else _NONE */
  uint32_t status;        /* HTTP status code */
  const char* responseText; /* the shared "" when empty, which is never freed */
  const HostHeader* headers;
  uint32_t headerCount;
  HostStreamRead streamRead;
  HostStreamRelease streamRelease;
  uint32_t streamLength;
  uint32_t streamPosition;
  void* stream; /* null when the body is not streamed */
  HostResponseRelease release;
} HostResponse;

#pragma pack(pop)

/* ---------------------------------------------------------------------------------------- */
/* The API description: what a module exposes, as flat linked arrays                        */
/* ---------------------------------------------------------------------------------------- */

/* All of these are built once by the plugin at registration and stay valid, with every text
 * they point to, until the module stops. The host only reads them. Each record begins with a
 * link to the next record of the same array (null in the last), so an array can be walked
 * as a list or indexed. Missing texts are the empty text, never null. Kinds are the type
 * system's kind numbers below. */

/* What a field, argument, return value or container element holds. */
typedef uint32_t HostTypeKind;
enum {
  HOST_TYPE_NONE = 0,
  HOST_TYPE_BOOL = 1,
  HOST_TYPE_INT8 = 2,
  HOST_TYPE_UINT8 = 3,
  HOST_TYPE_INT16 = 4,
  HOST_TYPE_UINT16 = 5,
  HOST_TYPE_INT32 = 6,
  HOST_TYPE_UINT32 = 7,
  HOST_TYPE_INT64 = 8,
  HOST_TYPE_UINT64 = 9,
  HOST_TYPE_FLOAT = 10,
  HOST_TYPE_DOUBLE = 11,
  HOST_TYPE_STRING = 12,
  HOST_TYPE_OBJECT = 13, /* any dynamic value */
  HOST_TYPE_BLOB = 14,
  HOST_TYPE_VECTOR = 15, /* of the element kind */
  HOST_TYPE_ENUM = 16,
  HOST_TYPE_STRUCT = 17,
  HOST_TYPE_CALLBACK = 18,
  HOST_TYPE_MAP = 19 /* from text to the element kind */
};

/* Where an endpoint's argument may be given. */
typedef uint32_t HostArgumentPlace;
enum {
  HOST_ARGUMENT_ANYWHERE = 0,
  HOST_ARGUMENT_QUERY = 1,
  HOST_ARGUMENT_PATH = 2,
  HOST_ARGUMENT_RESERVED = 3, /* the host's own; the plugin never declares it */
  HOST_ARGUMENT_HEADER = 4,
  HOST_ARGUMENT_BODY = 5
};

/* A response's format word: the bound function's choice among the host's formats 1 to 3,
 * passed through; any other choice is written as HOST_RESPONSE_FORMAT_NONE. What each format
 * means is the host's. */
enum {
  HOST_RESPONSE_FORMAT_NONE = 0,
  HOST_RESPONSE_FORMAT_FIRST = 1,
  HOST_RESPONSE_FORMAT_LAST = 3
};

#pragma pack(push, 1)

typedef struct HostArgumentRecord {
  const struct HostArgumentRecord* next;
  const char* name;
  const char* description;
  HostTypeKind kind;
  HostTypeKind elementKind;
  const char* typeName;
  uint8_t optional;
} HostArgumentRecord;

typedef struct HostFunctionRecord {
  const struct HostFunctionRecord* next;
  uint32_t reserved;
  const struct HostEndpointUserData* userData; /* set for endpoints at registration */
  const char* name;
  const char* nameSpace;
  const HostArgumentRecord* arguments;
  uint32_t argumentCount;
  HostTypeKind returnKind;
  HostTypeKind returnElementKind;
  const char* returnTypeName;
  const char* description;
  const char* help;
  uint8_t threadSafe;
  const char* asyncTypeName;
  const char* const* tags;
  uint32_t tagCount;
} HostFunctionRecord;

typedef struct HostFieldRecord {
  const struct HostFieldRecord* next;
  const char* name;
  const char* description;
  uint32_t offset; /* byte offset in the native record */
  HostTypeKind kind;
  HostTypeKind elementKind;
  const char* typeName;
  uint8_t optional;
} HostFieldRecord;

typedef struct HostEnumeratorRecord {
  const struct HostEnumeratorRecord* next;
  const char* name;
  const char* description;
  int32_t value;
} HostEnumeratorRecord;

/* A record type has field records; an enum (or a record without fields) has enumerator
 * records instead, and `count` counts whichever is present. */
typedef struct HostTypeRecord {
  const struct HostTypeRecord* next;
  const char* name;
  const char* nameSpace;
  uint32_t nativeSize;
  const char* description;
  const char* const* tags;
  uint32_t tagCount;
  const HostFieldRecord* fields;
  const HostEnumeratorRecord* enumerators;
  uint32_t count;
} HostTypeRecord;

typedef struct HostEventDescription {
  const struct HostEventDescription* next;
  const char* name;
  const char* nameSpace;
  const char* dataTypeName;
  const char* description;
  const char* const* tags;
  uint32_t tagCount;
} HostEventDescription;

/* Where an endpoint's argument may be given: a HOST_ARGUMENT_* number. */
typedef struct HostArgumentLocation {
  const struct HostArgumentLocation* next;
  HostArgumentPlace location;
} HostArgumentLocation;

typedef struct HostTextList {
  const struct HostTextList* next;
  const char* const* texts;
  uint32_t count;
} HostTextList;

#pragma pack(pop)

/* The second word of an endpoint: what the plugin needs to find the endpoint again when the
 * host calls its handler. Owned by the plugin. */
typedef struct HostEndpointUserData {
  void* dispatcher;
  void* endpoint;
} HostEndpointUserData;

/* Every endpoint's handler. The plugin releases whatever the response held, fills it, and
 * stores its own release function in it; it never throws. */
typedef void(VEXA_HOST_CALL* HostEndpointHandler)(HostResponse* response,
                                                  const HostRequest* request);

#pragma pack(push, 1)

/* An endpoint: its function record, then how the host reaches it. */
typedef struct HostEndpointRecord {
  HostFunctionRecord function; /* function.next links to the next HostEndpointRecord */
  HostEndpointHandler handler;
  const HostArgumentLocation* argumentLocations;
  const char* uriTemplate;
  HostMethod method;
  uint8_t flags;
  const HostTextList* textLists;
  uint32_t textListCount;
  const char* methodName; /* for HOST_METHOD_OTHER; the empty text otherwise */
} HostEndpointRecord;

#pragma pack(pop)

/* A plain description of functions, types and events. */
typedef struct HostApiDescription {
  const HostFunctionRecord* functions;
  uint32_t functionCount;
  const HostTypeRecord* types;
  uint32_t typeCount;
  const HostEventDescription* events;
  uint32_t eventCount;
} HostApiDescription;

/* The module's API table: the description above, but its functions are endpoints. */
typedef struct HostEndpointTable {
  const HostEndpointRecord* endpoints;
  uint32_t endpointCount;
  const HostTypeRecord* types;
  uint32_t typeCount;
  const HostEventDescription* events;
  uint32_t eventCount;
} HostEndpointTable;

/* ---------------------------------------------------------------------------------------- */
/* Events                                                                                    */
/* ---------------------------------------------------------------------------------------- */

/* A named event, in both directions. For an event the plugin sends, the plugin owns the
 * record and its payload for the duration of the send. For an event the host delivers, the
 * host owns it for the duration of the callback and `context` is the one given when
 * subscribing. */
typedef struct HostEvent {
  const char* name;
  HostValue payload;
  uint32_t flags;
  void* context;
} HostEvent;

typedef void(VEXA_HOST_CALL* HostEventCallback)(const HostEvent* event);

/* ---------------------------------------------------------------------------------------- */
/* The host's functions, and the plugin's                                                    */
/* ---------------------------------------------------------------------------------------- */

struct HostApiTable;

/* What the host offers the plugin. Every entry takes the table itself first. The table and
 * everything reached from it belong to the host and live until the plugin's Stop returns. */
typedef struct HostApiTable {
  /* Performs a request to a host URI and fills the response before returning. */
  void(VEXA_HOST_CALL* request)(const struct HostApiTable* api, HostResponse* response,
                                const HostRequest* request);
  void(VEXA_HOST_CALL* reserved2)(const struct HostApiTable* api, uintptr_t first,
                                  uintptr_t second);
  /* Sends an event; the host copies what it keeps. */
  void(VEXA_HOST_CALL* sendEvent)(const struct HostApiTable* api, const HostEvent* event);
  /* Delivers every later event of that name to callback with context. */
  void(VEXA_HOST_CALL* subscribe)(const struct HostApiTable* api, const char* eventName,
                                  HostHandle handle, HostEventCallback callback, void* context,
                                  uint32_t flags);
  void(VEXA_HOST_CALL* unsubscribe)(const struct HostApiTable* api, const char* eventName,
                                    HostHandle handle);
  void(VEXA_HOST_CALL* reserved6)(const struct HostApiTable* api, uintptr_t first,
                                  uintptr_t second, uintptr_t third, double value,
                                  uintptr_t fourth);
  /* Lets the host run once (deliver queued events) while the plugin waits. */
  void(VEXA_HOST_CALL* yield)(const struct HostApiTable* api);
  void(VEXA_HOST_CALL* waitBegin)(const struct HostApiTable* api, const char* label,
                                  uintptr_t reserved);
  void(VEXA_HOST_CALL* waitEnd)(const struct HostApiTable* api);
  /* Writes one log record; the text is the plugin's and is only read during the call. */
  void(VEXA_HOST_CALL* log)(const struct HostApiTable* api, int32_t level, const char* message);
} HostApiTable;

/* Given to Start; owned by the host and valid until Stop returns. */
typedef struct HostContext {
  const HostApiTable* api;
  HostHandle handle;
} HostContext;

/* The plugin's callbacks; `module` is the one the load record returned. */
typedef struct HostCallbackTable {
  uint8_t(VEXA_HOST_CALL* start)(void* module, const HostContext* context);
  /* Destroys the module; it must not be used afterwards. */
  void(VEXA_HOST_CALL* stop)(void* module);
  /* Writes the six 64-bit allocation counters, low word first, then two zero words. */
  void(VEXA_HOST_CALL* statistics)(void* module, uint32_t counters[14]);
} HostCallbackTable;

/* Exchanged once through load_kor_geoinfo. The host owns the record; the plugin owns what it
 * writes into it, which stays valid while the module lives. */
typedef struct HostLoadRecord {
  uint32_t apiMajor; /* in: the core's plugin API version; out: the plugin's own */
  uint32_t apiMinor;
  uint32_t apiPatch;
  const HostCallbackTable* callbacks;   /* out */
  void* module;                         /* out: first argument of every callback */
  const char* fullName;                 /* out: NUL-terminated */
  const HostEndpointTable* endpoints;   /* out: the module's API table */
} HostLoadRecord;

/* The plugin's one export. An incompatible core version ends the process with a report. */
VEXA_PLUGIN_EXPORT void VEXA_HOST_CALL load_kor_geoinfo(HostLoadRecord* record);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ---------------------------------------------------------------------------------------- */
/* The 32-bit layout, pinned                                                                 */
/* ---------------------------------------------------------------------------------------- */

#if defined(__cplusplus)
#define VEXA_CONTRACT_ASSERT(condition, name) static_assert(condition, #name)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define VEXA_CONTRACT_ASSERT(condition, name) _Static_assert(condition, #name)
#else
#define VEXA_CONTRACT_ASSERT(condition, name) \
  typedef char vexa_contract_assert_##name[(condition) ? 1 : -1]
#endif

#if defined(__i386__) || defined(_M_IX86)
#define VEXA_CONTRACT_LAYOUT(type, field, at) \
  VEXA_CONTRACT_ASSERT(offsetof(type, field) == (at), type##_##field)
#define VEXA_CONTRACT_SIZE(type, bytes) VEXA_CONTRACT_ASSERT(sizeof(type) == (bytes), type##_size)

VEXA_CONTRACT_SIZE(HostValue, 12);
VEXA_CONTRACT_LAYOUT(HostValue, kind, 0);
VEXA_CONTRACT_LAYOUT(HostValue, payload, 4);
VEXA_CONTRACT_SIZE(HostValueMember, 17);
VEXA_CONTRACT_LAYOUT(HostValueMember, key, 0);
VEXA_CONTRACT_LAYOUT(HostValueMember, value, 4);
VEXA_CONTRACT_LAYOUT(HostValueMember, ownsKey, 16);
VEXA_CONTRACT_SIZE(HostResult, 17);
VEXA_CONTRACT_LAYOUT(HostResult, error, 12);
VEXA_CONTRACT_LAYOUT(HostResult, ownsError, 16);

VEXA_CONTRACT_SIZE(HostRequestArgument, 16);
VEXA_CONTRACT_LAYOUT(HostRequestArgument, value, 4);
VEXA_CONTRACT_SIZE(HostRequest, 48);
VEXA_CONTRACT_LAYOUT(HostRequest, path, 4);
VEXA_CONTRACT_LAYOUT(HostRequest, arguments, 8);
VEXA_CONTRACT_LAYOUT(HostRequest, argumentCount, 12);
VEXA_CONTRACT_LAYOUT(HostRequest, userData, 16);
VEXA_CONTRACT_LAYOUT(HostRequest, headers, 20);
VEXA_CONTRACT_LAYOUT(HostRequest, headerCount, 24);
VEXA_CONTRACT_LAYOUT(HostRequest, contentType, 28);
VEXA_CONTRACT_LAYOUT(HostRequest, body, 32);
VEXA_CONTRACT_LAYOUT(HostRequest, bodyLength, 36);
VEXA_CONTRACT_LAYOUT(HostRequest, context, 40);
VEXA_CONTRACT_LAYOUT(HostRequest, methodName, 44);

VEXA_CONTRACT_SIZE(HostResponse, 62);
VEXA_CONTRACT_LAYOUT(HostResponse, responseFlags, 17);
VEXA_CONTRACT_LAYOUT(HostResponse, responseFormat, 18);
VEXA_CONTRACT_LAYOUT(HostResponse, status, 22);
VEXA_CONTRACT_LAYOUT(HostResponse, responseText, 26);
VEXA_CONTRACT_LAYOUT(HostResponse, headers, 30);
VEXA_CONTRACT_LAYOUT(HostResponse, headerCount, 34);
VEXA_CONTRACT_LAYOUT(HostResponse, streamRead, 38);
VEXA_CONTRACT_LAYOUT(HostResponse, streamRelease, 42);
VEXA_CONTRACT_LAYOUT(HostResponse, streamLength, 46);
VEXA_CONTRACT_LAYOUT(HostResponse, streamPosition, 50);
VEXA_CONTRACT_LAYOUT(HostResponse, stream, 54);
VEXA_CONTRACT_LAYOUT(HostResponse, release, 58);

VEXA_CONTRACT_SIZE(HostApiDescription, 24);
VEXA_CONTRACT_SIZE(HostEndpointTable, 24);
VEXA_CONTRACT_SIZE(HostFunctionRecord, 61);
VEXA_CONTRACT_LAYOUT(HostFunctionRecord, userData, 8);
VEXA_CONTRACT_LAYOUT(HostFunctionRecord, name, 12);
VEXA_CONTRACT_LAYOUT(HostFunctionRecord, nameSpace, 16);
VEXA_CONTRACT_LAYOUT(HostFunctionRecord, arguments, 20);
VEXA_CONTRACT_LAYOUT(HostFunctionRecord, argumentCount, 24);
VEXA_CONTRACT_LAYOUT(HostFunctionRecord, returnKind, 28);
VEXA_CONTRACT_LAYOUT(HostFunctionRecord, returnElementKind, 32);
VEXA_CONTRACT_LAYOUT(HostFunctionRecord, returnTypeName, 36);
VEXA_CONTRACT_LAYOUT(HostFunctionRecord, description, 40);
VEXA_CONTRACT_LAYOUT(HostFunctionRecord, help, 44);
VEXA_CONTRACT_LAYOUT(HostFunctionRecord, threadSafe, 48);
VEXA_CONTRACT_LAYOUT(HostFunctionRecord, asyncTypeName, 49);
VEXA_CONTRACT_LAYOUT(HostFunctionRecord, tags, 53);
VEXA_CONTRACT_LAYOUT(HostFunctionRecord, tagCount, 57);
VEXA_CONTRACT_SIZE(HostArgumentRecord, 25);
VEXA_CONTRACT_LAYOUT(HostArgumentRecord, kind, 12);
VEXA_CONTRACT_LAYOUT(HostArgumentRecord, typeName, 20);
VEXA_CONTRACT_LAYOUT(HostArgumentRecord, optional, 24);
VEXA_CONTRACT_SIZE(HostTypeRecord, 40);
VEXA_CONTRACT_LAYOUT(HostTypeRecord, nativeSize, 12);
VEXA_CONTRACT_LAYOUT(HostTypeRecord, tags, 20);
VEXA_CONTRACT_LAYOUT(HostTypeRecord, fields, 28);
VEXA_CONTRACT_LAYOUT(HostTypeRecord, enumerators, 32);
VEXA_CONTRACT_LAYOUT(HostTypeRecord, count, 36);
VEXA_CONTRACT_SIZE(HostFieldRecord, 29);
VEXA_CONTRACT_LAYOUT(HostFieldRecord, offset, 12);
VEXA_CONTRACT_LAYOUT(HostFieldRecord, kind, 16);
VEXA_CONTRACT_LAYOUT(HostFieldRecord, typeName, 24);
VEXA_CONTRACT_LAYOUT(HostFieldRecord, optional, 28);
VEXA_CONTRACT_SIZE(HostEnumeratorRecord, 16);
VEXA_CONTRACT_LAYOUT(HostEnumeratorRecord, value, 12);
VEXA_CONTRACT_SIZE(HostEventDescription, 28);
VEXA_CONTRACT_LAYOUT(HostEventDescription, dataTypeName, 12);
VEXA_CONTRACT_LAYOUT(HostEventDescription, tagCount, 24);

VEXA_CONTRACT_SIZE(HostEndpointRecord, 90);
VEXA_CONTRACT_LAYOUT(HostEndpointRecord, handler, 61);
VEXA_CONTRACT_LAYOUT(HostEndpointRecord, argumentLocations, 65);
VEXA_CONTRACT_LAYOUT(HostEndpointRecord, uriTemplate, 69);
VEXA_CONTRACT_LAYOUT(HostEndpointRecord, method, 73);
VEXA_CONTRACT_LAYOUT(HostEndpointRecord, flags, 77);
VEXA_CONTRACT_LAYOUT(HostEndpointRecord, textLists, 78);
VEXA_CONTRACT_LAYOUT(HostEndpointRecord, textListCount, 82);
VEXA_CONTRACT_LAYOUT(HostEndpointRecord, methodName, 86);
VEXA_CONTRACT_SIZE(HostArgumentLocation, 8);
VEXA_CONTRACT_SIZE(HostTextList, 12);
VEXA_CONTRACT_SIZE(HostEndpointUserData, 8);

VEXA_CONTRACT_SIZE(HostEvent, 24);
VEXA_CONTRACT_LAYOUT(HostEvent, payload, 4);
VEXA_CONTRACT_LAYOUT(HostEvent, flags, 16);
VEXA_CONTRACT_LAYOUT(HostEvent, context, 20);
VEXA_CONTRACT_SIZE(HostApiTable, 40);
VEXA_CONTRACT_SIZE(HostContext, 8);
VEXA_CONTRACT_SIZE(HostCallbackTable, 12);
VEXA_CONTRACT_SIZE(HostLoadRecord, 28);
VEXA_CONTRACT_LAYOUT(HostLoadRecord, callbacks, 12);
VEXA_CONTRACT_LAYOUT(HostLoadRecord, module, 16);
VEXA_CONTRACT_LAYOUT(HostLoadRecord, fullName, 20);
VEXA_CONTRACT_LAYOUT(HostLoadRecord, endpoints, 24);

#undef VEXA_CONTRACT_LAYOUT
#undef VEXA_CONTRACT_SIZE
#endif /* i386 */

#endif /* VEXA_HOST_CONTRACT_H */
