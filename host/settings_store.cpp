#include "settings_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <system_error>

#include "log.h"
#include "system.h"

namespace VexaHost {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxKeyLength = 128;
constexpr std::string_view kExtension = ".json";
// Temporary files start with '.', which no key does, so they never load as documents.
constexpr std::string_view kTemporaryMarker = ".json.tmp-";

// The refusals' messages, in one place.
constexpr std::string_view kBadKey =
    "is not a settings key: use 1 to 128 letters, digits, '-', '_' or '.', not starting with '.'";
constexpr std::string_view kNotAnObject = "a settings patch must be a JSON object, not ";
// A write that fails fails again with the next PATCH: the log says so once (host/log.h).
constexpr std::string_view kLoggedOnce = "; the next failures are not logged until a write works";
constexpr std::string_view kJsonTypeNames[] = {"null",     "false",    "true",    "an object",
                                               "an array", "a string", "a number"};

bool IsKeyCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.';
}

// The UTC time as 20261207T120431Z, for the names of documents moved aside.
std::string CompactUtcStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
  return stamp;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) {
    throw fs::filesystem_error("cannot read settings document", path,
                               std::error_code(errno, std::generic_category()));
  }
  return text.str();
}

// Writes all of `bytes`, resuming after signals and short writes; false with errno set.
bool WriteAll(int descriptor, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t count = write(descriptor, bytes.data(), bytes.size());
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(count));
  }
  return true;
}

}  // namespace

SettingsStore::SettingsStore(std::filesystem::path folder) : folder_(std::move(folder)) {
  fs::create_directories(folder_);
  LoadAll();
}

std::string SettingsStore::BadKeyMessage(std::string_view key) {
  return JsonQuoted(key) + " " + std::string(kBadKey);
}

bool SettingsStore::IsValidKey(std::string_view key) {
  if (key.empty() || key.size() > kMaxKeyLength || key.front() == '.') {
    return false;
  }
  for (const char c : key) {
    if (!IsKeyCharacter(c)) {
      return false;
    }
  }
  return true;
}

void SettingsStore::LoadAll() {
  for (const fs::directory_entry& entry : fs::directory_iterator(folder_)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file()) {
      continue;
    }
    if (name.front() == '.' && name.find(kTemporaryMarker) != std::string::npos) {
      HostLog(LogLevel::Warn, "settings: removed " + name + ", left by an interrupted write");
      fs::remove(entry.path());
      continue;
    }
    if (!name.ends_with(kExtension)) {
      continue;
    }
    const std::string key = name.substr(0, name.size() - kExtension.size());
    if (!IsValidKey(key)) {
      continue;
    }
    ParsedJson parsed = ParseJson(ReadFile(entry.path()));
    if (parsed.Ok() && !parsed.document.IsObject()) {
      parsed.error = "the document is not a JSON object";
    }
    if (parsed.Ok()) {
      documents_.emplace(key, JsonText(parsed.document));
      continue;
    }
    // Never overwrite what we cannot read: keep it beside, under a name of its own.
    std::string aside = name + ".corrupt-" + CompactUtcStamp();
    for (int copy = 2; fs::exists(folder_ / aside); ++copy) {
      aside = name + ".corrupt-" + CompactUtcStamp() + "-" + std::to_string(copy);
    }
    fs::rename(entry.path(), folder_ / aside);
    HostLog(LogLevel::Warn, "settings: " + name + " does not parse (" + parsed.error +
                                "); moved aside to " + aside);
  }
}

std::optional<std::string> SettingsStore::Get(std::string_view key) const {
  std::lock_guard lock(mutex_);
  const auto found = documents_.find(key);
  if (found == documents_.end()) {
    return std::nullopt;
  }
  return found->second;
}

SettingsPatchResult SettingsStore::Patch(std::string_view key, const rapidjson::Value& patch) {
  using Outcome = SettingsPatchResult::Outcome;
  if (!IsValidKey(key)) {
    return {Outcome::BadKey, {}, BadKeyMessage(key)};
  }
  if (!patch.IsObject()) {
    return {Outcome::NotAnObject,
            {},
            std::string(kNotAnObject) + std::string(kJsonTypeNames[patch.GetType()])};
  }
  std::lock_guard lock(mutex_);
  const auto found = documents_.find(key);
  Json before;
  if (found != documents_.end()) {
    before = ParseJson(found->second).document;
  } else {
    before.SetObject();
  }
  Json document;
  document.CopyFrom(before, document.GetAllocator());
  MergePatch(document, patch, document.GetAllocator());
  // Compared as values: neither member order nor a number spelt 1.0 for 1 counts as a change.
  if (found != documents_.end() && document == before) {
    return {Outcome::Unchanged, found->second, {}};
  }
  std::string text = JsonText(document);
  std::string error;
  if (!WriteAtomically(std::string(key), text, error)) {
    writeFaults_.Report(error, "settings: " + error + std::string(kLoggedOnce));
    return {Outcome::WriteFailed, {}, std::move(error)};
  }
  documents_.insert_or_assign(std::string(key), text);
  return {Outcome::Written, std::move(text), {}};
}

bool SettingsStore::WriteAtomically(const std::string& key, const std::string& text,
                                    std::string& error) {
  const fs::path target = folder_ / (key + std::string(kExtension));
  std::string temporary =
      (folder_ / ("." + key + std::string(kTemporaryMarker) + "XXXXXX")).string();
  const int descriptor = CreateUniqueFile(temporary);
  if (descriptor < 0) {
    error =
        "could not write " + target.string() + " (create temporary file): " + std::strerror(errno);
    return false;
  }
  const std::string line = text + "\n";
  std::string_view step;
  if (!WriteAll(descriptor, line)) {
    step = "write";
  } else if (!FlushFile(descriptor)) {
    step = "flush";
  }
  int code = errno;
  if (close(descriptor) != 0 && step.empty() && errno != EINTR) {
    step = "close";
    code = errno;
  }
  std::string reason;
  if (step.empty() && !RenameOver(temporary, target, reason)) {
    step = "rename";
  } else if (!step.empty()) {
    reason = std::strerror(code);
  }
  if (!step.empty()) {
    unlink(temporary.c_str());
    error = "could not write " + target.string() + " (" + std::string(step) + "): " + reason;
    return false;
  }

  // The rename is what makes the document visible; flushing the folder makes it durable.
  // Once renamed the new document is what the file holds, so a failure here is reported
  // in the log rather than as a failed write that would disagree with the disk.
  if (std::string reason; !FlushFolder(folder_, reason)) {
    writeFaults_.Report("flush " + reason, "settings: could not flush " + folder_.string() + ": " +
                                               reason + "; documents may not survive a power loss" +
                                               std::string(kLoggedOnce));
  } else if (const std::size_t faults = writeFaults_.Clear(); faults > 0) {
    HostLog(LogLevel::Okay,
            "settings: writing works again after " + std::to_string(faults) + " failures");
  }
  return true;
}

}  // namespace VexaHost
