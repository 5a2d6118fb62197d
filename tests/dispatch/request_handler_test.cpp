// The endpoint handler driven as a host drives it: requests built from host records, answers
// read from the response and released through its own release function. Covers routing,
// argument binding from headers, path, query, host arguments and bodies, the call through the
// invoker, response writing, and requests that the host hands in malformed.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/descriptors.h"
#include "binding/host_value.h"
#include "binding/registry.h"
#include "codecs/json.h"
#include "codecs/msgpack.h"
#include "codecs/yaml.h"
#include "dispatch/endpoint.h"
#include "dispatch/http_call.h"
#include "dispatch/invoker.h"
#include "dispatch/messages.h"
#include "dispatch/request_arguments.h"
#include "dispatch/request_handler.h"
#include "dispatch/route_pattern.h"
#include "platform/clock.h"
#include "value/property.h"
#include "value/result.h"

// --- Counting allocations (the literal route allocates nothing for routing) and failing them
// (exhausted memory is answered, not thrown) ---

namespace {
thread_local bool tCountAllocations = false;
thread_local std::size_t tAllocations = 0;
enum class FailAllocations { None, Next, All };
thread_local FailAllocations tFailAllocations = FailAllocations::None;
}  // namespace

// The replacements pair malloc with free on purpose; the compiler cannot see that every
// pointer that reaches this delete came from this new.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  if (tCountAllocations) {
    ++tAllocations;
  }
  if (tFailAllocations != FailAllocations::None) {
    if (tFailAllocations == FailAllocations::Next) {
      tFailAllocations = FailAllocations::None;
    }
    throw std::bad_alloc();
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) {
    return memory;
  }
  throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void* memory) noexcept {
  std::free(memory);
}
__attribute__((noinline)) void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}
#pragma GCC diagnostic pop

namespace Vexa::RequestHandlerTest {
enum class Status : int32_t { Succeeded = 1, Error = 3 };
VEXA_STATIC_TYPE(Status, "enum Vexa::RequestHandlerTest::Status");
}  // namespace Vexa::RequestHandlerTest

namespace Vexa {
namespace {

using K = BindingTypeKind;
using L = ArgumentLocation;

// What the test invoker answers with, and what it saw.
struct InvokerScript {
  enum class Throw { Nothing, StandardInPrepare, StandardInInvoke, OtherInInvoke, InRelease };

  BindingProperty result;      // the function's value
  uint32_t status = 0;         // the status the function sets
  std::string prepareFailure;  // when not empty, Prepare fails the call with it
  std::string invokeFailure;   // when not empty, Invoke fails the call with it
  void* token = nullptr;       // what Prepare returns
  Throw throws = Throw::Nothing;
  const StaticTypeInfo* contextType = nullptr;

  int prepared = 0;
  int invoked = 0;
  std::vector<void*> released;
  std::vector<BindingProperty> arguments;  // as Prepare received them
  HostHandle context = 0;
  std::optional<HttpBaseTransport::Request> request;  // a copy of the record, when passed
};

class RecordingInvoker : public BindingInvoker {
 public:
  explicit RecordingInvoker(InvokerScript& script) : script_(script) {}

  void* Prepare(HttpCallState& state, std::vector<BindingProperty>& arguments,
                HostHandle context) override {
    ++script_.prepared;
    script_.arguments = arguments;
    script_.context = context;
    if (script_.throws == InvokerScript::Throw::StandardInPrepare) {
      throw std::runtime_error("prepare exploded");
    }
    if (!script_.prepareFailure.empty()) {
      state.Fail(script_.prepareFailure);
    }
    return script_.token;
  }

  void Invoke(HttpCallState& state, const RemotingRequest* request, void*, HostHandle) override {
    ++script_.invoked;
    if (request != nullptr) {
      script_.request = *request;
    }
    if (script_.throws == InvokerScript::Throw::StandardInInvoke) {
      throw std::runtime_error("invoke exploded");
    }
    if (script_.throws == InvokerScript::Throw::OtherInInvoke) {
      throw 42;
    }
    state.status = script_.status;
    if (!script_.invokeFailure.empty()) {
      state.Fail(script_.invokeFailure);
    } else {
      state.result = BindingResult(script_.result);
    }
  }

  void Release(void* token) override {
    script_.released.push_back(token);
    if (script_.throws == InvokerScript::Throw::InRelease) {
      throw std::runtime_error("release exploded");
    }
  }

  const StaticTypeInfo* RequestContextType() const override { return script_.contextType; }

 private:
  InvokerScript& script_;
};

// A host request. Texts are borrowed from the test. The body is copied into a buffer of exactly
// its size, without a NUL after it, so that a read past its end is caught by the address
// sanitizer; it is sent when it has bytes or a content type.
struct HostCall {
  std::string path{};
  HttpMethod method = HttpMethod::Get;
  std::vector<HostHeader> headers{};
  std::vector<HostRequestArgument> arguments{};
  const char* contentType = nullptr;
  std::string_view body{};
  HostHandle context = 0;
  const char* methodName = nullptr;
  std::shared_ptr<uint8_t[]> bodyBytes{};  // filled by For()

