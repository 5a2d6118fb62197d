// The endpoint handler driven as a host drives it: requests built from host records, answers
// read from the response and released through its own release function. Covers routing,
// argument binding from headers, path, query, host arguments and bodies, the call through the
// invoker, response writing, and requests that the host hands in malformed.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "binding/host_value.h"
#include "binding/registry.h"
#include "codecs/json.h"
#include "codecs/msgpack.h"
#include "codecs/yaml.h"
#include "dispatch/endpoint.h"
#include "dispatch/request_binding.h"
#include "dispatch/route_pattern.h"
#include "platform/clock.h"
#include "request_handler_test_support.h"

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

namespace Vexa::Testing {
namespace {

using K = BindingTypeKind;
using L = ArgumentLocation;

class DispatchTest : public ::testing::Test {
 protected:
  EndpointRecord& Declare(std::string_view name, std::string_view uriTemplate,
                          const std::vector<ArgumentDeclaration>& arguments,
                          HttpMethod method = HttpMethod::Get) {
    return DeclareEndpoint(registry_, dispatcher_, &script_, name, uriTemplate, method, arguments);
  }

  // A fresh script for the next call of a table (the invoker keeps referring to script_).
  void ResetScript() { script_ = InvokerScript{}; }

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

  InvokerScript script_;
  BindingRegistry registry_;
  RequestDispatcher dispatcher_;
};

void ExpectValue(const BindingProperty& actual, const BindingProperty& expected) {
  EXPECT_TRUE(actual == expected) << "actual " << Shown(actual) << ", expected " << Shown(expected);
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

// --- Routing ---

using RequestRouting = DispatchTest;

TEST_F(RequestRouting, LiteralRouteCallsTheFunctionAndAnswersItsResult) {
  const EndpointRecord& endpoint = Declare("WhereAmI", "/kor-geoinfo/v1/whereami", {});
  script_.result = Structure({{"country", "DE"}});
  script_.status = 200;
  HostCall call("/kor-geoinfo/v1/whereami");
  const Answer answer = CallHandler(&call.For(endpoint));
  EXPECT_FALSE(answer.failed) << answer.error;
  EXPECT_EQ(answer.status, 200u);
  ExpectValue(answer.body, Structure({{"country", "DE"}}));
  EXPECT_EQ(answer.responseText, "");
  EXPECT_EQ(script_.prepared, 1);
  EXPECT_EQ(script_.invoked, 1);
}

// "GET" and the like as the host numbers them; any other text is an Other method of that name,
// "*" one without a name, and "" no method at all.
void SetMethod(HttpMethod& method, std::string& name, std::string_view text) {
  const HttpMethod known[] = {HttpMethod::Get, HttpMethod::Post, HttpMethod::Put,
                              HttpMethod::Delete};
  method = text.empty() ? HttpMethod::None : HttpMethod::Other;
  name = text == "*" ? "" : std::string(text);
  for (const HttpMethod candidate : known) {
    if (HttpMethodText(candidate) == text) {
      method = candidate;
      name.clear();
    }
  }
}

TEST_F(RequestRouting, MatchesPathAndMethodOrAnswersInvalidFunction) {
  const struct {
    const char* uriTemplate;
    const char* endpointMethod;
    const char* requestMethod;
    const char* path;
    bool matches;
  } cases[] = {
      {"/items", "GET", "GET", "/items", true},
      {"/items", "GET", "POST", "/items", false},
      {"/items", "", "DELETE", "/items", true},
      {"/items", "GET", "", "/items", false},
      {"/items", "GET", "GET", "/items/", false},
      {"/items", "GET", "GET", "/items?", true},  // the query is not part of the route
      {"/items/{id}", "GET", "GET", "/items/7", true},
      {"/items/{id}", "PUT", "GET", "/items/7", false},
      {"/items/{id}", "GET", "GET", "/items/7/8", false},
      {"/items", "PURGE", "PURGE", "/items", true},
      {"/items", "PURGE", "PURGEX", "/items", false},
      {"/items", "PURGE", "*", "/items", false},
      {"", "GET", "GET", "Route", true},  // no template: the function's name is the route
      {"", "GET", "GET", "/Route", false},
  };
  for (const auto& route : cases) {
    SCOPED_TRACE(std::string(route.uriTemplate) + " " + route.requestMethod + " " + route.path);
    ResetScript();
    // Later functions of the same name are detached from the registry's name map but keep it.
    HttpMethod method{};
    std::string name;
    SetMethod(method, name, route.endpointMethod);
    EndpointRecord& endpoint = Declare("Route", route.uriTemplate, {{"id", K::String}}, method);
    endpoint.methodName = name;
    SetMethod(method, name, route.requestMethod);
    HostCall call(route.path, method);
    call.MethodName(std::string_view(route.requestMethod) == "*" ? nullptr : route.requestMethod);
    const Answer answer = CallHandler(&call.For(endpoint));
    if (route.matches) {
      EXPECT_FALSE(answer.failed) << answer.error;
      EXPECT_EQ(script_.invoked, 1);
    } else {
      ExpectRefused(answer, "Invalid function", 404);
    }
  }
}

TEST_F(RequestRouting, PlaceholdersAreDecodedAndTheQueryStaysOutOfThem) {
  const EndpointRecord& endpoint =
      Declare("Item", "/items/{id}", {{"id", K::String}, {"verbose", K::Bool, L::Any, false}});
  HostCall call("/items/a%20b+c?verbose");
  const Answer answer = CallHandler(&call.For(endpoint));
  ASSERT_FALSE(answer.failed) << answer.error;
  ExpectValue(Received(endpoint, "id"), "a b c");
  ExpectValue(Received(endpoint, "verbose"), true);
}

TEST_F(RequestRouting, PathArgumentDeclaredElsewhereIsRefused) {
  const EndpointRecord& endpoint = Declare("Item", "/items/{id}", {{"id", K::String, L::Query}});
  HostCall call("/items/7");
  ExpectRefused(CallHandler(&call.For(endpoint)),
                "Argument 'id' for 'Item' was specified in an invalid location.");
}

// --- Query ---

struct Bound {
  const char* path;
  const char* argument;      // whose received value is checked
  BindingProperty expected;  // that value
};

struct Refused {
  const char* path;
  std::string error;
};

class QueryBinding : public DispatchTest {
 protected:
  void SetUp() override {
    endpoint_ = &Declare("Find", "/find",
                         {{"verbose", K::Bool, L::Any, false},
                          {"name", K::String},
                          {"ids", K::Vector},
                          {"filter", K::Struct},
                          {"any", K::Object},
                          {"count", K::Int32},
                          {"token", K::String, L::Header},
                          {"where", K::String, L::Query}});
  }

  void Run(const std::vector<Bound>& cases) {
    for (const Bound& test : cases) {
      SCOPED_TRACE(test.path);
      ResetScript();
      HostCall call(test.path);
      const Answer answer = CallHandler(&call.For(*endpoint_));
      ASSERT_FALSE(answer.failed) << answer.error;
      ExpectValue(Received(*endpoint_, test.argument), test.expected);
    }
  }

  void Run(const std::vector<Refused>& cases) {
    for (const Refused& test : cases) {
      SCOPED_TRACE(test.path);
      ResetScript();
      HostCall call(test.path);
      ExpectRefused(CallHandler(&call.For(*endpoint_)), test.error);
    }
  }

  const EndpointRecord* endpoint_ = nullptr;
};

TEST_F(QueryBinding, NamesAndValues) {
  Run(std::vector<Bound>{
      {"/find?verbose", "verbose", true},  // a bare name switches a bool on
      {"/find", "verbose", false},         // a required bool not given is false
      {"/find?verbose=", "verbose", true},
      {"/find?verbose=false", "verbose", "false"},  // texts are the invoker's to convert
      {"/find?count=5", "count", "5"},
      {"/find?na%6De=a%2Bb+c%21", "name", "a+b c!"},
      {"/find?name=a&name=b", "name", "b"},
      {"/find?&name=a&&", "name", "a"},  // empty pieces name nothing
      {"/find?name=a=b", "name", "a=b"},
      {"/find?verbose", "name", BindingProperty()},
      {"/find?where=here", "where", "here"},
  });
}

TEST_F(QueryBinding, ElementPaths) {
  Run(std::vector<Bound>{
      {"/find?ids.0=a&ids.2=c", "ids", Collection({"a", {}, "c"})},
      {"/find?filter.x1=DE", "filter", Structure({{"x1", "DE"}})},
      {"/find?filter.codes.1=49", "filter", Structure({{"codes", Collection({{}, "49"})}})},
      {"/find?ids.0x2=b", "ids", PaddedCollection(2, "b")},
      {"/find?ids.010=b", "ids", PaddedCollection(8, "b")},
      {"/find?ids.1023=b", "ids", PaddedCollection(1023, "b")},
      {"/find?ids.0=[1]", "ids", Collection({"[1]"})},  // elements are not sniffed
      {"/find?ids.1", "ids", Collection({{}, ""})},
  });
}

TEST_F(QueryBinding, EmptyValuesMakeEmptyContainers) {
  Run(std::vector<Bound>{
      {"/find?filter", "filter", Structure({})},
      {"/find?ids=", "ids", Collection({})},
      {"/find?any", "any", Structure({})},
  });
}

TEST_F(QueryBinding, ContainerArgumentsAreSniffed) {
  Run(std::vector<Bound>{
      {"/find?ids=[1,2]", "ids", Collection({1u, 2u})},
      {"/find?name=[1,2]", "name", "[1,2]"},  // a string is never sniffed
      {"/find?ids=++[1]", "ids", Collection({1u})},
      {"/find?ids=%09[1]", "ids", "\t[1]"},  // only spaces are skipped
      {"/find?filter=%7B%22a%22%3A1%7D", "filter", Structure({{"a", 1u}})},
      {"/find?filter=---%0Aa%3A+x", "filter", Structure({{"a", "x"}})},
      {"/find?ids=%91%01", "ids", Collection({int64_t{1}})},
      {"/find?any=[true]", "any", Collection({true})},
      {"/find?filter=plain", "filter", "plain"},
  });
}

TEST_F(QueryBinding, Refusals) {
  Run(std::vector<Refused>{
      {"/find?other=1", "Unknown argument 'other' for 'Find'."},
      {"/find?other.x=1", "Unknown argument 'other' for 'Find'."},
      {"/find?=5", "Unknown argument '' for 'Find'."},
      {"/find?token=abc", "Argument 'token' for 'Find' was specified in an invalid location."},
      {"/find?count", "Expected value for argument 'count'."},
      {"/find?name=", "Expected value for argument 'name'."},
      {"/find?filter.1x=DE", "Index 1x is in an incorrect format"},
      {"/find?ids.08=x", "Index 08 is in an incorrect format"},
      {"/find?ids.0x=x", "Index 0x is in an incorrect format"},
      {"/find?ids.1024=x", "Index 1024 is out of range"},
      {"/find?ids.2147483648=x", "Index 2147483648 is out of range"},
      {"/find?ids.99999999999999999999999=x", "Index 99999999999999999999999 is out of range"},
      {"/find?ids=[1,",
       "Couldn't deserialize JSON value for parameter 'ids' of 'Find': " + JsonFailure("[1,")},
      {"/find?filter=---%0A%5B",
       "Couldn't deserialize YAML value for parameter 'filter' of 'Find': " +
           YamlFailure("---\n[")},
      {"/find?ids=%91%CD%01",
       "Couldn't deserialize MessagePack value for parameter 'ids' of 'Find': " +
           MessagePackFailure("\x91\xCD\x01")},
  });
}

TEST_F(QueryBinding, ElementPathDeeperThanAValueMayNestIsRefused) {
  std::string path = "/find?filter";
  for (int level = 0; level < 100000; ++level)
    path += ".a";
  path += "=x";
  Run(std::vector<Refused>{
      {path.c_str(),
       "Couldn't assign value to 'filter' because the input is nested deeper than 512 levels."}});
}

// --- Headers ---

class HeaderBinding : public DispatchTest {
 protected:
  void SetUp() override {
    endpoint_ = &Declare("Head", "/head",
                         {{"x-foo", K::String},
                          {"X-Token", K::String},
                          {"where", K::String, L::Query},
                          {"count", K::Int32},
                          {"header-only", K::String, L::Header}});
  }
  const EndpointRecord* endpoint_ = nullptr;
};

struct HeaderCase {
  const char* label;
  std::vector<std::pair<std::string, std::string>> headers;
  const char* argument;
  BindingProperty expected;
};

TEST_F(HeaderBinding, HeadersReachArgumentsByTheirLowerCaseNames) {
  const HeaderCase cases[] = {
      {"same name", {{"x-foo", "bar"}}, "x-foo", "bar"},
      {"host spells the name in capitals", {{"X-Foo", "bar"}}, "x-foo", BindingProperty()},
      {"argument spelled in capitals", {{"x-token", "t"}}, "X-Token", "t"},
      {"header spelled like the argument", {{"X-Token", "t"}}, "X-Token", BindingProperty()},
      {"repeated header keeps the last", {{"x-foo", "a"}, {"x-foo", "b"}}, "x-foo", "b"},
      {"query-only argument ignores headers", {{"where", "w"}}, "where", BindingProperty()},
      {"header-only argument", {{"header-only", "h"}}, "header-only", "h"},
      {"unrelated headers are ignored", {{"accept", "*/*"}}, "x-foo", BindingProperty()},
  };
  for (const HeaderCase& test : cases) {
    SCOPED_TRACE(test.label);
    ResetScript();
    HostCall call("/head");
    for (const auto& [name, value] : test.headers) {
      call.Header(name, value);
    }
    const Answer answer = CallHandler(&call.For(*endpoint_));
    ASSERT_FALSE(answer.failed) << answer.error;
    ExpectValue(Received(*endpoint_, test.argument), test.expected);
  }
}

TEST_F(HeaderBinding, EmptyHeaderValueNeedsAKindThatTakesIt) {
  HostCall call("/head");
  call.Header("count", "");
  ExpectRefused(CallHandler(&call.For(*endpoint_)), "Expected value for argument 'count'.");
}

// --- Host arguments ---

class HostArguments : public DispatchTest {
 protected:
  void SetUp() override {
    endpoint_ = &Declare("Item", "/items/{id}",
                         {{"id", K::String}, {"first", K::String, L::Query}, {"second", K::Int64}});
  }
  const EndpointRecord* endpoint_ = nullptr;
};

TEST_F(HostArguments, ByNameAndByPositionAfterThePathArguments) {
  const HostValue text = HostString("one");
  const HostValue number = HostSigned(-7);
  HostCall call("/items/5");
  call.Argument(nullptr, text).Argument(nullptr, number);
  const Answer answer = CallHandler(&call.For(*endpoint_));
  ASSERT_FALSE(answer.failed) << answer.error;
  ExpectValue(Received(*endpoint_, "id"), "5");
  ExpectValue(Received(*endpoint_, "first"), "one");  // declared for the query: not checked
  ExpectValue(Received(*endpoint_, "second"), int64_t{-7});

  ResetScript();
  HostCall named("/items/5");
  named.Argument("second", number).Argument("id", text);
  ASSERT_FALSE(CallHandler(&named.For(*endpoint_)).failed);
  ExpectValue(Received(*endpoint_, "id"), "one");  // the host's value overrides the path's
  ExpectValue(Received(*endpoint_, "second"), int64_t{-7});
}

TEST_F(HostArguments, HostValueOverridesTheQuery) {
  const HostValue text = HostString("host");
  HostCall call("/items/5?first=query");
  call.Argument("first", text);
  ASSERT_FALSE(CallHandler(&call.For(*endpoint_)).failed);
  ExpectValue(Received(*endpoint_, "first"), "host");
}

TEST_F(HostArguments, Refusals) {
  const HostValue text = HostString("x");
  HostValue unknownKind{};
  unknownKind.kind = 11;
  struct Case {
    const char* label;
    std::vector<std::pair<const char*, HostValue>> entries;
    const char* error;
  };
  const Case cases[] = {
      {"unknown name", {{"nope", text}}, "Unknown argument 'nope' for 'Item'."},
      {"names are not split", {{"second.0", text}}, "Unknown argument 'second.0' for 'Item'."},
      {"position beyond the arguments",
       {{nullptr, text}, {nullptr, text}, {nullptr, text}},
       "Unknown argument '3' for 'Item'."},
      {"unknown kind by name",
       {{"second", unknownKind}},
       "Couldn't assign value to 'second' of type object because the input is of an incompatible "
       "type ''."},
      {"unknown kind by position",
       {{nullptr, unknownKind}},
       "Couldn't assign value to 'first' of type object because the input is of an incompatible "
       "type ''."},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.label);
    ResetScript();
    HostCall call("/items/5");
    for (const auto& [name, value] : test.entries) {
      call.Argument(name, value);
    }
    ExpectRefused(CallHandler(&call.For(*endpoint_)), test.error);
  }
}

// --- Bodies ---

class RequestBody : public DispatchTest {
 protected:
  void SetUp() override {
    endpoint_ = &Declare(
        "Post", "/post",
        {{"name", K::String}, {"payload", K::Object, L::Body}, {"second", K::Object, L::Body}},
        HttpMethod::Post);
  }

