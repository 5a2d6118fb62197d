// Bound functions called through the BindingInvoker interface the way the request dispatcher
// calls them, EndpointAnswer results, and endpoint declarations.
#include "dispatch/bound_function.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "binding/field_registration.h"
#include "dispatch/endpoint.h"
#include "dispatch/endpoint_answer.h"
#include "dispatch/endpoint_declaration.h"

namespace Vexa {
namespace {

struct BoundPoint {
  int32_t x = 0;
  std::string label;
};
VEXA_STATIC_TYPE(BoundPoint, "struct Vexa::BoundPoint");

struct UnregisteredPoint {
  int32_t x = 0;
};
VEXA_STATIC_TYPE(UnregisteredPoint, "struct Vexa::UnregisteredPoint");

// An empty body stream that counts its destructions.
class CountedStream : public HttpBodyStream {
 public:
  explicit CountedStream(int* destroyed) : destroyed_(destroyed) {}
  ~CountedStream() override { ++*destroyed_; }
  uint8_t Read(void*, uint32_t*, uint8_t*) override { return 0; }
  [[nodiscard]] uint32_t Length() const override { return 0; }

 private:
  int* destroyed_;
};

struct Received {
  int32_t count = 0;
  std::string name;
  std::optional<int32_t> limit;
  std::vector<std::string> tags;
  BoundPoint point;
  bool called = false;
};
Received gReceived;

void TakeEverything(int32_t count, const std::string& name, std::optional<int32_t> limit,
                    std::vector<std::string> tags, const BoundPoint& point) {
  gReceived = {count, name, limit, std::move(tags), point, true};
}

BoundPoint MakePoint(int32_t x) {
  return {x, "made"};
}

class BoundFunctionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gReceived = {};
    RegisterRecord<BoundPoint>(registry_, "BoundPoint")
        .Field("x", &BoundPoint::x)
        .Field("label", &BoundPoint::label);
  }

  // Registers the function under `name` and names its arguments in order.
  template <typename... Bound>
  BindingFunctionDescriptor& Register(std::string_view name,
                                      std::initializer_list<std::string_view> argumentNames,
                                      Bound... bound) {
    BindingFunctionDescriptor& function = RegisterBoundFunction(registry_, name, bound...);
    for (const std::string_view argumentName : argumentNames) {
      BindingRegistry::AddArgument(function, argumentName, "");
    }
    return function;
  }

  // Prepare, Invoke when Prepare left no failure, Release of a token: the dispatcher's order.
  static HttpCallState Call(const BindingFunctionDescriptor& function,
                            std::vector<BindingProperty> values,
                            const RemotingRequest* request = nullptr) {
    HttpCallState state;
    void* token = InvokerOf(function)->Prepare(state, values, 0);
    if (!state.Failed()) {
      InvokerOf(function)->Invoke(state, request, token, 0);
    }
    if (token != nullptr) {
      InvokerOf(function)->Release(token);
    }
    return state;
  }

  BindingRegistry registry_;
  RequestDispatcher dispatcher_;
};

class Counter {
 public:
  int32_t Add(int32_t amount) { return total_ += amount; }
  [[nodiscard]] std::string Describe(const std::string& prefix) const {
    return prefix + std::to_string(total_);
  }

 private:
  int32_t total_ = 10;
};

TEST_F(BoundFunctionTest, ConvertsEachArgumentToItsParameterType) {
  const auto& function =
      Register("TakeEverything", {"count", "name", "limit", "tags", "point"}, &TakeEverything);
  BindingProperty tags;
  tags.Append() = "a";
  BindingProperty point;
  point.Member("x") = "12";

  const HttpCallState state = Call(function, {"0x10", "Bob", BindingProperty(), tags, point});
  ASSERT_TRUE(state.result.Ok()) << state.result.ErrorText();
  EXPECT_TRUE(state.result.value.IsEmpty());  // void result
  EXPECT_EQ(gReceived.count, 16);
  EXPECT_EQ(gReceived.name, "Bob");
  EXPECT_FALSE(gReceived.limit.has_value());
  EXPECT_EQ(gReceived.tags, std::vector<std::string>{"a"});
  EXPECT_EQ(gReceived.point.x, 12);

  // Member functions run on their object.
  Counter counter;
  const auto& add = Register("Add", {"amount"}, &Counter::Add, &counter);
  EXPECT_EQ(Call(add, {5}).result.value.GetSigned(), 15);
  EXPECT_EQ(Call(add, {"-1"}).result.value.GetSigned(), 14);
  const auto& describe = Register("Describe", {"prefix"}, &Counter::Describe, &counter);
  EXPECT_EQ(Call(describe, {"total "}).result.value.GetString(), "total 14");
}

