// kor-value end to end, through the same entry its main calls, and the sniffing rule it shares
// with the dispatcher.
#include "kor_value.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "codecs/sniff.h"

namespace Vexa::Tools {
namespace {

using namespace std::string_literals;

TEST(SniffPayload, NamesTheCodecByTheFirstBytes) {
  using C = SniffedCodec;
  const std::pair<std::string, SniffedCodec> cases[] = {{"\x82\xa1", C::MessagePack},
                                                        {"\xdc\x00\x00"s, C::MessagePack},
                                                        {" \x91", C::None},
                                                        {"   {\"a\":1}", C::Json},
                                                        {"[1]", C::Json},
                                                        {"  ---\na: 1", C::Yaml},
                                                        {"--x", C::None},
                                                        {"a: 1", C::None},
                                                        {"", C::None},
                                                        {"  ", C::None},
                                                        {"\t---", C::None}};  // only spaces lead
  for (const auto& [bytes, codec] : cases) {
    EXPECT_EQ(SniffPayload(bytes), codec) << ::testing::PrintToString(bytes);
  }
}

// Status, standard output and standard error of one run.
std::tuple<int, std::string, std::string> KorValue(const std::vector<std::string>& arguments,
                                                   const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  const int status = RunKorValue(arguments, in, out, err);
  return {status, out.str(), err.str()};
}

TEST(KorValue, DecodesByTheSniffedOrTheGivenCodec) {
  const std::tuple<std::vector<std::string>, std::string, int, std::string, std::string> cases[] = {
      {{}, R"({ "b": [1, -2.5], "a": "x" })", 0, "{\"a\":\"x\",\"b\":[1,-2.5]}\n", ""},
      {{"-"}, "---\nname: Berlin\n", 0, "{\"name\":\"Berlin\"}\n", ""},
      {{}, "\x81\xa1\x61\xc3", 0, "{\"a\":true}\n", ""},
      {{"--from=yaml"}, "a: 1\n", 0, "{\"a\":1}\n", ""},
      {{"--from", "msgpack"},
       "\x01\x02",
       1,
       "",
       "1 bytes after the MessagePack value, which ends at offset 1\n"},
      {{},
       "[1] \0 [2]"s,
       1,
       "",
       "Error: The document root must not follow by other values. at offset 4.\n"},
      {{"--from", "xml"}, "", 2, "", "kor-value: unknown codec 'xml' (json, msgpack or yaml)\n"},
      {{"a.json", "b.json"}, "", 2, "", "kor-value: one input at a time\n"},
      {{"/nonexistent/body.json"}, "", 2, "", "kor-value: cannot read '/nonexistent/body.json'\n"}};
  for (const auto& [arguments, input, status, out, err] : cases) {
    const auto [actualStatus, actualOut, actualErr] = KorValue(arguments, input);
    EXPECT_EQ(actualStatus, status) << input;
    EXPECT_EQ(actualOut, out) << input;
    EXPECT_EQ(actualErr.substr(0, err.size()), err) << input;  // usage errors add the usage
  }
}

}  // namespace
}  // namespace Vexa::Tools
