// Checks the packed seam records' layout from plain C, the way a host written in C sees them.
//
// On i386 the contract header pins every size and offset itself (static assertions). Here the
// packed records are checked on every architecture: on a 64-bit build each must be the 32-bit
// layout with every pointer 4 bytes wider, which catches a lost pack pragma or a field out of
// order there too. Prints every mismatch; exits 1 on any.
#include <stdio.h>

#include "vexa/host_contract.h"

static int failures = 0;
static int checks = 0;

// `pointers` counts the pointer-sized fields before the field (or in the whole record).
static void Expect(const char* what, size_t actual, size_t bytes32, size_t pointers) {
  const size_t widened = bytes32 + pointers * (sizeof(void*) - 4);
  ++checks;
  if (actual != widened) {
    printf("layout mismatch: %s is %u, expected %u\n", what, (unsigned)actual, (unsigned)widened);
    ++failures;
  }
}

#define SIZE(type, bytes, pointers) Expect(#type, sizeof(type), bytes, pointers)
#define AT(type, field, bytes, pointers) \
  Expect(#type "." #field, offsetof(type, field), bytes, pointers)

int main(void) {
  SIZE(HostValue, 12, 1);
  AT(HostValue, payload, 4, 0);
  SIZE(HostValueMember, 17, 2);
  AT(HostValueMember, value, 4, 1);
  AT(HostValueMember, ownsKey, 16, 2);
  SIZE(HostResult, 17, 2);
  AT(HostResult, error, 12, 1);
  AT(HostResult, ownsError, 16, 2);

  SIZE(HostResponse, 62, 8);
  AT(HostResponse, responseFlags, 17, 2);
  AT(HostResponse, responseFormat, 18, 2);
  AT(HostResponse, status, 22, 2);
  AT(HostResponse, responseText, 26, 2);
  AT(HostResponse, headers, 30, 3);
  AT(HostResponse, headerCount, 34, 4);
  AT(HostResponse, streamRead, 38, 4);
  AT(HostResponse, streamRelease, 42, 5);
  AT(HostResponse, streamLength, 46, 6);
  AT(HostResponse, streamPosition, 50, 6);
  AT(HostResponse, stream, 54, 6);
  AT(HostResponse, release, 58, 7);

  SIZE(HostFunctionRecord, 61, 10);
  AT(HostFunctionRecord, reserved, 4, 1);
  AT(HostFunctionRecord, userData, 8, 1);
  AT(HostFunctionRecord, name, 12, 2);
  AT(HostFunctionRecord, nameSpace, 16, 3);
  AT(HostFunctionRecord, arguments, 20, 4);
  AT(HostFunctionRecord, argumentCount, 24, 5);
  AT(HostFunctionRecord, returnKind, 28, 5);
  AT(HostFunctionRecord, returnElementKind, 32, 5);
  AT(HostFunctionRecord, returnTypeName, 36, 5);
  AT(HostFunctionRecord, description, 40, 6);
  AT(HostFunctionRecord, help, 44, 7);
  AT(HostFunctionRecord, threadSafe, 48, 8);
  AT(HostFunctionRecord, asyncTypeName, 49, 8);
  AT(HostFunctionRecord, tags, 53, 9);
  AT(HostFunctionRecord, tagCount, 57, 10);
  SIZE(HostArgumentRecord, 25, 4);
  AT(HostArgumentRecord, name, 4, 1);
  AT(HostArgumentRecord, description, 8, 2);
  AT(HostArgumentRecord, kind, 12, 3);
  AT(HostArgumentRecord, elementKind, 16, 3);
  AT(HostArgumentRecord, typeName, 20, 3);
  AT(HostArgumentRecord, optional, 24, 4);
  SIZE(HostTypeRecord, 40, 7);
  AT(HostTypeRecord, name, 4, 1);
  AT(HostTypeRecord, nameSpace, 8, 2);
  AT(HostTypeRecord, nativeSize, 12, 3);
  AT(HostTypeRecord, description, 16, 3);
  AT(HostTypeRecord, tags, 20, 4);
  AT(HostTypeRecord, tagCount, 24, 5);
  AT(HostTypeRecord, fields, 28, 5);
  AT(HostTypeRecord, enumerators, 32, 6);
  AT(HostTypeRecord, count, 36, 7);
  SIZE(HostFieldRecord, 29, 4);
  AT(HostFieldRecord, name, 4, 1);
  AT(HostFieldRecord, description, 8, 2);
  AT(HostFieldRecord, offset, 12, 3);
  AT(HostFieldRecord, kind, 16, 3);
  AT(HostFieldRecord, elementKind, 20, 3);
  AT(HostFieldRecord, typeName, 24, 3);
  AT(HostFieldRecord, optional, 28, 4);
  SIZE(HostEnumeratorRecord, 16, 3);
  AT(HostEnumeratorRecord, name, 4, 1);
  AT(HostEnumeratorRecord, description, 8, 2);
  AT(HostEnumeratorRecord, value, 12, 3);
  SIZE(HostEventDescription, 28, 6);
  AT(HostEventDescription, name, 4, 1);
  AT(HostEventDescription, nameSpace, 8, 2);
  AT(HostEventDescription, dataTypeName, 12, 3);
  AT(HostEventDescription, description, 16, 4);
  AT(HostEventDescription, tags, 20, 5);
  AT(HostEventDescription, tagCount, 24, 6);

  SIZE(HostEndpointRecord, 90, 15);
  AT(HostEndpointRecord, handler, 61, 10);
  AT(HostEndpointRecord, argumentLocations, 65, 11);
  AT(HostEndpointRecord, uriTemplate, 69, 12);
  AT(HostEndpointRecord, method, 73, 13);
  AT(HostEndpointRecord, flags, 77, 13);
  AT(HostEndpointRecord, textLists, 78, 13);
  AT(HostEndpointRecord, textListCount, 82, 14);
  AT(HostEndpointRecord, methodName, 86, 14);
  SIZE(HostArgumentLocation, 8, 1);
  AT(HostArgumentLocation, location, 4, 1);
  SIZE(HostTextList, 12, 2);
  AT(HostTextList, texts, 4, 1);
  AT(HostTextList, count, 8, 2);

  printf("%d layout checks, %d mismatches (%u-bit build)\n", checks, failures,
         (unsigned)(sizeof(void*) * 8));
  return failures == 0 ? 0 : 1;
}