TEST_F(BoundFunctionTest, DescriptorCarriesArgumentTypesOptionalFlagsAndReturnType) {
  const auto& function = RegisterBoundFunction(registry_, "TakeEverything", &TakeEverything);
  const BindingTypeDescriptor* point = registry_.FindType("BoundPoint");
  ASSERT_EQ(function.arguments.size(), 5u);
  EXPECT_FALSE(function.arguments[0].optional);
  EXPECT_TRUE(function.arguments[2].optional);
  EXPECT_EQ(function.arguments[2].type, BindingTypeIdentifier{BindingTypeKind::Int32});
  EXPECT_EQ(function.arguments[3].type,
            (BindingTypeIdentifier{BindingTypeKind::Vector, BindingTypeKind::String}));
  EXPECT_EQ(function.arguments[4].type.descriptor, point);
  EXPECT_EQ(function.returnType.kind, BindingTypeKind::None);
  EXPECT_EQ(RegisterBoundFunction(registry_, "MakePoint", &MakePoint).returnType.descriptor, point);
}

TEST_F(BoundFunctionTest, FailuresBecomeTheCallsMessageAndStatus) {
  using Answer = EndpointAnswer<BoundPoint>;
  Register("Take", {"count", "name", "limit", "tags", "point"}, &TakeEverything);
  Register("Off", {}, [] { return Answer::Error(503, "contenttargeting.geoinfo is not enabled"); });
  Register("NotFound", {}, [] { return Answer::NotFound(""); });
  Register("Empty", {}, [] { return Answer::NotFound("Data retrieved is empty"); });
  Register("Explode", {}, []() -> int32_t { throw std::runtime_error("boom"); });
  Register("Throw", {}, []() -> int32_t { throw 7; });
  Register("None", {"amount"}, &Counter::Add, static_cast<Counter*>(nullptr));
  const struct {
    const char* function;
    std::vector<BindingProperty> values;
    const char* message;
    uint32_t status = 0;
  } cases[] = {
      {"Take",
       {"12abc", "n", 1, {}, {}},
       "Value 12abc for 'count' of type int32 is in an incorrect format"},
      {"Take",
       {1, 2, 1, {}, {}},
       "Couldn't assign value to 'name' because the input is not a string."},
      {"Take",
       {1, "n", 1, BindingProperty().MakeCollection(), {}},
       "A value for 'point' is required."},
      // A short value list: the arguments not given are reported, not read past the end.
      {"Take", {1}, "A value for 'name' is required."},
      {"Off", {}, "contenttargeting.geoinfo is not enabled", 503},
      {"NotFound", {}, "Not found", 404},
      {"Empty", {}, "Data retrieved is empty", 404},
      {"Explode", {}, "Call of 'Explode' failed: boom"},
      {"Throw", {}, "Call of 'Throw' failed with an unknown exception."},
      {"None", {1}, "Call of 'None' failed: the function was bound to no object"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const HttpCallState state = Call(*registry_.FindFunction(c.function), c.values);
    EXPECT_FALSE(state.result.Ok());
    EXPECT_EQ(state.result.ErrorText(), c.message);
    EXPECT_EQ(state.status, c.status);
    EXPECT_FALSE(gReceived.called);
  }

  HttpCallState state;  // a caller that skipped Prepare
  InvokerOf(Register("MakePoint", {"x"}, &MakePoint))->Invoke(state, nullptr, nullptr, 0);
  EXPECT_EQ(state.result.ErrorText(),
            "Call of 'MakePoint' failed: its arguments were not prepared.");
}

// A good answer's response data is copied and its stream handed on; a failed one keeps its
// headers and status but sends no stream.
TEST_F(BoundFunctionTest, AnswersCarryTheirResponseData) {
  int destroyed = 0;
  const auto& good = Register("Answer", {}, [&destroyed] {
    EndpointAnswer<BoundPoint> answer(BoundPoint{3, "three"});
    answer.responseFlags = 2;
    answer.responseFormat = 3;
    answer.status = 201;
    answer.responseText = "created";
    answer.headers["Location"] = "/points/3";
    answer.bodyStream = std::make_unique<CountedStream>(&destroyed);
    return answer;
  });
  HttpCallState state = Call(good, {});
  EXPECT_EQ(state.result.value.Member("x").GetSigned(), 3);
  EXPECT_EQ(state.responseFlags, 2);
  EXPECT_EQ(state.responseFormat, 3u);
  EXPECT_EQ(state.status, 201u);
  EXPECT_EQ(state.responseText, "created");
  EXPECT_EQ(state.headers, (HttpHeaderMap{{"Location", "/points/3"}}));
  ASSERT_TRUE(state.bodyStream != nullptr);
  state.bodyStream.reset();
  EXPECT_EQ(destroyed, 1);

  const auto& failed = Register("Unconvertible", {}, [&destroyed] {
    EndpointAnswer<UnregisteredPoint> answer;  // ok, but its value cannot be converted
    answer.status = 200;
    answer.headers["Retry-After"] = "5";
    answer.bodyStream = std::make_unique<CountedStream>(&destroyed);
    return answer;
  });
  state = Call(failed, {});
  EXPECT_EQ(state.result.ErrorText(),
            "Couldn't convert native value because it's an unregistered structure.");
  EXPECT_EQ(state.status, 200u);
  EXPECT_EQ(state.headers, (HttpHeaderMap{{"Retry-After", "5"}}));
  EXPECT_TRUE(state.bodyStream == nullptr);
  EXPECT_EQ(destroyed, 2);
}

TEST_F(BoundFunctionTest, RequestParametersReceiveTheRecordAndAreNoArguments) {
  std::string seen;
  const auto& byReference =
      Register("ByReference", {"id"}, [&](const RemotingRequest& request, int32_t id) {
        seen = request.path + "#" + std::to_string(id);
      });
  ASSERT_EQ(byReference.arguments.size(), 1u);
  EXPECT_EQ(InvokerOf(byReference)->RequestContextType(), &StaticTypeInfoOf<RemotingRequest>());
  RemotingRequest request;
  request.path = "/items/4";
  ASSERT_TRUE(Call(byReference, {4}, &request).result.Ok());
  EXPECT_EQ(seen, "/items/4#4");
  ASSERT_TRUE(Call(byReference, {5}).result.Ok());  // no record given: an empty one
  EXPECT_EQ(seen, "#5");

  const auto& byPointer = Register("ByPointer", {}, [&](const HttpBaseTransport::Request* record) {
    seen = record == nullptr ? "null" : record->path;
  });
  EXPECT_EQ(InvokerOf(byPointer)->RequestContextType(),
            &StaticTypeInfoOf<HttpBaseTransport::Request>());
  ASSERT_TRUE(Call(byPointer, {}, &request).result.Ok());
  EXPECT_EQ(seen, "/items/4");
  EXPECT_EQ(InvokerOf(Register("Plain", {"x"}, &MakePoint))->RequestContextType(), nullptr);
}

// --- Declarations ---

struct GeoModule {
  EndpointAnswer<BoundPoint> GetLocation(const std::string& ip) { return BoundPoint{1, ip}; }
  void Purge(const std::string&, const std::string&, BindingProperty, int32_t) {}
};

std::vector<std::string> ArgumentNames(const BindingFunctionDescriptor& function) {
  std::vector<std::string> names;
  for (const BindingArgumentDescriptor& argument : function.arguments) {
    names.push_back(argument.name);
  }
  return names;
}

TEST_F(BoundFunctionTest, DeclaresEndpointsUnderTheirOperationNames) {
  GeoModule module;
  DeclareEndpoint(dispatcher_, registry_, HttpMethod::Get, "/kor-geoinfo/v1/getlocation/",
                  &GeoModule::GetLocation, &module)
      .Tags({"Plugins", "Plugin mdl-be-kor-geoinfo"})
      .Query("ip_address", "The IP address to locate");
  DeclareEndpoint(dispatcher_, registry_, EndpointMethod::Other("PURGE"), "/cache/{key}",
                  &GeoModule::Purge, &module)
      .Path("key")
      .Header("x-token")
      .Body("body")
      .Argument("level");

  const BindingFunctionDescriptor* get = registry_.FindFunction("GetKorGeoinfoV1Getlocation");
  ASSERT_NE(get, nullptr);
  EXPECT_EQ(ArgumentNames(*get), std::vector<std::string>{"ip_address"});
  EXPECT_EQ(get->tags, (std::vector<std::string>{"Plugins", "Plugin mdl-be-kor-geoinfo"}));
  const EndpointRecord* endpoint = dispatcher_.FindEndpoint(get);
  EXPECT_EQ(endpoint->UriTemplate(), "/kor-geoinfo/v1/getlocation");
  EXPECT_EQ(endpoint->method, HttpMethod::Get);
  EXPECT_EQ(endpoint->invoker, InvokerOf(*get));
  EXPECT_EQ(endpoint->argumentLocations, std::vector<uint32_t>{1});
  EXPECT_EQ(Call(*get, {"10.0.0.1"}).result.value.Member("label").GetString(), "10.0.0.1");

  const BindingFunctionDescriptor* purge = registry_.FindFunction("PurgeCacheByKey");
  ASSERT_NE(purge, nullptr);
  EXPECT_EQ(ArgumentNames(*purge), (std::vector<std::string>{"key", "x-token", "body", "level"}));
  endpoint = dispatcher_.FindEndpoint(purge);
  EXPECT_EQ(endpoint->method, HttpMethod::Other);
  EXPECT_EQ(endpoint->methodName, "PURGE");
  EXPECT_EQ(endpoint->argumentLocations, (std::vector<uint32_t>{2, 4, 5, 0}));
}

TEST_F(BoundFunctionTest, SecondDeclarationOfARouteAndNamingPastTheLastArgumentAreRefused) {
  DeclareEndpoint(dispatcher_, registry_, HttpMethod::Get, "/x", &MakePoint).Query("x");
  const BindingFunctionDescriptor* first = registry_.FindFunction("GetX");
  EXPECT_DEBUG_DEATH(
      {
        const auto again =
            DeclareEndpoint(dispatcher_, registry_, HttpMethod::Get, "/x/", &MakePoint).Path("y");
        EXPECT_FALSE(again.Declared());
      },
      "declared already");
  EXPECT_EQ(registry_.FindFunction("GetX"), first);
  EXPECT_EQ(registry_.FunctionsSnapshot().size(), 1u);
  EXPECT_EQ(dispatcher_.EndpointsSnapshot().size(), 1u);
  EXPECT_EQ(dispatcher_.FindEndpoint(first)->argumentLocations, std::vector<uint32_t>{1});

  auto declaration = DeclareEndpoint(dispatcher_, registry_, HttpMethod::Post, "/p", &MakePoint);
  declaration.Query("x");  // names through a copy: `declaration` still counts one name left
  EXPECT_DEBUG_DEATH(declaration.Query("y"), "has been named");
  EXPECT_EQ(ArgumentNames(*declaration.Function()), std::vector<std::string>{"x"});
  EXPECT_EQ(declaration.Endpoint()->argumentLocations, std::vector<uint32_t>{1});
}

}  // namespace
}  // namespace Vexa
