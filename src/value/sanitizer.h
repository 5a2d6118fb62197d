// Lets AddressSanitizer see inside the value allocator: a freed slot is poisoned until it is
// handed out again, so a read through a stale element or member reference is reported in the
// sanitizer build instead of silently reading a recycled slot. Without the sanitizer both
// macros are nothing.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define VEXA_POISON(address, size) ASAN_POISON_MEMORY_REGION((address), (size))
#define VEXA_UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION((address), (size))
#else
#define VEXA_POISON(address, size) ((void)(address), (void)(size))
#define VEXA_UNPOISON(address, size) ((void)(address), (void)(size))
#endif
