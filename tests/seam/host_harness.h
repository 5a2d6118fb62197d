// The C host harness: drives a module's endpoints through its API table alone.
#ifndef VEXA_TESTS_HOST_HARNESS_H
#define VEXA_TESTS_HOST_HARNESS_H

#include "vexa/host_contract.h"

#ifdef __cplusplus
extern "C" {
#endif

// Runs every check against `table` (a module declaring GetHarnessV1Greeting and
// PostHarnessV1Echo); returns the number of failed checks, each reported on stderr.
int RunHostHarness(const HostEndpointTable* table);

#ifdef __cplusplus
}
#endif

#endif