  Answer Send(const char* contentType, std::string_view bytes, const char* path = "/post") {
    ResetScript();
    HostCall call(path, HttpMethod::Post);
    call.Body(contentType, bytes);
    return CallHandler(&call.For(*endpoint_));
  }

  const EndpointRecord* endpoint_ = nullptr;
};

TEST_F(RequestBody, DecodedByContentType) {
  using namespace std::string_view_literals;
  struct Case {
    const char* contentType;
    std::string_view bytes;
  };
  // Every body is in a buffer of exactly its size without a NUL after it.
  const Case cases[] = {
      {"application/json", R"({"a":1})"},
      {"application/json; charset=utf-8", R"({"a":1})"},
      {"APPLICATION/JSON", R"({"a":1})"},
      {"application/vnd.api+json", R"({"a":1})"},
      {"application/json", "{\"a\":1}\0{garbage"sv},
      {"application/x-yaml", "a: 1"},
      {"application/x-yaml", "a: 1\0["sv},
      {"application/x-msgpack", "\x81\xA1\x61\xCC\x01"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.contentType);
    const Answer answer = Send(test.contentType, test.bytes);
    ASSERT_FALSE(answer.failed) << answer.error;
    ExpectValue(Received(*endpoint_, "payload"), Structure({{"a", 1u}}));
    ExpectValue(Received(*endpoint_, "second"), BindingProperty());  // only the first
  }
}

TEST_F(RequestBody, Refusals) {
  struct Case {
    const char* contentType;
    std::string_view bytes;
    std::string error;
  };
  const Case cases[] = {
      {"text/x-yaml", "a: 1", "Unsupported body content type"},
      {"application/octet-stream", "a", "Unsupported body content type"},
      {"", "{}", "Unsupported body content type"},
      {nullptr, "{}", "Unsupported body content type"},
      {"application/x-msgpack", "\x01\x02", "Extra MessgePack data found in body"},
      {"application/x-msgpack", "\x91\xCD\x01", MessagePackFailure("\x91\xCD\x01")},
      {"application/json", "{", JsonFailure("{")},
      {"application/x-yaml", "[", YamlFailure("[")},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.contentType == nullptr ? "(null)" : test.contentType);
    ExpectRefused(Send(test.contentType, test.bytes), test.error);
  }
}

TEST_F(RequestBody, IgnoredWithoutABodyArgumentOrBytes) {
  const EndpointRecord& plain = Declare("Plain", "/plain", {{"name", K::String}}, HttpMethod::Post);
  HostCall call("/plain", HttpMethod::Post);
  call.Body("text/x-yaml", "a: 1");
  EXPECT_FALSE(CallHandler(&call.For(plain)).failed);

  const Answer empty = Send("text/x-yaml", "");
  EXPECT_FALSE(empty.failed) << empty.error;
  ExpectValue(Received(*endpoint_, "payload"), BindingProperty());
}

TEST_F(RequestBody, ItsFailureReplacesAnEarlierOne) {
  ExpectRefused(Send("application/json", "{", "/post?other=1"), JsonFailure("{"));
  ExpectRefused(Send("text/plain", "x", "/post?other=1"), "Unsupported body content type");
  // A body that decodes leaves the earlier failure standing.
  ExpectRefused(Send("application/json", "{}", "/post?other=1"),
                "Unknown argument 'other' for 'Post'.");
}

// --- Order of failures ---

TEST_F(QueryBinding, FirstFailureStopsTheRest) {
  HostValue unknownKind{};
  unknownKind.kind = 11;
  HostCall call("/find?other=1");
  call.Header("count", "").Argument("name", unknownKind);
  // Headers bind before the query; host arguments are not looked at after a failure.
  ExpectRefused(CallHandler(&call.For(*endpoint_)), "Expected value for argument 'count'.");
}

// --- Calling the function ---

using Invocation = DispatchTest;

TEST_F(Invocation, PrepareReceivesEveryArgumentInOrderAndTheContextWord) {
  const EndpointRecord& endpoint = Declare(
      "Call", "/call", {{"flag", K::Bool, L::Any, false}, {"maybe", K::Bool}, {"name", K::String}});
  HostCall call("/call?name=n");
  call.Context(0x1234);
  ASSERT_FALSE(CallHandler(&call.For(endpoint)).failed);
  ASSERT_EQ(script_.arguments.size(), 3u);
  ExpectValue(script_.arguments[0], false);              // a required bool starts false
  ExpectValue(script_.arguments[1], BindingProperty());  // an optional one starts empty
  ExpectValue(script_.arguments[2], "n");
  EXPECT_EQ(script_.context, HostHandle{0x1234});
}

TEST_F(Invocation, TokenIsReleasedOnceWhateverHappensAfterPrepare) {
  const EndpointRecord& endpoint = Declare("Call", "/call", {});
  int token = 0;
  using Throw = InvokerScript::Throw;
  struct Case {
    const char* label;
    void* token;
    const char* prepareFailure;
    const char* invokeFailure;
    Throw throws;
    int invoked;
    const char* error;  // null: success
    uint32_t status;
  };
  const Case cases[] = {
      {"success", &token, "", "", Throw::Nothing, 1, nullptr, 0},
      {"no token", nullptr, "", "", Throw::Nothing, 1, nullptr, 0},
      {"prepare fails", &token, "bad input", "", Throw::Nothing, 0, "bad input", 0},
      {"invoke fails", &token, "", "no luck", Throw::Nothing, 1, "no luck", 0},
      {"prepare throws", &token, "", "", Throw::StandardInPrepare, 0,
       "Internal error while calling 'Call': prepare exploded", 500},
      {"invoke throws", &token, "", "", Throw::StandardInInvoke, 1,
       "Internal error while calling 'Call': invoke exploded", 500},
      {"invoke throws a non-exception", &token, "", "", Throw::OtherInInvoke, 1,
       "Internal error while calling 'Call': unknown exception", 500},
      {"release throws: the answer stands", &token, "", "", Throw::InRelease, 1, nullptr, 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.label);
    ResetScript();
    script_.token = test.token;
    script_.prepareFailure = test.prepareFailure;
    script_.invokeFailure = test.invokeFailure;
    script_.throws = test.throws;
    HostCall call("/call");
    const Answer answer = CallHandler(&call.For(endpoint));
    EXPECT_EQ(answer.failed, test.error != nullptr);
    EXPECT_EQ(answer.error, test.error == nullptr ? "" : test.error);
    EXPECT_EQ(answer.status, test.status);
    EXPECT_EQ(script_.invoked, test.invoked);
    // A token that Prepare handed out before throwing is lost with the exception.
    const bool handedOut = test.token != nullptr && test.throws != Throw::StandardInPrepare;
    EXPECT_EQ(script_.released, handedOut ? std::vector<void*>{test.token} : std::vector<void*>{});
  }
}

TEST_F(Invocation, FailureKeepsTheStatusTheFunctionSet) {
  const EndpointRecord& endpoint = Declare("Call", "/call", {});
  script_.status = 503;
  script_.invokeFailure = "Service unavailable";
  HostCall call("/call");
  const Answer answer = CallHandler(&call.For(endpoint));
  EXPECT_EQ(answer.error, "Service unavailable");
  EXPECT_EQ(answer.status, 503u);
  EXPECT_TRUE(answer.body.IsEmpty());
}

TEST_F(Invocation, FunctionWithoutInvokerIsRefused) {
  const EndpointRecord& endpoint =
      DeclareEndpoint(registry_, dispatcher_, nullptr, "Unbound", "/unbound", HttpMethod::Get, {});
  HostCall call("/unbound");
  ExpectRefused(CallHandler(&call.For(endpoint)),
                "Function 'Unbound' cannot be called: it has no invoker", 500);
}

TEST_F(Invocation, RequestRecordOnlyForTheRequestTypesAndDescribingTheRequest) {
  EndpointRecord& endpoint = Declare("Call", "/call", {{"x", K::String}}, HttpMethod::Other);
  endpoint.methodName = "PURGE";
  const StaticTypeInfo* types[] = {nullptr, &StaticTypeInfoOf<int>(),
                                   &StaticTypeInfoOf<HttpBaseTransport::Request>(),
                                   &StaticTypeInfoOf<RemotingRequest>()};
  for (const StaticTypeInfo* type : types) {
    SCOPED_TRACE(type == nullptr ? "none" : type->text);
    ResetScript();
    script_.contextType = type;
    HostCall call("/call?x=1", HttpMethod::Other);
    call.MethodName("PURGE").Context(77).Header("Accept", "a").Header("Accept", "b");
    call.Header("x-y", "z");
    const int64_t before = Platform::SystemTimeTicks();
    ASSERT_FALSE(CallHandler(&call.For(endpoint)).failed);
    const int64_t after = Platform::SystemTimeTicks();
    const bool wanted = type != nullptr && type != &StaticTypeInfoOf<int>();
    ASSERT_EQ(script_.receivedRequest, wanted);
    if (!wanted) {
      continue;
    }
    const HttpBaseTransport::Request& record = *script_.request;
    EXPECT_EQ(record.context, HostHandle{77});
    EXPECT_EQ(record.registry, &registry_);
    EXPECT_EQ(record.method, HttpMethod::Other);
    EXPECT_EQ(record.methodName, "PURGE");
    EXPECT_EQ(record.path, "/call?x=1");
    EXPECT_EQ(record.headers, (HttpHeaderMap{{"Accept", "b"}, {"x-y", "z"}}));
    EXPECT_GE(record.arrivalTime, before);
    EXPECT_LE(record.arrivalTime, after);
  }
}

// --- Writing the response ---

using ResponseWriting = DispatchTest;

TEST_F(ResponseWriting, EnumResultsAreNamedThroughTheFunctionsRegistry) {
  using RequestHandlerTest::Status;
  registry_.RegisterType<Status>("Status").AddEnumerator("ERROR", 3);
  const EndpointRecord& endpoint = Declare("Call", "/call", {});
  script_.result.SetEnum(3, StaticTypeInfoOf<Status>());
  HostCall call("/call");
  const Answer answer = CallHandler(&call.For(endpoint));
  ASSERT_FALSE(answer.failed) << answer.error;
  ExpectValue(answer.body, "ERROR");
}

TEST_F(ResponseWriting, WhatTheResponseHeldIsReleasedFirst) {
  const EndpointRecord& endpoint = Declare("Call", "/call", {});
  HostResponse response{};
  HostCall refused("/elsewhere");
  HandleEndpointRequest(&response, &refused.For(endpoint));  // an owned error text
  script_.result = "second";
  HostCall accepted("/call");
  HandleEndpointRequest(&response, &accepted.For(endpoint));  // the sanitizer sees any leak
  const Answer answer = ReadAnswer(response);
  response.release(&response);
  EXPECT_FALSE(answer.failed) << answer.error;
  ExpectValue(answer.body, "second");
}

TEST_F(ResponseWriting, LiteralRouteAllocatesNothingForRouting) {
  const EndpointRecord& endpoint = Declare("WhereAmI", "/kor-geoinfo/v1/whereami", {});
  HostCall call("/kor-geoinfo/v1/whereami");
  const HostRequest& request = call.For(endpoint);
  HostResponse response{};
  tAllocations = 0;
  tCountAllocations = true;
  HandleEndpointRequest(&response, &request);
  tCountAllocations = false;
  response.release(&response);
  EXPECT_EQ(script_.invoked, 1);
  // No pattern, no match record, no copy of the path: a literal route costs nothing but what
  // the function and the response need, and here they need nothing.
  EXPECT_EQ(tAllocations, 0u);
}

TEST_F(ResponseWriting, ExhaustedMemoryIsAnsweredNotThrown) {
  const EndpointRecord& endpoint = Declare("Item", "/items/{id}", {{"id", K::String}});
  HostCall call("/items/7");
  const HostRequest& request = call.For(endpoint);
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
    const Answer answer = ReadAnswer(response);
    response.release(&response);
    ExpectRefused(answer, error, 500);
    EXPECT_EQ(answer.responseText, "");
  }
}

