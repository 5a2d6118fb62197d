#include "dispatch/route_pattern.h"

#include <gtest/gtest.h>

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

// Whether the oracle matches, and its groups (empty when a group matched nothing).
bool OracleMatch(const std::regex& expression, const std::string& path,
                 std::vector<std::string>& groups) {
  std::smatch match;
  if (!std::regex_match(path, match, expression)) {
    return false;
  }
  groups.clear();
  for (std::size_t index = 1; index < match.size(); ++index) {
    groups.push_back(match[index].matched ? match[index].str() : std::string());
  }
  return true;
}

std::string Printable(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    if (c == '\n') {
      shown += "\\n";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
      static const char kHex[] = "0123456789ABCDEF";
      shown += "\\x";
      shown += kHex[static_cast<unsigned char>(c) >> 4];
      shown += kHex[static_cast<unsigned char>(c) & 15];
    } else {
      shown += c;
    }
  }
  return shown;
}

std::vector<std::string> ToStrings(const std::vector<std::string_view>& views) {
  return {views.begin(), views.end()};
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

TEST(BuildRoutePattern, TemplatesWithoutBracesAreLiteral) {
  for (const std::string& uriTemplate :
       {"/kor-geoinfo/v1/whereami"s, "/v1.0/x"s, ""s, "/"s, "/a}b"s, "/(a)*"s}) {
    const RoutePattern pattern = BuildRoutePattern(nullptr, nullptr, uriTemplate);
    EXPECT_EQ(pattern.literalPath, uriTemplate);
    EXPECT_FALSE(pattern.expression.has_value()) << uriTemplate;
    EXPECT_TRUE(pattern.placeholders.empty()) << uriTemplate;
  }
}

TEST(BuildRoutePattern, ExpressionsAndPlaceholders) {
  struct Case {
    std::string uriTemplate;
    std::string expression;
    std::vector<std::pair<RoutePlaceholderKind, std::string>> placeholders;
  };
  using K = RoutePlaceholderKind;
  const std::vector<Case> cases = {
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
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uriTemplate);
    const RoutePattern pattern = BuildRoutePattern(nullptr, nullptr, c.uriTemplate);
    EXPECT_TRUE(pattern.literalPath.empty());
    ASSERT_TRUE(pattern.expression.has_value());
    EXPECT_EQ(RouteExpressionText(*pattern.expression), c.expression);
    std::vector<std::pair<RoutePlaceholderKind, std::string>> placeholders;
    for (const RoutePlaceholder& placeholder : pattern.placeholders) {
      placeholders.emplace_back(placeholder.kind, placeholder.name);
    }
    EXPECT_EQ(placeholders, c.placeholders);
  }
}

TEST(BuildRoutePattern, KeepsFunctionAndEndpoint) {
  BindingFunctionDescriptor function;
  EndpointRecord endpoint;
  const RoutePattern pattern = BuildRoutePattern(&function, &endpoint, "/x/{y}");
  EXPECT_EQ(pattern.function, &function);
  EXPECT_EQ(pattern.endpoint, &endpoint);
}

// --- Matching one pattern ---

struct MatchCase {
  std::string uriTemplate;
  std::string path;
  bool matches;
  HttpHeaderMap arguments;
};

void CheckMatches(const std::vector<MatchCase>& cases) {
  for (const MatchCase& c : cases) {
    SCOPED_TRACE(c.uriTemplate + " against " + Printable(c.path));
    const RoutePattern pattern = BuildRoutePattern(nullptr, nullptr, c.uriTemplate);
    HttpHeaderMap arguments;
    EXPECT_EQ(MatchAlone(pattern, c.path, &arguments), c.matches);
    if (c.matches) {
      EXPECT_EQ(arguments, c.arguments);
    }
  }
}

TEST(MatchRoutes, EdgeCasesOfThePart) {
  CheckMatches({
      {"/a/{id}/b", "/a/x%20y/b", true, {{"id", "x y"}}},
      {"/a/{id}/b", "/a/x/y/b", false, {}},
      {"/files/{+path}", "/files/a/b/c", true, {{"path", "a/b/c"}}},
      {"/doc{#frag}", "/doc#top", true, {{"frag", "top"}}},
      {"/doc{#frag}", "/doc", false, {}},
      {"/doc{#frag}", "/doc#", true, {{"frag", ""}}},
  });
}

TEST(MatchRoutes, LiteralPathsAndQueries) {
  CheckMatches({
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
  });
}

TEST(MatchRoutes, GroupsAndNames) {
  CheckMatches({
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
  });
}

TEST(MatchRoutes, CapturesAreTheOraclesOnFixedCases) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/{a}{+b}", "/x/y"},   {"{+a}#{b}", "a#b#c"},       {"{#a}{#b}", "#x#y#z"},
      {"/{a}.{b}", "/a.b.c"}, {"{+a}{b}{+c}", "ab/cd/ef"}, {"{a}\n{+b}", "x\ny\nz"},
  };
  for (const auto& [uriTemplate, path] : cases) {
    SCOPED_TRACE(Printable(uriTemplate) + " against " + Printable(path));
    const OracleExpression oracle = OracleBuild(uriTemplate);
    const std::regex expression(oracle.text, std::regex::ECMAScript);
    std::vector<std::string> expected;
    const bool oracleMatched = OracleMatch(expression, path, expected);
    const RoutePattern pattern = BuildRoutePattern(nullptr, nullptr, uriTemplate);
    std::vector<std::string_view> groups;
    ASSERT_EQ(MatchRouteExpression(*pattern.expression, path, &groups), oracleMatched);
    if (oracleMatched) {
      EXPECT_EQ(ToStrings(groups), expected);
    }
  }
}

