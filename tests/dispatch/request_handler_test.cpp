// The endpoint handler driven as a host drives it: requests built from host records, answers
// read from the response and released through its own release function. Routing to the
// endpoint, gathering arguments from headers, path, query, host arguments and bodies, the call
// through the invoker, and requests that the host hands in malformed.
#include "dispatch/request_handler.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "binding/host_value.h"
#include "binding/registry.h"
#include "codecs/json.h"
#include "codecs/msgpack.h"
#include "codecs/yaml.h"
#include "dispatch/endpoint.h"
#include "dispatch/invoker.h"
#include "dispatch/request_arguments.h"
#include "platform/clock.h"
#include "support/values.h"

// Failing allocations: exhausted memory is answered, not thrown.
namespace {
enum class FailAllocations { None, Next, All };
thread_local FailAllocations tFailAllocations = FailAllocations::None;
}  // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  if (tFailAllocations != FailAllocations::None) {
    tFailAllocations =
        tFailAllocations == FailAllocations::Next ? FailAllocations::None : FailAllocations::All;
    throw std::bad_alloc();
  }
  void* memory = std::malloc(size == 0 ? 1 : size);
  return memory != nullptr ? memory : throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void* memory) noexcept {
  std::free(memory);
}
__attribute__((noinline)) void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}
#pragma GCC diagnostic pop

namespace Vexa {
namespace {

using K = BindingTypeKind;
using L = ArgumentLocation;
using Testing::Collection;
using Testing::Structure;

// What the test invoker does at each step ("prepare", "invoke", "release"), and what it saw.
struct Script {
  std::function<void(std::string_view, HttpCallState&)> act = [](auto, HttpCallState&) {};
  void* token = nullptr;  // what Prepare returns
  const StaticTypeInfo* contextType = nullptr;
  int invoked = 0;
  std::vector<void*> released;
  std::vector<BindingProperty> arguments;  // as Prepare received them
  HostHandle context = 0;
  std::optional<HttpBaseTransport::Request> request;  // a copy of the record, when passed
};

class ScriptedInvoker : public BindingInvoker {
 public:
  explicit ScriptedInvoker(Script& script) : s_(script) {}
  void* Prepare(HttpCallState& state, std::vector<BindingProperty>& values,
                HostHandle context) override {
    s_.arguments = values;
    s_.context = context;
    s_.act("prepare", state);
    return s_.token;
  }
  void Invoke(HttpCallState& state, const RemotingRequest* request, void*, HostHandle) override {
    ++s_.invoked;
    s_.request = request != nullptr ? std::optional(*request) : std::nullopt;
    s_.act("invoke", state);
  }
  void Release(void* token) override {
    s_.released.push_back(token);
    HttpCallState unused;
    s_.act("release", unused);
  }
  const StaticTypeInfo* RequestContextType() const override { return s_.contextType; }

 private:
  Script& s_;
};

// A host request; texts are borrowed.
struct HostCall {
  std::string path{};
  std::vector<HostHeader> headers{};
  std::vector<HostRequestArgument> arguments{};
  const char* contentType = nullptr;
  std::string body{};
  HttpMethod method = HttpMethod::Get;
  const char* methodName = nullptr;
  HostHandle context = 0;

