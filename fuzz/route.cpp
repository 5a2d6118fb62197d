// Route templates and paths: any template builds, any path matches or not without crashing,
// percent-decoding never fails, and for short inputs the matcher agrees with std::regex on the
// template's ECMAScript text, group by group (the equivalence route_pattern.h promises).
#include <cstdint>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch/route_pattern.h"
#include "fuzz_support.h"

namespace {

// std::regex backtracks and recurses: it is asked only about short paths and few groups.
constexpr std::size_t kOracleMaxPath = 24;
constexpr std::size_t kOracleMaxGroups = 3;

void CompareWithRegex(const Vexa::RouteExpression& expression, const std::string& path) {
  if (path.size() > kOracleMaxPath || expression.groupCount > kOracleMaxGroups) {
    return;
  }
  const std::string text = Vexa::RouteExpressionText(expression);
  std::regex oracle;
  try {
    oracle.assign(text, std::regex::ECMAScript);
  } catch (const std::regex_error& error) {
    FUZZ_CHECK(false, "the expression text does not compile: " + text + ": " + error.what());
  }
  std::smatch expected;
  const bool oracleMatched = std::regex_match(path, expected, oracle);
  std::vector<std::string_view> groups;
  const bool matched = Vexa::MatchRouteExpression(expression, path, &groups);
  FUZZ_CHECK(matched == oracleMatched, text + " against " + path);
  for (std::size_t index = 0; matched && index < groups.size(); ++index) {
    FUZZ_CHECK(groups[index] == expected[index + 1].str(), "group of " + text + " in " + path);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string uriTemplate = input.ConsumeRandomLengthString(256);
  const std::string path = input.ConsumeRemainingBytesAsString();
  const Vexa::RoutePattern pattern = Vexa::BuildRoutePattern(nullptr, nullptr, uriTemplate);
  Vexa::RouteMatch match;
  match.path = path;
  const bool matched = Vexa::MatchRoutes(match, {&pattern, 1}, true);
  FUZZ_CHECK(matched || match.pathArguments.empty(), "arguments without a match: " + path);
  if (pattern.expression) {
    CompareWithRegex(*pattern.expression, path);
  }
  FUZZ_CHECK(Vexa::PercentDecode(path).size() <= path.size(), "decoding grew " + path);
  (void)Vexa::OperationName("GET", Vexa::NormalizeRouteTemplate(uriTemplate));
  return 0;
}
