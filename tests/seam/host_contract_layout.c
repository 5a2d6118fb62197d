/* Checks the seam records' layout from plain C, the way a host written in C sees them.
 *
 * On i386 every size and offset must equal the host's 32-bit numbers. On a 64-bit build the
 * packed records must be the same layout with each pointer 4 bytes wider, which catches a
 * lost pack pragma or a field out of order there too. Prints every mismatch; exits 1 on any. */
#include <stdio.h>

#include "vexa/host_contract.h"

static int failures = 0;
static int checks = 0;

/* `pointers` counts the pointer-sized fields before the field (or in the whole record). */
static void Expect(const char* what, size_t actual, size_t bytes32, size_t pointers,
                   int packed) {
  const size_t widened = bytes32 + pointers * (sizeof(void*) - 4);
  if (sizeof(void*) != 4 && !packed) {
    return; /* natural alignment pads differently on 64-bit; only i386 is fixed */
  }
  ++checks;
  if (actual != widened) {
    printf("layout mismatch: %s is %u, expected %u\n", what, (unsigned)actual,
           (unsigned)widened);
    ++failures;
  }
}

#define SIZE(type, bytes, pointers, packed) Expect(#type, sizeof(type), bytes, pointers, packed)
#define AT(type, field, bytes, pointers, packed) \
  Expect(#type "." #field, offsetof(type, field), bytes, pointers, packed)

int main(void) {
  SIZE(HostValue, 12, 1, 1);
  AT(HostValue, payload, 4, 0, 1);
  SIZE(HostValueMember, 17, 2, 1);
  AT(HostValueMember, value, 4, 1, 1);
  AT(HostValueMember, ownsKey, 16, 2, 1);
  SIZE(HostResult, 17, 2, 1);
  AT(HostResult, error, 12, 1, 1);
  AT(HostResult, ownsError, 16, 2, 1);

  SIZE(HostRequestArgument, 16, 2, 0);
  SIZE(HostRequest, 48, 8, 0);
  AT(HostRequest, path, 4, 0, 0);
  AT(HostRequest, argumentCount, 12, 2, 0);
  AT(HostRequest, userData, 16, 2, 0);
  AT(HostRequest, headerCount, 24, 4, 0);
  AT(HostRequest, contentType, 28, 4, 0);
  AT(HostRequest, body, 32, 5, 0);
  AT(HostRequest, bodyLength, 36, 6, 0);
  AT(HostRequest, context, 40, 6, 0);
  AT(HostRequest, methodName, 44, 7, 0);

  SIZE(HostResponse, 62, 8, 1);
  AT(HostResponse, responseFlags, 17, 2, 1);
  AT(HostResponse, responseFormat, 18, 2, 1);
  AT(HostResponse, status, 22, 2, 1);
  AT(HostResponse, responseText, 26, 2, 1);
  AT(HostResponse, headers, 30, 3, 1);
  AT(HostResponse, headerCount, 34, 4, 1);
  AT(HostResponse, streamRead, 38, 4, 1);
  AT(HostResponse, streamRelease, 42, 5, 1);
  AT(HostResponse, streamLength, 46, 6, 1);
  AT(HostResponse, streamPosition, 50, 6, 1);
  AT(HostResponse, stream, 54, 6, 1);
  AT(HostResponse, release, 58, 7, 1);

  SIZE(HostFunctionRecord, 61, 10, 1);
  AT(HostFunctionRecord, reserved, 4, 1, 1);
  AT(HostFunctionRecord, userData, 8, 1, 1);
  AT(HostFunctionRecord, name, 12, 2, 1);
  AT(HostFunctionRecord, nameSpace, 16, 3, 1);
  AT(HostFunctionRecord, arguments, 20, 4, 1);
  AT(HostFunctionRecord, argumentCount, 24, 5, 1);
  AT(HostFunctionRecord, returnKind, 28, 5, 1);
  AT(HostFunctionRecord, returnElementKind, 32, 5, 1);
  AT(HostFunctionRecord, returnTypeName, 36, 5, 1);
  AT(HostFunctionRecord, description, 40, 6, 1);
  AT(HostFunctionRecord, help, 44, 7, 1);
  AT(HostFunctionRecord, threadSafe, 48, 8, 1);
  AT(HostFunctionRecord, asyncTypeName, 49, 8, 1);
  AT(HostFunctionRecord, tags, 53, 9, 1);
  AT(HostFunctionRecord, tagCount, 57, 10, 1);
  SIZE(HostArgumentRecord, 25, 4, 1);
  AT(HostArgumentRecord, name, 4, 1, 1);
  AT(HostArgumentRecord, description, 8, 2, 1);
  AT(HostArgumentRecord, kind, 12, 3, 1);
  AT(HostArgumentRecord, elementKind, 16, 3, 1);
  AT(HostArgumentRecord, typeName, 20, 3, 1);
  AT(HostArgumentRecord, optional, 24, 4, 1);
  SIZE(HostTypeRecord, 40, 7, 1);
  AT(HostTypeRecord, name, 4, 1, 1);
  AT(HostTypeRecord, nameSpace, 8, 2, 1);
  AT(HostTypeRecord, nativeSize, 12, 3, 1);
  AT(HostTypeRecord, description, 16, 3, 1);
  AT(HostTypeRecord, tags, 20, 4, 1);
  AT(HostTypeRecord, tagCount, 24, 5, 1);
  AT(HostTypeRecord, fields, 28, 5, 1);
  AT(HostTypeRecord, enumerators, 32, 6, 1);
  AT(HostTypeRecord, count, 36, 7, 1);
  SIZE(HostFieldRecord, 29, 4, 1);
  AT(HostFieldRecord, name, 4, 1, 1);
  AT(HostFieldRecord, description, 8, 2, 1);
  AT(HostFieldRecord, offset, 12, 3, 1);
  AT(HostFieldRecord, kind, 16, 3, 1);
  AT(HostFieldRecord, elementKind, 20, 3, 1);
  AT(HostFieldRecord, typeName, 24, 3, 1);
  AT(HostFieldRecord, optional, 28, 4, 1);
  SIZE(HostEnumeratorRecord, 16, 3, 1);
  AT(HostEnumeratorRecord, name, 4, 1, 1);
  AT(HostEnumeratorRecord, description, 8, 2, 1);
  AT(HostEnumeratorRecord, value, 12, 3, 1);
  SIZE(HostEventDescription, 28, 6, 1);
  AT(HostEventDescription, name, 4, 1, 1);
  AT(HostEventDescription, nameSpace, 8, 2, 1);
  AT(HostEventDescription, dataTypeName, 12, 3, 1);
  AT(HostEventDescription, description, 16, 4, 1);
  AT(HostEventDescription, tags, 20, 5, 1);
  AT(HostEventDescription, tagCount, 24, 6, 1);

  SIZE(HostEndpointRecord, 90, 15, 1);
  AT(HostEndpointRecord, handler, 61, 10, 1);
  AT(HostEndpointRecord, argumentLocations, 65, 11, 1);
  AT(HostEndpointRecord, uriTemplate, 69, 12, 1);
  AT(HostEndpointRecord, method, 73, 13, 1);
  AT(HostEndpointRecord, flags, 77, 13, 1);
  AT(HostEndpointRecord, textLists, 78, 13, 1);
  AT(HostEndpointRecord, textListCount, 82, 14, 1);
  AT(HostEndpointRecord, methodName, 86, 14, 1);
  SIZE(HostArgumentLocation, 8, 1, 1);
  AT(HostArgumentLocation, location, 4, 1, 1);
  SIZE(HostTextList, 12, 2, 1);
  AT(HostTextList, texts, 4, 1, 1);
  AT(HostTextList, count, 8, 2, 1);

  SIZE(HostApiDescription, 24, 6, 0);
  SIZE(HostEndpointTable, 24, 6, 0);
  SIZE(HostEndpointUserData, 8, 2, 0);
  SIZE(HostEvent, 24, 3, 0);
  AT(HostEvent, payload, 4, 1, 0);
  AT(HostEvent, flags, 16, 2, 0);
  AT(HostEvent, context, 20, 2, 0);
  SIZE(HostApiTable, 40, 10, 0);
  SIZE(HostContext, 8, 2, 0);
  SIZE(HostCallbackTable, 12, 3, 0);
  SIZE(HostLoadRecord, 28, 4, 0);
  AT(HostLoadRecord, apiPatch, 8, 0, 0);
  AT(HostLoadRecord, callbacks, 12, 0, 0);
  AT(HostLoadRecord, module, 16, 1, 0);
  AT(HostLoadRecord, fullName, 20, 2, 0);
  AT(HostLoadRecord, endpoints, 24, 3, 0);

  printf("%d layout checks, %d mismatches (%u-bit build)\n", checks, failures,
         (unsigned)(sizeof(void*) * 8));
  return failures == 0 ? 0 : 1;
}
