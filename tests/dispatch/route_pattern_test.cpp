// Route patterns: building, matching (against std::regex as the oracle), ties between patterns,
// percent-decoding, operation names and template normalisation.
#include "dispatch/route_pattern.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "binding/descriptors.h"
#include "dispatch/endpoint.h"

namespace Vexa {
namespace {

using namespace std::string_literals;
using Placeholders = std::vector<std::pair<uint32_t, std::string>>;

// The template rules written out a second time, as the ECMAScript text std::regex compiles.
std::string OracleExpression(const std::string& uriTemplate, Placeholders& placeholders) {
  std::string text;
  uint32_t state = 0;
  std::string name;
  for (const char c : uriTemplate) {
    if (c == '{') {
      state = 1;
    } else if (c == '}') {
      text += std::vector<std::string>{"", "([^/]*)", "(.*)", "#(.*)"}[state];
      placeholders.emplace_back(state, name);
      state = 0;
      name.clear();
    } else if (state == 1 && name.empty() && (c == '+' || c == '#')) {
      state = c == '+' ? 2 : 3;
    } else if (state != 0) {
      name += c;
    } else {
      text += (std::string("^$.*+?()[]|\\").find(c) != std::string::npos ? "\\"s : ""s) + c;
    }
  }
  return text;
}

// Matches one pattern alone, the method ignored; the decoded path arguments, or "no match".
HttpHeaderMap MatchAlone(const RoutePattern& pattern, const std::string& path) {
  RouteMatch match;
  match.path = path;
  return MatchRoutes(match, {&pattern, 1}, true) ? match.pathArguments
                                                 : HttpHeaderMap{{"no", "match"}};
}

TEST(MatchRoutes, PathsAndArguments) {
  const HttpHeaderMap no{{"no", "match"}};
  const std::tuple<std::string, std::string, HttpHeaderMap> cases[] = {
      {"/a/{id}/b", "/a/x%20y/b", {{"id", "x y"}}},
      {"/a/{id}/b", "/a/x/y/b", no},
      {"/files/{+path}", "/files/a/b/c", {{"path", "a/b/c"}}},
      {"/doc{#frag}", "/doc#", {{"frag", ""}}},
      {"/doc{#frag}", "/doc", no},
      {"/v1.0/x", "/v1.0/x", {}},
      {"/v1.0/x", "/v1.0/x/", no},
      {"", "", no},                            // an empty template never matches
      {"/a/{x}/{x}", "/a/1/2", {{"x", "2"}}},  // a later placeholder of the same name wins
      {"/files/{+p}", "/files/a\rb", no},      // "." stops at line terminators
      {"/a}b", "/a}b", {}},                    // "}" alone makes no expression
  };
  for (const auto& [uriTemplate, path, arguments] : cases) {
    EXPECT_EQ(MatchAlone(BuildRoutePattern(nullptr, nullptr, uriTemplate), path), arguments)
        << uriTemplate << " against " << path;
  }
}

// Random templates and paths: the same expression text and placeholders as the oracle's, the
// same match result, and each group decoded under its placeholder's name (later ones win).
TEST(MatchRoutes, AgreesWithStdRegex) {
  const std::vector<std::string> templatePieces = {
      "/",   "a",   "#",    ".",    "+",  "*", "(", "[",     "|",     "\\",   "^",     "\n", "%",
      "{x}", "{y}", "{+r}", "{#f}", "{}", "{", "}", "{a{b}", "{+{s}", "{x+}", "/{x}/", "{#}"};
  const std::vector<std::string> pathPieces = {"/",   "a", "b", "#", "\n", "\r", "%",
                                               "%41", "+", ".", "",  "ab", "//", "x"};
  std::mt19937 random(20240611);
  const auto pick = [&random](const std::vector<std::string>& from) {
    return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(random)];
  };
  std::size_t matches = 0;
  for (int round = 0; round < 1000 && !HasFailure(); ++round) {
    std::string uriTemplate = pick({"{x}", "{+r}", "{#f}"});
    for (int piece = std::uniform_int_distribution<int>(0, 5)(random); piece > 0; --piece) {
      uriTemplate.insert(random() % 2 == 0 ? 0 : uriTemplate.size(), pick(templatePieces));
    }
    std::string filled;  // the template with its placeholders filled in: likely to match
    bool inside = false;
    for (const char c : uriTemplate) {
      if (c == '}' && inside) {
        filled += pick(pathPieces);
      }
      inside = c == '{' || (inside && c != '}');
      filled += inside || c == '}' ? "" : std::string(1, c);
    }
    SCOPED_TRACE(::testing::PrintToString(uriTemplate));
    Placeholders oracle;
    const std::string text = OracleExpression(uriTemplate, oracle);
    const RoutePattern pattern = BuildRoutePattern(nullptr, nullptr, uriTemplate);
    ASSERT_TRUE(pattern.expression.has_value());
    EXPECT_EQ(RouteExpressionText(*pattern.expression), text);
    const std::regex expression(text, std::regex::ECMAScript);
    for (const std::string& path : {filled, pick(pathPieces) + pick(pathPieces) + filled}) {
      std::smatch groups;
      const bool matched = std::regex_match(path, groups, expression);
      HttpHeaderMap expected{{"no", "match"}};
      if (matched) {
        ++matches;
        expected.clear();
        for (std::size_t index = 1; index < groups.size(); ++index) {
          expected[oracle[index - 1].second] = PercentDecode(groups[index].str());
        }
      }
      EXPECT_EQ(MatchAlone(pattern, path), expected) << ::testing::PrintToString(path);
    }
  }
  EXPECT_GT(matches, 200u);  // the generator exercises both outcomes
  EXPECT_LT(matches, 1800u);
}

// Paths longer than a word of the matcher's bit rows, up to a megabyte: matched without
// recursion over the path.
TEST(MatchRoutes, LongPaths) {
  const std::string tail((1u << 20) + 40, 'a');  // "b" at 48 in its 64-bit word
  const RoutePattern files = BuildRoutePattern(nullptr, nullptr, "/files/{+path}/{x}");
  EXPECT_EQ(MatchAlone(files, "/files/" + tail + "/b"),
            (HttpHeaderMap{{"path", tail}, {"x", "b"}}));
  EXPECT_EQ(MatchAlone(files, "/files/" + tail + "\n/b"), (HttpHeaderMap{{"no", "match"}}));
}

TEST(MatchRoutes, MethodsAndTies) {
  BindingFunctionDescriptor functions[3];
  EndpointRecord endpoints[3];
  endpoints[1].method = HttpMethod::Post;
  const struct {
    std::vector<std::string> templates;
    std::string path;
    bool ignoreMethod;
    int chosen;  // index of the accepted pattern, -1 for none
    HttpHeaderMap arguments;
  } cases[] = {
      {{"/a/{x}", "/a/{x}{y}"}, "/a/bc", true, 0, {{"x", "bc"}}},  // equal sums: the earlier
      {{"/a/{x}", "/a/b{y}"}, "/a/bc", true, 1, {{"y", "c"}}},     // strictly smaller: the later
      {{"/a/{x}", "/a/b{y}"}, "/a/bc", false, 0, {{"x", "bc"}}},   // the later wants POST
      {{"/a/{x}", "/a/b", "/a/{y}"}, "/a/b", true, 1, {}},         // no arguments: the search stops
      {{"/b/{x}", "/c"}, "/a/q", false, -1, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::vector<RoutePattern> patterns;
    for (std::size_t index = 0; index < c.templates.size(); ++index) {
      patterns.push_back(
          BuildRoutePattern(&functions[index], &endpoints[index], c.templates[index]));
    }
    RouteMatch match;
    match.method = HttpMethod::Get;
    match.path = c.path;
    EXPECT_EQ(MatchRoutes(match, patterns, c.ignoreMethod), c.chosen >= 0);
    EXPECT_EQ(match.function, c.chosen >= 0 ? &functions[c.chosen] : nullptr);
    EXPECT_EQ(match.endpoint, c.chosen >= 0 ? &endpoints[c.chosen] : nullptr);
    EXPECT_EQ(match.pathArguments, c.arguments);
  }
}

// A "%" with fewer than two characters after it is dropped; a non-digit counts as 16.
TEST(PercentDecode, Cases) {
  const std::pair<std::string, std::string> cases[] = {
      {"a+b", "a b"},  {"a%2", "a2"},   {"%41%62", "Ab"}, {"%2f%3a", "/:"},
      {"%G1", "\x01"}, {"%zz", "\x10"}, {"%00", "\0"s},   {"100%", "100"}};
  for (const auto& [text, decoded] : cases) {
    EXPECT_EQ(PercentDecode(text), decoded) << text;
  }
}

TEST(OperationName, Cases) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"GET", "/kor-geoinfo/v1/whereami", "GetKorGeoinfoV1Whereami"},
      {"GET", "/items/{id}", "GetItemsById"},
      {"POST", "a.b_c!d+e", "PostABCDE"},
      {"gET", "/}b", "GetB"},  // "}" is dropped and leaves the flag as it is
      {"", "whereami", "Whereami"}};
  for (const auto& [method, uriTemplate, name] : cases) {
    EXPECT_EQ(OperationName(method, uriTemplate), name) << method << " " << uriTemplate;
  }
}

TEST(NormalizeRouteTemplate, DropsOneFinalSlash) {
  const std::pair<std::string, std::string> cases[] = {
      {"//x//", "//x/"}, {"/", "/"}, {"a/", "a"}, {"/a", "/a"}};
  for (const auto& [given, normalised] : cases) {
    EXPECT_EQ(NormalizeRouteTemplate(given), normalised) << given;
  }
}

}  // namespace
}  // namespace Vexa
