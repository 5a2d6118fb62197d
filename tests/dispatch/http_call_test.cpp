#include "dispatch/http_call.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "binding/host_value.h"
#include "binding/registry.h"
#include "binding/static_type.h"
#include "dispatch/messages.h"

namespace Vexa {
namespace {

enum class HttpCallTestStatus : int32_t { Succeeded = 1, Error = 3 };
VEXA_STATIC_TYPE(HttpCallTestStatus, "enum Vexa::HttpCallTestStatus");

// A stream that serves a fixed text and counts its destructions; it throws where told to.
class TestStream : public HttpBodyStream {
 public:
  enum class Fault { None, OutOfMemoryInLength, OtherInLength, InRead };

  TestStream(std::string text, int* destroyed, Fault fault = Fault::None)
      : fault(fault), text_(std::move(text)), destroyed_(destroyed) {}
  ~TestStream() override { ++*destroyed_; }

  uint8_t Read(void* buffer, uint32_t* size, uint8_t* more) override {
    if (fault == Fault::InRead) {
      throw std::runtime_error("read failed");
    }
    const std::size_t count = std::min<std::size_t>(*size, text_.size() - position_);
    std::memcpy(buffer, text_.data() + position_, count);
    position_ += count;
    *size = static_cast<uint32_t>(count);
    *more = position_ < text_.size() ? 1 : 0;
    return 1;
  }

  [[nodiscard]] uint32_t Length() const override {
    if (fault == Fault::OutOfMemoryInLength) {
      throw std::bad_alloc();
    }
    if (fault == Fault::OtherInLength) {
      throw std::runtime_error("no length");
    }
    return static_cast<uint32_t>(text_.size());
  }

  Fault fault;

