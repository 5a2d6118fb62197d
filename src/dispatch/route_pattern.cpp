#include "dispatch/route_pattern.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "dispatch/endpoint.h"
#include "util/format.h"
#include "util/text.h"

namespace Vexa {
namespace {

// The characters that the template's literal text escapes with a backslash.
constexpr std::string_view kEscapedCharacters = "^$.*+?()[]|\\";
// The characters that an operation name drops, upper-casing the next one.
constexpr std::string_view kNameSeparators = "!+-./_";

bool InGroupClass(RoutePieceKind kind, char c) {
  if (kind == RoutePieceKind::Segment) {
    return c != '/';
  }
  // libstdc++'s ECMAScript "." for char refuses exactly these two.
  return c != '\n' && c != '\r';
}

// Full-match of one compiled expression against one path. ECMAScript's backtracking takes,
// for the first group, the longest length that lets the rest of the expression match the
// rest of the path, then likewise for the second group, and so on. This computes, for every
// group piece i and path position p, whether pieces i.. match path[p..] to its end (one bit
// row per group, bottom-up from the last piece), and then picks each group's length greedily
// against those rows: no recursion over the path, O(groups x path length) time and bits.
class ExpressionMatcher {
 public:
  ExpressionMatcher(const RouteExpression& expression, std::string_view path)
      : pieces_(expression.pieces), path_(path) {}

  bool Match(std::vector<std::string_view>* groups) {
    if (!LiteralEndsFit()) {
      return false;
    }
    std::size_t rowCount = 0;
    rowOf_.assign(pieces_.size(), 0);
    for (std::size_t index = 0; index < pieces_.size(); ++index) {
      if (pieces_[index].kind != RoutePieceKind::Literal) {
        rowOf_[index] = rowCount++;
      }
    }
    wordsPerRow_ = path_.size() / 64 + 1;
    bits_.assign(rowCount * wordsPerRow_, 0);
    for (std::size_t index = pieces_.size(); index-- > 0;) {
      if (pieces_[index].kind != RoutePieceKind::Literal) {
        FillRow(index);
      }
    }
    if (!Matches(0, 0)) {
      return false;
    }
    if (groups != nullptr) {
      CollectGroups(*groups);
    }
    return true;
  }

 private:
  // Cheap rejection before any row is built: the literal text before the first group and
  // after the last one must stand at the ends of the path, and all literal text must fit.
  [[nodiscard]] bool LiteralEndsFit() const {
    std::size_t literalLength = 0;
    for (const RoutePiece& piece : pieces_) {
      if (piece.kind == RoutePieceKind::Literal) {
        literalLength += piece.text.size();
      }
    }
    if (literalLength > path_.size()) {
      return false;
    }
    if (pieces_.empty()) {
      return path_.empty();
    }
    const RoutePiece& first = pieces_.front();
    const RoutePiece& last = pieces_.back();
    return (first.kind != RoutePieceKind::Literal || path_.starts_with(first.text)) &&
           (last.kind != RoutePieceKind::Literal || path_.ends_with(last.text));
  }

  [[nodiscard]] bool Bit(std::size_t row, std::size_t position) const {
    return ((bits_[row * wordsPerRow_ + position / 64] >> (position % 64)) & 1u) != 0;
  }

  void SetBit(std::size_t row, std::size_t position) {
    bits_[row * wordsPerRow_ + position / 64] |= uint64_t{1} << (position % 64);
  }

  // Whether pieces[index..] match path[position..] up to the end of the path. A group piece
  // reads its row; a literal piece compares and goes on to the next piece, which is a group or
  // the end when literal text is merged (at worst one level per adjacent literal piece).
  [[nodiscard]] bool Matches(std::size_t index, std::size_t position) const {
    if (index == pieces_.size()) {
      return position == path_.size();
    }
    const RoutePiece& piece = pieces_[index];
    if (piece.kind != RoutePieceKind::Literal) {
      return Bit(rowOf_[index], position);
    }
    const std::size_t length = piece.text.size();
    return path_.size() - position >= length && path_.compare(position, length, piece.text) == 0 &&
           Matches(index + 1, position + length);
  }