  HostRequest For(const EndpointRecord& endpoint) const {
    const auto count = [](const auto& items) { return static_cast<uint32_t>(items.size()); };
    return {static_cast<HostMethod>(method),
            path.c_str(),
            arguments.data(),
            count(arguments),
            &endpoint.userData,
            headers.data(),
            count(headers),
            contentType,
            reinterpret_cast<const uint8_t*>(body.data()),
            count(body),
            context,
            methodName};
  }
};

// What a host reads from a response ("(none)" for no error), copied out before the response is
// released through the release function it carries.
struct Answer {
  std::string error;
  uint32_t status = 0;
  BindingProperty body;
};

Answer Release(HostResponse& response) {
  Answer answer;
  answer.error = response.result.error != nullptr ? response.result.error : "(none)";
  answer.status = response.status;
  HostResult scratch{};
  EXPECT_TRUE(FromHostValue(scratch, answer.body, response.result.value, "body"));
  ReleaseHostResult(scratch);
  EXPECT_STREQ(response.responseText, "");
  response.release(&response);
  return answer;
}

Answer CallHandler(const HostRequest* request) {
  HostResponse response{};
  HandleEndpointRequest(&response, request);
  return Release(response);
}

HostValue HostString(const char* text) {
  HostValue value{};
  value.kind = HOST_VALUE_BORROWED_STRING;
  value.payload.string = {text, static_cast<uint32_t>(std::strlen(text))};
  return value;
}

class RequestHandler : public ::testing::Test {
 protected:
  struct Argument {
    const char* name;
    BindingTypeKind kind = K::String;
    ArgumentLocation location = L::Any;
    bool optional = true;
  };

  // A function with `arguments`, bound to a ScriptedInvoker over script_, and its endpoint.
  EndpointRecord& Declare(std::string_view name, std::string_view uriTemplate,
                          const std::vector<Argument>& arguments,
                          HttpMethod method = HttpMethod::Get) {
    BindingFunctionDescriptor& function = registry_.RegisterFunction(name, arguments.size());
    function.implementation = std::make_unique<ScriptedInvoker>(script_);
    EndpointRecord& endpoint = dispatcher_.Endpoint(function);
    endpoint.SetUriTemplate(uriTemplate);
    endpoint.method = method;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
      BindingRegistry::SetArgument(function, index, {arguments[index].kind},
                                   arguments[index].optional);
      BindingRegistry::AddArgument(function, arguments[index].name, "");
      endpoint.SetLocation(index, arguments[index].location);
    }
    return endpoint;
  }

  Answer Call(const EndpointRecord& endpoint, HostCall call) {
    script_ = Script{};
    const HostRequest request = call.For(endpoint);
    return CallHandler(&request);
  }

  void ExpectRefused(const Answer& answer, std::string_view error, uint32_t status = 0) {
    EXPECT_EQ(std::tie(answer.error, answer.status), std::make_tuple(std::string(error), status));
    EXPECT_TRUE(answer.body.IsEmpty());
    EXPECT_EQ(script_.invoked, 0);
  }

  // Each call answers either the error that refused it (with status 0, before the function
  // ran) or the JSON of the arguments that Prepare received, those that are not empty by name.
  void Expect(const EndpointRecord& endpoint,
              const std::vector<std::pair<HostCall, std::string>>& rows) {
    for (const auto& [call, expected] : rows) {
      const Answer answer = Call(endpoint, call);
      BindingProperty received;
      received.MakeStructure();
      for (std::size_t index = 0; index < script_.arguments.size(); ++index) {
        if (!script_.arguments[index].IsEmpty()) {
          received.Member(endpoint.function->arguments[index].name) = script_.arguments[index];
        }
      }
      EXPECT_EQ(answer.error == "(none)" ? ToJson(received) : answer.error, expected) << call.path;
      EXPECT_EQ(answer.status, 0u) << call.path;
    }
  }

