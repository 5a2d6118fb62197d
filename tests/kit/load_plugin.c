// Loads a plugin library the way a host does and checks what its entry gives back, against
// include/vexa/host_contract.h alone: the kit's test runs it on the plugin an out-of-tree
// project built from the installed runtime (consumer/).
//
//   vexa_kit_load_plugin <library> <entry> <full name> <endpoint URI>
//
// The entry must fill the load record for core version 18.0.0 (callbacks, module, the full
// name given, an API table of the one endpoint given), the plugin must have counted the
// allocations it made while loading (its allocation hooks are in), and Stop must take the
// module back. Exits 0 when all of that holds; otherwise says what did not on stderr.
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include "vexa/host_contract.h"

#ifdef _WIN32
#include <windows.h>
typedef HMODULE Library;
static Library Open(const char* path) {
  return LoadLibraryA(path);
}
static void* Find(Library library, const char* name) {
  // A function pointer handed back as an object pointer, as dlsym does.
  FARPROC function = GetProcAddress(library, name);
  void* symbol;
  memcpy(&symbol, &function, sizeof symbol);
  return symbol;
}
static void Close(Library library) {
  FreeLibrary(library);
}
static const char* OpenError(void) {
  return "LoadLibrary failed";
}
#else
#include <dlfcn.h>
typedef void* Library;
static Library Open(const char* path) {
  return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}
static void* Find(Library library, const char* name) {
  return dlsym(library, name);
}
static void Close(Library library) {
  dlclose(library);
}
static const char* OpenError(void) {
  return dlerror();
}
#endif

typedef void(VEXA_HOST_CALL* LoadFunction)(HostLoadRecord* record);

// The allocations counter of the statistics' words (the fourth, low word first).
static uint64_t Allocations(const uint32_t words[14]) {
  return words[6] | (uint64_t)words[7] << 32;
}

static int Fail(const char* what, const char* detail) {
  fprintf(stderr, "load_plugin: %s%s%s\n", what, detail[0] != '\0' ? ": " : "", detail);
  return 1;
}

// What the entry wrote into `record`, checked; 0 when it is what was expected.
static int CheckRecord(const HostLoadRecord* record, const char* fullName, const char* uri) {
  if (record->callbacks == NULL || record->module == NULL || record->endpoints == NULL ||
      record->fullName == NULL) {
    return Fail("the entry left the load record's out words empty", "");
  }
  if (strcmp(record->fullName, fullName) != 0) {
    return Fail("unexpected full name", record->fullName);
  }
  if (record->endpoints->endpointCount != 1 || record->endpoints->endpoints == NULL) {
    return Fail("the API table does not hold exactly one endpoint", "");
  }
  const char* uriTemplate = record->endpoints->endpoints[0].uriTemplate;
  if (uriTemplate == NULL || strcmp(uriTemplate, uri) != 0) {
    return Fail("unexpected endpoint URI", uriTemplate != NULL ? uriTemplate : "(none)");
  }
  uint32_t counters[14];
  memset(counters, 0, sizeof counters);
  record->callbacks->statistics(record->module, counters);
  if (Allocations(counters) == 0) {
    return Fail("the plugin counted none of its allocations", "are its allocation hooks in?");
  }
  printf("%s: %s, %" PRIu64 " allocations counted\n", record->fullName, uriTemplate,
         Allocations(counters));
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: %s <library> <entry> <full name> <endpoint URI>\n", argv[0]);
    return 2;
  }
  Library library = Open(argv[1]);
  if (library == NULL) {
    return Fail("cannot load the library", OpenError());
  }
  // A function pointer through an object pointer: what POSIX's dlsym promises to allow.
  LoadFunction load;
  void* symbol = Find(library, argv[2]);
  if (symbol == NULL) {
    return Fail("no entry", argv[2]);
  }
  memcpy(&load, &symbol, sizeof load);
  HostLoadRecord record = {18, 0, 0, NULL, NULL, NULL, NULL};
  load(&record);
  int failed = CheckRecord(&record, argv[3], argv[4]);
  if (record.callbacks != NULL && record.module != NULL) {
    record.callbacks->stop(record.module);
  }
  Close(library);
  return failed;
}
