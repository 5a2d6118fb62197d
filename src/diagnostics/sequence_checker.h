// SequenceChecker: asserts that code meant for one sequence of calls is entered by one thread,
// the one it is bound to.
//
//   class Module {
//     void OnEvent() {
//       sequence_.Check();   // binds on the first call; another thread is reported
//       ...
//     }
//     void AfterStart() { sequence_.Detach(); }   // the next Check binds again
//     [[no_unique_address]] Vexa::SequenceChecker sequence_;
//   };
//
// The host calls a module as one sequence (the seam header says so): never two calls at once. A
// checker binds to the first thread that calls Check and reports every call from another
// thread as an assertion report (diagnostics/assertion.h: logged at ERROR in "DBG", naming
// both threads and the caller), and carries on: it is a diagnostic, never a lock. Where the
// sequence may legitimately move to another thread between calls, Detach at the end of each
// call (then only overlapping calls are caught); where it stays on one thread, bind once.
//
// SequenceChecker checks only when NDEBUG is not defined; otherwise it is an empty class whose
// calls compile to nothing. SequenceCheckerImpl always checks (its tests use it directly).
//
// Threading: Check and Detach may be called from any thread; the binding is one atomic word.
#pragma once

#include <atomic>
#include <cstdint>

namespace Vexa {

// Where a check was called from, taken at the caller as std::source_location would be (which
// the clang of the fuzz build cannot provide with this standard library).
struct CallSite {
  [[nodiscard]] static constexpr CallSite Here(const char* file = __builtin_FILE(),
                                               int line = __builtin_LINE(),
                                               const char* function = __builtin_FUNCTION()) {
    return CallSite{file, line, function};
  }

  const char* file;
  int line;
  const char* function;
};

class SequenceCheckerImpl {
 public:
  SequenceCheckerImpl() noexcept = default;
  SequenceCheckerImpl(const SequenceCheckerImpl&) = delete;
  SequenceCheckerImpl& operator=(const SequenceCheckerImpl&) = delete;

  // True on the bound thread (binding the calling thread when none is bound). Otherwise
  // reports, naming `where` as the caller, and answers false.
  bool Check(CallSite where = CallSite::Here()) noexcept;

  // Unbinds: the next Check binds its thread.
  void Detach() noexcept { owner_.store(kUnbound, std::memory_order_release); }

  // A call of the sequence begins (Check) or ends. Calls nest (an event delivered inside a
  // yield belongs to the call that yields); when the outermost one ends the checker detaches,
  // so that the next call may come from another thread and only overlapping calls are reported.
  bool Enter(CallSite where = CallSite::Here()) noexcept {
    const bool on = Check(where);
    depth_.fetch_add(1, std::memory_order_relaxed);
    return on;
  }
  void Leave() noexcept {
    if (depth_.fetch_sub(1, std::memory_order_relaxed) == 1) {
      Detach();
    }
  }

 private:
  static constexpr uint32_t kUnbound = 0;  // no kernel thread has id 0

  std::atomic<uint32_t> owner_{kUnbound};
  std::atomic<uint32_t> depth_{0};
};

// The same interface doing nothing, for builds without checks.
class SequenceCheckerDoNothing {
 public:
  bool Check(CallSite = CallSite::Here()) noexcept { return true; }
  void Detach() noexcept {}
  bool Enter(CallSite = CallSite::Here()) noexcept { return true; }
  void Leave() noexcept {}
};

#ifdef NDEBUG
using SequenceChecker = SequenceCheckerDoNothing;
#else
using SequenceChecker = SequenceCheckerImpl;
#endif

// One call of a sequence, from construction to destruction (Enter, then Leave).
class SequenceScope {
 public:
  explicit SequenceScope(SequenceChecker& sequence, CallSite where = CallSite::Here()) noexcept
      : sequence_(sequence) {
    sequence_.Enter(where);
  }
  ~SequenceScope() { sequence_.Leave(); }
  SequenceScope(const SequenceScope&) = delete;
  SequenceScope& operator=(const SequenceScope&) = delete;

 private:
  SequenceChecker& sequence_;
};

}  // namespace Vexa
