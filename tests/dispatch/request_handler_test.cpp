// The dispatcher driven as a host drives it: requests built from host records, each answer read
// from the response as one line and the response released through its own release function.
// Routing, gathering arguments, calls through a scripted invoker and through bound functions,
// EndpointAnswer results, response writing, and requests that the host hands in malformed.
#include "bridge/endpoint_handler.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "binding/field_registration.h"
#include "bridge/endpoint_handler.h"
#include "bridge/host_response.h"
#include "bridge/host_value.h"
#include "codecs/json.h"
#include "codecs/msgpack.h"
#include "codecs/yaml.h"
#include "dispatch/bound_function.h"
#include "dispatch/endpoint.h"
#include "dispatch/endpoint_declaration.h"
#include "dispatch/request_arguments.h"
#include "support/inputs.h"
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
using Step = std::string_view;  // "prepare", "invoke" or "release"

struct BoundPoint {
  int32_t x = 0;
  std::string label;
};
VEXA_STATIC_TYPE(BoundPoint, "struct Vexa::BoundPoint");
enum class BoundShape : int32_t { Round = 0 };
VEXA_STATIC_TYPE(BoundShape, "enum Vexa::BoundShape");
struct UnregisteredPoint {};
VEXA_STATIC_TYPE(UnregisteredPoint, "struct Vexa::UnregisteredPoint");

int gDestroyed = 0;  // TestStreams destroyed

// Serves "0123". A read of nothing throws; so does Length() when told to, standing for an
// allocation that fails late while the response is written.
class TestStream : public HttpBodyStream {
 public:
  explicit TestStream(bool lengthFails = false) : fails_(lengthFails) {}
  ~TestStream() override { ++gDestroyed; }
  uint8_t Read(void* buffer, uint32_t* size, uint8_t* more) override {
    *size = *size == 0 ? throw std::runtime_error("no room") : 4;
    std::memcpy(buffer, "0123", 4);
    *more = 0;
    return 1;
  }
  [[nodiscard]] uint32_t Length() const override { return fails_ ? throw std::bad_alloc() : 4; }

 private:
  bool fails_;
};

// What the scripted invoker does at each step, and what it saw. Unless the script says
// otherwise, the call's value is what Prepare received: the arguments that are not empty, by
// name.
struct Script {
  std::function<void(Step, HttpCallState&)> act = [](Step, HttpCallState&) {};
  void* token = nullptr;  // what Prepare returns
  const StaticTypeInfo* contextType = nullptr;
  int invoked = 0;
  std::vector<void*> released;
  HostHandle context = 0;
  std::optional<HttpBaseTransport::Request> request;  // a copy of the record, when passed
};

class ScriptedInvoker : public BindingInvoker {
 public:
  ScriptedInvoker(Script& script, const BindingFunctionDescriptor& function)
      : s_(script), function_(function) {}
  void* Prepare(HttpCallState& state, std::span<BindingProperty> values, HostHandle context,
                BindingTokenRoom&) override {
    s_.context = context;
    received_.Reset();
    received_.MakeStructure();
    for (std::size_t index = 0; index < values.size(); ++index) {
      if (!values[index].IsEmpty()) {
        received_.Member(function_.arguments[index].name) = values[index];
      }
    }
    s_.act("prepare", state);
    return s_.token;
  }
  void Invoke(HttpCallState& state, const RemotingRequest* request, void*, HostHandle) override {
    ++s_.invoked;
    s_.request = request != nullptr ? std::optional(*request) : std::nullopt;
    state.result.value = received_;
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
  const BindingFunctionDescriptor& function_;
  BindingProperty received_;
};

// A host request; texts are borrowed.
struct HostCallSketch {
  std::string path{};
  std::vector<HostHeader> headers{};
  std::vector<HostRequestArgument> arguments{};
  const char* contentType = nullptr;
  std::string body{};
  HttpMethod method = HttpMethod::Get;
  const char* methodName = nullptr;
  HostHandle context = 0;
  // What the API table hands the host with the endpoint: only its endpoint word is read.
  mutable HostEndpointUserData userData{};