  // The request for `endpoint` (whose user data it carries); valid while this call lives.
  HostRequest For(const EndpointRecord& endpoint) {
    if (contentType != nullptr || !body.empty()) {
      bodyBytes.reset(new uint8_t[body.empty() ? 1 : body.size()]);
      std::memcpy(bodyBytes.get(), body.data(), body.size());
    }
    HostRequest request{};
    request.method = static_cast<HostMethod>(method);
    request.path = path.c_str();
    request.arguments = arguments.empty() ? nullptr : arguments.data();
    request.argumentCount = static_cast<uint32_t>(arguments.size());
    request.userData = &endpoint.userData;
    request.headers = headers.empty() ? nullptr : headers.data();
    request.headerCount = static_cast<uint32_t>(headers.size());
    request.contentType = contentType;
    request.body = bodyBytes.get();
    request.bodyLength = static_cast<uint32_t>(body.size());
    request.context = context;
    request.methodName = methodName;
    return request;
  }
};

// What a host reads from a response, copied out before the response is released.
struct Answer {
  bool failed = false;
  std::string error;
  uint32_t status = 0;
  BindingProperty body;
  std::string responseText;
};

// Reads the answer, then releases the response through the release function it carries.
Answer Release(HostResponse& response) {
  Answer answer;
  const char* error = response.result.error;
  answer.failed = error != nullptr;
  answer.error = error != nullptr ? error : "";
  answer.status = response.status;
  const HostValue body = response.result.value;
  HostResult scratch{};
  if (!FromHostValue(scratch, answer.body, body, "body")) {
    answer.body = "unreadable body";
  }
  ReleaseHostResult(scratch);
  const char* text = response.responseText;
  answer.responseText = text != nullptr ? text : "(null)";
  if (response.release == nullptr) {
    answer.failed = true;
    answer.error = "the response carries no release function";
  } else {
    response.release(&response);
  }
  return answer;
}

Answer CallHandler(const HostRequest* request) {
  HostResponse response{};
  HandleEndpointRequest(&response, request);
  return Release(response);
}

BindingProperty Structure(
    std::initializer_list<std::pair<std::string_view, BindingProperty>> members) {
  BindingProperty value;
  value.MakeStructure();
  for (const auto& [key, member] : members) {
    value.Member(key) = member;
  }
  return value;
}

BindingProperty Collection(std::initializer_list<BindingProperty> elements) {
  BindingProperty value;
  value.MakeCollection();
  for (const BindingProperty& element : elements) {
    value.Append() = element;
  }
  return value;
}

// A collection of `index` empty elements followed by `last`.
BindingProperty PaddedCollection(std::size_t index, const BindingProperty& last) {
  BindingProperty value;
  value.ElementAt(index) = last;
  return value;
}

HostValue HostString(const char* text) {
  HostValue value{};
  value.kind = HOST_VALUE_BORROWED_STRING;
  value.payload.string.text = text;
  value.payload.string.length = static_cast<uint32_t>(std::strlen(text));
  return value;
}

// A host value of `kind` with `number` as its payload (kind 11 is none the host defines).
HostValue HostOf(HostValueKind kind, int64_t number = 0) {
  HostValue value{};
  value.kind = kind;
  value.payload.signedValue = number;
  return value;
}

void ExpectValue(const BindingProperty& actual, const BindingProperty& expected) {
  const auto shown = [](const BindingProperty& value) {
    return value.Kind() == BindingPropertyKind::String
               ? "\"" + std::string(value.GetString()) + "\""
               : ToJson(value);
  };
  EXPECT_TRUE(actual == expected) << "actual " << shown(actual) << ", expected " << shown(expected);
}

std::string JsonFailure(std::string_view text) {
  return std::string(ParseJson(text).ErrorText());
}
std::string YamlFailure(std::string_view text) {
  return std::string(ParseYaml(text).ErrorText());
}
std::string MessagePackFailure(std::string_view bytes) {
  return std::string(DecodeMessagePack(bytes).result.ErrorText());
}

// One declared argument of a test function.
struct ArgumentDeclaration {
  const char* name;
  BindingTypeKind kind;
  ArgumentLocation location = ArgumentLocation::Any;
  bool optional = true;
};

// A call that binds: the values that Prepare must receive, by argument name.
struct Binds {
  HostCall call;
  std::vector<std::pair<const char*, BindingProperty>> received;
};

// A call refused with `error` (and status 0) before the function runs.
struct Refuses {
  HostCall call;
  std::string error;
};

class RequestHandler : public ::testing::Test {
 protected:
  void SetUp() override {
    find_ = &Declare("Find", "/find",
                     {{"verbose", K::Bool, L::Any, false},
                      {"name", K::String},
                      {"ids", K::Vector},
                      {"filter", K::Struct},
                      {"any", K::Object},
                      {"count", K::Int32},
                      {"token", K::String, L::Header},
                      {"where", K::String, L::Query},
                      {"x-foo", K::String},
                      {"X-Token", K::String}});
    item_ = &Declare("Item", "/items/{id}",
                     {{"id", K::String}, {"first", K::String, L::Query}, {"second", K::Int64}});
    post_ = &Declare(
        "Post", "/post",
        {{"name", K::String}, {"payload", K::Object, L::Body}, {"second", K::Object, L::Body}});
    call_ = &Declare("Call", "/call",
                     {{"flag", K::Bool, L::Any, false}, {"maybe", K::Bool}, {"name", K::String}});
  }

