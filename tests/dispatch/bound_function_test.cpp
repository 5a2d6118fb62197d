// Bound functions called through their invoker as the dispatcher calls them, EndpointAnswer
// results, and endpoint declarations.
#include "dispatch/bound_function.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "binding/field_registration.h"
#include "dispatch/endpoint.h"
#include "dispatch/endpoint_declaration.h"
#include "support/values.h"

namespace Vexa {
namespace {

struct BoundPoint {
  int32_t x = 0;
  std::string label;
};
VEXA_STATIC_TYPE(BoundPoint, "struct Vexa::BoundPoint");

struct UnregisteredPoint {};
VEXA_STATIC_TYPE(UnregisteredPoint, "struct Vexa::UnregisteredPoint");

class CountedStream : public HttpBodyStream {
 public:
  explicit CountedStream(int* destroyed) : destroyed_(destroyed) {}
  ~CountedStream() override { ++*destroyed_; }
  uint8_t Read(void*, uint32_t*, uint8_t*) override { return 0; }
  [[nodiscard]] uint32_t Length() const override { return 0; }

 private:
  int* destroyed_;
};

struct Module {
  std::string Describe(int32_t count, const std::string& name, std::optional<int32_t> limit,
                       std::vector<std::string> tags, const BoundPoint& point) {
    return std::to_string(count) + name + (limit ? "limit" : "") + tags.at(0) + point.label;
  }
  EndpointAnswer<BoundPoint> Locate(const std::string& ip) { return BoundPoint{1, ip}; }
  void Purge(const std::string&, const std::string&, BindingProperty, int32_t) {}
};

class BoundFunctionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterRecord<BoundPoint>(registry_, "BoundPoint")
        .Field("x", &BoundPoint::x)
        .Field("label", &BoundPoint::label);
  }

  // Prepare, Invoke when Prepare left no failure, Release of a token: the dispatcher's order.
  static HttpCallState Call(const BindingFunctionDescriptor& function,
                            std::vector<BindingProperty> values,
                            const RemotingRequest* request = nullptr) {
    HttpCallState state;
    BindingInvoker* invoker = InvokerOf(function);
    void* token = invoker->Prepare(state, values, 0);
    if (!state.Failed()) {
      invoker->Invoke(state, request, token, 0);
    }
    if (token != nullptr) {
      invoker->Release(token);
    }
    return state;
  }

  template <typename... Bound>
  BindingFunctionDescriptor& Register(std::string_view name, Bound... bound) {
    BindingFunctionDescriptor& function = RegisterBoundFunction(registry_, name, bound...);
    for (std::size_t index = 0; index < function.arguments.size(); ++index) {
      BindingRegistry::AddArgument(function, "a" + std::to_string(index), "");
    }
    return function;
  }

  BindingRegistry registry_;
  RequestDispatcher dispatcher_;
  Module module_;
};

TEST_F(BoundFunctionTest, ConvertsEachArgumentAndTheResult) {
  const BindingFunctionDescriptor& function = Register("Describe", &Module::Describe, &module_);
  ASSERT_EQ(function.arguments.size(), 5u);
  EXPECT_FALSE(function.arguments[1].optional);
  EXPECT_TRUE(function.arguments[2].optional);
  EXPECT_EQ(function.arguments[4].type.descriptor, registry_.FindType("BoundPoint"));
  EXPECT_EQ(function.returnType.kind, BindingTypeKind::String);
  BindingProperty point;
  point.Member("label") = "!";
  const HttpCallState state =
      Call(function, {"0x10", "Bob", BindingProperty(), Testing::Collection({"t"}), point});
  EXPECT_EQ(state.result.value.GetString(), "16Bobt!");
}

TEST_F(BoundFunctionTest, FailuresBecomeTheCallsMessageAndStatus) {
  using Answer = EndpointAnswer<BoundPoint>;
  Register("Describe", &Module::Describe, &module_);
  Register("Off", [] { return Answer::Error(503, "contenttargeting.geoinfo is not enabled"); });
  Register("NotFound", [] { return Answer::NotFound(""); });
  Register("Empty", [] { return Answer::NotFound("Data retrieved is empty"); });
  Register("Explode", []() -> int32_t { throw std::runtime_error("boom"); });
  Register("Throw", []() -> int32_t { throw 7; });
  Register("Unbound", &Module::Locate, static_cast<Module*>(nullptr));
  const struct {
    const char* function;
    std::vector<BindingProperty> values;
    const char* message;
    uint32_t status = 0;
  } cases[] = {
      {"Describe", {"12abc"}, "Value 12abc for 'a0' of type int32 is in an incorrect format"},
      // Arguments not given are reported, not read past the end.
      {"Describe",
       {1, "n", 1, BindingProperty().MakeCollection()},
       "A value for 'a4' is required."},
      {"Off", {}, "contenttargeting.geoinfo is not enabled", 503},
      {"NotFound", {}, "Not found", 404},
      {"Empty", {}, "Data retrieved is empty", 404},
      {"Explode", {}, "Call of 'Explode' failed: boom"},
      {"Throw", {}, "Call of 'Throw' failed with an unknown exception."},
      {"Unbound", {"ip"}, "Call of 'Unbound' failed: the function was bound to no object"}};
  for (const auto& c : cases) {
    const HttpCallState state = Call(*registry_.FindFunction(c.function), c.values);
    EXPECT_EQ(state.result.ErrorText(), c.message);
    EXPECT_EQ(state.status, c.status) << c.message;
  }
  HttpCallState state;  // a caller that skipped Prepare
  InvokerOf(*registry_.FindFunction("Describe"))->Invoke(state, nullptr, nullptr, 0);
  EXPECT_EQ(state.result.ErrorText(),
            "Call of 'Describe' failed: its arguments were not prepared.");
}

