#include "dispatch/http_call.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "binding/host_value.h"
#include "binding/registry.h"
#include "binding/static_type.h"

namespace Vexa {
namespace {

enum class HttpCallTestStatus : int32_t { Succeeded = 1, Error = 3 };
VEXA_STATIC_TYPE(HttpCallTestStatus, "enum Vexa::HttpCallTestStatus");

// A stream that serves a fixed text and counts its destructions; Length() may be told to
// throw, Read() to fail.
class TestStream : public HttpBodyStream {
 public:
  enum class LengthFault { None, OutOfMemory, Other };

  TestStream(std::string text, int* destroyed, LengthFault fault = LengthFault::None)
      : text_(std::move(text)), destroyed_(destroyed), fault_(fault) {}
  ~TestStream() override { ++*destroyed_; }

  uint8_t Read(void* buffer, uint32_t* size, uint8_t* more) override {
    if (throwOnRead) {
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
    if (fault_ == LengthFault::OutOfMemory) {
      throw std::bad_alloc();
    }
    if (fault_ == LengthFault::Other) {
      throw std::runtime_error("no length");
    }
    return static_cast<uint32_t>(text_.size());
  }

  bool throwOnRead = false;

 private:
  std::string text_;
  std::size_t position_ = 0;
  int* destroyed_;
  LengthFault fault_;
};

// Every response a test fills is released by the plugin's own release function, so the
// sanitizer build sees leaks and frees of memory the response does not own (the shared "").
struct OwnedResponse {
  HostResponse response{};
  OwnedResponse() = default;
  OwnedResponse(const OwnedResponse&) = delete;
  OwnedResponse& operator=(const OwnedResponse&) = delete;
  ~OwnedResponse() { ReleaseHostResponse(&response); }
};

bool IsAllZero(const HostResponse& response) {
  static const HostResponse kZero{};
  return std::memcmp(&response, &kZero, sizeof(HostResponse)) == 0;
}

// Packed fields are copied out before a matcher binds a reference to them.
struct ResponseFields {
  HostValueKind kind;
  const char* text;
  const char* error;
  uint8_t ownsError;
  uint8_t flags;
  uint32_t format;
  uint32_t status;
  const char* responseText;
  const HostHeader* headers;
  uint32_t headerCount;
  HostStreamRead streamRead;
  HostStreamRelease streamRelease;
  uint32_t streamLength;
  uint32_t streamPosition;
  void* stream;
  HostResponseRelease release;
};

ResponseFields FieldsOf(const HostResponse& response) {
  return {response.result.value.kind,
          response.result.value.payload.string.text,
          response.result.error,
          response.result.ownsError,
          response.responseFlags,
          response.responseFormat,
          response.status,
          response.responseText,
          response.headers,
          response.headerCount,
          response.streamRead,
          response.streamRelease,
          response.streamLength,
          response.streamPosition,
          response.stream,
          response.release};
}

// A successful call state with a value, every piece of response metadata and two headers.
HttpCallState FilledState(std::unique_ptr<HttpBodyStream> stream = nullptr) {
  HttpCallState state;
  state.result = BindingResult(BindingProperty("hello"));
  state.responseFlags = 0x81;
  state.responseFormat = 2;
  state.status = 201;
  state.responseText = "created";
  state.headers["Cache-Control"] = "no-store";
  state.headers["X-Id"] = "7";
  state.bodyStream = std::move(stream);
  return state;
}

// --- Methods and content types ---

TEST(HttpMethod, TextTableCoversEveryNumber) {
  const std::vector<std::pair<uint32_t, std::string_view>> table = {
      {0, ""},     {1, "DELETE"}, {2, "GET"}, {3, "HEAD"}, {4, "OPTIONS"},   {5, "PATCH"},
      {6, "POST"}, {7, "PUT"},    {8, ""},    {9, ""},     {0xFFFFFFFFu, ""}};
  for (const auto& [number, text] : table) {
    EXPECT_EQ(HttpMethodText(static_cast<HttpMethod>(number)), text) << number;
  }
}

TEST(HttpMethod, HostNumbersOutsideOneToEightAreNone) {
  const std::vector<std::pair<uint32_t, HttpMethod>> table = {
      {0, HttpMethod::None},     {1, HttpMethod::Delete},        {2, HttpMethod::Get},
      {7, HttpMethod::Put},      {8, HttpMethod::Other},         {9, HttpMethod::None},
      {0x102, HttpMethod::None}, {0xFFFFFFFFu, HttpMethod::None}};
  for (const auto& [number, method] : table) {
    EXPECT_EQ(ToHttpMethod(number), method) << number;
  }
  // 0 and 9 both read as no method with the empty text.
  EXPECT_EQ(HttpMethodText(ToHttpMethod(0)), "");
  EXPECT_EQ(HttpMethodText(ToHttpMethod(9)), "");
}

TEST(ContentTypeIs, ComparesThePrefixCaseInsensitively) {
  struct Case {
    const char* contentType;
    std::string_view literal;
    bool expected;
  };
  const std::vector<Case> cases = {
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
  for (const Case& c : cases) {
    EXPECT_EQ(ContentTypeIs(c.contentType, c.literal), c.expected)
        << (c.contentType ? c.contentType : "<null>") << " / " << c.literal;
  }
}

// --- The call state ---

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

TEST(ReleaseHostResponse, AcceptsNullAndZeroedRecords) {
  ReleaseHostResponse(nullptr);
  HostResponse response{};
  ReleaseHostResponse(&response);
  EXPECT_TRUE(IsAllZero(response));
}

TEST(ReleaseHostResponse, FreesEverythingAndZeroesAllBytes) {
  int destroyed = 0;
  HttpCallState state = FilledState(std::make_unique<TestStream>("streamed", &destroyed));
  HostResponse response{};
  WriteHostResponse(response, state, nullptr);
  ASSERT_FALSE(IsAllZero(response));

  // The host never read the stream: release destroys it through the thunk.
  ReleaseHostResponse(&response);
  EXPECT_EQ(destroyed, 1);
  EXPECT_TRUE(IsAllZero(response));
}

TEST(ReleaseHostResponse, SkipsAStreamTheHostAlreadyReleased) {
  int destroyed = 0;
  HttpCallState state;
  state.bodyStream = std::make_unique<TestStream>("x", &destroyed);
  HostResponse response{};
  WriteHostResponse(response, state, nullptr);
  const ResponseFields fields = FieldsOf(response);
  fields.streamRelease(fields.stream);
  response.stream = nullptr;
  EXPECT_EQ(destroyed, 1);
  ReleaseHostResponse(&response);
  EXPECT_EQ(destroyed, 1);
  EXPECT_TRUE(IsAllZero(response));
}

// --- Writing responses ---

TEST(WriteHostResponse, SuccessCopiesValueAndMetadata) {
  HttpCallState state = FilledState();
  OwnedResponse owned;
  WriteHostResponse(owned.response, state, nullptr);

  const ResponseFields fields = FieldsOf(owned.response);
  EXPECT_EQ(fields.kind, HostValueKind{HOST_VALUE_STRING});
  EXPECT_STREQ(fields.text, "hello");
  EXPECT_EQ(fields.error, nullptr);
  EXPECT_EQ(fields.ownsError, 0);
  EXPECT_EQ(fields.flags, 0x81);
  EXPECT_EQ(fields.format, 2u);
  EXPECT_EQ(fields.status, 201u);
  EXPECT_STREQ(fields.responseText, "created");
  EXPECT_NE(fields.responseText, state.responseText.c_str());  // an owned copy
  ASSERT_EQ(fields.headerCount, 2u);
  ASSERT_NE(fields.headers, nullptr);
  HttpHeaderMap headers;
  for (uint32_t index = 0; index < fields.headerCount; ++index) {
    headers[fields.headers[index].name] = fields.headers[index].value;
  }
  EXPECT_EQ(headers, state.headers);
  EXPECT_EQ(fields.stream, nullptr);
  EXPECT_EQ(fields.streamRead, nullptr);
  EXPECT_EQ(fields.streamRelease, nullptr);
  EXPECT_EQ(fields.release, &ReleaseHostResponse);
}

TEST(WriteHostResponse, FailureHasNoBodyAndAnOwnedErrorText) {
  HttpCallState state;
  state.result = BindingResult(BindingProperty("discarded"));
  state.status = 503;
  state.Fail("Service unavailable");
  OwnedResponse owned;
  WriteHostResponse(owned.response, state, nullptr);

  const ResponseFields fields = FieldsOf(owned.response);
  EXPECT_EQ(fields.kind, HostValueKind{HOST_VALUE_EMPTY});
  EXPECT_STREQ(fields.error, "Service unavailable");
  EXPECT_EQ(fields.ownsError, 1);
  EXPECT_EQ(fields.status, 503u);
  EXPECT_STREQ(fields.responseText, "");
  EXPECT_EQ(fields.release, &ReleaseHostResponse);
}

TEST(WriteHostResponse, FailureWithoutStatusKeepsZero) {
  HttpCallState state;
  state.Fail("Unknown argument 'x' for 'F'.");
  OwnedResponse owned;
  WriteHostResponse(owned.response, state, nullptr);
  const ResponseFields fields = FieldsOf(owned.response);
  EXPECT_EQ(fields.status, 0u);
  EXPECT_STREQ(fields.error, "Unknown argument 'x' for 'F'.");
}

TEST(WriteHostResponse, FormatOutsideOneToThreeIsZero) {
  const std::vector<std::pair<uint32_t, uint32_t>> table = {{0, 0}, {1, 1}, {2, 2},
                                                            {3, 3}, {4, 0}, {0xFFFFFFFFu, 0}};
  for (const auto& [given, written] : table) {
    HttpCallState state;
    state.responseFormat = given;
    OwnedResponse owned;
    WriteHostResponse(owned.response, state, nullptr);
    EXPECT_EQ(FieldsOf(owned.response).format, written) << given;
  }
}

TEST(WriteHostResponse, EmptyTextIsTheSharedLiteralAndNoHeadersLeaveZeros) {
  HttpCallState first;
  HttpCallState second;
  OwnedResponse a;
  OwnedResponse b;
  WriteHostResponse(a.response, first, nullptr);
  WriteHostResponse(b.response, second, nullptr);
  const ResponseFields fieldsA = FieldsOf(a.response);
  const ResponseFields fieldsB = FieldsOf(b.response);
  EXPECT_STREQ(fieldsA.responseText, "");
  // One literal for every response; releasing it would be caught by the sanitizer build.
  EXPECT_EQ(fieldsA.responseText, fieldsB.responseText);
  // A text that ends before its first byte is empty too (nothing to allocate or free).
  HttpCallState nulFirst;
  nulFirst.responseText = std::string("\0tail", 5);
  OwnedResponse c;
  WriteHostResponse(c.response, nulFirst, nullptr);
  EXPECT_EQ(FieldsOf(c.response).responseText, fieldsA.responseText);
  // Offsets 30 and 34.
  EXPECT_EQ(fieldsA.headers, nullptr);
  EXPECT_EQ(fieldsA.headerCount, 0u);
  // An empty result is a body of kind 0, and no error.
  EXPECT_EQ(fieldsA.kind, HostValueKind{HOST_VALUE_EMPTY});
  EXPECT_EQ(fieldsA.error, nullptr);
}

TEST(WriteHostResponse, NamesEnumsThroughTheRegistry) {
  BindingRegistry registry;
  registry.RegisterType<HttpCallTestStatus>("HttpCallTestStatus")
      .AddEnumerator("SUCCEEDED", 1)
      .AddEnumerator("ERROR", 3);
  BindingProperty value;
  value.SetEnum(3, StaticTypeInfoOf<HttpCallTestStatus>());

  HttpCallState named;
  named.result = BindingResult(value);
  OwnedResponse withRegistry;
  WriteHostResponse(withRegistry.response, named, &registry);
  EXPECT_EQ(FieldsOf(withRegistry.response).kind, HostValueKind{HOST_VALUE_STRING});
  EXPECT_STREQ(FieldsOf(withRegistry.response).text, "ERROR");

  HttpCallState numbered;
  numbered.result = BindingResult(value);
  OwnedResponse withoutRegistry;
  WriteHostResponse(withoutRegistry.response, numbered, nullptr);
  EXPECT_EQ(FieldsOf(withoutRegistry.response).kind, HostValueKind{HOST_VALUE_SIGNED});
}

TEST(WriteHostResponse, MovesTheStreamIntoTheResponse) {
  int destroyed = 0;
  HttpCallState state;
  state.bodyStream = std::make_unique<TestStream>("0123456789", &destroyed);
  OwnedResponse owned;
  WriteHostResponse(owned.response, state, nullptr);
  EXPECT_EQ(state.bodyStream, nullptr);

  const ResponseFields fields = FieldsOf(owned.response);
  ASSERT_NE(fields.stream, nullptr);
  EXPECT_EQ(fields.streamLength, 10u);
  EXPECT_EQ(fields.streamPosition, 0u);
  EXPECT_EQ(fields.streamRead, &ReadBodyStream);
  EXPECT_EQ(fields.streamRelease, &ReleaseBodyStream);

  char buffer[4];
  uint32_t size = sizeof(buffer);
  uint8_t more = 0;
  ASSERT_EQ(fields.streamRead(fields.stream, buffer, &size, &more), 1);
  EXPECT_EQ(std::string(buffer, size), "0123");
  EXPECT_EQ(more, 1);
  EXPECT_EQ(destroyed, 0);
}

TEST(WriteHostResponse, AFailedCallCarriesNoStream) {
  int destroyed = 0;
  HttpCallState state;
  state.bodyStream = std::make_unique<TestStream>("x", &destroyed);
  state.Fail("broken");
  OwnedResponse owned;
  WriteHostResponse(owned.response, state, nullptr);
  EXPECT_EQ(FieldsOf(owned.response).stream, nullptr);
  EXPECT_EQ(destroyed, 1);
}

TEST(WriteHostResponse, AResultWithoutHostFormIsReportedAsAnError) {
  BindingProperty root;
  BindingProperty* current = &root;
  for (std::size_t level = 0; level <= kMaxBindingDepth; ++level) {
    current = &current->ElementAt(0);
  }
  *current = 7;
  HttpCallState state;
  state.result = BindingResult(std::move(root));
  state.status = 200;
  OwnedResponse owned;
  WriteHostResponse(owned.response, state, nullptr);
  const ResponseFields fields = FieldsOf(owned.response);
  EXPECT_EQ(fields.kind, HostValueKind{HOST_VALUE_EMPTY});
  EXPECT_STREQ(fields.error, kHttpResultNotRepresentableMessage);
  EXPECT_EQ(fields.status, 200u);
}

TEST(WriteHostResponse, ExhaustedMemoryLeavesOnlyTheFallbackError) {
  // The stream's Length() runs after the body, the text and the headers were allocated; its
  // std::bad_alloc stands for an allocation failing there. The sanitizer build checks that
  // everything allocated before it is freed.
  int destroyed = 0;
  HttpCallState state = FilledState(
      std::make_unique<TestStream>("x", &destroyed, TestStream::LengthFault::OutOfMemory));
  OwnedResponse owned;
  WriteHostResponse(owned.response, state, nullptr);

  const ResponseFields fields = FieldsOf(owned.response);
  EXPECT_EQ(fields.kind, HostValueKind{HOST_VALUE_EMPTY});
  EXPECT_STREQ(fields.error, kHostErrorFallbackText);
  EXPECT_EQ(fields.status, 201u);
  EXPECT_STREQ(fields.responseText, "");
  EXPECT_EQ(fields.headers, nullptr);
  EXPECT_EQ(fields.headerCount, 0u);
  EXPECT_EQ(fields.flags, 0);
  EXPECT_EQ(fields.format, 0u);
  EXPECT_EQ(fields.stream, nullptr);
  EXPECT_EQ(fields.release, &ReleaseHostResponse);
  // The stream was not handed over: it stays with the call state.
  EXPECT_NE(state.bodyStream, nullptr);
  EXPECT_EQ(destroyed, 0);
}

TEST(WriteHostResponse, OtherExceptionsLeaveAReleasableRecord) {
  int destroyed = 0;
  HttpCallState state =
      FilledState(std::make_unique<TestStream>("x", &destroyed, TestStream::LengthFault::Other));
  HostResponse response{};
  EXPECT_THROW(WriteHostResponse(response, state, nullptr), std::runtime_error);
  EXPECT_EQ(FieldsOf(response).release, &ReleaseHostResponse);
  EXPECT_EQ(FieldsOf(response).stream, nullptr);
  EXPECT_NE(state.bodyStream, nullptr);
  ReleaseHostResponse(&response);  // frees body, text and headers
  EXPECT_TRUE(IsAllZero(response));
  EXPECT_EQ(destroyed, 0);
}

// --- Stream thunks ---

TEST(BodyStreamThunks, ReadForwardsAndNeverThrows) {
  int destroyed = 0;
  auto* stream = new TestStream("abc", &destroyed);
  char buffer[8];
  uint32_t size = sizeof(buffer);
  uint8_t more = 1;
  EXPECT_EQ(ReadBodyStream(stream, buffer, &size, &more), 1);
  EXPECT_EQ(std::string(buffer, size), "abc");
  EXPECT_EQ(more, 0);

  stream->throwOnRead = true;
  size = sizeof(buffer);
  EXPECT_EQ(ReadBodyStream(stream, buffer, &size, &more), 0);
  EXPECT_EQ(ReadBodyStream(nullptr, buffer, &size, &more), 0);

  ReleaseBodyStream(stream);
  EXPECT_EQ(destroyed, 1);
  ReleaseBodyStream(nullptr);
}

}  // namespace
}  // namespace Vexa
