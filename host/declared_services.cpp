#include "declared_services.h"

#include <fstream>
#include <sstream>
#include <string_view>

namespace VexaHost {
namespace {

// The member a "{{name}}" placeholder names, or nothing when `text` is not one.
std::optional<std::string_view> Placeholder(std::string_view text) {
  if (text.size() >= 4 && text.starts_with("{{") && text.ends_with("}}") &&
      text.find("{{", 2) == std::string_view::npos) {
    return text.substr(2, text.size() - 4);
  }
  return std::nullopt;
}

// The request's member `name` ("": the whole request), or null.
const rapidjson::Value& Member(const rapidjson::Value& request, std::string_view name) {
  static const rapidjson::Value kNull;
  if (name.empty()) {
    return request;
  }
  if (!request.IsObject()) {
    return kNull;
  }
  const auto found = request.FindMember(rapidjson::Value(
      rapidjson::StringRef(name.data(), static_cast<rapidjson::SizeType>(name.size()))));
  return found != request.MemberEnd() ? found->value : kNull;
}

// `text` with each "{{name}}" in it replaced by the member's text.
std::string Fill(std::string_view text, const rapidjson::Value& request) {
  std::string filled;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t open = text.find("{{", at), close = text.find("}}", open);
    if (open == std::string_view::npos || close == std::string_view::npos) {
      filled.append(text.substr(at));
      break;
    }
    filled.append(text.substr(at, open - at));
    const rapidjson::Value& value = Member(request, text.substr(open + 2, close - open - 2));
    if (value.IsString()) {
      filled.append(value.GetString(), value.GetStringLength());
    } else if (!value.IsNull()) {
      filled.append(JsonText(value));
    }
    at = close + 2;
  }
  return filled;
}

void Render(rapidjson::Value& value, const rapidjson::Value& request,
            Json::AllocatorType& allocator) {
  if (value.IsString()) {
    const std::string_view text(value.GetString(), value.GetStringLength());
    if (const auto name = Placeholder(text)) {
      value.CopyFrom(Member(request, *name), allocator);
    } else if (text.find("{{") != std::string_view::npos) {
      const std::string filled = Fill(text, request);
      value.SetString(filled.c_str(), static_cast<rapidjson::SizeType>(filled.size()), allocator);
    }
  } else if (value.IsArray()) {
    for (auto& item : value.GetArray()) {
      Render(item, request, allocator);
    }
  } else if (value.IsObject()) {
    for (auto& member : value.GetObject()) {
      Render(member.value, request, allocator);
    }
  }
}

}  // namespace

std::optional<DeclaredServices> DeclaredServices::Load(const std::string& path,
                                                       std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot read the services file " + path;
    return std::nullopt;
  }
  std::stringstream text;
  text << file.rdbuf();
  const ParsedJson json = ParseJson(text.str());
  const auto fail = [&](const std::string& why) {
    error = "the services file " + path + ": " + why;
    return std::nullopt;
  };
  if (!json.Ok()) {
    return fail("not JSON: " + json.error);
  }
  if (!json.document.IsObject()) {
    return fail("must be an object of services, each an object of methods");
  }
  DeclaredServices declared;
  for (const auto& service : json.document.GetObject()) {
    const std::string serviceName = service.name.GetString();
    if (!service.value.IsObject()) {
      return fail(serviceName + " must be an object of methods");
    }
    for (const auto& method : service.value.GetObject()) {
      const std::string name = serviceName + "." + method.name.GetString();
      if (!method.value.IsObject()) {
        return fail(name + " must be an object (status, payload, error, latencyMs)");
      }
      Method& declaredMethod = declared.services_[serviceName][method.name.GetString()];
      for (const auto& member : method.value.GetObject()) {
        const std::string_view key = member.name.GetString();
        const rapidjson::Value& value = member.value;
        if (key == "status" && value.IsInt() && value.GetInt() >= 100 && value.GetInt() <= 599) {
          declaredMethod.status = value.GetInt();
        } else if (key == "payload") {
          declaredMethod.payload = JsonText(value);
        } else if (key == "error" && value.IsString()) {
          declaredMethod.error = value.GetString();
        } else if (key == "latencyMs" && value.IsNumber() && value.GetDouble() >= 0 &&
                   value.GetDouble() <= 3600 * 1000) {
          declaredMethod.latency =
              std::chrono::milliseconds(static_cast<int64_t>(value.GetDouble()));
        } else {
          return fail(name + ": \"" + std::string(key) +
                      "\" is not one of status (100 to 599), payload, error (a text), latencyMs "
                      "(0 to 3600000)");
        }
      }
      if (declaredMethod.error.empty()) {
        declaredMethod.error = name + " answered " + std::to_string(declaredMethod.status);
      }
    }
  }
  return declared;
}

std::optional<DeclaredAnswer> DeclaredServices::Answer(const std::string& service,
                                                       const std::string& method,
                                                       const std::string& payload) const {
  const auto found = services_.find(service);
  if (found == services_.end()) {
    return std::nullopt;
  }
  const auto declared = found->second.find(method);
  if (declared == found->second.end()) {
    return DeclaredAnswer{"404", "", service + " has no method " + JsonQuoted(method)};
  }
  const Method& answer = declared->second;
  ParsedJson request = ParseJson(payload);
  if (answer.status != 200) {
    return DeclaredAnswer{std::to_string(answer.status), "", Fill(answer.error, request.document),
                          answer.latency};
  }
  ParsedJson rendered = ParseJson(answer.payload);
  Render(rendered.document, request.document, rendered.document.GetAllocator());
  return DeclaredAnswer{"200", JsonText(rendered.document), "", answer.latency};
}

std::string DeclaredServices::Describe() const {
  std::string text;
  for (const auto& [service, methods] : services_) {
    std::string names;
    for (const auto& [method, answer] : methods) {
      names.append(names.empty() ? "" : ", ").append(method);
    }
    text.append(text.empty() ? "" : ", ").append(service).append(" (" + names + ")");
  }
  return text;
}

}  // namespace VexaHost