// A good answer's response data is copied and its stream handed on; a failed one keeps its
// headers and status but sends no stream.
TEST_F(BoundFunctionTest, AnswersCarryTheirResponseData) {
  int destroyed = 0;
  const auto answer = [&destroyed](auto value) {
    EndpointAnswer<decltype(value)> answer(value);
    answer.responseFlags = 2;
    answer.responseFormat = 3;
    answer.status = 201;
    answer.responseText = "created";
    answer.headers["Location"] = "/points/3";
    answer.bodyStream = std::make_unique<CountedStream>(&destroyed);
    return answer;
  };
  HttpCallState state = Call(Register("Good", [&] { return answer(BoundPoint{3, "three"}); }), {});
  EXPECT_EQ(state.result.value.Member("x").GetSigned(), 3);
  EXPECT_EQ(std::tie(state.responseFlags, state.responseFormat, state.status, state.responseText),
            std::make_tuple(uint8_t{2}, 3u, 201u, "created"));
  EXPECT_EQ(state.headers, (HttpHeaderMap{{"Location", "/points/3"}}));
  EXPECT_NE(state.bodyStream, nullptr);
  state = Call(Register("Unconvertible", [&] { return answer(UnregisteredPoint{}); }), {});
  EXPECT_EQ(state.result.ErrorText(),
            "Couldn't convert native value because it's an unregistered structure.");
  EXPECT_EQ(std::tie(state.status, state.headers["Location"]), std::make_tuple(201u, "/points/3"));
  EXPECT_EQ(state.bodyStream, nullptr);
  EXPECT_EQ(destroyed, 2);
}

TEST_F(BoundFunctionTest, RequestParametersReceiveTheRecordAndAreNoArguments) {
  std::string seen;
  const auto& byReference =
      Register("ByReference", [&](const RemotingRequest& request, int32_t id) {
        seen = request.path + "#" + std::to_string(id);
      });
  ASSERT_EQ(byReference.arguments.size(), 1u);
  EXPECT_EQ(InvokerOf(byReference)->RequestContextType(), &StaticTypeInfoOf<RemotingRequest>());
  RemotingRequest request;
  request.path = "/items/4";
  Call(byReference, {4}, &request);
  EXPECT_EQ(seen, "/items/4#4");
  const auto& byPointer = Register("ByPointer", [&](const HttpBaseTransport::Request* record) {
    seen = record == nullptr ? "null" : record->path;
  });
  EXPECT_EQ(InvokerOf(byPointer)->RequestContextType(),
            &StaticTypeInfoOf<HttpBaseTransport::Request>());
  Call(byPointer, {});
  EXPECT_EQ(seen, "null");
}

TEST_F(BoundFunctionTest, DeclaresEndpointsUnderTheirOperationNames) {
  DeclareEndpoint(dispatcher_, registry_, HttpMethod::Get, "/kor-geoinfo/v1/getlocation/",
                  &Module::Locate, &module_)
      .Query("ip_address");
  DeclareEndpoint(dispatcher_, registry_, EndpointMethod::Other("PURGE"), "/cache/{key}",
                  &Module::Purge, &module_)
      .Path("key")
      .Header("x-token")
      .Body("body")
      .Argument("level");
  const BindingFunctionDescriptor* get = registry_.FindFunction("GetKorGeoinfoV1Getlocation");
  ASSERT_NE(get, nullptr);
  EXPECT_EQ(get->arguments.at(0).name, "ip_address");
  const EndpointRecord* endpoint = dispatcher_.FindEndpoint(get);
  EXPECT_EQ(endpoint->UriTemplate(), "/kor-geoinfo/v1/getlocation");
  EXPECT_EQ(endpoint->invoker, InvokerOf(*get));
  EXPECT_EQ(endpoint->argumentLocations, std::vector<uint32_t>{1});
  const BindingFunctionDescriptor* purge = registry_.FindFunction("PurgeCacheByKey");
  ASSERT_NE(purge, nullptr);
  EXPECT_EQ(purge->arguments.at(3).name, "level");
  endpoint = dispatcher_.FindEndpoint(purge);
  EXPECT_EQ(std::tie(endpoint->method, endpoint->methodName),
            std::make_tuple(HttpMethod::Other, "PURGE"));
  EXPECT_EQ(endpoint->argumentLocations, (std::vector<uint32_t>{2, 4, 5, 0}));
  // A location beyond the list grows it with locations for anywhere.
  EndpointRecord record;
  record.SetLocation(2, ArgumentLocation::Path);
  EXPECT_EQ(record.argumentLocations, (std::vector<uint32_t>{0, 0, 2}));
}

TEST_F(BoundFunctionTest, SecondDeclarationOfARouteIsRefused) {
  DeclareEndpoint(dispatcher_, registry_, HttpMethod::Get, "/x", &Module::Locate, &module_);
  const BindingFunctionDescriptor* first = registry_.FindFunction("GetX");
  EXPECT_DEBUG_DEATH(EXPECT_FALSE(DeclareEndpoint(dispatcher_, registry_, HttpMethod::Get, "/x/",
                                                  &Module::Locate, &module_)
                                      .Declared()),
                     "declared already");
  EXPECT_EQ(registry_.FindFunction("GetX"), first);
  EXPECT_EQ(dispatcher_.EndpointsSnapshot().size(), 1u);
}

}  // namespace
}  // namespace Vexa
