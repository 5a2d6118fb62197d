#include "dispatch/route_pattern.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <random>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "binding/descriptors.h"
#include "dispatch/endpoint.h"

namespace Vexa {
namespace {

using namespace std::string_literals;

// --- The oracle: the template rules written out a second time, compiled by std::regex ---

struct OracleExpression {
  bool literal = false;
  std::string text;  // the literal path, or the ECMAScript expression
  std::vector<std::pair<uint32_t, std::string>> placeholders;
};

OracleExpression OracleBuild(const std::string& uriTemplate) {
  OracleExpression oracle;
  if (uriTemplate.empty() || uriTemplate.find('{') == std::string::npos) {
    oracle.literal = true;
    oracle.text = uriTemplate;
    return oracle;
  }
  uint32_t state = 0;
  std::string name;
  for (const char c : uriTemplate) {
    if (c == '{') {
      state = 1;
    } else if (state != 0 && c != '}') {
      if (state == 1 && name.empty() && c == '+') {
        state = 2;
      } else if (state == 1 && name.empty() && c == '#') {
        state = 3;
      } else {
        name += c;
      }
    } else if (c == '}') {
      static const char* const kEmitted[] = {"", "([^/]*)", "(.*)", "#(.*)"};
      oracle.text += kEmitted[state];
      oracle.placeholders.emplace_back(state, name);
      state = 0;
      name.clear();
    } else {
      if (std::string("^$.*+?()[]|\\").find(c) != std::string::npos) {
        oracle.text += '\\';
      }
      oracle.text += c;
    }
  }
  return oracle;
}

// Quoted, with control and non-ASCII bytes escaped, so that failure output stays on one line.
std::string Printable(const std::string& text) {
  return ::testing::PrintToString(text);
}

// Matches one pattern alone with the method ignored.
bool MatchAlone(const RoutePattern& pattern, const std::string& path, HttpHeaderMap* arguments) {
  RouteMatch match;
  match.path = path;
  const bool matched = MatchRoutes(match, {&pattern, 1}, true);
  if (arguments != nullptr) {
    *arguments = match.pathArguments;
  }
  return matched;
}

// --- Building patterns ---

TEST(BuildRoutePattern, LiteralsExpressionsAndPlaceholders) {
  using K = RoutePlaceholderKind;
  const struct {
    std::string uriTemplate;
    std::string expression;  // empty: a literal pattern
    std::vector<std::pair<RoutePlaceholderKind, std::string>> placeholders;
  } cases[] = {
      // Without "{" a template is a literal path, whatever else it holds.
      {"/kor-geoinfo/v1/whereami", "", {}},
      {"/v1.0/x", "", {}},
      {"", "", {}},
      {"/a}b", "", {}},
      {"/(a)*", "", {}},
      {"/a/{id}/b", "/a/([^/]*)/b", {{K::Segment, "id"}}},
      {"/files/{+path}", "/files/(.*)", {{K::Rest, "path"}}},
      {"/doc{#frag}", "/doc#(.*)", {{K::Fragment, "frag"}}},
      {"/v1.0/{x}", "/v1\\.0/([^/]*)", {{K::Segment, "x"}}},
      {"^$.*+?()[]|\\{x}", "\\^\\$\\.\\*\\+\\?\\(\\)\\[\\]\\|\\\\([^/]*)", {{K::Segment, "x"}}},
      // "{" restarts state 1 but keeps the name.
      {"{a{b}", "([^/]*)", {{K::Segment, "ab"}}},
      {"{+{x}", "([^/]*)", {{K::Segment, "x"}}},
      {"{{+x}", "(.*)", {{K::Rest, "x"}}},
      // "+" and "#" only switch the kind before the name starts.
      {"{x+#}", "([^/]*)", {{K::Segment, "x+#"}}},
      {"{++x}", "(.*)", {{K::Rest, "+x"}}},
      {"{#+x}", "#(.*)", {{K::Fragment, "+x"}}},
      {"{}", "([^/]*)", {{K::Segment, ""}}},
      {"{#}", "#(.*)", {{K::Fragment, ""}}},
      // "}" outside braces: a placeholder of kind 0 without a group.
      {"/a}/{x}", "/a/([^/]*)", {{K::None, ""}, {K::Segment, "x"}}},
      // An unclosed brace emits nothing, and its name is lost.
      {"/a/{x", "/a/", {}},
      {"/{a}/{b}{+c}",
       "/([^/]*)/([^/]*)(.*)",
       {{K::Segment, "a"}, {K::Segment, "b"}, {K::Rest, "c"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uriTemplate);
    const RoutePattern pattern = BuildRoutePattern(nullptr, nullptr, c.uriTemplate);
    EXPECT_EQ(pattern.literalPath, c.expression.empty() ? c.uriTemplate : "");
    ASSERT_EQ(pattern.expression.has_value(), !c.expression.empty());
    if (pattern.expression) {
      EXPECT_EQ(RouteExpressionText(*pattern.expression), c.expression);
    }
    std::vector<std::pair<RoutePlaceholderKind, std::string>> placeholders;
    for (const RoutePlaceholder& placeholder : pattern.placeholders) {
      placeholders.emplace_back(placeholder.kind, placeholder.name);
    }
    EXPECT_EQ(placeholders, c.placeholders);
  }
}

// --- Matching one pattern ---

TEST(MatchRoutes, PathsAndArguments) {
  const struct {
    std::string uriTemplate;
    std::string path;
    bool matches;
    HttpHeaderMap arguments;
  } cases[] = {
      {"/a/{id}/b", "/a/x%20y/b", true, {{"id", "x y"}}},
      {"/a/{id}/b", "/a/x/y/b", false, {}},
      {"/files/{+path}", "/files/a/b/c", true, {{"path", "a/b/c"}}},
      {"/doc{#frag}", "/doc#top", true, {{"frag", "top"}}},
      {"/doc{#frag}", "/doc", false, {}},
      {"/doc{#frag}", "/doc#", true, {{"frag", ""}}},
      {"/v1.0/x", "/v1.0/x", true, {}},
      {"/v1.0/x", "/v1a0/x", false, {}},
      {"/v1.0/x", "/v1.0/x?a=1", false, {}},
      {"/v1.0/x", "/v1.0/x/", false, {}},
      {"/v1.0/{x}", "/v1a0/y", false, {}},
      {"/v1.0/{x}", "/v1.0/y", true, {{"x", "y"}}},
      // A query is just more path to an expression: the segment group takes it.
      {"/items/{id}", "/items/7?a=1", true, {{"id", "7?a=1"}}},
      {"/items/{id}/x", "/items/7?a=/x", true, {{"id", "7?a="}}},
      {"/items/{id}/x", "/items/7/x?a=1", false, {}},
      {"", "", false, {}},
      {"", "/", false, {}},
      // Greedy from the left: the first group takes what the rest leaves.
      {"/{a}{b}", "/xy", true, {{"a", "xy"}, {"b", ""}}},
      {"{+a}/{b}", "x/y/z", true, {{"a", "x/y"}, {"b", "z"}}},
      {"{+a}{+b}", "x/y", true, {{"a", "x/y"}, {"b", ""}}},
      {"/{a}/{+b}", "//", true, {{"a", ""}, {"b", ""}}},
      // A later placeholder of the same name wins.
      {"/a/{x}/{x}", "/a/1/2", true, {{"x", "2"}}},
      // The group after a "}" outside braces takes the empty name of placeholder 0.
      {"/a}/{x}", "/a/v", true, {{"", "v"}}},
      // "." stops at line terminators; "[^/]" does not.
      {"/files/{+p}", "/files/a\nb", false, {}},
      {"/files/{+p}", "/files/a\rb", false, {}},
      {"/a/{x}", "/a/x\ny", true, {{"x", "x\ny"}}},
      {"/a/{x}", "/a/%2F", true, {{"x", "/"}}},
      {"/a/{x}", "/a/a+b", true, {{"x", "a b"}}},
      {"/a/{x", "/a/", true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uriTemplate + " against " + Printable(c.path));
    const RoutePattern pattern = BuildRoutePattern(nullptr, nullptr, c.uriTemplate);
    HttpHeaderMap arguments;
    EXPECT_EQ(MatchAlone(pattern, c.path, &arguments), c.matches);
    if (c.matches) {
      EXPECT_EQ(arguments, c.arguments);
    }
  }
}

// Templates compared with std::regex: the same expression text and placeholders as the
// oracle's, the same match result and captures on every path, and through MatchRoutes each
// group decoded under its placeholder's name (later ones win). Returns the number of matches.
std::size_t CompareWithOracle(const std::string& uriTemplate,
                              const std::vector<std::string>& paths) {
  SCOPED_TRACE("template " + Printable(uriTemplate));
  const OracleExpression oracle = OracleBuild(uriTemplate);
  const RoutePattern pattern = BuildRoutePattern(nullptr, nullptr, uriTemplate);
  EXPECT_EQ(pattern.expression.has_value(), !oracle.literal);
  std::vector<std::pair<uint32_t, std::string>> placeholders;
  for (const RoutePlaceholder& placeholder : pattern.placeholders) {
    placeholders.emplace_back(static_cast<uint32_t>(placeholder.kind), placeholder.name);
  }
  EXPECT_EQ(placeholders, oracle.placeholders);
  if (oracle.literal || !pattern.expression) {
    EXPECT_EQ(pattern.literalPath, oracle.text);
    return 0;
  }
  EXPECT_EQ(RouteExpressionText(*pattern.expression), oracle.text);
  const std::regex expression(oracle.text, std::regex::ECMAScript);
  std::size_t matches = 0;
  for (const std::string& path : paths) {
    SCOPED_TRACE("path " + Printable(path));
    std::smatch oracleMatch;
    const bool oracleMatched = std::regex_match(path, oracleMatch, expression);
    std::vector<std::string_view> groups;
    EXPECT_EQ(MatchRouteExpression(*pattern.expression, path, &groups), oracleMatched);
    if (!oracleMatched) {
      continue;
    }
    ++matches;
    // A group that took part in no match captured nothing, which reads as empty.
    std::vector<std::string> expected;
    HttpHeaderMap expectedArguments;
    for (std::size_t index = 1; index < oracleMatch.size(); ++index) {
      expected.push_back(oracleMatch[index].matched ? oracleMatch[index].str() : std::string());
      expectedArguments[oracle.placeholders[index - 1].second] = PercentDecode(expected.back());
    }
    EXPECT_EQ(std::vector<std::string>(groups.begin(), groups.end()), expected);
    HttpHeaderMap arguments;
    EXPECT_TRUE(MatchAlone(pattern, path, &arguments));
    EXPECT_EQ(arguments, expectedArguments);
  }
  return matches;
}

TEST(MatchRoutes, AgreesWithStdRegex) {
  // Fixed cases where the greedy split between groups is easy to get wrong.
  const std::vector<std::pair<std::string, std::string>> fixed = {
      {"/{a}{+b}", "/x/y"},   {"{+a}#{b}", "a#b#c"},       {"{#a}{#b}", "#x#y#z"},
      {"/{a}.{b}", "/a.b.c"}, {"{+a}{b}{+c}", "ab/cd/ef"}, {"{a}\n{+b}", "x\ny\nz"},
  };
  for (const auto& [uriTemplate, path] : fixed) {
    EXPECT_EQ(CompareWithOracle(uriTemplate, {path}), 1u);
  }

  // Generated templates, each with random paths and paths made from the template with its
  // placeholders filled in (so that a good share of them match).
  const std::vector<std::string> templatePieces = {
      "/",    "a",    "b",  "#", ".", "+",     "*",     "?",    "(",     ")",   "[",
      "]",    "|",    "\\", "^", "$", "\n",    "%",     "-",    "\xC3",  "{x}", "{y}",
      "{+r}", "{#f}", "{}", "{", "}", "{a{b}", "{+{s}", "{x+}", "/{x}/", "{#}"};
  const std::vector<std::string> pathPieces = {"/", "a", "b", "#",  "\n", "\r",   "%", "%2", "%41",
                                               "+", ".", "",  "ab", "//", "\xC3", "*", "x"};
  std::mt19937 random(20240611);
  auto pick = [&random](const std::vector<std::string>& from) {
    return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(random)];
  };
  std::size_t matches = 0;
  std::size_t total = 0;
  for (int round = 0; round < 1000 && !HasFailure(); ++round) {
    std::string uriTemplate;
    for (int index = std::uniform_int_distribution<int>(0, 6)(random); index > 0; --index) {
      uriTemplate += pick(templatePieces);
    }
    std::vector<std::string> paths;
    for (int index = 0; index < 12; ++index) {
      std::string path;
      for (int piece = std::uniform_int_distribution<int>(0, 5)(random); piece > 0; --piece) {
        path += pick(pathPieces);
      }
      paths.push_back(path);
      std::string filled;
      bool inside = false;
      for (const char c : uriTemplate) {
        if (c == '{') {
          inside = true;
        } else if (c == '}') {
          if (inside) {
            filled += pick(pathPieces) + pick(pathPieces);
          }
          inside = false;
        } else if (!inside) {
          filled += c;
        }
      }
      paths.push_back(filled);
    }
    matches += CompareWithOracle(uriTemplate, paths);
    total += uriTemplate.find('{') == std::string::npos ? 0 : paths.size();
  }
  // The generator must exercise both outcomes.
  EXPECT_GT(matches, total / 10);
  EXPECT_LT(matches, total);
}

// A host may send a path of a megabyte; std::regex's recursive executor would overflow the
// stack on it. These must be quick as well as correct.
TEST(MatchRoutes, LongPathsNeitherCrashNorCrawl) {
  const std::size_t megabyte = 1u << 20;
  const auto started = std::chrono::steady_clock::now();

  const RoutePattern files = BuildRoutePattern(nullptr, nullptr, "/files/{+path}");
  std::string tail;
  tail.reserve(megabyte);
  for (std::size_t index = 0; tail.size() < megabyte; ++index) {
    tail += (index % 7 == 6) ? '/' : 'a';
  }
  HttpHeaderMap arguments;
  ASSERT_TRUE(MatchAlone(files, "/files/" + tail, &arguments));
  EXPECT_EQ(arguments["path"], tail);
  EXPECT_FALSE(MatchAlone(files, "/files/" + tail + "\n", nullptr));
  EXPECT_FALSE(MatchAlone(files, "/filez/" + tail, nullptr));

  const RoutePattern pair = BuildRoutePattern(nullptr, nullptr, "/a/{x}/{y}");
  const std::string segment(megabyte, 'x');
  ASSERT_TRUE(MatchAlone(pair, "/a/" + segment + "/y", &arguments));
  EXPECT_EQ(arguments["x"], segment);
  EXPECT_EQ(arguments["y"], "y");
  ASSERT_TRUE(MatchAlone(pair, "/a/b/" + segment, &arguments));
  EXPECT_EQ(arguments["y"], segment);
  EXPECT_FALSE(MatchAlone(pair, "/a/" + std::string(megabyte, '/'), nullptr));
  EXPECT_FALSE(MatchAlone(pair, "/a/" + tail, nullptr));

  const RoutePattern many = BuildRoutePattern(nullptr, nullptr, "/{a}{b}{c}{+d}x");
  EXPECT_FALSE(MatchAlone(many, "/" + std::string(megabyte, 'x') + "y", nullptr));
  ASSERT_TRUE(MatchAlone(many, "/" + std::string(megabyte, 'x'), &arguments));
  EXPECT_EQ(arguments["a"].size(), megabyte - 1);

  const auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count(), 20);
}

// --- Matching lists: methods and ties ---

TEST(MatchRoutes, EndpointMethodMustAllowTheRequest) {
  EndpointRecord any;
  EndpointRecord get;
  get.method = HttpMethod::Get;
  EndpointRecord other;
  other.method = HttpMethod::Other;
  other.methodName = "PURGE";
  struct Case {
    const EndpointRecord* endpoint;
    HttpMethod method;
    std::string methodName;
    bool ignoreMethod;
    bool matches;
  };
  const std::vector<Case> cases = {
      {&any, HttpMethod::Post, "", false, true},
      {&any, HttpMethod::None, "", false, true},
      {&get, HttpMethod::Get, "", false, true},
      {&get, HttpMethod::Post, "", false, false},
      {&get, HttpMethod::Post, "", true, true},
      {&other, HttpMethod::Other, "PURGE", false, true},
      {&other, HttpMethod::Other, "LOCK", false, false},
      {&other, HttpMethod::Other, "", false, false},
      {&other, HttpMethod::Get, "", false, false},
      {nullptr, HttpMethod::Put, "", false, true},
  };
  for (const Case& c : cases) {
    const RoutePattern pattern = BuildRoutePattern(nullptr, c.endpoint, "/items/{id}");
    RouteMatch match;
    match.method = c.method;
    match.methodName = c.methodName;
    match.path = "/items/1";
    EXPECT_EQ(MatchRoutes(match, {&pattern, 1}, c.ignoreMethod), c.matches)
        << static_cast<uint32_t>(c.method) << " " << c.methodName;
    EXPECT_EQ(match.endpoint, c.matches ? c.endpoint : nullptr);
  }
}

TEST(MatchRoutes, TieRules) {
  BindingFunctionDescriptor functions[3];
  EndpointRecord endpoints[3];
  struct Case {
    std::vector<std::string> templates;
    std::string path;
    int chosen;  // index of the accepted pattern, -1 for none
    HttpHeaderMap arguments;
  };
  const std::vector<Case> cases = {
      // Equal sums: the earlier stays.
      {{"/a/{x}", "/a/{x}{y}"}, "/a/bc", 0, {{"x", "bc"}}},
      // Strictly smaller: the later replaces.
      {{"/a/{x}", "/a/b{y}"}, "/a/bc", 1, {{"y", "c"}}},
      {{"/a/b{y}", "/a/{x}"}, "/a/bc", 0, {{"y", "c"}}},
      // A match without arguments replaces one with arguments, and then stops the search.
      {{"/a/{x}", "/a/b", "/a/{y}"}, "/a/b", 1, {}},
      {{"/a/b", "/a/{x}"}, "/a/b", 0, {}},
      {{"/a/{x", "/a/{y}"}, "/a/", 0, {}},
      // An accepted match whose arguments are all empty still has arguments.
      {{"/a/{x}", "/a/{+y}"}, "/a/", 0, {{"x", ""}}},
      // Non-matching patterns are skipped.
      {{"/b/{x}", "/a/{x}"}, "/a/q", 1, {{"x", "q"}}},
      {{"/b/{x}", "/c"}, "/a/q", -1, {}},
      {{}, "/a", -1, {}},
      // Sums are over the decoded values: 3 ("AAA") against 4, where the raw text is 9.
      {{"/{x}/%41%41%41", "/bbbb/{y}"}, "/bbbb/%41%41%41", 1, {{"y", "AAA"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::vector<RoutePattern> patterns;
    for (std::size_t index = 0; index < c.templates.size(); ++index) {
      patterns.push_back(
          BuildRoutePattern(&functions[index], &endpoints[index], c.templates[index]));
    }
    RouteMatch match;
    match.method = HttpMethod::Get;
    match.path = c.path;
    EXPECT_EQ(MatchRoutes(match, patterns, false), c.chosen >= 0);
    EXPECT_EQ(match.function, c.chosen >= 0 ? &functions[c.chosen] : nullptr);
    EXPECT_EQ(match.endpoint, c.chosen >= 0 ? &endpoints[c.chosen] : nullptr);
    EXPECT_EQ(match.pathArguments, c.arguments);  // empty when nothing was accepted
    EXPECT_EQ(match.path, c.path);                // the path is left as the host gave it
  }
}

// --- Percent-decoding, operation names and normalisation ---

// A "%" with fewer than two characters after it is dropped. A non-digit counts as 16:
// (16 * 16 | low) keeps low, (high * 16 | 16) sets bit 4.
TEST(PercentDecode, Cases) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},         {"plain", "plain"}, {"a+b", "a b"},         {"%2B", "+"},
      {"x%20y", "x y"}, {"a%2", "a2"},      {"%41%62", "Ab"},       {"%", ""},
      {"%4", "4"},      {"ab%", "ab"},      {"%ff%FF", "\xFF\xFF"}, {"%00", "\0"s},
      {"%G1", "\x01"},  {"%1G", "\x10"},    {"%zz", "\x10"},        {"%%41", "\x04"s + "1"},
      {"%+1", "\x01"},  {"100%", "100"}};
  for (const auto& [text, decoded] : cases) {
    EXPECT_EQ(PercentDecode(text), decoded) << Printable(text);
  }
}

TEST(OperationName, Cases) {
  const std::vector<std::array<std::string, 3>> cases = {
      {"GET", "/kor-geoinfo/v1/whereami", "GetKorGeoinfoV1Whereami"},
      {"GET", "/items/{id}", "GetItemsById"},
      {"", "/items", "Items"},
      {"", "whereami", "Whereami"},
      {"POST", "a.b_c!d+e", "PostABCDE"},
      {"DELETE", "/x/{a}{b}", "DeleteXByAByB"},
      {"PATCH", "/{+rest}", "PatchByRest"},
      {"OPTIONS", "", "Options"},
      // "}" is dropped and leaves the flag as it is.
      {"GET", "/a}b", "GetAb"},
      {"GET", "/}b", "GetB"},
      {"gET", "/x", "GetX"},
      {"PUT", "/9lives", "Put9lives"},
      {"HEAD", "/doc{#frag}", "HeadDocBy#frag"},
  };
  for (const auto& [method, uriTemplate, name] : cases) {
    EXPECT_EQ(OperationName(method, uriTemplate), name) << method << " " << uriTemplate;
  }
}

TEST(NormalizeRouteTemplate, DropsOneFinalSlash) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"//x//", "//x/"}, {"/a/", "/a"}, {"//", "/"}, {"/", "/"},
      {"", ""},          {"/a", "/a"},  {"a/", "a"}, {"/{x}/", "/{x}"},
  };
  for (const auto& [given, normalised] : cases) {
    EXPECT_EQ(NormalizeRouteTemplate(given), normalised) << given;
  }
}

}  // namespace
}  // namespace Vexa
