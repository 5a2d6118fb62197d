// kor-value end to end, through the same entry its main calls: codec choice, output, messages
// and exit statuses.
#include "kor_value.h"

#include "codecs/sniff.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Vexa::Tools {
namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome KorValue(const std::vector<std::string>& arguments, const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  const int status = RunKorValue(arguments, in, out, err);
  return {status, out.str(), err.str()};
}

TEST(SniffPayload, NamesTheCodecByTheFirstBytes) {
  using C = SniffedCodec;
  const std::pair<std::string_view, SniffedCodec> cases[] = {
      {"\x82\xa1"
       "a\x01",
       C::MessagePack},
      {"\xdc\x00\x00", C::MessagePack},
      {"   {\"a\":1}", C::Json},
      {"[1]", C::Json},
      {"  ---\na: 1\n", C::Yaml},
      {"a: 1", C::None},  // YAML only after a leading ---
      {"", C::None},
      {"  ", C::None},
      {"\t---", C::None},  // only spaces are skipped
      {" \x91", C::None},  // MessagePack only at the first byte
  };
  for (const auto& [bytes, codec] : cases) {
    EXPECT_EQ(SniffPayload(bytes), codec) << ::testing::PrintToString(std::string(bytes));
  }
}

TEST(KorValueDecoding, PrintsCompactJsonOfEveryCodec) {
  const Outcome json = KorValue({}, R"({ "b": [1, -2, 2.5], "a": "x" })");
  EXPECT_EQ(json.status, 0);
  EXPECT_EQ(json.out, "{\"a\":\"x\",\"b\":[1,-2,2.5]}\n");
  EXPECT_EQ(json.err, "");

  const Outcome yaml = KorValue({"-"}, "---\nname: Berlin\ncodes: [49, 30]\n");
  EXPECT_EQ(yaml.status, 0);
  EXPECT_EQ(yaml.out, "{\"codes\":[49,30],\"name\":\"Berlin\"}\n");

  // {"a": true} as a fixmap of one member.
  const Outcome msgpack = KorValue({}, std::string("\x81\xa1"
                                                   "a\xc3",
                                                   4));
  EXPECT_EQ(msgpack.status, 0);
  EXPECT_EQ(msgpack.out, "{\"a\":true}\n");
}

TEST(KorValueDecoding, ExplicitCodecOverridesSniffing) {
  const Outcome yaml = KorValue({"--from", "yaml"}, "a: [1, 2]\n");
  EXPECT_EQ(yaml.status, 0);
  EXPECT_EQ(yaml.out, "{\"a\":[1,2]}\n");
  const Outcome joined = KorValue({"--from=yaml"}, "a: 1\n");
  EXPECT_EQ(joined.out, "{\"a\":1}\n");
  // A positive fixint is a whole MessagePack document, but only when asked for.
  EXPECT_EQ(KorValue({"--from", "msgpack"}, "\x07").out, "7\n");
}

TEST(KorValueFailures, ReportTheCodecMessageWithStatusOne) {
  const Outcome json = KorValue({}, "[1, 2");
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(json.out, "");
  EXPECT_EQ(json.err.rfind("Error: ", 0), 0u) << json.err;
  EXPECT_NE(json.err.find("at offset 5."), std::string::npos) << json.err;

  const Outcome truncated = KorValue({"--from", "msgpack"}, "\xcd\x01");
  EXPECT_EQ(truncated.status, 1);
  EXPECT_EQ(truncated.err,
            "Invalid MessagePack data. 16-bit integer value at position 1 is truncated.\n");
  // Input that ends between items is not an error for MessagePack: what was read is the value.
  EXPECT_EQ(KorValue({"--from", "msgpack"}, "\x92\x01").out, "[1]\n");

  const Outcome trailing = KorValue({"--from", "msgpack"}, "\x01\x02");
  EXPECT_EQ(trailing.status, 1);
  EXPECT_EQ(trailing.err, "1 bytes after the MessagePack value, which ends at offset 1\n");

  // A NUL ends the text the JSON codec reads, but a file is all of its bytes.
  const Outcome nul = KorValue({}, std::string("[1] \0 [2]", 9));
  EXPECT_EQ(nul.status, 1);
  EXPECT_EQ(nul.err, "Error: The document root must not follow by other values. at offset 4.\n");
}

TEST(KorValueFailures, UsageErrorsExitWithTwo) {
  EXPECT_EQ(KorValue({"--from"}).status, 2);
  EXPECT_EQ(KorValue({"--from", "xml"}).status, 2);
  EXPECT_EQ(KorValue({"--verbose"}).status, 2);
  EXPECT_EQ(KorValue({"a.json", "b.json"}).status, 2);
  const Outcome missing = KorValue({"/nonexistent/body.json"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "kor-value: cannot read '/nonexistent/body.json'\n");
  const Outcome help = KorValue({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: kor-value", 0), 0u);
}

TEST(KorValueInput, ReadsAFileByItsPath) {
  const std::string path = ::testing::TempDir() + "kor_value_input.json";
  std::ofstream(path, std::ios::binary) << "[true,null]";
  const Outcome file = KorValue({path});
  std::remove(path.c_str());
  EXPECT_EQ(file.status, 0);
  EXPECT_EQ(file.out, "[true,null]\n");
}

}  // namespace
}  // namespace Vexa::Tools