  HostRequest For(const EndpointRecord& endpoint) const {
    const auto count = [](const auto& items) { return static_cast<uint32_t>(items.size()); };
    userData = {nullptr, const_cast<EndpointRecord*>(&endpoint)};
    return {static_cast<HostMethod>(method),
            path.c_str(),
            arguments.data(),
            count(arguments),
            &userData,
            headers.data(),
            count(headers),
            contentType,
            reinterpret_cast<const uint8_t*>(body.data()),
            count(body),
            context,
            methodName};
  }
};

// What the host reads from a response, as one line: the error or the body as JSON, then what
// else the response carries.
std::string Shown(const HostResponse& r) {
  std::string shown;
  if (r.result.error != nullptr) {
    shown = "error '" + std::string(r.result.error) + "'";
  } else {
    BindingProperty body;
    HostResult scratch{};
    EXPECT_TRUE(FromHostValue(scratch, body, r.result.value, "body"));
    ReleaseHostResult(scratch);
    shown = ToJson(body);
  }
  const auto add = [&shown](bool present, const std::string& text) {
    shown += present ? ", " + text : "";
  };
  add(r.status != 0, "status " + std::to_string(uint32_t{r.status}));
  add(r.responseFlags != 0 || r.responseFormat != 0,
      "flags " + std::to_string(uint8_t{r.responseFlags}) + " format " +
          std::to_string(uint32_t{r.responseFormat}));
  add(r.responseText[0] != '\0', "text '" + std::string(r.responseText) + "'");
  for (uint32_t index = 0; index < uint32_t{r.headerCount}; ++index) {
    add(true, std::string(r.headers[index].name) + "=" + r.headers[index].value);
  }
  add(r.stream != nullptr,
      "stream " + std::to_string(uint32_t{r.streamLength}) + " at " +
          std::to_string(uint32_t{r.streamPosition}) +
          (HostStreamRead{r.streamRead} == &ReadBodyStream ? " read" : "") +
          (HostStreamRelease{r.streamRelease} == &ReleaseBodyStream ? " release" : ""));
  return shown;
}

// Shows the response and releases it, as the host does; released, it is all zero.
std::string Released(HostResponse& response) {
  const std::string shown = Shown(response);
  response.release(&response);
  static const HostResponse kZero{};
  EXPECT_EQ(std::memcmp(&response, &kZero, sizeof response), 0) << shown;
  return shown;
}

std::string Respond(const HostRequest* request) {
  HostResponse response{};
  HandleEndpointRequest(&response, request);
  return Released(response);
}

HostValue HostString(const char* text) {
  HostValue value{};
  value.kind = HOST_VALUE_BORROWED_STRING;
  value.payload.string = {text, static_cast<uint32_t>(std::strlen(text))};
  return value;
}

class Dispatcher : public ::testing::Test {
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
    function.implementation = std::make_unique<ScriptedInvoker>(script_, function);
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

  std::string Call(const EndpointRecord& endpoint, const HostCallSketch& call) {
    script_ = Script{};
    const HostRequest request = call.For(endpoint);
    return Respond(&request);
  }

  void Expect(const EndpointRecord& endpoint,
              const std::vector<std::pair<HostCallSketch, std::string>>& rows) {
    for (const auto& [call, expected] : rows) {
      EXPECT_EQ(Call(endpoint, call), expected) << call.path;
      // A refused call does not reach the function.
      EXPECT_EQ(script_.invoked, expected.starts_with("error") ? 0 : 1) << call.path;
    }
  }

