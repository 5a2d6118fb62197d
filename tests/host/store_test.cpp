#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <utility>

#include "json.h"
#include "settings_store.h"
#include "telemetry_log.h"

namespace {

namespace fs = std::filesystem;
using Outcome = VexaHost::SettingsPatchResult::Outcome;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using VexaHost::SettingsStore;

VexaHost::Json Parse(std::string_view text) {
  return std::move(VexaHost::ParseJson(text).document);
}

std::string ReadFile(const fs::path& file) {
  std::stringstream text;
  text << std::ifstream(file).rdbuf();
  return text.str();
}

// From the precise clock the host reads, not time(), which may lag it by a tick.
// The UTC time in `format`, read from the clock the code under test reads: the store's stamps
// come from std::time, which may trail the system clock by a tick, so that a second read from
// the system clock can be one the store has not reached yet.
std::string UtcNow(const char* format, bool coarse = false) {
  const std::time_t now =
      coarse ? std::time(nullptr)
             : std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  char stamp[32];
  std::strftime(stamp, sizeof stamp, format, std::gmtime(&now));
  return stamp;
}

ino_t Inode(const fs::path& file) {
  struct stat status {};
  return stat(file.c_str(), &status) == 0 ? status.st_ino : 0;
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "XST-5:30", 1);  // local time far from UTC, so a stamp in local time shows
    tzset();
    char name[] = "/tmp/vexa-store-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  fs::path dir_;
};

TEST_F(StoreTest, PatchMergesPersistsAndWritesOnlyAChange) {
  // Document before (patched in first unless null), patch, outcome, document after.
  const std::tuple<const char*, const char*, Outcome, const char*> rows[] = {
      {nullptr, "{}", Outcome::Written, "{}"},
      {R"({"a":{"b":1,"c":2}})", R"({"a":{"b":3,"d":[]}})", Outcome::Written,
       R"({"a":{"b":3,"c":2,"d":[]}})"},
      {R"({"a":1,"b":2})", R"({"a":null})", Outcome::Written, R"({"b":2})"},
      {R"({"a":1})", R"({"a":1.0,"b":null})", Outcome::Unchanged, R"({"a":1})"},
      {R"({"a":1})", "[1]", Outcome::NotAnObject, R"({"a":1})"},
      {nullptr, R"({"q":[1.13e-30,2.5e-320]})", Outcome::Written, R"({"q":[1.13e-30,2.5e-320]})"},
      {nullptr, "{}", Outcome::BadKey, nullptr}};
  const fs::path folder = dir_ / "nested" / "settings";
  SettingsStore store(folder);
  int row = 0;
  for (const auto& [before, patch, outcome, after] : rows) {
    const std::string key = ++row < 7 ? "k" + std::to_string(row) : ".k";
    if (before != nullptr) {
      ASSERT_EQ(store.Patch(key, Parse(before)).outcome, Outcome::Written) << row;
    }
    const ino_t inode = Inode(folder / (key + ".json"));
    EXPECT_EQ(store.Patch(key, Parse(patch)).outcome, outcome) << row;
    EXPECT_EQ(store.Get(key).value_or("none"), after ? after : "none") << row;
    EXPECT_EQ(SettingsStore(folder).Get(key).value_or("none"), after ? after : "none") << row;
    EXPECT_EQ(Inode(folder / (key + ".json")) != inode, outcome == Outcome::Written) << row;
  }
  EXPECT_EQ(store.Patch("k", Parse("[1]")).error,
            "a settings patch must be a JSON object, not an array");
}

TEST(HostJson, RefusesWhatWouldNotReadBackAsWritten) {
  for (const auto& [text, error] : std::initializer_list<std::pair<const char*, const char*>>{
           {R"({"a":"\uDC00"})", "The surrogate pair in string is invalid. (at offset 6)"},
           {R"({"a":9e308})", "Number too big to be stored in double. (at offset 5)"}}) {
    EXPECT_EQ(VexaHost::ParseJson(text).error, error) << text;
  }
}

TEST(SettingsKeys, AreShortNamesOfSafeCharacters) {
  EXPECT_TRUE(SettingsStore::IsValidKey(std::string(128, 'k')));
  const std::string too_long(129, 'k');
  for (const char* key : {"", ".hidden", "a/b", "a@", "a:b", "a\xc3\xbc", "a[", too_long.c_str()}) {
    EXPECT_FALSE(SettingsStore::IsValidKey(key)) << key;
  }
}