// Generated templates and short paths, compared with std::regex: the same match result and
// the same captures, and the same expression text and placeholders as the oracle's.
TEST(MatchRoutes, AgreesWithStdRegexOnGeneratedTemplates) {
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
  for (int round = 0; round < 1500; ++round) {
    std::string uriTemplate;
    const int length = std::uniform_int_distribution<int>(0, 6)(random);
    for (int index = 0; index < length; ++index) {
      uriTemplate += pick(templatePieces);
    }
    SCOPED_TRACE("template " + Printable(uriTemplate));
    const OracleExpression oracle = OracleBuild(uriTemplate);
    const RoutePattern pattern = BuildRoutePattern(nullptr, nullptr, uriTemplate);
    ASSERT_EQ(pattern.expression.has_value(), !oracle.literal);
    ASSERT_EQ(pattern.placeholders.size(), oracle.placeholders.size());
    for (std::size_t index = 0; index < oracle.placeholders.size(); ++index) {
      EXPECT_EQ(static_cast<uint32_t>(pattern.placeholders[index].kind),
                oracle.placeholders[index].first);
      EXPECT_EQ(pattern.placeholders[index].name, oracle.placeholders[index].second);
    }
    if (oracle.literal) {
      EXPECT_EQ(pattern.literalPath, oracle.text);
      continue;
    }
    ASSERT_EQ(RouteExpressionText(*pattern.expression), oracle.text);
    const std::regex expression(oracle.text, std::regex::ECMAScript);

    // Random paths, and paths made from the template with its placeholders filled in (so
    // that a good share of them match).
    std::vector<std::string> paths;
    for (int index = 0; index < 12; ++index) {
      std::string path;
      const int pieces = std::uniform_int_distribution<int>(0, 5)(random);
      for (int piece = 0; piece < pieces; ++piece) {
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
    for (const std::string& path : paths) {
      SCOPED_TRACE("path " + Printable(path));
      std::vector<std::string> expected;
      const bool oracleMatched = OracleMatch(expression, path, expected);
      std::vector<std::string_view> groups;
      ASSERT_EQ(MatchRouteExpression(*pattern.expression, path, &groups), oracleMatched);
      ++total;
      if (!oracleMatched) {
        continue;
      }
      ++matches;
      ASSERT_EQ(ToStrings(groups), expected);
      // Through MatchRoutes: each group decoded under its placeholder's name, later ones win.
      HttpHeaderMap expectedArguments;
      for (std::size_t index = 0; index < expected.size(); ++index) {
        expectedArguments[oracle.placeholders[index].second] = PercentDecode(expected[index]);
      }
      HttpHeaderMap arguments;
      ASSERT_TRUE(MatchAlone(pattern, path, &arguments));
      EXPECT_EQ(arguments, expectedArguments);
    }
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
    ASSERT_EQ(MatchRoutes(match, patterns, false), c.chosen >= 0);
    if (c.chosen >= 0) {
      EXPECT_EQ(match.function, &functions[c.chosen]);
      EXPECT_EQ(match.endpoint, &endpoints[c.chosen]);
      EXPECT_EQ(match.pathArguments, c.arguments);
    } else {
      EXPECT_EQ(match.function, nullptr);
      EXPECT_EQ(match.endpoint, nullptr);
      EXPECT_TRUE(match.pathArguments.empty());
    }
    EXPECT_EQ(match.path, c.path);  // the path is left as the host gave it
  }
}

// --- Percent-decoding ---

TEST(PercentDecode, Cases) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"plain", "plain"},
      {"a+b", "a b"},
      {"%2B", "+"},
      {"x%20y", "x y"},
      {"a%2", "a2"},
      {"%41%62", "Ab"},
      {"%", ""},
      {"%4", "4"},
      {"ab%", "ab"},
      {"%ff%FF", "\xFF\xFF"},
      {"%00", "\0"s},
      // A non-digit counts as 16: (16 * 16 | low) keeps low, (high * 16 | 16) sets bit 4.
      {"%G1", "\x01"},
      {"%1G", "\x10"},
      {"%zz", "\x10"},
      {"%%41",
       "\x04"
       "1"},
      {"%+1", "\x01"},
      {"100%", "100"},
  };
  for (const auto& [text, decoded] : cases) {
    EXPECT_EQ(PercentDecode(text), decoded) << Printable(text);
  }
}

// --- Operation names and normalisation ---

TEST(OperationName, Cases) {
  struct Case {
    std::string method;
    std::string uriTemplate;
    std::string name;
  };
  const std::vector<Case> cases = {
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
  for (const Case& c : cases) {
    EXPECT_EQ(OperationName(c.method, c.uriTemplate), c.name) << c.method << " " << c.uriTemplate;
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
