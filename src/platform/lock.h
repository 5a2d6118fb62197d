// The lock that guards shared state which the same thread may enter again, standing in for
// a critical section.
//
//   Vexa::Platform::RecursiveLock lock;
//   std::lock_guard guard(lock);
#pragma once

#include <mutex>

namespace Vexa::Platform {

// A critical section: recursive, so a thread holding it may take it again (a log target
// may log while writing, for instance).
using RecursiveLock = std::recursive_mutex;

}  // namespace Vexa::Platform
