// The host's settings store: any bytes stored as a key's document are loaded or moved aside at
// start-up without crashing, a document that loads is a JSON object, and one that does not is
// kept beside under a name of its own. When the bytes are a JSON object they are also applied as
// a PATCH, which must succeed, and a store that loads the folder again must hold exactly the
// document that the PATCH answered.
#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "settings_store.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kFolderPrefix = "vexa-fuzz-settings-";

// A folder of this process's own, in memory where there is /dev/shm: every PATCH is flushed to
// disk. libFuzzer ends a run with _Exit, which runs no clean-up, so each run first removes the
// folders that runs no longer alive have left.
const fs::path& Folder() {
  static const fs::path folder = [] {
    const fs::path base =
        fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    for (const fs::directory_entry& entry : fs::directory_iterator(base)) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with(kFolderPrefix) &&
          kill(std::atoi(name.c_str() + kFolderPrefix.size()), 0) != 0 && errno == ESRCH) {
        fs::remove_all(entry.path());
      }
    }
    return base / (std::string(kFolderPrefix) + std::to_string(getpid()));
  }();
  return folder;
}

// Loading logs a line for every document moved aside: not for each of a million inputs. The
// sanitizers report to a copy of standard error, so that a finding inside is not silenced too.
std::unique_ptr<VexaHost::SettingsStore> LoadQuietly() {
  static const int kNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  static const int kReports = [] {
    const int copy = dup(STDERR_FILENO);
    __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(copy)));
    return copy;
  }();
  (void)kReports;
  const int saved = dup(STDERR_FILENO);
  dup2(kNull, STDERR_FILENO);
  auto store = std::make_unique<VexaHost::SettingsStore>(Folder());
  dup2(saved, STDERR_FILENO);
  close(saved);
  return store;
}

bool HasDocumentAside() {
  for (const fs::directory_entry& entry : fs::directory_iterator(Folder())) {
    if (entry.path().filename().string().starts_with("GeoInfo.json.corrupt-")) {
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  fs::remove_all(Folder());
  fs::create_directories(Folder());
  std::ofstream(Folder() / "GeoInfo.json", std::ios::binary) << bytes;

  const std::unique_ptr<VexaHost::SettingsStore> store = LoadQuietly();
  if (const std::optional<std::string> document = store->Get("GeoInfo")) {
    const VexaHost::ParsedJson loaded = VexaHost::ParseJson(*document);
    FUZZ_CHECK(loaded.Ok() && loaded.document.IsObject(),
               "a loaded document is no object: " + *document);
  } else {
    FUZZ_CHECK(HasDocumentAside(), "a document that does not load was not kept aside");
  }

  const VexaHost::ParsedJson patch = VexaHost::ParseJson(bytes);
  if (patch.Ok() && patch.document.IsObject()) {
    const VexaHost::SettingsPatchResult result = store->Patch("GeoInfo", patch.document);
    FUZZ_CHECK(result.Ok(), "a PATCH failed: " + result.error);
    const std::unique_ptr<VexaHost::SettingsStore> reloaded = LoadQuietly();
    FUZZ_CHECK(reloaded->Get("GeoInfo") == result.document,
               "the document read back differs from " + result.document);
  }
  return 0;
}
