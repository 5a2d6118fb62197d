// The debugger's output channel, standing in for OutputDebugStringA.
//
//   Vexa::Platform::WriteDebuggerOutput("line\n");
#pragma once

namespace Vexa::Platform {

// True when a debugger (any tracer) is attached to this process.
bool IsDebuggerAttached();

// Writes text to the debugger: standard error while a debugger is attached, nothing
// otherwise. A null text writes nothing.
void WriteDebuggerOutput(const char* text);

}  // namespace Vexa::Platform
