// JSON as the host speaks it: RapidJSON documents, read strictly and written compactly.
#pragma once

#include <rapidjson/document.h>

#include <string>
#include <string_view>

namespace VexaHost {

using Json = rapidjson::Document;

// A parsed document, or the parser's own message and the offset where it stopped.
struct ParsedJson {
  Json document;
  std::string error;  // empty on success
  bool Ok() const { return error.empty(); }
};

// The deepest nesting of arrays and objects that ParseJson reads.
inline constexpr int kMaxJsonDepth = 64;

// Parses `text`, which need not be NUL-terminated, as one UTF-8 JSON document nested at most
// kMaxJsonDepth deep. On failure `error` reads "<RapidJSON's English message> (at offset <n>)"
// and the document is null.
ParsedJson ParseJson(std::string_view text);

// Compact JSON text of `value`.
std::string JsonText(const rapidjson::Value& value);

// A JSON string literal (quotes included) of `text`, escaped as JSON requires.
std::string JsonQuoted(std::string_view text);
// The same, appended to `out`.
void AppendJsonQuoted(std::string& out, std::string_view text);

// Applies a JSON merge patch: members of an object `patch` replace the target's, null members
// remove them, nested objects merge; any other `patch` replaces `target` whole. `allocator`
// is the target document's.
void MergePatch(rapidjson::Value& target, const rapidjson::Value& patch,
                rapidjson::Document::AllocatorType& allocator);

}  // namespace VexaHost
