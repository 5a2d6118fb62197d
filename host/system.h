// The few operating-system services the host needs that POSIX and Windows spell differently:
// loading the plugin library, the default data folder, waiting for the request to stop, and
// the durable replacement of a file. Everything else in the host is portable C++ and the
// C library; a difference of the two systems lives here and nowhere else.
#pragma once

#include <filesystem>
#include <string>

namespace VexaHost {

// The plugin's file name as this system's build makes it.
extern const char kPluginFileName[];

// A loaded shared library; null with `error` set when it cannot be loaded.
void* OpenLibrary(const std::string& path, std::string& error);
void* FindSymbol(void* library, const std::string& name);
void CloseLibrary(void* library);

// The folder the running executable is in; empty when it cannot be known.
std::filesystem::path ExecutableFolder();

// Where settings and telemetry go when no --data-dir is given: $XDG_STATE_HOME/vexa-host or
// ~/.local/state/vexa-host, on Windows %LOCALAPPDATA%\vexa-host.
std::filesystem::path DefaultDataFolder();

// The stop request (SIGINT or SIGTERM; on Windows Ctrl-C, Ctrl-Break or the console closing).
// PrepareForStop is called once on the main thread before any other thread starts;
// WaitForStop returns the request's name; RequestStop makes WaitForStop return.
void PrepareForStop();
std::string WaitForStop();
void RequestStop();

// Sets an environment variable for this process and the plugin it loads.
void SetEnvironment(const char* name, const char* value);

// Flushes an open file's data to the disk; false with errno set.
bool FlushFile(int descriptor);

// Opens a new file named after `pathTemplate`, whose last six characters are XXXXXX and are
// replaced; the descriptor, or -1 with errno set.
int CreateUniqueFile(std::string& pathTemplate);

// Opens `path` for appending, made when missing; the descriptor, or -1 with errno set. Bytes
// are written as given (no line end translation on Windows).
int OpenForAppend(const std::filesystem::path& path);

// Renames `from` over `to`, so that `to` holds one document or the other whole; false with
// `error` set when it did not happen.
bool RenameOver(const std::filesystem::path& from, const std::filesystem::path& to,
                std::string& error);

// Makes the renames inside `folder` durable; false with `error` set. On Windows the rename
// itself is written through and there is nothing left to flush.
bool FlushFolder(const std::filesystem::path& folder, std::string& error);

// Reads the byte at `offset` of an open file; false when it cannot.
bool ReadByteAt(int descriptor, long long offset, char& byte);

}  // namespace VexaHost
