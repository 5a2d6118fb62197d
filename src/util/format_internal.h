// The buffer-level renderer behind Vexa::Format, internal to vexa_util: only the formatter and
// its tests reach it (other libraries cannot include it; see vexa_add_library).
//
//   char buffer[64];
//   const Vexa::FormatArgument* descriptors[] = {&Vexa::FormatArgumentFor<int>()};
//   const int value = 7;
//   const void* arguments[] = {&value};
//   std::size_t length = Vexa::FormatInto(buffer, sizeof buffer, "n=%1", descriptors, arguments,
//   1);
#pragma once

#include <cstddef>

#include "util/format_arguments.h"

namespace Vexa {

// Renders `templ` with `count` arguments into `buffer` of `capacity` bytes, always writes a
// terminating NUL (unless capacity is 0, when nothing is written) and returns the length
// before it, at most capacity - 1. descriptors[i] and arguments[i] describe argument i + 1;
// both may be null when count is 0. A null template renders as an empty text. The
// arguments are borrowed for the duration of the call.
std::size_t FormatInto(char* buffer, std::size_t capacity, const char* templ,
                       const FormatArgument* const* descriptors, const void* const* arguments,
                       std::size_t count);

}  // namespace Vexa