  Script script_;
  BindingRegistry registry_;
  RequestDispatcher dispatcher_;
};

TEST_F(Dispatcher, RoutesByPathAndMethodOrAnswersInvalidFunction) {
  using M = HttpMethod;
  const std::tuple<const char*, M, const char*, M, const char*, const char*, bool> cases[] = {
      // template, endpoint method and name, request method and name, path, matches
      {"/items", M::Get, "", M::Get, "GET", "/items?", true},  // the query is not routed
      {"/items", M::Other, "PURGE", M::Other, "PURGEX", "/items", false},
      {"/items", M::Other, "PURGE", M::Other, "PURGE", "/items", true},
      {"", M::Get, "", M::Get, "GET", "Route", true}};  // no template: the function's name
  for (const auto& [uriTemplate, method, name, requestMethod, requestName, path, matches] : cases) {
    EndpointRecord& endpoint = Declare("Route", uriTemplate, {}, method);
    endpoint.methodName = name;
    EXPECT_EQ(Call(endpoint, {.path = path, .method = requestMethod, .methodName = requestName}),
              matches ? "{}" : "error 'Invalid function', status 404")
        << uriTemplate << " " << path;
  }
}

TEST_F(Dispatcher, GathersQueryAndHeaders) {
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
  const std::string deep = "/find?filter" + Testing::Repeat(".a", 512);  // 512 components
  const std::string cannot = "error 'Couldn't deserialize ";
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
       {{"/find?other.x=1"}, "error 'Unknown argument 'other' for 'Find'.', status 400"},
       {{"/find?token=a"},
        "error 'Argument 'token' for 'Find' was specified in an invalid location.', status 400"},
       {{"/find?count"}, "error 'Expected value for argument 'count'.', status 400"},
       // A decoded NUL would cut the text short: another question than the one asked.
       {{"/find?name=%00%ff999"},
        "error 'Argument 'name' for 'Find' holds a NUL byte.', status 400"},
       {{"/find?filter.a=x%00"},
        "error 'Argument 'filter' for 'Find' holds a NUL byte.', status 400"},
       {{"/find?filter.1x=DE"}, "error 'Index 1x is in an incorrect format', status 400"},
       {{"/find?ids.08=x"}, "error 'Index 08 is in an incorrect format', status 400"},
       {{"/find?ids.1024=x"}, "error 'Index 1024 is out of range', status 400"},
       {{"/find?ids.99999999999999999999999=x"},
        "error 'Index 99999999999999999999999 is out of range', status 400"},
       {{"/find?ids=[1,"},
        cannot + "JSON value for parameter 'ids' of 'Find': " +
            std::string(ParseJson("[1,").ErrorText()) + "', status 400"},
       {{"/find?any=---%0A%5B"},
        cannot + "YAML value for parameter 'any' of 'Find': " +
            std::string(ParseYaml("---\n[").ErrorText()) + "', status 400"},
       {{"/find?ids=%91%CD%01"},
        cannot + "MessagePack value for parameter 'ids' of 'Find': " +
            std::string(DecodeMessagePack("\x91\xCD\x01").result.ErrorText()) + "', status 400"},
       {{deep + "=x"},
        "error 'Couldn't assign value to 'filter' because the input is nested deeper than 512 "
        "levels.', status 400"},
       // The first failure stops the binding: headers come first, in argument order.
       {{"/find?other=1", {{"count", ""}, {"x-foo", ""}}},
        "error 'Expected value for argument 'count'.', status 400"}});
  EXPECT_EQ(Call(find, {"/find?ids.1023=b"}),
            R"({"ids":[)" + Testing::Repeat("null,", 1023) + R"("b"],"verbose":false})");
}

TEST_F(Dispatcher, HostArgumentsByNameOrByPositionAfterThePathArguments) {
  const EndpointRecord& item =
      Declare("Item", "/items/{id}", {{"id"}, {"first", K::String, L::Query}, {"second"}});
  const HostValue one = HostString("one");
  HostValue unknown{};
  unknown.kind = static_cast<HostValueKind>(11);  // a kind the host does not define
  Expect(item,
         {// Placeholders are decoded; host arguments are not checked against locations.
          {{"/items/a%20b", {}, {{nullptr, one}, {"second", one}}},
           R"({"first":"one","id":"a b","second":"one"})"},
          {{"/items/5?first=query", {}, {{"first", HostString("host")}}},
           R"({"first":"host","id":"5"})"},
          {{"/items/5", {}, {{"second.0", one}}},
           "error 'Unknown argument 'second.0' for 'Item'.', status 400"},
          {{"/items/a%00b"}, "error 'Argument 'id' for 'Item' holds a NUL byte.', status 400"},
          {{"/items/5", {}, {{nullptr, one}, {nullptr, one}, {nullptr, one}}},
           "error 'Unknown argument '3' for 'Item'.', status 400"},
          {{"/items/5", {}, {{nullptr, unknown}}},
           "error 'Couldn't assign value to 'first' of type object because the input is of an "
           "incompatible type ''.', status 400"}});
  // Arguments beyond the endpoint's location list may be given anywhere.
  EndpointRecord& shortList = Declare("Short", "/short", {{"a"}, {"b"}});
  shortList.argumentLocations.clear();
  Expect(shortList, {{{"/short", {{"b", "y"}}}, R"({"b":"y"})"}});
}

