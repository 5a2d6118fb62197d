#include "host_value.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace VexaHost {
namespace {

template <typename T>
T* AllocateArray(std::size_t count) {
  void* memory = std::calloc(count == 0 ? 1 : count, sizeof(T));
  if (memory == nullptr) {
    throw std::bad_alloc();
  }
  return static_cast<T*>(memory);
}

char* CopyText(const char* text, std::size_t length) {
  char* copy = AllocateArray<char>(length + 1);
  std::memcpy(copy, text, length);
  return copy;
}

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

std::string Base64(const uint8_t* bytes, std::size_t size) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((size + 2) / 3 * 4);
  for (std::size_t at = 0; at < size; at += 3) {
    const uint32_t chunk = static_cast<uint32_t>(bytes[at]) << 16 |
                           (at + 1 < size ? static_cast<uint32_t>(bytes[at + 1]) << 8 : 0) |
                           (at + 2 < size ? bytes[at + 2] : 0);
    text += kAlphabet[chunk >> 18 & 63];
    text += kAlphabet[chunk >> 12 & 63];
    text += at + 1 < size ? kAlphabet[chunk >> 6 & 63] : '=';
    text += at + 2 < size ? kAlphabet[chunk & 63] : '=';
  }
  return text;
}

// Writes `value`; an empty `error` means it went well.
void Write(const HostValue& value, Writer& writer, int depth, std::string& error) {
  if (depth > kMaxHostValueDepth) {
    error = "the value nests deeper than " + std::to_string(kMaxHostValueDepth) + " levels";
    return;
  }
  const auto& payload = value.payload;
  switch (value.kind) {
    case HOST_VALUE_EMPTY:
      writer.Null();
      return;
    case HOST_VALUE_BOOL:
      writer.Bool(payload.boolean != 0);
      return;
    case HOST_VALUE_SIGNED:
      writer.Int64(payload.signedValue);
      return;
    case HOST_VALUE_UNSIGNED:
      writer.Uint64(payload.unsignedValue);
      return;
    case HOST_VALUE_FLOAT:
      std::isfinite(payload.floatValue) ? writer.Double(payload.floatValue) : writer.Null();
      return;
    case HOST_VALUE_STRING:
    case HOST_VALUE_BORROWED_STRING:
      if (payload.string.text == nullptr && payload.string.length != 0) {
        error = "a string without its text";
        return;
      }
      if (payload.string.text == nullptr) {
        writer.String("");
        return;
      }
      writer.String(payload.string.text, payload.string.length);
      return;
    case HOST_VALUE_BLOB:
    case HOST_VALUE_BORROWED_BLOB: {
      if (payload.blob.bytes == nullptr && payload.blob.size != 0) {
        error = "a blob without its bytes";
        return;
      }
      const std::string text = Base64(payload.blob.bytes, payload.blob.size);
      writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
      return;
    }
    case HOST_VALUE_COLLECTION:
      if (payload.collection.elements == nullptr && payload.collection.count != 0) {
        error = "a collection without its elements";
        return;
      }
      writer.StartArray();
      for (uint32_t index = 0; index < payload.collection.count && error.empty(); ++index) {
        Write(payload.collection.elements[index], writer, depth + 1, error);
      }
      // After a refusal inside, the open containers are left open: the text is dropped, and
      // closing one that is not innermost would trip the writer's own checks.
      if (error.empty()) {
        writer.EndArray();
      }
      return;
    case HOST_VALUE_STRUCTURE:
      if (payload.structure.members == nullptr && payload.structure.count != 0) {
        error = "a structure without its members";
        return;
      }
      writer.StartObject();
      for (uint32_t index = 0; index < payload.structure.count && error.empty(); ++index) {
        const HostValueMember& member = payload.structure.members[index];
        if (member.key == nullptr) {
          error = "a structure member without its key";
          return;
        }
        writer.Key(member.key);
        Write(member.value, writer, depth + 1, error);
      }
      if (error.empty()) {
        writer.EndObject();
      }
      return;
    default:
      error = "a value of the unknown kind " + std::to_string(value.kind);
  }
}

// The elements or members of `json` into `value`, which counts each one as it is made.
void AddChildren(HostValue& value, const rapidjson::Value& json) {
  if (json.IsArray()) {
    value.kind = HOST_VALUE_COLLECTION;
    value.payload.collection.elements = AllocateArray<HostValue>(json.Size());
    for (const auto& element : json.GetArray()) {
      value.payload.collection.elements[value.payload.collection.count] = MakeHostValue(element);
      ++value.payload.collection.count;
    }
    return;
  }
  value.kind = HOST_VALUE_STRUCTURE;
  value.payload.structure.members = AllocateArray<HostValueMember>(json.MemberCount());
  for (const auto& member : json.GetObject()) {
    HostValueMember& made = value.payload.structure.members[value.payload.structure.count];
    made.key = CopyText(member.name.GetString(), member.name.GetStringLength());
    made.ownsKey = 1;
    ++value.payload.structure.count;
    made.value = MakeHostValue(member.value);
  }
}

}  // namespace

HostValue MakeHostValue(const rapidjson::Value& json) {
  HostValue value{};
  if (json.IsBool()) {
    value.kind = HOST_VALUE_BOOL;
    value.payload.boolean = json.GetBool() ? 1 : 0;
  } else if (json.IsUint64()) {
    value.kind = HOST_VALUE_UNSIGNED;
    value.payload.unsignedValue = json.GetUint64();
  } else if (json.IsInt64()) {
    value.kind = HOST_VALUE_SIGNED;
    value.payload.signedValue = json.GetInt64();
  } else if (json.IsNumber()) {
    value.kind = HOST_VALUE_FLOAT;
    value.payload.floatValue = json.GetDouble();
  } else if (json.IsString()) {
    value.kind = HOST_VALUE_STRING;
    value.payload.string.text = CopyText(json.GetString(), json.GetStringLength());
    value.payload.string.length = json.GetStringLength();
  } else if (json.IsArray() || json.IsObject()) {
    // Counted as it grows, so that a failed allocation frees exactly what was made.
    try {
      AddChildren(value, json);
    } catch (...) {
      FreeHostValue(value);
      throw;
    }
  }
  return value;
}

void FreeHostValue(HostValue& value) {
  auto& payload = value.payload;
  if (value.kind == HOST_VALUE_STRING) {
    std::free(const_cast<char*>(payload.string.text));
  } else if (value.kind == HOST_VALUE_COLLECTION) {
    for (uint32_t index = 0; index < payload.collection.count; ++index) {
      FreeHostValue(payload.collection.elements[index]);
    }
    std::free(payload.collection.elements);
  } else if (value.kind == HOST_VALUE_STRUCTURE) {
    for (uint32_t index = 0; index < payload.structure.count; ++index) {
      HostValueMember& member = payload.structure.members[index];
      if (member.ownsKey != 0) {
        std::free(const_cast<char*>(member.key));
      }
      FreeHostValue(member.value);
    }
    std::free(payload.structure.members);
  }
  value = HostValue{};
}

bool WriteHostValueJson(const HostValue& value, std::string& json, std::string& error) {
  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  error.clear();
  Write(value, writer, 0, error);
  if (!error.empty()) {
    return false;
  }
  json.assign(buffer.GetString(), buffer.GetSize());
  return true;
}

}  // namespace VexaHost