  void FillRow(std::size_t index) {
    const RoutePieceKind kind = pieces_[index].kind;
    const std::size_t row = rowOf_[index];
    const std::size_t length = path_.size();
    bool next = Matches(index + 1, length);
    if (next) {
      SetBit(row, length);
    }
    for (std::size_t position = length; position-- > 0;) {
      next = Matches(index + 1, position) || (next && InGroupClass(kind, path_[position]));
      if (next) {
        SetBit(row, position);
      }
    }
  }

  // Walks the pieces once more, giving each group the longest length after which the rest
  // still matches. Matches(0, 0) holds, so such a length always exists.
  void CollectGroups(std::vector<std::string_view>& groups) const {
    groups.clear();
    std::size_t position = 0;
    for (std::size_t index = 0; index < pieces_.size(); ++index) {
      const RoutePiece& piece = pieces_[index];
      if (piece.kind == RoutePieceKind::Literal) {
        position += piece.text.size();
        continue;
      }
      std::size_t end = position;
      while (end < path_.size() && InGroupClass(piece.kind, path_[end])) {
        ++end;
      }
      while (end > position && !Matches(index + 1, end)) {
        --end;
      }
      groups.push_back(path_.substr(position, end - position));
      position = end;
    }
  }

  const std::vector<RoutePiece>& pieces_;
  std::string_view path_;
  std::vector<std::size_t> rowOf_;  // the row of each group piece
  std::size_t wordsPerRow_ = 0;
  // Row r, bit p: the pieces from the r-th group on match path[p..] to its end.
  std::vector<uint64_t> bits_;
};

void AppendLiteral(RouteExpression& expression, char c) {
  if (expression.pieces.empty() || expression.pieces.back().kind != RoutePieceKind::Literal) {
    expression.pieces.push_back(RoutePiece{RoutePieceKind::Literal, {}});
  }
  expression.pieces.back().text += c;
}

void AppendGroup(RouteExpression& expression, RoutePieceKind kind) {
  expression.pieces.push_back(RoutePiece{kind, {}});
  ++expression.groupCount;
}

std::size_t ArgumentLengthSum(const HttpHeaderMap& arguments) {
  std::size_t sum = 0;
  for (const auto& [name, value] : arguments) {
    sum += value.size();
  }
  return sum;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return 16;
}

}  // namespace

RoutePattern BuildRoutePattern(const BindingFunctionDescriptor* function,
                               const EndpointRecord* endpoint, std::string_view uriTemplate) {
  RoutePattern pattern;
  pattern.function = function;
  pattern.endpoint = endpoint;
  if (uriTemplate.find('{') == std::string_view::npos) {
    pattern.literalPath = std::string(uriTemplate);
    return pattern;
  }
  RouteExpression& expression = pattern.expression.emplace();
  uint32_t state = 0;
  std::string name;
  for (const char c : uriTemplate) {
    if (c == '{') {
      state = 1;  // the name is kept: "{a{b}" names its placeholder "ab"
    } else if (c == '}') {
      switch (state) {
        case 1:
          AppendGroup(expression, RoutePieceKind::Segment);
          break;
        case 2:
          AppendGroup(expression, RoutePieceKind::Rest);
          break;
        case 3:
          AppendLiteral(expression, '#');
          AppendGroup(expression, RoutePieceKind::Rest);
          break;
        default:
          break;  // outside braces: a placeholder without a group
      }
      pattern.placeholders.push_back(
          RoutePlaceholder{static_cast<RoutePlaceholderKind>(state), std::move(name)});
      name.clear();
      state = 0;
    } else if (state != 0) {
      if (state == 1 && name.empty() && c == '+') {
        state = 2;
      } else if (state == 1 && name.empty() && c == '#') {
        state = 3;
      } else {
        name += c;
      }
    } else {
      AppendLiteral(expression, c);
    }
  }
  return pattern;
}

std::string RouteExpressionText(const RouteExpression& expression) {
  std::string text;
  for (const RoutePiece& piece : expression.pieces) {
    switch (piece.kind) {
      case RoutePieceKind::Literal:
        for (const char c : piece.text) {
          if (kEscapedCharacters.find(c) != std::string_view::npos) {
            text += '\\';
          }
          text += c;
        }
        break;
      case RoutePieceKind::Segment:
        text += "([^/]*)";
        break;
      case RoutePieceKind::Rest:
        text += "(.*)";
        break;
    }
  }
  return text;
}

bool MatchRouteExpression(const RouteExpression& expression, std::string_view path,
                          std::vector<std::string_view>* groups) {
  return ExpressionMatcher(expression, path).Match(groups);
}

bool MatchRoute(const RoutePattern& pattern, std::string_view path, HttpHeaderMap& arguments) {
  if (!pattern.literalPath.empty()) {
    return path == pattern.literalPath;
  }
  if (!pattern.expression.has_value()) {
    return false;
  }
  std::vector<std::string_view> groups;
  if (!MatchRouteExpression(*pattern.expression, path, &groups)) {
    return false;
  }
  for (std::size_t index = 0; index < groups.size() && index < pattern.placeholders.size();
       ++index) {
    arguments.insert_or_assign(pattern.placeholders[index].name, PercentDecode(groups[index]));
  }
  return true;
}

bool MatchRoutes(RouteMatch& match, std::span<const RoutePattern> patterns, bool ignoreMethod) {
  const RoutePattern* accepted = nullptr;
  std::size_t acceptedSum = 0;
  // Maps are only cleared when they hold something: a literal route never touches them.
  if (!match.pathArguments.empty()) {
    match.pathArguments.clear();
  }
  HttpHeaderMap arguments;  // the pattern's being tried; swapped with the accepted ones
  for (const RoutePattern& pattern : patterns) {
    if (!ignoreMethod && pattern.endpoint != nullptr &&
        !pattern.endpoint->AllowsMethod(match.method, match.methodName)) {
      continue;
    }
    if (!arguments.empty()) {
      arguments.clear();
    }
    if (!MatchRoute(pattern, match.path, arguments)) {
      continue;
    }
    const std::size_t sum = ArgumentLengthSum(arguments);
    if (accepted == nullptr || (!match.pathArguments.empty() && sum < acceptedSum)) {
      accepted = &pattern;
      match.pathArguments.swap(arguments);
      acceptedSum = sum;
    }
    if (match.pathArguments.empty()) {
      break;  // nothing can replace a match without path arguments
    }
  }
  match.function = accepted != nullptr ? accepted->function : nullptr;
  match.endpoint = accepted != nullptr ? accepted->endpoint : nullptr;
  return accepted != nullptr;
}

std::string PercentDecode(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t index = 0; index < text.size(); ++index) {
    // Plain runs are copied whole.
    const std::size_t special = std::min(text.find_first_of("%+", index), text.size());
    decoded.append(text.substr(index, special - index));
    index = special;
    if (index == text.size()) {
      break;
    }
    if (text[index] == '+') {
      decoded += ' ';
    } else if (text.size() - index > 2) {
      const int byte = (HexValue(text[index + 1]) * 16) | HexValue(text[index + 2]);
      decoded += static_cast<char>(static_cast<unsigned char>(byte & 0xFF));
      index += 2;
    }
    // A "%" with fewer than two characters after it is dropped; they are copied as they come.
  }
  return decoded;
}

std::string OperationName(std::string_view methodText, std::string_view uriTemplate) {
  std::string combined;
  if (!methodText.empty()) {
    combined = Format("%1%2/", methodText.substr(0, 1), ToLower(methodText.substr(1)));
  }
  combined += uriTemplate;
  std::string name;
  name.reserve(combined.size() + 8);
  bool capitalise = true;
  for (const char c : combined) {
    if (kNameSeparators.find(c) != std::string_view::npos) {
      capitalise = true;
    } else if (c == '{') {
      name += "By";
      capitalise = true;
    } else if (c == '}') {
      // dropped; the flag stays as it is
    } else if (capitalise) {
      name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      capitalise = false;
    } else {
      name += c;
    }
  }
  return name;
}

std::string NormalizeRouteTemplate(std::string_view uriTemplate) {
  if (uriTemplate.size() >= 2 && uriTemplate.back() == '/') {
    uriTemplate.remove_suffix(1);
  }
  return std::string(uriTemplate);
}

}  // namespace Vexa
