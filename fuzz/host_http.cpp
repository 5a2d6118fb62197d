// The host's HTTP request path, without sockets and without a plugin: the router with the
// front's routes, the JSON bodies that the front reads (and merges into settings), and the JSON
// answers that it writes from the values the plugin hands back. The handlers behind the routes
// need a started plugin, its thread and a listening server; the plugin's side of a request is
// the handler target's, and the whole path runs in the host's end-to-end tests.
//
// Checks: a route found has as many segments as the path and takes its placeholders from it; a
// path refused for its method lists only other methods; a body that parses writes a text that
// parses to the same document (numbers are read correctly rounded), also through a HostValue; a
// merge patch of it writes a text that parses; any value the plugin might hand back is written as
// well-formed JSON, or refused with a reason.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "host_value.h"
#include "json.h"
#include "platform.h"
#include "router.h"

namespace {

// The front's routes, as HttpFront adds them (the plugin's two endpoints first).
VexaHost::Router MakeRouter() {
  VexaHost::Router router;
  const auto add = [&router](const char* method, std::string_view path) {
    router.Add(method, path, [](auto&, auto&, auto&) {});
  };
  add("GET", "/kor-geoinfo/v1/whereami");
  add("GET", "/kor-geoinfo/v1/getlocation");
  add("GET", std::string(VexaHost::kConfigPrefix) + "{name}");
  add("GET", VexaHost::kSessionUri);
  add("GET", std::string(VexaHost::kSettingsPrefix) + "{key}");
  add("PATCH", std::string(VexaHost::kSettingsPrefix) + "{key}");
  add("GET", "/events");
  for (const char* method : {"GET", "PUT", "DELETE"}) {
    add(method, "/host/v1/session");
  }
  for (const char* path : {"/host/v1/config", "/host/v1/config/{name}", "/host/v1/faults"}) {
    add("GET", path);
    add("PUT", path);
  }
  for (const char* path :
       {"/host/v1/api", "/host/v1/statistics", "/host/v1/health", "/host/v1/plugins"}) {
    add("GET", path);
  }
  return router;
}

void CheckRoute(const VexaHost::Router& router, const std::string& method, std::string_view path) {
  const VexaHost::RouteLookup found = router.Find(method, path);
  if (found.handler == nullptr) {
    const std::string wanted = method == "HEAD" ? "GET" : method;
    FUZZ_CHECK(wanted.empty() ||
                   (", " + found.allowed + ",").find(", " + wanted + ",") == std::string::npos,
               method + " refused on " + std::string(path) + " where it is allowed");
    FUZZ_CHECK(found.arguments.empty(), "arguments without a route");
    return;
  }
  const std::vector<std::string_view> segments = VexaHost::PathSegments(path);
  for (const auto& [name, value] : found.arguments) {
    FUZZ_CHECK(!value.empty() && value == segments.back(),
               "placeholder " + name + " of " + std::string(path));
  }
}

// Equal documents, members compared in order: a document may repeat a key, and == looks each
// member up by its name.
bool Same(const rapidjson::Value& a, const rapidjson::Value& b) {
  if (a.IsArray() && b.IsArray() && a.Size() == b.Size()) {
    for (rapidjson::SizeType index = 0; index < a.Size(); ++index) {
      if (!Same(a[index], b[index])) {
        return false;
      }
    }
    return true;
  }
  if (a.IsObject() && b.IsObject() && a.MemberCount() == b.MemberCount()) {
    for (auto x = a.MemberBegin(), y = b.MemberBegin(); x != a.MemberEnd(); ++x, ++y) {
      if (x->name != y->name || !Same(x->value, y->value)) {
        return false;
      }
    }
    return true;
  }
  return a == b;
}

void CheckBody(std::string_view body) {
  const VexaHost::ParsedJson parsed = VexaHost::ParseJson(body);
  if (!parsed.Ok()) {
    return;
  }
  const std::string text = VexaHost::JsonText(parsed.document);
  const VexaHost::ParsedJson again = VexaHost::ParseJson(text);
  FUZZ_CHECK(again.Ok() && Same(again.document, parsed.document), "written as " + text);

  HostValue value = VexaHost::MakeHostValue(parsed.document);
  std::string json, error;
  FUZZ_CHECK(VexaHost::WriteHostValueJson(value, json, error), "its host value: " + error);
  VexaHost::FreeHostValue(value);
  const VexaHost::ParsedJson fromValue = VexaHost::ParseJson(json);
  // Keys cross the seam as C strings, cut at a NUL: "\u0000" may change the document there.
  FUZZ_CHECK(fromValue.Ok() && (Same(fromValue.document, parsed.document) ||
                                body.find("\\u0000") != std::string_view::npos),
             "its host value: " + json);

  VexaHost::Json merged;
  merged.SetObject();
  VexaHost::MergePatch(merged, parsed.document, merged.GetAllocator());
  const std::string mergedText = VexaHost::JsonText(merged);
  FUZZ_CHECK(VexaHost::ParseJson(mergedText).Ok(), "merged as " + mergedText);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const VexaHost::Router router = MakeRouter();
  static const char* const kMethods[] = {"GET", "HEAD", "PUT", "PATCH", "DELETE", "POST"};
  FuzzedDataProvider input(data, size);
  const std::size_t choice = input.ConsumeIntegralInRange<std::size_t>(0, std::size(kMethods));
  const std::string method =
      choice < std::size(kMethods) ? kMethods[choice] : input.ConsumeRandomLengthString(12);
  const std::string target = input.ConsumeRandomLengthString(256);
  CheckRoute(router, method, std::string_view(target).substr(0, target.find('?')));

  VexaFuzz::HostValueMaker maker(input, true);
  const HostValue answer = maker.MakeRoot();
  std::string json, error;
  if (VexaHost::WriteHostValueJson(answer, json, error)) {
    // Well-formed, that is: the plugin's texts are bytes, which the host passes on unchecked.
    FUZZ_CHECK(!VexaHost::Json().Parse(json.data(), json.size()).HasParseError(),
               "an answer written as " + json);
  } else {
    FUZZ_CHECK(!error.empty(), "a refused answer without a reason");
  }
  CheckBody(input.ConsumeRemainingBytesAsString());
  return 0;
}
