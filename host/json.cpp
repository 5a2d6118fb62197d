#include "json.h"

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace VexaHost {
namespace {

// The offset where `text` opens its (kMaxJsonDepth + 1)th nested array or object, or npos.
// Checked before parsing: the parser, the document's destructor and every writer recurse once
// per level, and a body of a few hundred kilobytes of "[" would overflow a thread's stack.
std::size_t TooDeepAt(std::string_view text) {
  int depth = 0;
  bool inString = false;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (inString) {
      at += c == '\\';  // an escaped character is never the closing quote
      inString = c != '"';
    } else if (c == '"') {
      inString = true;
    } else if ((c == '[' || c == '{') && ++depth > kMaxJsonDepth) {
      return at;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return std::string_view::npos;
}

}  // namespace

ParsedJson ParseJson(std::string_view text) {
  ParsedJson parsed;
  if (const std::size_t at = TooDeepAt(text); at != std::string_view::npos) {
    parsed.document.SetNull();
    parsed.error = "The document nests deeper than " + std::to_string(kMaxJsonDepth) +
                   " levels. (at offset " + std::to_string(at) + ")";
    return parsed;
  }
  rapidjson::MemoryStream stream(text.data(), text.size());
  // Texts must be UTF-8: what is read here is written back out as JSON.
  parsed.document
      .ParseStream<rapidjson::kParseStopWhenDoneFlag | rapidjson::kParseValidateEncodingFlag>(
          stream);
  if (parsed.document.HasParseError()) {
    parsed.error = rapidjson::GetParseError_En(parsed.document.GetParseError());
    parsed.error += " (at offset " + std::to_string(parsed.document.GetErrorOffset()) + ")";
    return parsed;
  }
  // kParseStopWhenDoneFlag reads one value; anything but white space after it is an error.
  const std::size_t end = stream.Tell();
  if (text.find_first_not_of(" \t\r\n", end) != std::string_view::npos) {
    parsed.document.SetNull();
    parsed.error = "The document root must not be followed by other values. (at offset " +
                   std::to_string(end) + ")";
  }
  return parsed;
}

std::string JsonText(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string JsonQuoted(std::string_view text) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
  return std::string(buffer.GetString(), buffer.GetSize());
}

void MergePatch(rapidjson::Value& target, const rapidjson::Value& patch,
                rapidjson::Document::AllocatorType& allocator) {
  if (!patch.IsObject()) {
    target.CopyFrom(patch, allocator);
    return;
  }
  if (!target.IsObject()) {
    target.SetObject();
  }
  for (const auto& member : patch.GetObject()) {
    auto found = target.FindMember(member.name);
    if (member.value.IsNull()) {
      if (found != target.MemberEnd()) {
        target.RemoveMember(found);
      }
    } else if (found != target.MemberEnd()) {
      MergePatch(found->value, member.value, allocator);
    } else {
      rapidjson::Value name(member.name, allocator);
      rapidjson::Value value;
      MergePatch(value, member.value, allocator);
      target.AddMember(name, value, allocator);
    }
  }
}

}  // namespace VexaHost