TEST_F(StoreTest, LoadMovesUnreadableDocumentsAsideAndRemovesTemporaryFiles) {
  std::ofstream(dir_ / "Bad.json") << R"({"a":)";
  std::ofstream(dir_ / "List.json") << "[1]";
  std::ofstream(dir_ / "Good.json") << " {\"a\" : 1}\n";
  std::ofstream(dir_ / ".Good.json.tmp-Ab12Cd") << "{";
  const std::string before = UtcNow("%Y%m%dT%H%M%SZ", true);
  ::testing::internal::CaptureStderr();
  SettingsStore store(dir_);
  const std::string log = ::testing::internal::GetCapturedStderr();
  const std::string after = UtcNow("%Y%m%dT%H%M%SZ", true);

  const std::vector<std::string> names = Names();
  ASSERT_THAT(names, ElementsAre(StartsWith("Bad.json.corrupt-"), "Good.json",
                                 StartsWith("List.json.corrupt-")));
  const std::string stamp = names[0].substr(17);
  EXPECT_TRUE(stamp.size() == 16 && before <= stamp && stamp <= after) << stamp;
  EXPECT_THAT(log, HasSubstr(" WARN host   settings: Bad.json does not parse (Invalid value. (at "
                             "offset 5)); moved aside to " +
                             names[0] + "\n"));
}

TEST_F(StoreTest, AFailedWriteKeepsTheOldDocumentAndNoTemporaryFile) {
  SettingsStore store(dir_);
  ASSERT_EQ(store.Patch("k", Parse(R"({"a":1})")).outcome, Outcome::Written);
  fs::remove(dir_ / "k.json");
  fs::create_directory(dir_ / "k.json");  // renaming a file over a folder fails, even for root
  const VexaHost::SettingsPatchResult result = store.Patch("k", Parse(R"({"a":2})"));
  EXPECT_EQ(result.outcome, Outcome::WriteFailed);
  EXPECT_EQ(result.error, "could not write " + (dir_ / "k.json").string() +
                              " (rename): " + std::strerror(EISDIR));
  EXPECT_EQ(store.Get("k"), R"({"a":1})");
  EXPECT_THAT(Names(), ElementsAre("k.json"));
}

TEST_F(StoreTest, TelemetryAppendsOneLinePerEventAndLosesOnlyACutLine) {
  const fs::path file = dir_ / "telemetry.jsonl";
  std::ofstream(file) << R"({"time":)";  // the last line of a run that died while writing it
  const std::string before = UtcNow("%Y-%m-%dT%H:%M:%S.000Z");
  VexaHost::TelemetryLog log(file);
  std::string error;
  ASSERT_TRUE(log.Append("lookup", Parse(R"({"ms":3})"), error)) << error;
  std::signal(SIGXFSZ, SIG_IGN);  // a file size limit cuts the next write short
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlim_t unlimited = std::exchange(limit.rlim_cur, fs::file_size(file) + 10);
  setrlimit(RLIMIT_FSIZE, &limit);
  EXPECT_FALSE(log.Append("cut", Parse("{}"), error));
  limit.rlim_cur = unlimited;
  setrlimit(RLIMIT_FSIZE, &limit);
  EXPECT_THAT(error, HasSubstr(" short write (10 of "));
  ASSERT_TRUE(log.Append("say \"hi\"", Parse("[]"), error)) << error;
  const std::string after = UtcNow("%Y-%m-%dT%H:%M:%S.999Z");

  const std::string text = ReadFile(file);
  std::smatch times;
  const std::regex lines(
      R"re(\{"time":\n\{"time":"(.{24})","name":"lookup","data":\{"ms":3\}\}\n)re"
      R"re(\{"time":"2\n\{"time":"(.{24})","name":"say \\"hi\\"","data":\[\]\}\n)re");
  ASSERT_TRUE(std::regex_match(text, times, lines)) << text;
  for (const std::string& time : {times[1].str(), times[2].str()}) {
    EXPECT_TRUE(before <= time && time <= after && time.back() == 'Z') << time;
  }
  VexaHost::TelemetryLog full("/dev/full");
  EXPECT_FALSE(full.Append("x", Parse("{}"), error));
  EXPECT_EQ(error, "could not append to /dev/full: " + std::string(std::strerror(ENOSPC)));
}

}  // namespace
