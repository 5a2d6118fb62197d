// The debugger's output channel: OutputDebugStringA on Windows, standard error elsewhere.
//
//   Vexa::Platform::WriteDebuggerOutput("line\n");
#pragma once

namespace Vexa::Platform {

// True when a debugger (any tracer) is attached to this process.
bool IsDebuggerAttached();

// Writes text to the debugger while one is attached (OutputDebugStringA on Windows, standard
// error elsewhere), nothing otherwise. A null text writes nothing.
void WriteDebuggerOutput(const char* text);

}  // namespace Vexa::Platform
