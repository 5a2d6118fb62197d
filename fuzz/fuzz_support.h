// What the fuzz targets share: a check that stops the run as a finding, and the input reader.
//
//   FUZZ_CHECK(parsed.Ok(), "written text does not parse: " + written);
//
// A failed check prints its message and aborts, which libFuzzer records as a crash and saves
// the input. Targets split their input with FuzzedDataProvider (clang's header): typed numbers
// and texts from the same bytes, consumed from the front, integers from the back.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace VexaFuzz {

[[noreturn]] inline void CheckFailed(const char* condition, const std::string& message) {
  std::fprintf(stderr, "FUZZ_CHECK(%s) failed: %s\n", condition, message.c_str());
  std::abort();
}

}  // namespace VexaFuzz

#define FUZZ_CHECK(condition, message)                \
  do {                                                \
    if (!(condition)) {                               \
      ::VexaFuzz::CheckFailed(#condition, (message)); \
    }                                                 \
  } while (false)