  // Registers a function with `arguments`, bound to a RecordingInvoker over script_, and
  // declares its endpoint.
  EndpointRecord& Declare(std::string_view name, std::string_view uriTemplate,
                          const std::vector<ArgumentDeclaration>& arguments,
                          HttpMethod method = HttpMethod::Get) {
    BindingFunctionDescriptor& function = registry_.RegisterFunction(name, arguments.size());
    for (std::size_t index = 0; index < arguments.size(); ++index) {
      const BindingTypeKind kind = arguments[index].kind;
      BindingRegistry::SetArgument(function, index,
                                   {kind, kind == K::Vector ? K::String : K::None, nullptr},
                                   arguments[index].optional);
      BindingRegistry::AddArgument(function, arguments[index].name, "");
    }
    function.implementation = std::make_unique<RecordingInvoker>(script_);
    EndpointRecord& endpoint = dispatcher_.Endpoint(function);
    endpoint.SetUriTemplate(uriTemplate);
    endpoint.method = method;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
      endpoint.SetLocation(index, arguments[index].location);
    }
    return endpoint;
  }

  static Answer Call(const EndpointRecord& endpoint, HostCall call) {
    const HostRequest request = call.For(endpoint);
    return CallHandler(&request);
  }

  // The value that Prepare received for the argument `name` of the endpoint's function.
  const BindingProperty& Received(const EndpointRecord& endpoint, std::string_view name) {
    static const BindingProperty missing("(argument not received)");
    const BindingArgumentDescriptor* argument = endpoint.function->FindArgument(name);
    if (argument == nullptr) {
      return missing;
    }
    const auto index = static_cast<std::size_t>(argument - endpoint.function->arguments.data());
    return index < script_.arguments.size() ? script_.arguments[index] : missing;
  }

  // A call that must fail with `message` and `status` before the function runs.
  void ExpectRefused(const Answer& answer, std::string_view message, uint32_t status = 0) {
    EXPECT_TRUE(answer.failed);
    EXPECT_EQ(answer.error, message);
    EXPECT_EQ(answer.status, status);
    EXPECT_TRUE(answer.body.IsEmpty());
    EXPECT_EQ(script_.prepared, 0);
    EXPECT_EQ(script_.invoked, 0);
  }

  void ExpectBinds(const EndpointRecord& endpoint, const std::vector<Binds>& cases) {
    for (std::size_t row = 0; row < cases.size(); ++row) {
      SCOPED_TRACE("row " + std::to_string(row) + ": " + cases[row].call.path);
      script_ = InvokerScript{};
      const Answer answer = Call(endpoint, cases[row].call);
      ASSERT_FALSE(answer.failed) << answer.error;
      for (const auto& [name, value] : cases[row].received) {
        SCOPED_TRACE(name);
        ExpectValue(Received(endpoint, name), value);
      }
    }
  }

  void ExpectRefuses(const EndpointRecord& endpoint, const std::vector<Refuses>& cases) {
    for (std::size_t row = 0; row < cases.size(); ++row) {
      SCOPED_TRACE("row " + std::to_string(row) + ": " + cases[row].call.path.substr(0, 80));
      script_ = InvokerScript{};
      ExpectRefused(Call(endpoint, cases[row].call), cases[row].error);
    }
  }

