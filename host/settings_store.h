// The platform's local settings store: one JSON document per key, kept as `<key>.json` in a
// folder of the data directory, read with GET and changed with PATCH (a JSON merge patch).
//
//   SettingsStore store(dataDirectory / "settings");
//   store.Patch("GeoInfo", patch);     // written atomically before it returns
//   std::optional<std::string> document = store.Get("GeoInfo");   // compact JSON, or none
//
// Durability: a document is written to a temporary file in the same folder, flushed to disk,
// renamed over the old one and the folder flushed, so a crash at any moment leaves either the
// old document or the new one, never a torn or empty file. A PATCH that changes nothing
// writes nothing.
//
// At start-up every `<key>.json` is read once; a file that does not parse, or holds no JSON
// object, is renamed to `<key>.json.corrupt-<UTC time stamp>` with a log line and its key reads
// as missing, so it is never silently overwritten. Leftover temporary files of an interrupted
// write (`.<key>.json.tmp-*`) are removed. Documents are written with mode 0600.
//
// A write that fails (a read-only or full disk) answers the PATCH with the reason; the log says
// so at the first failure of each kind and once more when a write works again, not per PATCH.
//
// Keys are 1 to 128 characters of letters, digits, '-', '_' and '.', not starting with '.'.
//
// Threading: every operation takes the store's one mutex; any thread may call.
#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "json.h"
#include "log.h"

namespace VexaHost {

// What a PATCH did, or why it was refused.
struct SettingsPatchResult {
  enum class Outcome { Written, Unchanged, BadKey, NotAnObject, WriteFailed };
  Outcome outcome;
  std::string document;  // the document after the patch (compact JSON) unless refused
  std::string error;     // for the refusals: a message for people

  bool Ok() const { return outcome == Outcome::Written || outcome == Outcome::Unchanged; }
  // The status that answers the PATCH: 200, 500 for a failed write, 400 for a refusal.
  unsigned Status() const { return Ok() ? 200 : outcome == Outcome::WriteFailed ? 500 : 400; }
};

class SettingsStore {
 public:
  // Creates `folder` (and its parents) when missing and loads every document in it. Throws
  // std::filesystem::filesystem_error when the folder cannot be created or read.
  explicit SettingsStore(std::filesystem::path folder);

  static bool IsValidKey(std::string_view key);
  // Why `key` is refused, for people.
  static std::string BadKeyMessage(std::string_view key);

  // The document of `key` as compact JSON, or nothing when there is none (or the key is bad).
  std::optional<std::string> Get(std::string_view key) const;

  // Merges `patch`, which must be a JSON object, into the document of `key` (an absent
  // document starts as {}), and writes it unless nothing changed.
  SettingsPatchResult Patch(std::string_view key, const rapidjson::Value& patch);

  const std::filesystem::path& Folder() const { return folder_; }

 private:
  void LoadAll();
  bool WriteAtomically(const std::string& key, const std::string& text, std::string& error);

  std::filesystem::path folder_;
  mutable std::mutex mutex_;
  std::map<std::string, std::string, std::less<>> documents_;  // key -> compact JSON
  FaultLog writeFaults_;  // failed writes and flushes, logged once until a write works
};

}  // namespace VexaHost