  Script script_;
  BindingRegistry registry_;
  RequestDispatcher dispatcher_;
};

TEST_F(RequestHandler, RoutesByPathAndMethodOrAnswersInvalidFunction) {
  using M = HttpMethod;
  const std::tuple<const char*, M, const char*, M, const char*, const char*, bool> cases[] = {
      // template, endpoint method and name, request method and name, path, matches
      {"/items", M::Get, "", M::Get, "GET", "/items?", true},  // the query is not routed
      {"/items", M::Get, "", M::Post, "POST", "/items", false},
      {"/items", M::None, "", M::Delete, "DELETE", "/items", true},
      {"/items/{id}", M::Get, "", M::Get, "GET", "/items/7/8", false},
      {"/items", M::Other, "PURGE", M::Other, "PURGEX", "/items", false},
      {"/items", M::Other, "PURGE", M::Other, "PURGE", "/items", true},
      {"", M::Get, "", M::Get, "GET", "Route", true}};  // no template: the function's name
  for (const auto& [uriTemplate, method, name, requestMethod, requestName, path, matches] : cases) {
    EndpointRecord& endpoint = Declare("Route", uriTemplate, {}, method);
    endpoint.methodName = name;
    const Answer answer =
        Call(endpoint, {.path = path, .method = requestMethod, .methodName = requestName});
    EXPECT_EQ(answer.error, matches ? "(none)" : "Invalid function") << uriTemplate << path;
    EXPECT_EQ(answer.status, matches ? 0u : 404u) << uriTemplate << path;
  }
}

TEST_F(RequestHandler, GathersQueryAndHeaders) {
  const EndpointRecord& find = Declare("Find", "/find",
                                       {{"verbose", K::Bool, L::Any, false},
                                        {"name"},
                                        {"ids", K::Vector},
                                        {"filter", K::Struct},
                                        {"any", K::Object},
                                        {"count", K::Int32},
                                        {"token", K::String, L::Header},
                                        {"where", K::String, L::Query},
                                        {"x-foo"},
                                        {"X-Token"}});
  std::string deep = "/find?filter";  // an element path of 512 components
  for (int level = 0; level < 512; ++level) {
    deep += ".a";
  }
  const std::string cannot = "Couldn't deserialize ";
  Expect(
      find,
      {// A bare name switches a bool on; a required bool not given is false. The last value wins.
       {{"/find?verbose&na%6De=a%2Bb+c&name=x=y&&"}, R"({"name":"x=y","verbose":true})"},
       {{"/find?ids.0=a&ids.2=c&filter.x1=DE"},
        R"({"filter":{"x1":"DE"},"ids":["a",null,"c"],"verbose":false})"},
       {{"/find?filter&ids=&any"}, R"({"any":{},"filter":{},"ids":[],"verbose":false})"},
       // Structured arguments are sniffed; strings never are.
       {{"/find?ids=++[1]&name=[1]&filter=---%0Aa%3A+x"},
        R"({"filter":{"a":"x"},"ids":[1],"name":"[1]","verbose":false})"},
       // Headers reach arguments only as the host spells the argument's name in lower case.
       {{"/find", {{"X-Foo", "a"}, {"x-foobar", "b"}, {"x-token", "t"}}},
        R"({"X-Token":"t","verbose":false})"},
       {{"/find", {{"x-foo", "a"}, {"x-foo", "b"}, {"where", "w"}, {"token", "h"}}},
        R"({"token":"h","verbose":false,"x-foo":"b"})"},
       {{"/find?other.x=1"}, "Unknown argument 'other' for 'Find'."},
       {{"/find?token=a"}, "Argument 'token' for 'Find' was specified in an invalid location."},
       {{"/find?count"}, "Expected value for argument 'count'."},
       {{"/find?filter.1x=DE"}, "Index 1x is in an incorrect format"},
       {{"/find?ids.08=x"}, "Index 08 is in an incorrect format"},
       {{"/find?ids.1024=x"}, "Index 1024 is out of range"},
       {{"/find?ids.99999999999999999999999=x"}, "Index 99999999999999999999999 is out of range"},
       {{"/find?ids=[1,"},
        cannot + "JSON value for parameter 'ids' of 'Find': " +
            std::string(ParseJson("[1,").ErrorText())},
       {{"/find?any=---%0A%5B"},
        cannot + "YAML value for parameter 'any' of 'Find': " +
            std::string(ParseYaml("---\n[").ErrorText())},
       {{"/find?ids=%91%CD%01"},
        cannot + "MessagePack value for parameter 'ids' of 'Find': " +
            std::string(DecodeMessagePack("\x91\xCD\x01").result.ErrorText())},
       {{deep + "=x"},
        "Couldn't assign value to 'filter' because the input is nested deeper than 512 levels."},
       // The first failure stops the binding: headers come first, in argument order.
       {{"/find?other=1", {{"count", ""}, {"x-foo", ""}}},
        "Expected value for argument 'count'."}});
  Call(find, {"/find?ids.1023=b"});
  EXPECT_EQ(script_.arguments.at(2).Size(), 1024u);
}

TEST_F(RequestHandler, HostArgumentsByNameOrByPositionAfterThePathArguments) {
  const EndpointRecord& item =
      Declare("Item", "/items/{id}", {{"id"}, {"first", K::String, L::Query}, {"second"}});
  const HostValue one = HostString("one");
  HostValue unknown{};
  unknown.kind = static_cast<HostValueKind>(11);  // a kind the host does not define
  Expect(item, {// Placeholders are decoded; host arguments are not checked against locations.
                {{"/items/a%20b", {}, {{nullptr, one}, {"second", one}}},
                 R"({"first":"one","id":"a b","second":"one"})"},
                {{"/items/5?first=query", {}, {{"first", HostString("host")}}},
                 R"({"first":"host","id":"5"})"},
                {{"/items/5", {}, {{"second.0", one}}}, "Unknown argument 'second.0' for 'Item'."},
                {{"/items/5", {}, {{nullptr, one}, {nullptr, one}, {nullptr, one}}},
                 "Unknown argument '3' for 'Item'."},
                {{"/items/5", {}, {{nullptr, unknown}}},
                 "Couldn't assign value to 'first' of type object because the input is of an "
                 "incompatible type ''."}});
  // Arguments beyond the endpoint's location list may be given anywhere.
  EndpointRecord& shortList = Declare("Short", "/short", {{"a"}, {"b"}});
  shortList.argumentLocations.clear();
  Expect(shortList, {{{"/short", {{"b", "y"}}}, R"({"b":"y"})"}});
}

TEST_F(RequestHandler, BodyGoesToTheFirstBodyArgumentByContentType) {
  const EndpointRecord& post =
      Declare("Post", "/post", {{"body", K::Object, L::Body}, {"more", K::Object, L::Body}});
  const auto body = [](const char* contentType, std::string bytes, std::string path = "/post") {
    return HostCall{.path = std::move(path), .contentType = contentType, .body = std::move(bytes)};
  };
  const std::string decoded = R"({"body":{"a":1}})";
  Expect(
      post,
      {{body("APPLICATION/JSON; charset=utf-8", "{\"a\":1}"), decoded},
       {body("application/vnd.api+json", "{\"a\":1}"), decoded},
       {body("application/x-yaml", std::string("a: 1\0[", 6)), decoded},  // read up to a NUL
       {body("application/x-msgpack", "\x81\xA1\x61\x01"), decoded},
       {body("text/x-yaml", ""), "{}"},  // no bytes: no body
       {body("text/x-yaml", "a: 1"), "Unsupported body content type"},
       {body(nullptr, "{}"), "Unsupported body content type"},
       {body("application/x-msgpack", "\x01\x02"), "Extra MessgePack data found in body"},
       {body("application/x-yaml", "["), std::string(ParseYaml("[").ErrorText())},
       // The body's own failure replaces an earlier one.
       {body("application/json", "{", "/post?other=1"), std::string(ParseJson("{").ErrorText())}});
}

// Argument texts with a content type, which other callers than the handler may pass.
TEST_F(RequestHandler, ContentTypeOfAnArgumentChoosesTheCodec) {
  const EndpointRecord& endpoint = Declare("Any", "/any", {{"any", K::Object}});
  const std::tuple<const char*, std::string, bool, BindingProperty> cases[] = {
      {"application/x-msgpack", "\x91\xA1x", false, Collection({"x"})},
      {"text/x-yaml", std::string("a: x\0[", 6), false, Structure({{"a", "x"}})},
      {"application/octet-stream", std::string("a\0b", 3), false, Testing::Blob({'a', 0, 'b'})},
      {"text/plain", "[1]", true, "[1]"}};  // a content type turns sniffing off
  for (const auto& [contentType, text, sniff, expected] : cases) {
    HttpCallState state;
    BindingProperty value;
    DeserializeArgumentValue(state, value, *endpoint.function, endpoint.function->arguments[0],
                             text, contentType, sniff);
    EXPECT_TRUE(value == expected) << contentType << ": " << ToJson(value);
  }
}

TEST_F(RequestHandler, CallsThroughTheInvokerAndReleasesTheTokenWhateverHappens) {
  using Step = std::string_view;
  const std::string internal = "Internal error while calling 'Call': ";
  const std::tuple<std::function<void(Step, HttpCallState&)>, int, std::string, uint32_t> cases[] =
      {// what the invoker does, Invoke calls, answer, status
       {[](Step, HttpCallState&) {}, 1, "(none)", 503},
       {[](Step step, HttpCallState& s) { s.Fail(step == "prepare" ? "bad input" : "x"); }, 0,
        "bad input", 0},
       {[](Step step, HttpCallState& s) { step == "invoke" ? s.Fail("no luck") : void(); }, 1,
        "no luck", 503},
       {[](Step step, HttpCallState&) {
          step == "prepare" ? throw std::runtime_error("boom") : void();
        },
        0, internal + "boom", 500},
       {[](Step step, HttpCallState&) { step == "invoke" ? throw 42 : void(); }, 1,
        internal + "unknown exception", 500},
       {[](Step step, HttpCallState&) { step == "release" ? throw 42 : void(); }, 1, "(none)",
        503}};
  int token = 0;
  EndpointRecord& call =
      Declare("Call", "/call", {{"flag", K::Bool, L::Any, false}, {"maybe", K::Bool}});
  for (const auto& [act, invoked, error, status] : cases) {
    HostCall request{.path = "/call", .context = 0x1234};
    const HostRequest record = request.For(call);
    script_ = Script{};
    script_.token = &token;
    script_.act = [&act](Step step, HttpCallState& state) {
      state.status = step == "invoke" ? 503 : state.status;
      state.result.value = step == "invoke" ? "done" : "";
      act(step, state);
    };
    const Answer answer = CallHandler(&record);
    EXPECT_EQ(std::tie(answer.error, answer.status, script_.invoked),
              std::tie(error, status, invoked));
    EXPECT_TRUE(answer.body == (error == "(none)" ? BindingProperty("done") : BindingProperty()));
    // A token that Prepare handed out before throwing is lost with the exception.
    EXPECT_EQ(script_.released.size(), status == 500 && invoked == 0 ? 0u : 1u) << error;
    EXPECT_EQ(script_.context, HostHandle{0x1234});
    // A required bool starts false, an optional one empty.
    EXPECT_TRUE(script_.arguments == (std::vector<BindingProperty>{false, BindingProperty()}));
  }
  call.invoker = nullptr;
  ExpectRefused(Call(call, {"/call"}), "Function 'Call' cannot be called: it has no invoker", 500);
}

TEST_F(RequestHandler, RequestRecordForTheRequestTypesOnly) {
  EndpointRecord& endpoint = Declare("Other", "/other", {}, HttpMethod::Other);
  endpoint.methodName = "PURGE";
  for (const StaticTypeInfo* type :
       {&StaticTypeInfoOf<int>(), &StaticTypeInfoOf<HttpBaseTransport::Request>(),
        &StaticTypeInfoOf<RemotingRequest>()}) {
    HostCall call{.path = "/other?",
                  .headers = {{"Accept", "a"}, {"Accept", "b"}},
                  .method = HttpMethod::Other,
                  .methodName = "PURGE",
                  .context = 77};
    const HostRequest request = call.For(endpoint);
    script_ = Script{};
    script_.contextType = type;
    ASSERT_EQ(CallHandler(&request).error, "(none)");
    ASSERT_EQ(script_.request.has_value(), type != &StaticTypeInfoOf<int>()) << type->text;
    if (script_.request) {
      const HttpBaseTransport::Request& record = *script_.request;
      EXPECT_EQ(
          std::tie(record.context, record.registry, record.method, record.methodName, record.path),
          std::make_tuple(HostHandle{77}, &registry_, HttpMethod::Other, "PURGE", "/other?"));
      EXPECT_EQ(record.headers, (HttpHeaderMap{{"Accept", "b"}}));
      EXPECT_NE(record.arrivalTime, 0);
    }
  }
}

TEST_F(RequestHandler, ExhaustedMemoryIsAnsweredNotThrown) {
  const EndpointRecord& endpoint = Declare("Item", "/items/{id}", {{"id"}});
  HostCall call{"/items/7"};
  const HostRequest request = call.For(endpoint);
  for (const auto& [failing, error] :
       {std::pair{FailAllocations::Next, "Internal error: std::bad_alloc"},
        std::pair{FailAllocations::All, "Out of memory."}}) {  // not even the message is built
    HostResponse response{};
    tFailAllocations = failing;
    HandleEndpointRequest(&response, &request);
    tFailAllocations = FailAllocations::None;
    ExpectRefused(Release(response), error, 500);
  }
}

TEST_F(RequestHandler, MalformedRequestIsAnsweredWithoutReadingIt) {
  const EndpointRecord& post = Declare("Post", "/post", {{"name"}});
  const HostEndpointUserData noEndpoint{nullptr, nullptr};
  EndpointRecord functionless;
  const HostEndpointUserData noFunction{nullptr, &functionless};
  const std::string missing = "Invalid request: the ";
  const std::pair<std::function<void(HostRequest&)>, std::string> cases[] = {
      {[](HostRequest& r) { r.path = nullptr; }, missing + "request has no path"},
      {[](HostRequest& r) { r.userData = nullptr; }, missing + "request names no endpoint"},
      {[&](HostRequest& r) { r.userData = &noEndpoint; }, missing + "request names no endpoint"},
      {[&](HostRequest& r) { r.userData = &noFunction; }, missing + "request names no endpoint"},
      {[](HostRequest& r) { r.headers = nullptr; },
       missing + "headers are missing for a count of 2"},
      {[](HostRequest& r) { const_cast<HostHeader*>(r.headers)[1].name = nullptr; },
       "Invalid request: header 1 has no name"},
      {[](HostRequest& r) { const_cast<HostHeader*>(r.headers)[1].value = nullptr; },
       "Invalid request: header 1 has no value"},
      {[](HostRequest& r) { r.arguments = nullptr; },
       missing + "arguments are missing for a count of 1"},
      {[](HostRequest& r) { r.body = nullptr; },
       missing + "body bytes are missing for a count of 2"}};
  for (const auto& [spoil, error] : cases) {
    HostCall call{
        "/post", {{"a", "1"}, {"b", "2"}}, {{"name", HostString("x")}}, "application/json", "{}"};
    HostRequest request = call.For(post);
    spoil(request);
    ExpectRefused(CallHandler(&request), error, 400);
  }
  ExpectRefused(CallHandler(nullptr), missing + "request record is missing", 400);
  HandleEndpointRequest(nullptr, nullptr);  // nowhere to answer: returns

  // A list of routes is checked the same way. The second answer releases the first (the
  // sanitizer build sees a leak otherwise).
  HostCall call{"/post"};
  HostRequest request = call.For(post);
  HostResponse response{};
  DispatchRequest(response, request, {});
  EXPECT_STREQ(response.result.error, "Invalid function");
  EXPECT_EQ(uint32_t{response.status}, 404u);
  request.path = nullptr;
  DispatchRequest(response, request, {});
  ExpectRefused(Release(response), missing + "request has no path", 400);
}

}  // namespace
}  // namespace Vexa