 private:
  std::string text_;
  std::size_t position_ = 0;
  int* destroyed_;
};

// Copies a field out of the packed record: the assertion macros bind references to their
// operands, and a reference to a misaligned field is undefined.
template <typename T>
T Read(T value) {
  return value;
}

// A response written from `state` and released by the plugin's own release function, so that
// the sanitizer build sees leaks and frees of memory the response does not own (the shared "").
struct Written {
  HostResponse response{};
  explicit Written(HttpCallState& state, const BindingRegistry* registry = nullptr) {
    WriteHostResponse(response, state, registry);
  }
  Written(const Written&) = delete;
  Written& operator=(const Written&) = delete;
  ~Written() { ReleaseHostResponse(&response); }
};

bool IsAllZero(const HostResponse& response) {
  static const HostResponse kZero{};
  return std::memcmp(&response, &kZero, sizeof(HostResponse)) == 0;
}

// A successful call state with a value, every piece of response metadata and two headers.
HttpCallState FilledState(std::unique_ptr<HttpBodyStream> stream = nullptr) {
  HttpCallState state;
  state.result = BindingResult(BindingProperty("hello"));
  state.responseFlags = 0x81;
  state.responseFormat = 2;
  state.status = 201;
  state.responseText = "created";
  state.headers = {{"Cache-Control", "no-store"}, {"X-Id", "7"}};
  state.bodyStream = std::move(stream);
  return state;
}

// --- Methods, content types and the call state ---

TEST(HttpMethod, TextsAndHostNumbers) {
  const std::vector<std::pair<uint32_t, std::string_view>> texts = {
      {0, ""},     {1, "DELETE"}, {2, "GET"}, {3, "HEAD"}, {4, "OPTIONS"},   {5, "PATCH"},
      {6, "POST"}, {7, "PUT"},    {8, ""},    {9, ""},     {0xFFFFFFFFu, ""}};
  for (const auto& [number, text] : texts) {
    EXPECT_EQ(HttpMethodText(static_cast<HttpMethod>(number)), text) << number;
  }
  // Numbers outside 1 to 8 are no method.
  const std::vector<std::pair<uint32_t, HttpMethod>> methods = {
      {0, HttpMethod::None},     {1, HttpMethod::Delete},        {2, HttpMethod::Get},
      {7, HttpMethod::Put},      {8, HttpMethod::Other},         {9, HttpMethod::None},
      {0x102, HttpMethod::None}, {0xFFFFFFFFu, HttpMethod::None}};
  for (const auto& [number, method] : methods) {
    EXPECT_EQ(ToHttpMethod(number), method) << number;
  }
}

TEST(ContentTypeIs, ComparesThePrefixCaseInsensitively) {
  const struct {
    const char* contentType;
    std::string_view literal;
    bool expected;
  } cases[] = {
      {"application/json", "application/json", true},
      {"application/json; charset=utf-8", "application/json", true},
      {"Application/JSON", "application/json", true},
      {"application/js", "application/json", false},
      {"", "application/json", false},
      {nullptr, "application/json", false},
      {nullptr, "", false},
      {"anything", "", true},
      {"text/x-yaml", "application/x-yaml", false},
      {"application/x-msgpack-ext", "application/x-msgpack", true},
      {"application/x-msgpack", "application/x-msgpack-ext", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ContentTypeIs(c.contentType, c.literal), c.expected)
        << (c.contentType ? c.contentType : "<null>") << " / " << c.literal;
  }
}

TEST(HttpCallState, FailStoresTheMessageAndDestroysTheStream) {
  int destroyed = 0;
  HttpCallState state;
  state.result = BindingResult(BindingProperty(5));
  state.bodyStream = std::make_unique<TestStream>("body", &destroyed);
  ASSERT_FALSE(state.Failed());

  state.Fail("Not found");
  EXPECT_TRUE(state.Failed());
  EXPECT_EQ(state.result.ErrorText(), "Not found");
  EXPECT_EQ(state.bodyStream, nullptr);
  EXPECT_EQ(destroyed, 1);

  state.Fail("second");  // a later failure overwrites; no stream left to destroy
  EXPECT_EQ(state.result.ErrorText(), "second");
  EXPECT_EQ(destroyed, 1);
}

// --- Release ---

TEST(ReleaseHostResponse, FreesEverythingOnceAndZeroesAllBytes) {
  ReleaseHostResponse(nullptr);
  HostResponse response{};
  ReleaseHostResponse(&response);
  EXPECT_TRUE(IsAllZero(response));

  // The host never read the stream: release destroys it through the thunk.
  int destroyed = 0;
  HttpCallState state = FilledState(std::make_unique<TestStream>("streamed", &destroyed));
  WriteHostResponse(response, state, nullptr);
  ASSERT_FALSE(IsAllZero(response));
  ReleaseHostResponse(&response);
  EXPECT_EQ(destroyed, 1);
  EXPECT_TRUE(IsAllZero(response));

  // A stream the host released itself is not released again.
  state.bodyStream = std::make_unique<TestStream>("x", &destroyed);
  WriteHostResponse(response, state, nullptr);
  Read(response.streamRelease)(Read(response.stream));
  response.stream = nullptr;
  EXPECT_EQ(destroyed, 2);
  ReleaseHostResponse(&response);
  EXPECT_EQ(destroyed, 2);
  EXPECT_TRUE(IsAllZero(response));
}

// --- Writing responses ---

// What the host reads from a response, as one line.
std::string Shown(const HostResponse& r) {
  std::string shown = "kind " + std::to_string(Read(r.result.value.kind));
  if (Read(r.result.value.kind) == HOST_VALUE_STRING) {
    shown += " '" + std::string(r.result.value.payload.string.text) + "'";
  } else if (Read(r.result.value.kind) == HOST_VALUE_SIGNED) {
    shown += " " + std::to_string(Read(r.result.value.payload.signedValue));
  }
  shown +=
      r.result.error == nullptr ? ", no error" : ", error '" + std::string(r.result.error) + "'";
  shown += " owned " + std::to_string(Read(r.result.ownsError)) + ", flags " +
           std::to_string(Read(r.responseFlags)) + ", format " +
           std::to_string(Read(r.responseFormat)) + ", status " + std::to_string(Read(r.status)) +
           ", text '" + r.responseText + "', headers";
  std::map<std::string, std::string> headers;  // in name order
  for (uint32_t index = 0; index < r.headerCount; ++index) {
    headers[r.headers[index].name] = r.headers[index].value;
  }
  for (const auto& [name, value] : headers) {
    shown += " " + name + "=" + value;
  }
  if (r.headers == nullptr) {
    shown += " none";
  }
  if (r.stream != nullptr) {
    shown += ", stream " + std::to_string(Read(r.streamLength)) + " at " +
             std::to_string(Read(r.streamPosition)) +
             (Read(r.streamRead) == &ReadBodyStream ? " read" : "") +
             (Read(r.streamRelease) == &ReleaseBodyStream ? " release" : "");
  } else if (r.streamRead != nullptr || r.streamRelease != nullptr) {
    shown += ", thunks without a stream";
  }
  return shown + (Read(r.release) == &ReleaseHostResponse ? "" : ", not our release");
}

TEST(WriteHostResponse, WritesWhatTheHostReads) {
  int destroyed = 0;
  const auto stream = [&destroyed](TestStream::Fault fault = TestStream::Fault::None) {
    return std::make_unique<TestStream>("0123456789", &destroyed, fault);
  };
  BindingRegistry registry;
  registry.RegisterType<HttpCallTestStatus>("HttpCallTestStatus")
      .AddEnumerator("SUCCEEDED", 1)
      .AddEnumerator("ERROR", 3);
  BindingProperty status;
  status.SetEnum(3, StaticTypeInfoOf<HttpCallTestStatus>());
  BindingProperty tooDeep;  // nested deeper than a host value may be
  BindingProperty* current = &tooDeep;
  for (std::size_t level = 0; level <= kMaxBindingDepth; ++level) {
    current = &current->ElementAt(0);
  }
  *current = 7;
  const std::string empty =
      ", no error owned 0, flags 0, format 0, status 0, text '', headers none";
  const struct {
    const char* label;
    std::function<void(HttpCallState&)> setUp;
    const BindingRegistry* registry;
    std::string expected;
    int destroyed;     // streams destroyed by the time the response is written
    bool streamStays;  // whether the call state still holds its stream then
  } cases[] = {
      {"success", [](HttpCallState& s) { s = FilledState(); }, nullptr,
       "kind 6 'hello', no error owned 0, flags 129, format 2, status 201, text 'created', "
       "headers Cache-Control=no-store X-Id=7",
       0, false},
      {"failure",
       [&](HttpCallState& s) {
         s.result = BindingResult(BindingProperty("discarded"));
         s.bodyStream = stream();
         s.status = 503;
         s.Fail("Service unavailable");
       },
       nullptr,
       "kind 0, error 'Service unavailable' owned 1, flags 0, format 0, status 503, text '', "
       "headers none",
       1, false},
      {"failure without status", [](HttpCallState& s) { s.Fail("Unknown argument 'x' for 'F'."); },
       nullptr,
       "kind 0, error 'Unknown argument 'x' for 'F'.' owned 1, flags 0, format 0, status 0, "
       "text '', headers none",
       0, false},
      {"nothing", [](HttpCallState&) {}, nullptr, "kind 0" + empty, 0, false},
      // A text that ends before its first byte is empty too (nothing to allocate or free).
      {"text starting with NUL",
       [](HttpCallState& s) { s.responseText = std::string("\0tail", 5); }, nullptr,
       "kind 0" + empty, 0, false},
      {"enum named", [&](HttpCallState& s) { s.result = BindingResult(status); }, &registry,
       "kind 6 'ERROR'" + empty, 0, false},
      {"enum numbered", [&](HttpCallState& s) { s.result = BindingResult(status); }, nullptr,
       "kind 2 3" + empty, 0, false},
      {"streamed", [&](HttpCallState& s) { s.bodyStream = stream(); }, nullptr,
       "kind 0" + empty + ", stream 10 at 0 read release", 0, false},
      {"result without host form",
       [&](HttpCallState& s) {
         s.result = BindingResult(tooDeep);
         s.status = 200;
       },
       nullptr,
       std::string("kind 0, error '") + kHttpResultNotRepresentableMessage +
           "' owned 1, flags 0, format 0, status 200, text '', headers none",
       0, false},
      // The stream's Length() runs after the body, the text and the headers were allocated;
      // its std::bad_alloc stands for an allocation failing there. The sanitizer build checks
      // that everything allocated before it is freed. The stream stays with the call state.
      {"exhausted memory",
       [&](HttpCallState& s) { s = FilledState(stream(TestStream::Fault::OutOfMemoryInLength)); },
       nullptr,
       std::string("kind 0, error '") + kHostErrorFallbackText +
           "' owned 1, flags 0, format 0, status 201, text '', headers none",
       0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    destroyed = 0;
    HttpCallState state;
    c.setUp(state);
    const Written written(state, c.registry);
    EXPECT_EQ(Shown(written.response), c.expected);
    EXPECT_EQ(destroyed, c.destroyed);
    EXPECT_EQ(state.bodyStream != nullptr, c.streamStays);
    const HostResponse& r = written.response;
    if (!state.responseText.empty()) {
      EXPECT_NE(Read(r.responseText), state.responseText.c_str());  // an owned copy
    }
    if (r.stream != nullptr) {
      char buffer[4];
      uint32_t size = sizeof(buffer);
      uint8_t more = 0;
      ASSERT_EQ(Read(r.streamRead)(Read(r.stream), buffer, &size, &more), 1);
      EXPECT_EQ(std::string(buffer, size) + (more != 0 ? "..." : ""), "0123...");
    }
  }
}

TEST(WriteHostResponse, FormatOutsideOneToThreeIsZero) {
  const std::pair<uint32_t, uint32_t> cases[] = {{0, 0}, {1, 1}, {2, 2},
                                                 {3, 3}, {4, 0}, {0xFFFFFFFFu, 0}};
  for (const auto& [given, written] : cases) {
    HttpCallState state;
    state.responseFormat = given;
    EXPECT_EQ(Read(Written(state).response.responseFormat), written) << given;
  }
}

// One literal for every empty text; releasing it would be caught by the sanitizer build.
TEST(WriteHostResponse, EmptyTextIsTheSharedLiteral) {
  HttpCallState first;
  HttpCallState second;
  second.responseText = std::string("\0tail", 5);
  const Written a(first);
  const Written b(second);
  EXPECT_EQ(Read(a.response.responseText), Read(b.response.responseText));
}

TEST(WriteHostResponse, OtherExceptionsLeaveAReleasableRecord) {
  int destroyed = 0;
  HttpCallState state =
      FilledState(std::make_unique<TestStream>("x", &destroyed, TestStream::Fault::OtherInLength));
  HostResponse response{};
  EXPECT_THROW(WriteHostResponse(response, state, nullptr), std::runtime_error);
  EXPECT_EQ(Read(response.release), &ReleaseHostResponse);
  EXPECT_EQ(Read(response.stream), nullptr);
  EXPECT_NE(state.bodyStream, nullptr);
  ReleaseHostResponse(&response);  // frees body, text and headers
  EXPECT_TRUE(IsAllZero(response));
  EXPECT_EQ(destroyed, 0);
}

TEST(BodyStreamThunks, ReadForwardsAndNeverThrows) {
  int destroyed = 0;
  auto* stream = new TestStream("abc", &destroyed);
  char buffer[8];
  uint32_t size = sizeof(buffer);
  uint8_t more = 1;
  EXPECT_EQ(ReadBodyStream(stream, buffer, &size, &more), 1);
  EXPECT_EQ(std::string(buffer, size), "abc");
  EXPECT_EQ(more, 0);

  stream->fault = TestStream::Fault::InRead;
  size = sizeof(buffer);
  EXPECT_EQ(ReadBodyStream(stream, buffer, &size, &more), 0);
  EXPECT_EQ(ReadBodyStream(nullptr, buffer, &size, &more), 0);

  ReleaseBodyStream(stream);
  EXPECT_EQ(destroyed, 1);
  ReleaseBodyStream(nullptr);
}

}  // namespace
}  // namespace Vexa