  InvokerScript script_;
  BindingRegistry registry_;
  RequestDispatcher dispatcher_;
  const EndpointRecord* find_ = nullptr;
  const EndpointRecord* item_ = nullptr;
  const EndpointRecord* post_ = nullptr;
  const EndpointRecord* call_ = nullptr;
};

// --- Routing ---

TEST_F(RequestHandler, AnswersTheResultWithItsStatusAndEnumNames) {
  const EndpointRecord& endpoint = Declare("WhereAmI", "/kor-geoinfo/v1/whereami", {});
  script_.result = Structure({{"country", "DE"}});
  script_.status = 200;
  Answer answer = Call(endpoint, {.path = "/kor-geoinfo/v1/whereami"});
  EXPECT_FALSE(answer.failed) << answer.error;
  EXPECT_EQ(answer.status, 200u);
  ExpectValue(answer.body, Structure({{"country", "DE"}}));
  EXPECT_EQ(answer.responseText, "");
  EXPECT_EQ(script_.prepared, 1);
  EXPECT_EQ(script_.invoked, 1);

  // Enum values are named through the function's registry.
  using RequestHandlerTest::Status;
  registry_.RegisterType<Status>("Status").AddEnumerator("ERROR", 3);
  script_.result.SetEnum(3, StaticTypeInfoOf<Status>());
  answer = Call(*call_, {.path = "/call"});
  ASSERT_FALSE(answer.failed) << answer.error;
  ExpectValue(answer.body, "ERROR");
}

TEST_F(RequestHandler, MatchesPathAndMethodOrAnswersInvalidFunction) {
  using M = HttpMethod;
  const struct {
    const char* uriTemplate;
    HttpMethod endpointMethod;
    const char* endpointName;
    HttpMethod method;
    const char* methodName;  // as the host sends it; only Other's counts
    const char* path;
    bool matches;
  } cases[] = {
      {"/items", M::Get, "", M::Get, "GET", "/items", true},
      {"/items", M::Get, "", M::Post, "POST", "/items", false},
      {"/items", M::None, "", M::Delete, "DELETE", "/items", true},
      {"/items", M::Get, "", M::None, "", "/items", false},
      {"/items", M::Get, "", M::Get, "GET", "/items/", false},
      {"/items", M::Get, "", M::Get, "GET", "/items?", true},  // the query is not part of the route
      {"/items/{id}", M::Get, "", M::Get, "GET", "/items/7", true},
      {"/items/{id}", M::Put, "", M::Get, "GET", "/items/7", false},
      {"/items/{id}", M::Get, "", M::Get, "GET", "/items/7/8", false},
      {"/items", M::Other, "PURGE", M::Other, "PURGE", "/items", true},
      {"/items", M::Other, "PURGE", M::Other, "PURGEX", "/items", false},
      {"/items", M::Other, "PURGE", M::Other, nullptr, "/items", false},
      // No template: the function's name is the route.
      {"", M::Get, "", M::Get, "GET", "Route", true},
      {"", M::Get, "", M::Get, "GET", "/Route", false},
  };
  for (const auto& route : cases) {
    SCOPED_TRACE(std::string(route.uriTemplate) + " " + route.path + " " +
                 (route.methodName != nullptr ? route.methodName : "(no name)"));
    script_ = InvokerScript{};
    // Later functions of the same name are detached from the registry's name map but keep it.
    EndpointRecord& endpoint =
        Declare("Route", route.uriTemplate, {{"id", K::String}}, route.endpointMethod);
    endpoint.methodName = route.endpointName;
    const Answer answer = Call(
        endpoint, {.path = route.path, .method = route.method, .methodName = route.methodName});
    if (route.matches) {
      EXPECT_FALSE(answer.failed) << answer.error;
      EXPECT_EQ(script_.invoked, 1);
    } else {
      ExpectRefused(answer, "Invalid function", 404);
    }
  }

  const EndpointRecord& moved = Declare("Moved", "/moved/{id}", {{"id", K::String, L::Query}});
  ExpectRefuses(moved, {{{.path = "/moved/7"},
                         "Argument 'id' for 'Moved' was specified in an invalid location."}});
}

// --- Binding arguments ---

TEST_F(RequestHandler, BindsQueryAndHeaders) {
  ExpectBinds(
      *find_,
      {
          // A bare name switches a bool on; a required bool not given is false.
          {{.path = "/find?verbose"}, {{"verbose", true}, {"name", {}}}},
          {{.path = "/find"}, {{"verbose", false}}},
          {{.path = "/find?verbose="}, {{"verbose", true}}},
          {{.path = "/find?verbose=false"}, {{"verbose", "false"}}},  // the invoker converts texts
          {{.path = "/find?count=5"}, {{"count", "5"}}},
          {{.path = "/find?na%6De=a%2Bb+c%21"}, {{"name", "a+b c!"}}},
          {{.path = "/find?name=a&name=b"}, {{"name", "b"}}},
          {{.path = "/find?&name=a&&"}, {{"name", "a"}}},  // empty pieces name nothing
          {{.path = "/find?name=a=b"}, {{"name", "a=b"}}},
          {{.path = "/find?where=here"}, {{"where", "here"}}},
          // Element paths; elements are never sniffed.
          {{.path = "/find?ids.0=a&ids.2=c"}, {{"ids", Collection({"a", {}, "c"})}}},
          {{.path = "/find?filter.x1=DE"}, {{"filter", Structure({{"x1", "DE"}})}}},
          {{.path = "/find?filter.codes.1=49"},
           {{"filter", Structure({{"codes", Collection({{}, "49"})}})}}},
          {{.path = "/find?ids.0x2=b"}, {{"ids", PaddedCollection(2, "b")}}},
          {{.path = "/find?ids.010=b"}, {{"ids", PaddedCollection(8, "b")}}},
          {{.path = "/find?ids.1023=b"}, {{"ids", PaddedCollection(1023, "b")}}},
          {{.path = "/find?ids.0=[1]"}, {{"ids", Collection({"[1]"})}}},
          {{.path = "/find?ids.1"}, {{"ids", Collection({{}, ""})}}},
          // Empty values make empty containers.
          {{.path = "/find?filter"}, {{"filter", Structure({})}}},
          {{.path = "/find?ids="}, {{"ids", Collection({})}}},
          {{.path = "/find?any"}, {{"any", Structure({})}}},
          // Container arguments are sniffed; strings never are.
          {{.path = "/find?ids=[1,2]"}, {{"ids", Collection({1u, 2u})}}},
          {{.path = "/find?name=[1,2]"}, {{"name", "[1,2]"}}},
          {{.path = "/find?ids=++[1]"}, {{"ids", Collection({1u})}}},
          {{.path = "/find?ids=%09[1]"}, {{"ids", "\t[1]"}}},  // only spaces are skipped
          {{.path = "/find?filter=%7B%22a%22%3A1%7D"}, {{"filter", Structure({{"a", 1u}})}}},
          {{.path = "/find?filter=---%0Aa%3A+x"}, {{"filter", Structure({{"a", "x"}})}}},
          {{.path = "/find?ids=%91%01"}, {{"ids", Collection({int64_t{1}})}}},
          {{.path = "/find?any=[true]"}, {{"any", Collection({true})}}},
          {{.path = "/find?filter=plain"}, {{"filter", "plain"}}},
          // Headers reach arguments only as the host spells the argument's name in lower case.
          {{.path = "/find", .headers = {{"x-foo", "bar"}}}, {{"x-foo", "bar"}}},
          {{.path = "/find", .headers = {{"X-Foo", "bar"}}}, {{"x-foo", {}}}},
          {{.path = "/find", .headers = {{"x-token", "t"}}}, {{"X-Token", "t"}}},
          {{.path = "/find", .headers = {{"X-Token", "t"}}}, {{"X-Token", {}}}},
          {{.path = "/find", .headers = {{"x-foo", "a"}, {"x-foo", "b"}}}, {{"x-foo", "b"}}},
          {{.path = "/find", .headers = {{"where", "w"}}}, {{"where", {}}}},   // query only
          {{.path = "/find", .headers = {{"token", "h"}}}, {{"token", "h"}}},  // header only
          {{.path = "/find", .headers = {{"accept", "*/*"}}}, {{"x-foo", {}}}},
      });
}

TEST_F(RequestHandler, RefusesQueryAndHeaders) {
  std::string deep = "/find?filter";
  for (int level = 0; level < 100000; ++level) {
    deep += ".a";
  }
  ExpectRefuses(
      *find_,
      {
          {{.path = "/find?other=1"}, "Unknown argument 'other' for 'Find'."},
          {{.path = "/find?other.x=1"}, "Unknown argument 'other' for 'Find'."},
          {{.path = "/find?=5"}, "Unknown argument '' for 'Find'."},
          {{.path = "/find?token=abc"},
           "Argument 'token' for 'Find' was specified in an invalid location."},
          {{.path = "/find?count"}, "Expected value for argument 'count'."},
          {{.path = "/find?name="}, "Expected value for argument 'name'."},
          {{.path = "/find?filter.1x=DE"}, "Index 1x is in an incorrect format"},
          {{.path = "/find?ids.08=x"}, "Index 08 is in an incorrect format"},
          {{.path = "/find?ids.0x=x"}, "Index 0x is in an incorrect format"},
          {{.path = "/find?ids.1024=x"}, "Index 1024 is out of range"},
          {{.path = "/find?ids.2147483648=x"}, "Index 2147483648 is out of range"},
          {{.path = "/find?ids.99999999999999999999999=x"},
           "Index 99999999999999999999999 is out of range"},
          {{.path = "/find?ids=[1,"},
           "Couldn't deserialize JSON value for parameter 'ids' of 'Find': " + JsonFailure("[1,")},
          {{.path = "/find?filter=---%0A%5B"},
           "Couldn't deserialize YAML value for parameter 'filter' of 'Find': " +
               YamlFailure("---\n[")},
          {{.path = "/find?ids=%91%CD%01"},
           "Couldn't deserialize MessagePack value for parameter 'ids' of 'Find': " +
               MessagePackFailure("\x91\xCD\x01")},
          {{.path = deep + "=x"},
           "Couldn't assign value to 'filter' because the input is nested deeper than 512 "
           "levels."},
          // Headers bind before the query; host arguments are not looked at after a failure.
          {{.path = "/find?other=1",
            .headers = {{"count", ""}},
            .arguments = {{"name", HostOf(11)}}},
           "Expected value for argument 'count'."},
      });
}

TEST_F(RequestHandler, HostArgumentsByNameAndByPositionAfterThePathArguments) {
  const HostValue one = HostString("one");
  const HostValue minusSeven = HostOf(HOST_VALUE_SIGNED, -7);
  ExpectBinds(*item_,
              {
                  // Placeholders are decoded, and the query stays out of them.
                  {{.path = "/items/a%20b+c?first=q"}, {{"id", "a b c"}, {"first", "q"}}},
                  // "first" is declared for the query: a host argument is not checked for that.
                  {{.path = "/items/5", .arguments = {{nullptr, one}, {nullptr, minusSeven}}},
                   {{"id", "5"}, {"first", "one"}, {"second", int64_t{-7}}}},
                  // The host's value overrides the path's and the query's.
                  {{.path = "/items/5", .arguments = {{"second", minusSeven}, {"id", one}}},
                   {{"id", "one"}, {"second", int64_t{-7}}}},
                  {{.path = "/items/5?first=query", .arguments = {{"first", HostString("host")}}},
                   {{"first", "host"}}},
              });
  const HostValue x = HostString("x");
  ExpectRefuses(
      *item_,
      {
          {{.path = "/items/5", .arguments = {{"nope", x}}}, "Unknown argument 'nope' for 'Item'."},
          {{.path = "/items/5", .arguments = {{"second.0", x}}},  // names are not split
           "Unknown argument 'second.0' for 'Item'."},
          {{.path = "/items/5", .arguments = {{nullptr, x}, {nullptr, x}, {nullptr, x}}},
           "Unknown argument '3' for 'Item'."},
          {{.path = "/items/5", .arguments = {{"second", HostOf(11)}}},
           "Couldn't assign value to 'second' of type object because the input is of an "
           "incompatible type ''."},
          {{.path = "/items/5", .arguments = {{nullptr, HostOf(11)}}},
           "Couldn't assign value to 'first' of type object because the input is of an "
           "incompatible type ''."},
      });
}

// A request to `path` with a body.
HostCall WithBody(const char* contentType, std::string_view body, const char* path = "/post") {
  return {.path = path, .contentType = contentType, .body = body};
}

TEST_F(RequestHandler, BodyGoesToTheFirstBodyArgumentByContentType) {
  using namespace std::string_view_literals;
  const std::vector<std::pair<const char*, BindingProperty>> decoded = {
      {"payload", Structure({{"a", 1u}})}, {"second", {}}};
  ExpectBinds(*post_, {
                          {WithBody("application/json", R"({"a":1})"), decoded},
                          {WithBody("application/json; charset=utf-8", R"({"a":1})"), decoded},
                          {WithBody("APPLICATION/JSON", R"({"a":1})"), decoded},
                          {WithBody("application/vnd.api+json", R"({"a":1})"), decoded},
                          {WithBody("application/json", "{\"a\":1}\0{garbage"sv), decoded},
                          {WithBody("application/x-yaml", "a: 1"), decoded},
                          {WithBody("application/x-yaml", "a: 1\0["sv), decoded},
                          {WithBody("application/x-msgpack", "\x81\xA1\x61\xCC\x01"), decoded},
                          // A body of no bytes is no body.
                          {WithBody("text/x-yaml", ""), {{"payload", {}}}},
                      });
  // Without a body argument the body is not looked at.
  ExpectBinds(Declare("Plain", "/plain", {{"name", K::String}}),
              {{WithBody("text/x-yaml", "a: 1", "/plain"), {{"name", {}}}}});

  ExpectRefuses(
      *post_,
      {
          {WithBody("text/x-yaml", "a: 1"), "Unsupported body content type"},
          {WithBody("application/octet-stream", "a"), "Unsupported body content type"},
          {WithBody("", "{}"), "Unsupported body content type"},
          {WithBody(nullptr, "{}"), "Unsupported body content type"},
          {WithBody("application/x-msgpack", "\x01\x02"), "Extra MessgePack data found in body"},
          {WithBody("application/x-msgpack", "\x91\xCD\x01"), MessagePackFailure("\x91\xCD\x01")},
          {WithBody("application/json", "{"), JsonFailure("{")},
          {WithBody("application/x-yaml", "["), YamlFailure("[")},
          // The body's failure replaces an earlier one; a body that decodes leaves it.
          {WithBody("application/json", "{", "/post?other=1"), JsonFailure("{")},
          {WithBody("text/plain", "x", "/post?other=1"), "Unsupported body content type"},
          {WithBody("application/json", "{}", "/post?other=1"),
           "Unknown argument 'other' for 'Post'."},
      });
}

// Argument texts with a content type: the handler passes none, other callers of the binding
// layer may.
TEST_F(RequestHandler, ContentTypeOfAnArgumentChoosesTheCodec) {
  using namespace std::string_view_literals;
  const BindingArgumentDescriptor& argument = *find_->function->FindArgument("any");
  BindingProperty blob;
  blob.SetBlob(BindingBlob{'a', 0, 'b'});
  const struct {
    const char* contentType;
    std::string_view text;
    bool sniff;
    BindingProperty expected;
  } cases[] = {
      {"application/x-msgpack", "\x91\xA1x", false, Collection({"x"})},
      {"application/x-msgpack-ext", "\x91\xA1x", false, Collection({"x"})},
      {"Application/JSON; charset=utf-8", "[1]\0garbage"sv, false, Collection({1u})},
      {"text/x-yaml", "a: x\0["sv, false, Structure({{"a", "x"}})},
      {"application/octet-stream", "a\0b"sv, false, blob},
      {"text/plain", "[1]", true, "[1]"},  // a content type turns sniffing off
      {"", "--- x", true, "x"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.contentType);
    HttpCallState state;
    BindingProperty value;
    DeserializeArgumentValue(state, value, *find_->function, argument, test.text, test.contentType,
                             test.sniff);
    ASSERT_FALSE(state.Failed()) << state.result.ErrorText();
    ExpectValue(value, test.expected);
  }
}

// --- Calling the function ---

TEST_F(RequestHandler, PrepareReceivesEveryArgumentInOrderAndTheContextWord) {
  ASSERT_FALSE(Call(*call_, {.path = "/call?name=n", .context = 0x1234}).failed);
  ASSERT_EQ(script_.arguments.size(), 3u);
  ExpectValue(script_.arguments[0], false);              // a required bool starts false
  ExpectValue(script_.arguments[1], BindingProperty());  // an optional one starts empty
  ExpectValue(script_.arguments[2], "n");
  EXPECT_EQ(script_.context, HostHandle{0x1234});
}

TEST_F(RequestHandler, TokenIsReleasedOnceWhateverHappensAfterPrepare) {
  int token = 0;
  using Throw = InvokerScript::Throw;
  const struct {
    const char* label;
    void* token;
    const char* prepareFailure;
    const char* invokeFailure;
    Throw throws;
    int invoked;
    const char* error;  // null: success
    uint32_t status;
  } cases[] = {
      {"success", &token, "", "", Throw::Nothing, 1, nullptr, 503},
      {"no token", nullptr, "", "", Throw::Nothing, 1, nullptr, 503},
      {"prepare fails", &token, "bad input", "", Throw::Nothing, 0, "bad input", 0},
      // A failure keeps the status the function set.
      {"invoke fails", &token, "", "no luck", Throw::Nothing, 1, "no luck", 503},
      {"prepare throws", &token, "", "", Throw::StandardInPrepare, 0,
       "Internal error while calling 'Call': prepare exploded", 500},
      {"invoke throws", &token, "", "", Throw::StandardInInvoke, 1,
       "Internal error while calling 'Call': invoke exploded", 500},
      {"invoke throws a non-exception", &token, "", "", Throw::OtherInInvoke, 1,
       "Internal error while calling 'Call': unknown exception", 500},
      {"release throws: the answer stands", &token, "", "", Throw::InRelease, 1, nullptr, 503},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    script_ = InvokerScript{};
    script_.result = "done";
    script_.status = 503;
    script_.token = test.token;
    script_.prepareFailure = test.prepareFailure;
    script_.invokeFailure = test.invokeFailure;
    script_.throws = test.throws;
    const Answer answer = Call(*call_, {.path = "/call"});
    EXPECT_EQ(answer.failed, test.error != nullptr);
    EXPECT_EQ(answer.error, test.error == nullptr ? "" : test.error);
    EXPECT_EQ(answer.status, test.status);
    ExpectValue(answer.body, test.error == nullptr ? BindingProperty("done") : BindingProperty());
    EXPECT_EQ(script_.invoked, test.invoked);
    // A token that Prepare handed out before throwing is lost with the exception.
    const bool handedOut = test.token != nullptr && test.throws != Throw::StandardInPrepare;
    EXPECT_EQ(script_.released, handedOut ? std::vector<void*>{test.token} : std::vector<void*>{});
  }
}

TEST_F(RequestHandler, FunctionWithoutInvokerIsRefused) {
  EndpointRecord& endpoint = Declare("Unbound", "/unbound", {});
  endpoint.invoker = nullptr;
  ExpectRefused(Call(endpoint, {.path = "/unbound"}),
                "Function 'Unbound' cannot be called: it has no invoker", 500);
}

TEST_F(RequestHandler, RequestRecordOnlyForTheRequestTypesAndDescribingTheRequest) {
  EndpointRecord& endpoint = Declare("Other", "/other", {{"x", K::String}}, HttpMethod::Other);
  endpoint.methodName = "PURGE";
  const StaticTypeInfo* types[] = {nullptr, &StaticTypeInfoOf<int>(),
                                   &StaticTypeInfoOf<HttpBaseTransport::Request>(),
                                   &StaticTypeInfoOf<RemotingRequest>()};
  for (const StaticTypeInfo* type : types) {
    SCOPED_TRACE(type == nullptr ? "none" : type->text);
    script_ = InvokerScript{};
    script_.contextType = type;
    const int64_t before = Platform::SystemTimeTicks();
    ASSERT_FALSE(Call(endpoint, {.path = "/other?x=1",
                                 .method = HttpMethod::Other,
                                 .headers = {{"Accept", "a"}, {"Accept", "b"}, {"x-y", "z"}},
                                 .context = 77,
                                 .methodName = "PURGE"})
                     .failed);
    const int64_t after = Platform::SystemTimeTicks();
    const bool wanted = type != nullptr && type != &StaticTypeInfoOf<int>();
    ASSERT_EQ(script_.request.has_value(), wanted);
    if (!wanted) {
      continue;
    }
    const HttpBaseTransport::Request& record = *script_.request;
    EXPECT_EQ(record.context, HostHandle{77});
    EXPECT_EQ(record.registry, &registry_);
    EXPECT_EQ(record.method, HttpMethod::Other);
    EXPECT_EQ(record.methodName, "PURGE");
    EXPECT_EQ(record.path, "/other?x=1");
    EXPECT_EQ(record.headers, (HttpHeaderMap{{"Accept", "b"}, {"x-y", "z"}}));
    EXPECT_GE(record.arrivalTime, before);
    EXPECT_LE(record.arrivalTime, after);
  }
}

// --- Writing the response ---

TEST_F(RequestHandler, WhatTheResponseHeldIsReleasedFirst) {
  HostResponse response{};
  HostCall refused{.path = "/elsewhere"};
  const HostRequest first = refused.For(*call_);
  HandleEndpointRequest(&response, &first);  // an owned error text
  script_.result = "second";
  HostCall accepted{.path = "/call"};
  const HostRequest second = accepted.For(*call_);
  HandleEndpointRequest(&response, &second);  // the sanitizer sees any leak
  const Answer answer = Release(response);
  EXPECT_FALSE(answer.failed) << answer.error;
  ExpectValue(answer.body, "second");
}

TEST_F(RequestHandler, LiteralRouteAllocatesNothingForRouting) {
  const EndpointRecord& endpoint = Declare("WhereAmI", "/kor-geoinfo/v1/whereami", {});
  HostCall call{.path = "/kor-geoinfo/v1/whereami"};
  const HostRequest request = call.For(endpoint);
  HostResponse response{};
  tAllocations = 0;
  tCountAllocations = true;
  HandleEndpointRequest(&response, &request);
  tCountAllocations = false;
  Release(response);
  EXPECT_EQ(script_.invoked, 1);
  // No pattern, no match record, no copy of the path: a literal route costs nothing but what
  // the function and the response need, and here they need nothing.
  EXPECT_EQ(tAllocations, 0u);
}

TEST_F(RequestHandler, ExhaustedMemoryIsAnsweredNotThrown) {
  HostCall call{.path = "/items/7"};
  const HostRequest request = call.For(*item_);
  const std::pair<FailAllocations, const char*> cases[] = {
      {FailAllocations::Next, "Internal error: std::bad_alloc"},
      {FailAllocations::All, "Out of memory."},  // not even the message could be built
  };
  for (const auto& [failing, error] : cases) {
    SCOPED_TRACE(error);
    HostResponse response{};
    tFailAllocations = failing;
    HandleEndpointRequest(&response, &request);
    tFailAllocations = FailAllocations::None;
    const Answer answer = Release(response);
    ExpectRefused(answer, error, 500);
    EXPECT_EQ(answer.responseText, "");
  }
}

// --- Malformed host input ---

TEST_F(RequestHandler, MalformedRequestIsAnsweredWithAnErrorWithoutReadingIt) {
  const HostEndpointUserData noEndpoint{nullptr, nullptr};
  const struct {
    const char* label;
    std::function<void(HostRequest&)> spoil;
    const char* error;
  } cases[] = {
      {"no path", [](HostRequest& r) { r.path = nullptr; },
       "Invalid request: the request has no path"},
      {"no user data", [](HostRequest& r) { r.userData = nullptr; },
       "Invalid request: the request names no endpoint"},
      {"no endpoint", [&](HostRequest& r) { r.userData = &noEndpoint; },
       "Invalid request: the request names no endpoint"},
      {"headers missing", [](HostRequest& r) { r.headers = nullptr; },
       "Invalid request: the headers are missing for a count of 2"},
      {"header without name",
       [](HostRequest& r) { const_cast<HostHeader*>(r.headers)[1].name = nullptr; },
       "Invalid request: header 1 has no name"},
      {"header without value",
       [](HostRequest& r) { const_cast<HostHeader*>(r.headers)[0].value = nullptr; },
       "Invalid request: header 0 has no value"},
      {"arguments missing", [](HostRequest& r) { r.arguments = nullptr; },
       "Invalid request: the arguments are missing for a count of 1"},
      {"body missing", [](HostRequest& r) { r.body = nullptr; },
       "Invalid request: the body bytes are missing for a count of 2"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    script_ = InvokerScript{};
    HostCall call{.path = "/call",
                  .headers = {{"a", "1"}, {"b", "2"}},
                  .arguments = {{"name", HostString("x")}},
                  .contentType = "application/json",
                  .body = "{}"};
    HostRequest request = call.For(*call_);
    test.spoil(request);
    ExpectRefused(CallHandler(&request), test.error, 400);
  }

  ExpectRefused(CallHandler(nullptr), "Invalid request: the request record is missing", 400);
  HandleEndpointRequest(nullptr, nullptr);  // nowhere to answer: returns

  HostCall call{.path = "/call"};
  HostRequest request = call.For(*call_);
  for (const char* path : {"/call", static_cast<const char*>(nullptr)}) {
    request.path = path;
    HostResponse response{};
    DispatchRequest(response, request, {});  // no patterns at all
    if (path != nullptr) {
      ExpectRefused(Release(response), "Invalid function", 404);
    } else {
      ExpectRefused(Release(response), "Invalid request: the request has no path", 400);
    }
  }
}

}  // namespace
}  // namespace Vexa
