// Checks the packed seam records from plain C, the way a host written in C sees them.
//
// On i386 the contract header pins every size and offset itself (static assertions, in every
// translation unit that includes it). Here the size of each packed record is checked on every
// architecture: on a 64-bit build it must be the 32-bit size with every pointer 4 bytes wider,
// which catches a lost pack pragma in the daily build too. Prints every mismatch; exits 1 on
// any.
#include <stdio.h>

#include "vexa/host_contract.h"

static int failures = 0;
static int checks = 0;

// `pointers` counts the pointer-sized fields of the record.
static void Expect(const char* what, size_t actual, size_t bytes32, size_t pointers) {
  const size_t widened = bytes32 + pointers * (sizeof(void*) - 4);
  ++checks;
  if (actual != widened) {
    printf("layout mismatch: %s is %u, expected %u\n", what, (unsigned)actual, (unsigned)widened);
    ++failures;
  }
}

#define SIZE(type, bytes, pointers) Expect(#type, sizeof(type), bytes, pointers)

int main(void) {
  SIZE(HostValue, 12, 1);
  SIZE(HostValueMember, 17, 2);
  SIZE(HostResult, 17, 2);

  SIZE(HostResponse, 62, 8);

  SIZE(HostFunctionRecord, 61, 10);
  SIZE(HostArgumentRecord, 25, 4);
  SIZE(HostTypeRecord, 40, 7);
  SIZE(HostFieldRecord, 29, 4);
  SIZE(HostEnumeratorRecord, 16, 3);
  SIZE(HostEventDescription, 28, 6);

  SIZE(HostEndpointRecord, 90, 15);
  SIZE(HostArgumentLocation, 8, 1);
  SIZE(HostTextList, 12, 2);

  printf("%d layout checks, %d mismatches (%u-bit build)\n", checks, failures,
         (unsigned)(sizeof(void*) * 8));
  return failures == 0 ? 0 : 1;
}
