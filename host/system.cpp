#include "system.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <system_error>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>
#endif

namespace VexaHost {

#if defined(_WIN32)

const char kPluginFileName[] = "kor_geoinfo.dll";

namespace {

std::string LastErrorText(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length > 0 ? std::string(text, length) : std::string();
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return message + " (Windows error " + std::to_string(code) + ")";
}

// The console's control events arrive on a thread of their own: they are handed to the main
// thread waiting in WaitForStop.
struct StopRequest {
  std::mutex mutex;
  std::condition_variable changed;
  std::string name;  // empty until a stop is requested
};

StopRequest& TheStopRequest() {
  static StopRequest request;
  return request;
}

void Request(const char* name) {
  StopRequest& request = TheStopRequest();
  std::lock_guard lock(request.mutex);
  if (request.name.empty()) {
    request.name = name;
  }
  request.changed.notify_all();
}

BOOL WINAPI OnConsoleControl(DWORD event) {
  Request(event == CTRL_C_EVENT       ? "Ctrl-C"
          : event == CTRL_BREAK_EVENT ? "Ctrl-Break"
                                      : "the console closing");
  return TRUE;
}

}  // namespace

void* OpenLibrary(const std::string& path, std::string& error) {
  HMODULE library = LoadLibraryW(std::filesystem::path(path).wstring().c_str());
  if (library == nullptr) {
    error = path + ": " + LastErrorText(GetLastError());
  }
  return reinterpret_cast<void*>(library);
}

void* FindSymbol(void* library, const std::string& name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name.c_str()));
}

void CloseLibrary(void* library) {
  FreeLibrary(static_cast<HMODULE>(library));
}

std::filesystem::path ExecutableFolder() {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) {
      return {};
    }
    if (length < name.size()) {
      name.resize(length);
      return std::filesystem::path(name).parent_path();
    }
    name.resize(name.size() * 2);
  }
}

std::filesystem::path DefaultDataFolder() {
  const char* local = std::getenv("LOCALAPPDATA");
  return std::filesystem::path(local != nullptr && *local != '\0' ? local : ".") / "vexa-host";
}

void PrepareForStop() {
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

std::string WaitForStop() {
  StopRequest& request = TheStopRequest();
  std::unique_lock lock(request.mutex);
  request.changed.wait(lock, [&] { return !request.name.empty(); });
  return request.name;
}

void RequestStop() {
  Request("the server ending");
}

void SetEnvironment(const char* name, const char* value) {
  _putenv_s(name, value);
}

bool FlushFile(int descriptor) {
  return _commit(descriptor) == 0;
}

int CreateUniqueFile(std::string& pathTemplate) {
  // Six random letters and digits, made anew until the name is free: _O_EXCL never opens a
  // file that exists already.
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::mt19937 random(seed());
  const std::size_t at = pathTemplate.size() - 6;
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (std::size_t index = at; index < pathTemplate.size(); ++index) {
      pathTemplate[index] = kLetters[random() % (sizeof kLetters - 1)];
    }
    const int descriptor =
        _open(pathTemplate.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY | _O_NOINHERIT,
              _S_IREAD | _S_IWRITE);
    if (descriptor >= 0 || errno != EEXIST) {
      return descriptor;
    }
  }
  return -1;
}

int OpenForAppend(const std::filesystem::path& path) {
  return _wopen(path.wstring().c_str(), _O_RDWR | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT,
                _S_IREAD | _S_IWRITE);
}

bool RenameOver(const std::filesystem::path& from, const std::filesystem::path& to,
                std::string& error) {
  // Written through: the call returns once the rename is on the disk, which POSIX needs the
  // folder's flush for.
  if (MoveFileExW(from.wstring().c_str(), to.wstring().c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    error = LastErrorText(GetLastError());
    return false;
  }
  return true;
}

bool FlushFolder(const std::filesystem::path&, std::string&) {
  return true;
}

bool ReadByteAt(int descriptor, long long offset, char& byte) {
  // Only ever called before the first append, so moving the file position disturbs nothing.
  return _lseeki64(descriptor, offset, SEEK_SET) == offset && _read(descriptor, &byte, 1) == 1;
}

#else

const char kPluginFileName[] = "libkor_geoinfo.so";

namespace {

sigset_t StopSignals() {
  sigset_t stopping;
  sigemptyset(&stopping);
  sigaddset(&stopping, SIGINT);
  sigaddset(&stopping, SIGTERM);
  return stopping;
}

}  // namespace

void* OpenLibrary(const std::string& path, std::string& error) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    error = dlerror();
  }
  return library;
}

void* FindSymbol(void* library, const std::string& name) {
  return dlsym(library, name.c_str());
}

void CloseLibrary(void* library) {
  dlclose(library);
}

std::filesystem::path ExecutableFolder() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : self.parent_path();
}

std::filesystem::path DefaultDataFolder() {
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
    return std::filesystem::path(state) / "vexa-host";
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : ".") / ".local/state/vexa-host";
}

void PrepareForStop() {
  // The signals that stop the host are taken by the main thread alone, with sigwait: every
  // thread started from here on inherits the mask.
  const sigset_t stopping = StopSignals();
  pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

std::string WaitForStop() {
  const sigset_t stopping = StopSignals();
  int signal = 0;
  sigwait(&stopping, &signal);
  return signal == SIGINT ? "SIGINT" : "SIGTERM";
}

void RequestStop() {
  kill(getpid(), SIGTERM);
}

void SetEnvironment(const char* name, const char* value) {
  setenv(name, value, 1);
}

bool FlushFile(int descriptor) {
  return fsync(descriptor) == 0;
}

int CreateUniqueFile(std::string& pathTemplate) {
  return mkostemp(pathTemplate.data(), O_CLOEXEC);
}

int OpenForAppend(const std::filesystem::path& path) {
  return open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

bool RenameOver(const std::filesystem::path& from, const std::filesystem::path& to,
                std::string& error) {
  if (rename(from.c_str(), to.c_str()) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

bool FlushFolder(const std::filesystem::path& folder, std::string& error) {
  const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool flushed = descriptor >= 0 && fsync(descriptor) == 0;
  if (!flushed) {
    error = std::strerror(errno);
  }
  if (descriptor >= 0) {
    close(descriptor);
  }
  return flushed;
}

bool ReadByteAt(int descriptor, long long offset, char& byte) {
  return pread(descriptor, &byte, 1, static_cast<off_t>(offset)) == 1;
}

#endif

}  // namespace VexaHost
