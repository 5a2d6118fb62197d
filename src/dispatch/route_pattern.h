// Route patterns: an endpoint's URI template as a literal path or a regular expression with
// named placeholders, matching request paths against a list of patterns, percent-decoding,
// and the operation names under which endpoint functions are registered.
//
//   Vexa::RoutePattern pattern = Vexa::BuildRoutePattern(function, endpoint, "/items/{id}");
//   Vexa::RouteMatch match;
//   match.method = Vexa::HttpMethod::Get;
//   match.path = "/items/a%20b";
//   if (Vexa::MatchRoutes(match, {&pattern, 1}, false)) { match.pathArguments["id"] == "a b" }
//   Vexa::OperationName("GET", "/items/{id}") == "GetItemsById"
//
// Templates: "{name}" matches one path segment ("([^/]*)"), "{+name}" the rest of the path
// ("(.*)"), "{#name}" a fragment ("#(.*)"). Everything outside braces is matched literally.
// The expression must match the whole path.
//
// An endpoint builds its pattern once, when its template is set (EndpointRecord::Route), and
// every request to it is matched against that pattern.
//
// Ownership: a pattern borrows its function descriptor and endpoint record; a match borrows
// its path and method name. Threading: a built pattern is only read, by any number of
// threads; the free functions are reentrant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch/http_call.h"

namespace Vexa {

struct BindingFunctionDescriptor;
struct EndpointRecord;

enum class RoutePlaceholderKind : uint32_t { None = 0, Segment = 1, Rest = 2, Fragment = 3 };

struct RoutePlaceholder {
  RoutePlaceholderKind kind = RoutePlaceholderKind::None;
  std::string name;
};

// One piece of a compiled route expression: literal text, or a capture group of any number
// of characters of one class.
enum class RoutePieceKind : uint8_t {
  Literal = 0,  // `text`, byte for byte
  Segment = 1,  // "([^/]*)": any bytes but "/"
  Rest = 2,     // "(.*)": any bytes but the line terminators "\n" and "\r" (ECMAScript ".")
};

struct RoutePiece {
  RoutePieceKind kind = RoutePieceKind::Literal;
  std::string text;  // literal pieces only; adjacent literal text is always one piece
};

// The regular expression of a template in compiled form. The expression a template produces
// is literal text (the twelve escaped characters included) and capture groups "([^/]*)",
// "(.*)" and "#(.*)" (a literal "#" and a Rest group), so it is held as that sequence and
// matched without std::regex: with ECMAScript's leftmost, greedy backtracking semantics and
// the full-match rule, but without recursion, in time and memory linear in the path for each
// group. Group i (from 1) is the i-th non-literal piece.
struct RouteExpression {
  std::vector<RoutePiece> pieces;
  std::size_t groupCount = 0;
};

struct RoutePattern {
  const BindingFunctionDescriptor* function = nullptr;
  const EndpointRecord* endpoint = nullptr;    // method, method name and template of the route
  std::string literalPath;                     // the template when it holds no "{"; else empty
  std::optional<RouteExpression> expression;   // set when the template holds a "{"
  std::vector<RoutePlaceholder> placeholders;  // in template order
};

struct RouteMatch {
  HttpMethod method = HttpMethod::None;
  std::string_view methodName;  // the host's name for HttpMethod::Other, else empty
  std::string_view path;        // the path to route
  const BindingFunctionDescriptor* function = nullptr;  // null while nothing matched
  const EndpointRecord* endpoint = nullptr;
  HttpHeaderMap pathArguments;  // placeholder name -> decoded value
};

// Builds the pattern of `uriTemplate`. Never fails: every template yields a valid expression.
// A "}" outside braces adds a placeholder of kind None with an empty name but no group, which
// shifts the names of the later groups (group i always takes the name of placeholder i - 1).
[[nodiscard]] RoutePattern BuildRoutePattern(const BindingFunctionDescriptor* function,
                                             const EndpointRecord* endpoint,
                                             std::string_view uriTemplate);

// The ECMAScript text of the expression, as the template would have been compiled from:
// literal text with ^ $ . * + ? ( ) [ ] | and backslash escaped, "([^/]*)" and "(.*)" for the
// groups. For diagnostics and tests.
[[nodiscard]] std::string RouteExpressionText(const RouteExpression& expression);

// Whether `expression` matches the whole of `path`; on a match, when `groups` is given, it
// receives expression.groupCount views into `path`, the text of each group in order, exactly
// as std::regex_match with the ECMAScript text would capture them.
bool MatchRouteExpression(const RouteExpression& expression, std::string_view path,
                          std::vector<std::string_view>* groups);

// Whether `pattern` matches the whole of `path`: a literal pattern byte for byte, an
// expression pattern with its groups, which are then percent-decoded into `arguments` under
// their placeholders' names (a later placeholder of the same name wins). A pattern without
// either (an empty template) matches nothing.
bool MatchRoute(const RoutePattern& pattern, std::string_view path, HttpHeaderMap& arguments);

// Tries `patterns` in order against match.path and fills the match with the accepted one
// (function, endpoint, path arguments). Unless `ignoreMethod`, the endpoint must allow
// match.method and match.methodName (EndpointRecord::AllowsMethod). Among several matches a later
// one replaces the accepted one only when that has path arguments and the later one's argument
// values are strictly shorter in sum; the search stops at a match without path arguments. A pattern
// without an endpoint allows every method. False when nothing was accepted; the match's function
// and endpoint are then null and its path arguments empty.
bool MatchRoutes(RouteMatch& match, std::span<const RoutePattern> patterns, bool ignoreMethod);

// "+" becomes a space, "%XY" the byte of the two hex digits (a non-digit counts as 16, the
// byte is (high * 16 | low) truncated), a "%" with fewer than two characters after it is
// dropped. Never fails.
[[nodiscard]] std::string PercentDecode(std::string_view text);

// The name an endpoint's function is registered under: "Get" + "/" + the template, with
// "!+-./_" dropped and the next character upper-cased, "{" as "By" (upper-casing the next),
// "}" dropped. OperationName("GET", "/kor-geoinfo/v1/whereami") == "GetKorGeoinfoV1Whereami".
[[nodiscard]] std::string OperationName(std::string_view methodText, std::string_view uriTemplate);

// A declared template of two or more characters loses one final "/".
[[nodiscard]] std::string NormalizeRouteTemplate(std::string_view uriTemplate);

}  // namespace Vexa
