#include <windows.h>

#include "platform/lock.h"

namespace Vexa::Platform {
namespace {

CRITICAL_SECTION* Section(unsigned char* storage) {
  return reinterpret_cast<CRITICAL_SECTION*>(storage);
}

}  // namespace

static_assert(sizeof(CRITICAL_SECTION) == 4 * sizeof(void*) + 8);
static_assert(alignof(CRITICAL_SECTION) <= alignof(void*));

RecursiveLock::RecursiveLock() {
  InitializeCriticalSection(Section(section_));
}

RecursiveLock::~RecursiveLock() {
  DeleteCriticalSection(Section(section_));
}

void RecursiveLock::lock() {
  EnterCriticalSection(Section(section_));
}

bool RecursiveLock::try_lock() {
  return TryEnterCriticalSection(Section(section_)) != 0;
}

void RecursiveLock::unlock() {
  LeaveCriticalSection(Section(section_));
}

}  // namespace Vexa::Platform
