// A call state written into the response the host reads, and the response released; the
// stream thunks the host reads a streamed body through.
#include "dispatch/http_call.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "binding/registry.h"
#include "support/values.h"

namespace Vexa {
namespace {

enum class HttpCallTestStatus : int32_t { Error = 3 };
VEXA_STATIC_TYPE(HttpCallTestStatus, "enum Vexa::HttpCallTestStatus");

// Serves "0123" and counts its destructions. A read of nothing throws; so does Length() when
// told to, standing for an allocation that fails late while the response is written.
class TestStream : public HttpBodyStream {
 public:
  TestStream(int* destroyed, bool lengthFails) : destroyed_(destroyed), fails_(lengthFails) {}
  ~TestStream() override { ++*destroyed_; }
  uint8_t Read(void* buffer, uint32_t* size, uint8_t* more) override {
    *size = *size == 0 ? throw std::runtime_error("no room") : 4;
    std::memcpy(buffer, "0123", 4);
    *more = 0;
    return 1;
  }
  [[nodiscard]] uint32_t Length() const override { return fails_ ? throw std::bad_alloc() : 4; }

 private:
  int* destroyed_;
  bool fails_;
};

// What the host reads from a response, as one line (fields are copied out of the packed
// record: a reference to a misaligned field is undefined).
std::string Shown(const HostResponse& r) {
  const HostValue body = r.result.value;
  std::string shown = "kind " + std::to_string(body.kind);
  shown += body.kind == HOST_VALUE_STRING ? " '" + std::string(body.payload.string.text) + "'" : "";
  shown += r.result.error != nullptr ? ", error '" + std::string(r.result.error) + "'" : "";
  shown += ", flags " + std::to_string(uint8_t{r.responseFlags}) + ", format " +
           std::to_string(uint32_t{r.responseFormat}) + ", status " +
           std::to_string(uint32_t{r.status}) + ", text '" + r.responseText + "'";
  std::map<std::string, std::string> headers;
  for (uint32_t index = 0; index < uint32_t{r.headerCount}; ++index) {
    headers[r.headers[index].name] = r.headers[index].value;
  }
  for (const auto& [name, value] : headers) {
    shown += ", " + name + "=" + value;
  }
  if (r.stream != nullptr) {
    shown += ", stream " + std::to_string(uint32_t{r.streamLength}) + " at " +
             std::to_string(uint32_t{r.streamPosition}) +
             (HostStreamRead{r.streamRead} == &ReadBodyStream ? " read" : "") +
             (HostStreamRelease{r.streamRelease} == &ReleaseBodyStream ? " release" : "");
  }
  return shown;
}

TEST(WriteHostResponse, WritesWhatTheHostReadsAndReleaseFreesIt) {
  int destroyed = 0;
  BindingRegistry registry;
  registry.RegisterType<HttpCallTestStatus>("HttpCallTestStatus").AddEnumerator("ERROR", 3);
  const std::string none = ", flags 0, format 0, status 0, text ''";
  const struct {
    std::function<void(HttpCallState&)> setUp;
    std::string expected;
    int destroyed;     // streams destroyed once the response is written, and once released
    bool streamStays;  // whether the call state still holds its stream then
  } cases[] = {
      {[](HttpCallState& s) {
         s.result.value = "hello";
         s.responseFlags = 0x81;
         s.responseFormat = 2;
         s.status = 201;
         s.responseText = "created";
         s.headers = {{"Cache-Control", "no-store"}, {"X-Id", "7"}};
       },
       "kind 6 'hello', flags 129, format 2, status 201, text 'created', Cache-Control=no-store, "
       "X-Id=7",
       0, false},
      // Failing destroys the stream; the status stays.
      {[&](HttpCallState& s) {
         s.bodyStream = std::make_unique<TestStream>(&destroyed, false);
         s.status = 503;
         s.Fail("Service unavailable");
       },
       "kind 0, error 'Service unavailable', flags 0, format 0, status 503, text ''", 1, false},
      {[](HttpCallState& s) { s.responseFormat = 4; }, "kind 0" + none, 0, false},
      {[](HttpCallState& s) { s.result.value.SetEnum(3, StaticTypeInfoOf<HttpCallTestStatus>()); },
       "kind 6 'ERROR'" + none, 0, false},
      {[&](HttpCallState& s) { s.bodyStream = std::make_unique<TestStream>(&destroyed, false); },
       "kind 0" + none + ", stream 4 at 0 read release", 0, false},
      {[](HttpCallState& s) { s.result.value = Testing::NestedCollections(kMaxBindingDepth + 1); },
       "kind 0, error 'The result of the call cannot be represented as a host value.'" + none, 0,
       false},
      // Memory running out after the text and headers were allocated: the fallback text and
      // the status are left, and the stream stays with the call state.
      {[&](HttpCallState& s) {
         s.status = 201;
         s.responseText = "created";
         s.headers = {{"X-Id", "7"}};
         s.bodyStream = std::make_unique<TestStream>(&destroyed, true);
       },
       "kind 0, error 'Out of memory.', flags 0, format 0, status 201, text ''", 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    destroyed = 0;
    HttpCallState state;
    c.setUp(state);
    HostResponse response{};
    WriteHostResponse(response, state, &registry);
    EXPECT_EQ(Shown(response), c.expected);
    EXPECT_EQ(std::make_pair(destroyed, state.bodyStream != nullptr),
              std::make_pair(c.destroyed, c.streamStays));
    response.release(&response);  // destroys a stream the host never read
    static const HostResponse kZero{};
    EXPECT_EQ(std::memcmp(&response, &kZero, sizeof response), 0);
    EXPECT_EQ(destroyed, c.destroyed + (c.expected.ends_with("release") ? 1 : 0));
  }
}

// One literal for every empty text, which release never frees: also for a text that is empty
// up to its NUL.
TEST(WriteHostResponse, EmptyTextIsTheSharedLiteral) {
  HttpCallState empty;
  HttpCallState nul;
  nul.responseText = std::string("\0tail", 5);
  HostResponse a{};
  HostResponse b{};
  WriteHostResponse(a, empty, nullptr);
  WriteHostResponse(b, nul, nullptr);
  EXPECT_EQ(static_cast<const char*>(a.responseText), static_cast<const char*>(b.responseText));
  ReleaseHostResponse(&a);
  ReleaseHostResponse(&b);
}

TEST(BodyStreamThunks, ReadForwardsAndNeverThrows) {
  int destroyed = 0;
  auto* stream = new TestStream(&destroyed, false);
  char buffer[4];
  uint32_t size = sizeof buffer;
  uint8_t more = 1;
  EXPECT_EQ(ReadBodyStream(stream, buffer, &size, &more), 1);
  EXPECT_EQ(std::string(buffer, size) + std::to_string(more), "01230");
  size = 0;
  EXPECT_EQ(ReadBodyStream(stream, buffer, &size, &more), 0);
  ReleaseBodyStream(stream);
  EXPECT_EQ(destroyed, 1);
}

}  // namespace
}  // namespace Vexa
