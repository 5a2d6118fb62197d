// Whole-page memory from the operating system, standing in for VirtualAlloc and VirtualFree.
//
//   void* block = Vexa::Platform::ReservePages(Vexa::Platform::kReservationSize);
//   ...
//   Vexa::Platform::ReleasePages(block, Vexa::Platform::kReservationSize);
#pragma once

#include <cstddef>

namespace Vexa::Platform {

// The granularity in which page pools reserve memory.
inline constexpr size_t kReservationSize = 64 * 1024;

// Reserves and commits `size` bytes of zeroed, readable and writable memory aligned to
// kReservationSize. Returns null when the system refuses. The caller owns the block and
// returns it with ReleasePages and the same size.
void* ReservePages(size_t size);

// Returns a block from ReservePages to the system. A null block is ignored.
void ReleasePages(void* block, size_t size);

}  // namespace Vexa::Platform