TEST_F(Dispatcher, BodyGoesToTheFirstBodyArgumentByContentType) {
  const EndpointRecord& post =
      Declare("Post", "/post", {{"body", K::Object, L::Body}, {"more", K::Object, L::Body}});
  const auto body = [](const char* contentType, std::string bytes, std::string path = "/post") {
    return HostCallSketch{
        .path = std::move(path), .contentType = contentType, .body = std::move(bytes)};
  };
  const std::string decoded = R"({"body":{"a":1}})";
  Expect(post, {{body("APPLICATION/JSON; charset=utf-8", "{\"a\":1}"), decoded},
                {body("application/vnd.api+json", "{\"a\":1}"), decoded},
                {body("application/x-yaml", std::string("a: 1\0[", 6)), decoded},  // up to a NUL
                {body("application/x-msgpack", "\x81\xA1\x61\x01"), decoded},
                {body("text/x-yaml", ""), "{}"},  // no bytes: no body
                {body("text/x-yaml", "a: 1"), "error 'Unsupported body content type', status 400"},
                {body(nullptr, "{}"), "error 'Unsupported body content type', status 400"},
                {body("application/x-msgpack", "\x01\x02"),
                 "error 'Extra MessgePack data found in body', status 400"},
                {body("application/x-yaml", "["),
                 "error '" + std::string(ParseYaml("[").ErrorText()) + "', status 400"},
                // The body's own failure replaces an earlier one.
                {body("application/json", "{", "/post?other=1"),
                 "error '" + std::string(ParseJson("{").ErrorText()) + "', status 400"}});
}

