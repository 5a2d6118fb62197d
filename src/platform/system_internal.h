// What each operating system's folder (linux/, windows/) gives the platform's common sources:
// the raw calls behind a loaded library and behind page reservations. The common sources keep
// ownership, argument checks and the cache of released reservations in one place.
#pragma once

#include <cstddef>
#include <string>

namespace Vexa::Platform::System {

// A loaded library's handle, or null when the library cannot be loaded.
void* OpenLibrary(const std::string& name);
void CloseLibrary(void* handle);
// An exported symbol of a loaded library, or null.
void* LibrarySymbol(void* handle, const char* symbol);

// `size` bytes (a multiple of kReservationSize) of zeroed, readable and writable memory aligned
// to kReservationSize, or null when the system refuses.
void* MapPages(std::size_t size);
// Gives a block of MapPages back, address range and memory.
void UnmapPages(void* block, std::size_t size);
// Gives the memory of a block back while keeping its address range usable: the next write
// finds pages, zeroed or as they were. False when the system cannot do so.
bool DiscardPages(void* block, std::size_t size);

}  // namespace Vexa::Platform::System
