// The endpoint handler: any HostRequest a host may hand in (method, path with its query, headers,
// host arguments of any shape, a body of any content type, or no endpoint at all) is answered
// without crashing; the answer is an error text or a well-formed value, a streamed body reads,
// and the response's own release frees everything it holds and leaves it zeroed.
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "binding/field_registration.h"
#include "bridge/endpoint_handler.h"
#include "bridge/host_value.h"
#include "dispatch/endpoint_answer.h"
#include "dispatch/endpoint_declaration.h"
#include "fuzz_support.h"

namespace FuzzHandler {

struct Point {
  int32_t x = 0;
  std::string label;
  std::vector<double> weights;
};
enum class Level : int32_t { Low = 1, High = 2 };
VEXA_STATIC_TYPE(Point, "struct FuzzHandler::Point");
VEXA_STATIC_TYPE(Level, "enum FuzzHandler::Level");

}  // namespace FuzzHandler

namespace {

using FuzzHandler::Level;
using FuzzHandler::Point;

// Serves its text in chunks of at most the size asked for.
class TextStream : public Vexa::HttpBodyStream {
 public:
  explicit TextStream(std::string text) : text_(std::move(text)) {}
  uint8_t Read(void* buffer, uint32_t* size, uint8_t* more) override {
    const std::size_t count = std::min<std::size_t>(*size, text_.size() - at_);
    std::memcpy(buffer, text_.data() + at_, count);
    at_ += count;
    *size = static_cast<uint32_t>(count);
    *more = at_ < text_.size();
    return 1;
  }
  [[nodiscard]] uint32_t Length() const override { return static_cast<uint32_t>(text_.size()); }

 private:
  std::string text_;
  std::size_t at_ = 0;
};

// Endpoints with arguments of every kind in every location, and answers of every form.
struct Endpoints {
  Vexa::BindingRegistry registry;
  Vexa::RequestDispatcher dispatcher;
  std::vector<const Vexa::EndpointRecord*> records;

  Endpoints() {
    Vexa::RegisterRecord<Point>(registry, "Point")
        .Field("x", &Point::x)
        .Field("label", &Point::label)
        .Field("weights", &Point::weights);
    Vexa::RegisterEnum<Level>(registry, "Level")
        .Value("LOW", Level::Low)
        .Value("HIGH", Level::High);
    using Vexa::HttpMethod;
    records.push_back(
        Vexa::DeclareEndpoint(
            dispatcher, registry, HttpMethod::Get, "/items/{id}/{+rest}",
            [](int32_t id, const std::string& rest, std::optional<int32_t> limit,
               std::vector<std::string> tags, const std::string& token) {
              return Point{id, rest + token, {double(limit.value_or(0)), double(tags.size())}};
            })
            .Path("id")
            .Path("rest")
            .Query("limit")
            .Query("tags")
            .Header("x-token")
            .Endpoint());
    records.push_back(
        Vexa::DeclareEndpoint(
            dispatcher, registry, HttpMethod::Post, "/points",
            [](Vexa::BindingProperty body, const Point& point, bool verbose, Level level) {
              Vexa::EndpointAnswer<Vexa::BindingProperty> answer(std::move(body));
              answer.status = verbose ? 201 : 0;
              answer.headers["x-label"] = point.label;
              if (level == Level::High) {
                answer.bodyStream = std::make_unique<TextStream>(point.label);
              }
              return answer;
            })
            .Body("body")
            .Argument("point")
            .Query("verbose")
            .Argument("level")
            .Endpoint());
    records.push_back(
        Vexa::DeclareEndpoint(
            dispatcher, registry, Vexa::EndpointMethod::Other("PURGE"), "/cache/{key}",
            [](const Vexa::RemotingRequest& request, const std::string& key, double level,
               uint64_t count) {
              if (level < 0) {
                return Vexa::EndpointAnswer<std::string>::Error(503, key);
              }
              return Vexa::EndpointAnswer<std::string>(request.path + std::to_string(count));
            })
            .Path("key")
            .Argument("level")
            .Header("count")
            .Endpoint());
  }
};

const char* const kContentTypes[] = {"application/json",
                                     "application/vnd.api+json; charset=utf-8",
                                     "application/x-yaml",
                                     "text/x-yaml",
                                     "application/x-msgpack",
                                     "application/octet-stream",
                                     "text/plain",
                                     nullptr};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static Endpoints endpoints;
  FuzzedDataProvider input(data, size);
  VexaFuzz::HostValueMaker maker(input);
  const std::string path = input.ConsumeRandomLengthString(256);
  const std::string methodName = input.ConsumeRandomLengthString(16);
  std::vector<HostHeader> headers(input.ConsumeIntegralInRange(0, 6));
  for (HostHeader& header : headers) {
    header = {maker.Text(), maker.Text()};
  }
  std::vector<HostRequestArgument> arguments(input.ConsumeIntegralInRange(0, 3));
  for (HostRequestArgument& argument : arguments) {
    argument.name = maker.Text();
    argument.value = maker.MakeRoot();
  }
  const std::string contentType = input.ConsumeRandomLengthString(40);
  const std::size_t choice = input.ConsumeIntegralInRange<std::size_t>(0, std::size(kContentTypes));
  const std::size_t endpoint = input.ConsumeIntegralInRange<std::size_t>(0, 3);
  HostRequest request{};
  request.method = input.ConsumeIntegralInRange<HostMethod>(0, 9);
  request.methodName = input.ConsumeBool() ? methodName.c_str() : nullptr;
  request.path = input.ConsumeIntegralInRange(0, 31) != 0 ? path.c_str() : nullptr;
  const HostEndpointUserData userData{
      nullptr,
      endpoint < 3 ? const_cast<Vexa::EndpointRecord*>(endpoints.records[endpoint]) : nullptr};
  request.userData = endpoint < 3 ? &userData : nullptr;
  request.headers = headers.data();
  request.headerCount = static_cast<uint32_t>(headers.size());
  request.arguments = arguments.data();
  request.argumentCount = static_cast<uint32_t>(arguments.size());
  request.contentType =
      choice < std::size(kContentTypes) ? kContentTypes[choice] : contentType.c_str();
  const std::string body = input.ConsumeRemainingBytesAsString();
  request.body = body.empty() ? nullptr : reinterpret_cast<const uint8_t*>(body.data());
  request.bodyLength = static_cast<uint32_t>(body.size());

  HostResponse response{};
  Vexa::HandleEndpointRequest(&response, &request);
  FUZZ_CHECK(response.release != nullptr, "a response without its release function");
  if (response.result.error == nullptr) {
    HostResult scratch{};
    Vexa::BindingProperty value;
    FUZZ_CHECK(Vexa::FromHostValue(scratch, value, response.result.value, "body"),
               "a malformed answer: " + std::string(scratch.error));
    Vexa::ReleaseHostResult(scratch);
  }
  if (response.stream != nullptr) {
    char buffer[64];
    uint8_t more = 1;
    for (int chunk = 0; more != 0 && chunk < 1000; ++chunk) {
      uint32_t read = sizeof buffer;
      FUZZ_CHECK(
          response.streamRead(response.stream, buffer, &read, &more) != 0 && read <= sizeof buffer,
          "a stream read failed");
    }
  }
  response.release(&response);
  static const HostResponse kZero{};
  FUZZ_CHECK(std::memcmp(&response, &kZero, sizeof response) == 0,
             "a released response is not zero");
  return 0;
}
