#include "diagnostics/sequence_checker.h"

#include <cstdio>

#include "diagnostics/assertion.h"
#include "platform/process.h"

namespace Vexa {

namespace {

// The kernel's id of the calling thread, asked once per thread: a debug build checks on every
// entry of a module, and the id is a system call.
uint32_t ThisThread() noexcept {
  thread_local const uint32_t id = Platform::CurrentThreadId();
  return id;
}

}  // namespace

bool SequenceCheckerImpl::Check(CallSite where) noexcept {
  const uint32_t self = ThisThread();
  uint32_t owner = kUnbound;
  if (owner_.compare_exchange_strong(owner, self, std::memory_order_acq_rel) || owner == self) {
    return true;
  }
  char description[96];
  std::snprintf(description, sizeof description,
                "thread %08X entered a sequence bound to thread %08X", static_cast<unsigned>(self),
                static_cast<unsigned>(owner));
  ReportAssertion("called on its sequence", description, where.file,
                  static_cast<int32_t>(where.line), where.function);
  return false;
}

}  // namespace Vexa
