// The lock that guards shared state which the same thread may enter again: a critical section
// on Windows, a recursive mutex elsewhere.
//
//   Vexa::Platform::RecursiveLock lock;
//   std::lock_guard guard(lock);
#pragma once

#if defined(_WIN32)
#include <cstddef>
#else
#include <mutex>
#endif

namespace Vexa::Platform {

#if defined(_WIN32)

// A critical section: recursive, so a thread holding it may take it again (a log target
// may log while writing, for instance). Meets the standard's Lockable requirements.
class RecursiveLock {
 public:
  RecursiveLock();
  ~RecursiveLock();
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void lock();
  bool try_lock();
  void unlock();

 private:
  // The CRITICAL_SECTION itself, opaque here so that <windows.h> stays out of every includer:
  // four pointers and two 32-bit counts (windows/lock.cpp checks the size and alignment).
  static constexpr std::size_t kSectionSize = 4 * sizeof(void*) + 8;
  alignas(void*) unsigned char section_[kSectionSize];
};

#else

// A critical section: recursive, so a thread holding it may take it again (a log target
// may log while writing, for instance).
using RecursiveLock = std::recursive_mutex;

#endif

}  // namespace Vexa::Platform