// --- Malformed host input ---

using MalformedRequest = DispatchTest;

TEST_F(MalformedRequest, AnsweredWithAnErrorWithoutReadingIt) {
  const EndpointRecord& endpoint = Declare("Call", "/call", {{"name", K::String}});
  const HostValue text = HostString("x");
  const HostEndpointUserData noEndpoint{nullptr, nullptr};
  struct Case {
    const char* label;
    std::function<void(HostRequest&)> spoil;
    const char* error;
  };
  const Case cases[] = {
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
  for (const Case& test : cases) {
    SCOPED_TRACE(test.label);
    ResetScript();
    HostCall call("/call");
    call.Header("a", "1").Header("b", "2").Argument("name", text).Body("application/json", "{}");
    HostRequest request = call.For(endpoint);
    test.spoil(request);
    ExpectRefused(CallHandler(&request), test.error, 400);
  }
}

TEST_F(MalformedRequest, NullRecords) {
  ExpectRefused(CallHandler(nullptr), "Invalid request: the request record is missing", 400);
  HandleEndpointRequest(nullptr, nullptr);  // nowhere to answer: returns

  const EndpointRecord& endpoint = Declare("Call", "/call", {});
  HostCall call("/call");
  HostRequest request = call.For(endpoint);
  for (const char* path : {"/call", static_cast<const char*>(nullptr)}) {
    request.path = path;
    HostResponse response{};
    DispatchRequest(response, request, {});  // no patterns at all
    const Answer answer = ReadAnswer(response);
    response.release(&response);
    if (path != nullptr) {
      ExpectRefused(answer, "Invalid function", 404);
    } else {
      ExpectRefused(answer, "Invalid request: the request has no path", 400);
    }
  }
}

// --- Binding directly, with content types ---

using ArgumentDecoding = DispatchTest;

// Argument texts with a content type: the handler passes none, other callers of the binding
// layer may.
TEST_F(ArgumentDecoding, ContentTypeChoosesTheCodec) {
  using namespace std::string_view_literals;
  const EndpointRecord& endpoint = Declare("Decode", "/decode", {{"value", K::Object}});
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
    DeserializeArgumentValue(state, value, *endpoint.function, endpoint.function->arguments[0],
                             test.text, test.contentType, test.sniff);
    ASSERT_FALSE(state.Failed()) << state.result.ErrorText();
    ExpectValue(value, test.expected);
  }
}

}  // namespace
}  // namespace Vexa::Testing
