#include "json.h"

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace VexaHost {

ParsedJson ParseJson(std::string_view text) {
  ParsedJson parsed;
  rapidjson::MemoryStream stream(text.data(), text.size());
  parsed.document.ParseStream<rapidjson::kParseStopWhenDoneFlag>(stream);
  if (parsed.document.HasParseError()) {
    parsed.error = rapidjson::GetParseError_En(parsed.document.GetParseError());
    parsed.error += " (at offset " + std::to_string(parsed.document.GetErrorOffset()) + ")";
    return parsed;
  }
  // kParseStopWhenDoneFlag reads one value; anything but white space after it is an error.
  const std::size_t end = stream.Tell();
  if (text.find_first_not_of(" \t\r\n", end) != std::string_view::npos) {
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