// Argument texts with a content type, which other callers than the handler may pass.
TEST_F(Dispatcher, ContentTypeOfAnArgumentChoosesTheCodec) {
  const EndpointRecord& endpoint = Declare("Any", "/any", {{"any", K::Object}});
  const std::tuple<const char*, std::string, bool, BindingProperty> cases[] = {
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

TEST_F(Dispatcher, CallsThroughTheInvokerAndReleasesTheTokenWhateverHappens) {
  const std::string internal = "error 'Internal error while calling 'Call': ";
  const std::tuple<std::function<void(Step, HttpCallState&)>, int, std::string> cases[] = {
      // what the invoker does, Invoke calls, answer
      {[](Step, HttpCallState&) {}, 1, "{\"flag\":false}, status 503"},
      {[](Step step, HttpCallState& s) { s.Fail(step == "prepare" ? "bad input" : "late"); }, 0,
       "error 'bad input', status 400"},
      {[](Step step, HttpCallState& s) { step == "invoke" ? s.Fail("no luck") : void(); }, 1,
       "error 'no luck', status 503"},
      {[](Step step, HttpCallState&) {
         step == "prepare" ? throw std::runtime_error("boom") : void();
       },
       0, internal + "boom', status 500"},
      {[](Step step, HttpCallState&) { step == "invoke" ? throw 42 : void(); }, 1,
       internal + "unknown exception', status 500"},
      {[](Step step, HttpCallState&) { step == "release" ? throw 42 : void(); }, 1,
       "{\"flag\":false}, status 503"}};
  int token = 0;
  EndpointRecord& call =
      Declare("Call", "/call", {{"flag", K::Bool, L::Any, false}, {"maybe", K::Bool}});
  for (const auto& [act, invoked, answer] : cases) {
    HostCallSketch request{.path = "/call", .context = 0x1234};
    const HostRequest record = request.For(call);
    script_ = Script{};
    script_.token = &token;
    script_.act = [&act](Step step, HttpCallState& state) {
      state.status = step == "invoke" ? 503 : state.status;
      act(step, state);
    };
    EXPECT_EQ(Respond(&record), answer);
    EXPECT_EQ(std::tie(script_.invoked, script_.context), std::tie(invoked, request.context));
    // A token that Prepare handed out before throwing is lost with the exception.
    EXPECT_EQ(script_.released.size(), answer.ends_with("500") && invoked == 0 ? 0u : 1u);
  }
  call.invoker = nullptr;
  EXPECT_EQ(Call(call, {"/call"}),
            "error 'Function 'Call' cannot be called: it has no invoker', status 500");
}

TEST_F(Dispatcher, RequestRecordForTheRequestTypesOnly) {
  EndpointRecord& endpoint = Declare("Other", "/other", {}, HttpMethod::Other);
  endpoint.methodName = "PURGE";
  for (const StaticTypeInfo* type :
       {&StaticTypeInfoOf<int>(), &StaticTypeInfoOf<HttpBaseTransport::Request>(),
        &StaticTypeInfoOf<RemotingRequest>()}) {
    HostCallSketch call{.path = "/other?",
                        .headers = {{"Accept", "a"}, {"Accept", "b"}},
                        .method = HttpMethod::Other,
                        .methodName = "PURGE",
                        .context = 77};
    const HostRequest request = call.For(endpoint);
    script_ = Script{};
    script_.contextType = type;
    ASSERT_EQ(Respond(&request), "{}");
    ASSERT_EQ(script_.request.has_value(), type != &StaticTypeInfoOf<int>()) << type->text;
    if (script_.request) {
      const HttpBaseTransport::Request& record = *script_.request;
      EXPECT_EQ(
          std::tie(record.context, record.registry, record.method, record.methodName, record.path),
          std::make_tuple(HostHandle{77}, &registry_, HttpMethod::Other, "PURGE", "/other?"));
      EXPECT_EQ(record.headers, (HttpHeaderMap{{"Accept", "b"}}));
    }
  }
}

// What a call state holds reaches the response; a failure drops the body and its stream.
TEST_F(Dispatcher, WritesTheCallStateIntoTheResponse) {
  const EndpointRecord& endpoint = Declare("Write", "/write", {});
  const std::tuple<std::function<void(HttpCallState&)>, std::string, int> cases[] = {
      // what Invoke leaves, answer, streams destroyed once the response is released
      {[](HttpCallState& s) { s.responseFormat = 4; }, "{}", 0},  // only formats 1 to 3
      {[](HttpCallState& s) {
         s.bodyStream = std::make_unique<TestStream>();
         s.Fail("Service unavailable");
       },
       "error 'Service unavailable', status 500", 1},
      {[](HttpCallState& s) { s.result.value = Testing::NestedCollections(kMaxBindingDepth + 1); },
       "error 'The result of the call cannot be represented as a host value.', status 500", 0},
      // Memory running out after the text and headers were allocated: the fallback text and
      // the status are left, and the stream stays with the call state.
      {[](HttpCallState& s) {
         s.status = 201;
         s.responseText = "created";
         s.headers = {{"X-Id", "7"}};
         s.bodyStream = std::make_unique<TestStream>(true);
       },
       "error 'Out of memory.', status 201", 1}};
  for (const auto& [leave, answer, destroyed] : cases) {
    gDestroyed = 0;
    script_ = Script{};
    script_.act = [&leave](Step step, HttpCallState& state) {
      step == "invoke" ? leave(state) : void();
    };
    const HostCallSketch write{"/write"};
    const HostRequest request = write.For(endpoint);
    EXPECT_EQ(Respond(&request), answer);
    EXPECT_EQ(gDestroyed, destroyed) << answer;
  }
  // One literal for every empty response text, also one empty up to its NUL; never freed.
  HostResponse responses[2] = {};
  const HostCallSketch write{"/write"};
  const HostRequest request = write.For(endpoint);
  for (HostResponse& response : responses) {
    script_.act = [&](Step, HttpCallState& state) {
      state.responseText = &response == &responses[0] ? "" : std::string("\0tail", 5);
    };
    HandleEndpointRequest(&response, &request);
  }
  const char* first = responses[0].responseText;
  EXPECT_EQ(first, static_cast<const char*>(responses[1].responseText));
  Released(responses[0]);
  Released(responses[1]);
}

TEST_F(Dispatcher, StreamReadThunkForwardsAndNeverThrows) {
  TestStream stream;
  char buffer[4];
  uint32_t size = sizeof buffer;
  uint8_t more = 1;
  EXPECT_EQ(ReadBodyStream(&stream, buffer, &size, &more), 1);
  EXPECT_EQ(std::string(buffer, size) + std::to_string(more), "01230");
  size = 0;
  EXPECT_EQ(ReadBodyStream(&stream, buffer, &size, &more), 0);
}

TEST_F(Dispatcher, ExhaustedMemoryIsAnsweredNotThrown) {
  const EndpointRecord& endpoint = Declare("Item", "/items/{id}", {{"id"}});
  const HostCallSketch item{"/items/7"};
  const HostRequest request = item.For(endpoint);
  for (const auto& [failing, answer] :
       {std::pair{FailAllocations::Next, "error 'Internal error: std::bad_alloc', status 500"},
        std::pair{FailAllocations::All, "error 'Out of memory.', status 500"}}) {
    HostResponse response{};
    tFailAllocations = failing;  // All: not even the message can be built
    HandleEndpointRequest(&response, &request);
    tFailAllocations = FailAllocations::None;
    EXPECT_EQ(Released(response), answer);
  }
}

TEST_F(Dispatcher, MalformedRequestIsAnsweredWithoutReadingIt) {
  const EndpointRecord& post = Declare("Post", "/post", {{"name"}});
  const HostEndpointUserData noEndpoint{nullptr, nullptr};
  EndpointRecord functionless;
  const HostEndpointUserData noFunction{nullptr, &functionless};
  const std::string missing = "error 'Invalid request: the ";
  const std::pair<std::function<void(HostRequest&)>, std::string> cases[] = {
      {[](HostRequest& r) { r.path = nullptr; }, missing + "request has no path'"},
      {[](HostRequest& r) { r.userData = nullptr; }, missing + "request names no endpoint'"},
      {[&](HostRequest& r) { r.userData = &noEndpoint; }, missing + "request names no endpoint'"},
      {[&](HostRequest& r) { r.userData = &noFunction; }, missing + "request names no endpoint'"},
      {[](HostRequest& r) { r.headers = nullptr; },
       missing + "headers are missing for a count of 2'"},
      {[](HostRequest& r) { const_cast<HostHeader*>(r.headers)[1].name = nullptr; },
       "error 'Invalid request: header 1 has no name'"},
      {[](HostRequest& r) { const_cast<HostHeader*>(r.headers)[1].value = nullptr; },
       "error 'Invalid request: header 1 has no value'"},
      {[](HostRequest& r) { r.arguments = nullptr; },
       missing + "arguments are missing for a count of 1'"},
      {[](HostRequest& r) { r.body = nullptr; },
       missing + "body bytes are missing for a count of 2'"}};
  for (const auto& [spoil, answer] : cases) {
    const HostCallSketch call{
        "/post", {{"a", "1"}, {"b", "2"}}, {{"name", HostString("x")}}, "application/json", "{}"};
    HostRequest request = call.For(post);
    spoil(request);
    script_ = Script{};
    EXPECT_EQ(Respond(&request), answer + ", status 400");
    EXPECT_EQ(script_.invoked, 0);
  }
  EXPECT_EQ(Respond(nullptr), missing + "request record is missing', status 400");
  HandleEndpointRequest(nullptr, nullptr);  // nowhere to answer: returns

  // A list of routes is checked the same way. The second answer releases the first (the
  // sanitizer build sees a leak otherwise).
  const HostCallSketch call{"/post"};
  HostRequest request = call.For(post);
  HostResponse response{};
  DispatchRequest(response, request, {});
  EXPECT_EQ(Shown(response), "error 'Invalid function', status 404");
  request.path = nullptr;
  DispatchRequest(response, request, {});
  EXPECT_EQ(Released(response), missing + "request has no path', status 400");
}

// --- Bound functions and their answers ---

struct Module {
  void Purge(const std::string&, const std::string&, BindingProperty, int32_t) {}
  std::string Name() { return "module"; }
};

// A good answer with every piece of response data.
template <typename T>
EndpointAnswer<T> Answered(T value) {
  EndpointAnswer<T> answer(std::move(value));
  answer.responseFlags = 2;
  answer.responseFormat = 3;
  answer.status = 201;
  answer.responseText = "created";
  answer.headers["Location"] = "/points/3";
  answer.bodyStream = std::make_unique<TestStream>();
  return answer;
}

class BoundFunctions : public Dispatcher {
 protected:
  void SetUp() override {
    RegisterRecord<BoundPoint>(registry_, "BoundPoint")
        .Field("x", &BoundPoint::x)
        .Field("label", &BoundPoint::label, {.flags = kBindingFieldRequired});
    RegisterEnum<BoundShape>(registry_, "BoundShape").Value("Round", BoundShape::Round);
  }

  // Declares GET `path` for `function`, its arguments named a0, a1, ... for the query.
  template <typename Function>
  const EndpointRecord& Bind(const char* path, Function function) {
    const auto declared = DeclareEndpoint(dispatcher_, registry_, HttpMethod::Get, path, function);
    return Named(*declared.Function(), *declared.Endpoint());
  }
  static const EndpointRecord& Named(BindingFunctionDescriptor& function,
                                     const EndpointRecord& endpoint) {
    for (std::size_t index = 0; index < function.arguments.size(); ++index) {
      BindingRegistry::AddArgument(function, "a" + std::to_string(index), "");
    }
    return endpoint;
  }

  Module module_;
};

TEST_F(BoundFunctions, ConvertArgumentsAndResultsAndReportFailures) {
  using Answer = EndpointAnswer<BoundPoint>;
  const auto describe = [](int32_t count, const std::string& name, std::optional<int32_t> limit,
                           std::vector<std::string> tags, const BoundPoint& point) {
    return std::to_string(count) + name + (limit ? "limit" : "") + tags.at(0) + point.label;
  };
  using Calls = std::vector<std::pair<std::string, std::string>>;  // path, answer
  const std::pair<const EndpointRecord*, Calls> rows[] = {
      {&Bind("/describe", describe),
       {{"/describe?a0=0x10&a1=Bob&a3.0=t&a4.label=!", "\"16Bobt!\""},
        {"/describe?a0=12abc",
         "error 'Value 12abc for 'a0' of type int32 is in an incorrect format', status 400"},
        // Arguments not given are reported, not read past.
        {"/describe?a0=1&a1=n&a3=", "error 'A value for 'a4' is required.', status 400"},
        {"/describe?a0=1&a1=n&a3=&a4.x=1",
         "error 'Couldn't assign value to 'a4' of type BoundPoint because the input structure "
         "doesn't have required field 'label'.', status 400"}}},
      {&Bind("/shape", [](BoundShape shape) { return static_cast<int32_t>(shape); }),
       {{"/shape?a0=Round", "0"},
        {"/shape?a0=Square",
         "error 'Square is not a valid BoundShape enumeration value for 'a0'.', status 400"}}},
      // More values than a call holds inline, and native arguments larger than its token room.
      {&Bind("/nine", [](const std::string& a, const std::string& b, const std::string& c,
                         const std::string& d, const std::string& e, const std::string& f,
                         const std::string& g, const std::string& h,
                         const std::string& i) { return a + b + c + d + e + f + g + h + i; }),
       {{"/nine?a0=a&a1=b&a2=c&a3=d&a4=e&a5=f&a6=g&a7=h&a8=-and-more-than-sixteen-bytes",
         "\"abcdefgh-and-more-than-sixteen-bytes\""},
        {"/nine?a0=a", "error 'A value for 'a1' is required.', status 400"}}},
      {&Bind("/off", [] { return Answer::Error(503, "contenttargeting.geoinfo is not enabled"); }),
       {{"/off", "error 'contenttargeting.geoinfo is not enabled', status 503"}}},
      {&Bind("/made",
             [] {
               return Answer::WithStatus(201, BoundPoint{1, "one"});
             }),
       {{"/made", R"({"label":"one","x":1}, status 201)"}}},
      {&Bind("/none", [] { return Answer::NotFound(""); }),
       {{"/none", "error 'Not found', status 404"}}},
      {&Bind("/empty", [] { return Answer::NotFound("Data retrieved is empty"); }),
       {{"/empty", "error 'Data retrieved is empty', status 404"}}},
      {&Bind("/boom", []() -> int32_t { throw std::runtime_error("boom"); }),
       {{"/boom", "error 'Call of 'GetBoom' failed: boom', status 500"}}},
      {&Bind("/seven", []() -> int32_t { throw 7; }),
       {{"/seven", "error 'Call of 'GetSeven' failed with an unknown exception.', status 500"}}},
      {&Bind("/good",
             [] {
               return Answered(BoundPoint{3, "three"});
             }),
       {{"/good", R"({"label":"three","x":3}, status 201, flags 2 format 3, text 'created', )"
                  "Location=/points/3, stream 4 at 0 read release"}}},
      // A failed answer keeps its status and headers but sends no stream.
      {&Bind("/bad", [] { return Answered(UnregisteredPoint{}); }),
       {{"/bad",
         "error 'Couldn't convert native value because it's an unregistered structure.', status "
         "201, flags 2 format 3, text 'created', Location=/points/3"}}}};
  gDestroyed = 0;
  for (const auto& [endpoint, calls] : rows) {
    for (const auto& [path, answer] : calls) {
      EXPECT_EQ(Call(*endpoint, {path}), answer);
    }
  }
  EXPECT_EQ(gDestroyed, 2);  // the good answer's stream by the release, the bad one's at once
  const BindingFunctionDescriptor& function = *rows[0].first->function;
  EXPECT_EQ(std::make_tuple(function.arguments[1].optional, function.arguments[2].optional),
            std::make_tuple(false, true));
  HttpCallState state;  // a caller that skipped Prepare
  InvokerOf(function)->Invoke(state, nullptr, nullptr, 0);
  EXPECT_EQ(state.result.ErrorText(),
            "Call of 'GetDescribe' failed: its arguments were not prepared.");
  const auto unbound = DeclareEndpoint(dispatcher_, registry_, HttpMethod::Get, "/unbound",
                                       &Module::Name, static_cast<Module*>(nullptr));
  EXPECT_EQ(Call(*unbound.Endpoint(), {"/unbound"}),
            "error 'Call of 'GetUnbound' failed: the function was bound to no object', status 500");
}

TEST_F(BoundFunctions, RequestParametersReceiveTheRecordAndAreNoArguments) {
  const auto& endpoint = Bind("/byref", [](const RemotingRequest& request, int32_t id) {
    return request.path + "#" + std::to_string(id);
  });
  EXPECT_EQ(Call(endpoint, {"/byref?a0=4"}), "\"/byref?a0=4#4\"");
  EXPECT_EQ(InvokerOf(*endpoint.function)->RequestContextType(),
            &StaticTypeInfoOf<RemotingRequest>());
}

TEST_F(BoundFunctions, DeclaresEndpointsUnderTheirOperationNames) {
  DeclareEndpoint(dispatcher_, registry_, EndpointMethod::Other("PURGE"), "/cache/{key}/",
                  &Module::Purge, &module_)
      .Path("key")
      .Header("x-token")
      .Body("body")
      .Argument("level");
  const BindingFunctionDescriptor* purge = registry_.FindFunction("PurgeCacheByKey");
  ASSERT_NE(purge, nullptr);
  const EndpointRecord* endpoint = dispatcher_.FindEndpoint(purge);
  EXPECT_EQ(std::tie(endpoint->method, endpoint->methodName, endpoint->UriTemplate()),
            std::make_tuple(HttpMethod::Other, "PURGE", "/cache/{key}"));
  EXPECT_EQ(endpoint->argumentLocations, (std::vector<uint32_t>{2, 4, 5, 0}));
  // A location beyond the list grows it with locations for anywhere.
  EndpointRecord record;
  record.SetLocation(2, ArgumentLocation::Path);
  EXPECT_EQ(record.argumentLocations, (std::vector<uint32_t>{0, 0, 2}));
  // The same route again is refused.
  EXPECT_DEBUG_DEATH(
      EXPECT_FALSE(DeclareEndpoint(dispatcher_, registry_, EndpointMethod::Other("PURGE"),
                                   "/cache/{key}", &Module::Purge, &module_)
                       .Declared()),
      "declared already");
}

}  // namespace
}  // namespace Vexa
