#include <windows.h>

#include "platform/debugger.h"

namespace Vexa::Platform {

bool IsDebuggerAttached() {
  return IsDebuggerPresent() != 0;
}

// OutputDebugStringA raises an exception for a debugger to catch, which costs far more than
// the line when nobody listens; the check first keeps logging cheap without a debugger.
void WriteDebuggerOutput(const char* text) {
  if (text != nullptr && IsDebuggerAttached()) {
    OutputDebugStringA(text);
  }
}

}  // namespace Vexa::Platform
