// Whole-page memory from the operating system: VirtualAlloc and VirtualFree on Windows,
// anonymous mappings elsewhere.
//
//   void* block = Vexa::Platform::ReservePages(Vexa::Platform::kReservationSize);
//   ...
//   Vexa::Platform::ReleasePages(block, Vexa::Platform::kReservationSize);
#pragma once

#include <cstddef>

namespace Vexa::Platform {

// The granularity in which page pools reserve memory.
inline constexpr size_t kReservationSize = 64 * 1024;

// Released reservations whose address ranges are kept for reuse, at most.
inline constexpr size_t kMaxCachedReservations = 16;

// Reserves and commits `size` bytes of readable and writable memory aligned to
// kReservationSize. Returns null when the system refuses. The caller owns the block and
// returns it with ReleasePages and the same size. New memory is zeroed; a single reservation
// may be a range released before, whose contents are then unspecified (zero, or what it
// held), as the caller must not rely on them.
void* ReservePages(size_t size);

// Returns a block from ReservePages to the system. A null block is ignored. The memory of a
// single reservation goes back (MADV_FREE; MEM_RESET on Windows) while its address range is
// kept for the next ReservePages, up to kMaxCachedReservations; anything else is released.
void ReleasePages(void* block, size_t size);

// How many released address ranges are kept now.
size_t CachedReservations();

}  // namespace Vexa::Platform
