// The module's own side of the host: the version rule and names, requests and their failure
// texts, streamed answers, and awaiting. The host is played by overriding the module's host
// calls, so no C table is involved.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "binding/host_value.h"
#include "runtime/app_module.h"

namespace {

using Vexa::HttpMethod;

TEST(PluginVersion, CompatibilityAndText) {
  const Vexa::PluginApiVersion plugin{18, 1, 2, {}, {}};
  struct Row {
    Vexa::PluginApiVersion core;
    bool compatible;
  };
  const Row rows[] = {
      {{18, 1, 2, {}, {}}, true},  {{18, 5, 0, {}, {}}, true},  {{18, 1, 3, {}, {}}, true},
      {{18, 1, 1, {}, {}}, false}, {{18, 0, 9, {}, {}}, false}, {{19, 1, 2, {}, {}}, false},
      {{17, 9, 9, {}, {}}, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Vexa::IsCompatible(row.core, plugin), row.compatible) << Vexa::FormatText(row.core);
  }
  EXPECT_EQ(Vexa::FormatText(Vexa::PluginApiVersion{18, 0, 1, "beta", "7"}), "18.0.1-beta+7");
  EXPECT_EQ(Vexa::Format("v%1", Vexa::PluginApiVersion{1, 2, 3, {}, "b"}), "v1.2.3+b");
  EXPECT_EQ(Vexa::IncompatibleVersionText("kor-geoinfo", Vexa::kPluginApiVersion,
                                          Vexa::PluginApiVersion{19, 0, 0, "rc", {}}),
            "kor-geoinfo which supports plugin API 18.0.0 is not compatible with core's plugin "
            "API 19.0.0");
}

TEST(PluginVersion, FullNames) {
  EXPECT_EQ(Vexa::FullNameFromShortNameAndType("kor-geoinfo", "backend"), "mdl-be-kor-geoinfo");
  EXPECT_EQ(Vexa::FullNameFromShortNameAndType("kor-ui", "frontend"), "mdl-fe-kor-ui");
  EXPECT_EQ(Vexa::FullNameFromShortNameAndType("kor-x", "backends"), "mdl-xx-kor-x");
}

// A host played in C++: each request is answered by `answer`, and every host call is counted.
class ScriptedModule : public Vexa::AppModule {
 public:
  std::function<void(HostResponse&, const HostRequest&)> answer;
  std::function<void()> onYield;
  int requests = 0;
  std::vector<std::string> calls;  // "yield", "begin <label>", "end"

  bool CallHostRequest(HostResponse& response, const HostRequest& request) override {
    ++requests;
    if (!answer) {
      return false;
    }
    answer(response, request);
    return true;
  }
  bool CallHostYield() override {
    calls.push_back("yield");
    if (onYield) {
      onYield();
    }
    return true;
  }
  bool CallHostWaitBegin(const char* label, uintptr_t) override {
    calls.push_back(std::string("begin ") + label);
    return true;
  }
  bool CallHostWaitEnd() override {
    calls.push_back("end");
    return true;
  }
};

}  // namespace

namespace RuntimeTest {
struct Record {
  std::string text;
};
VEXA_STATIC_TYPE(Record, "struct RuntimeTest::Record");
}  // namespace RuntimeTest

namespace {

using RuntimeTest::Record;

TEST(ModuleRequest, FailureTexts) {
  ScriptedModule module;
  EXPECT_EQ(module.Request(HttpMethod::Get, "/x").Error().Message(),
            std::string("Request not sent: the host offers no request entry for GET /x"));

  module.answer = [](HostResponse& response, const HostRequest& request) {
    EXPECT_EQ(request.argumentCount, 0u);
    response.result.error = "busy";
    response.status = 503;
  };
  const Vexa::Maybe<Vexa::BindingProperty> refused =
      module.Request<Vexa::BindingProperty>(HttpMethod::Get, "/kor-login/v1/session");
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.Error().code, 503);
  EXPECT_STREQ(refused.Error().Message(), "Error response for GET /kor-login/v1/session: busy");

  // An argument of an unregistered record type does not convert: nothing is sent.
  const int before = module.requests;
  const Vexa::Maybe<void> unsent = module.Request(HttpMethod::Patch, "/s", Record{"x"});
  ASSERT_FALSE(unsent);
  EXPECT_EQ(unsent.Error().code, 400);
  EXPECT_EQ(std::string(unsent.Error().Message())
                .rfind("Request not sent: Error converting parameters for PATCH /s: ", 0),
            0u)
      << unsent.Error().Message();
  EXPECT_EQ(module.requests, before);
}

TEST(ModuleRequest, ArgumentsAndAnswerConversion) {
  ScriptedModule module;
  module.answer = [](HostResponse& response, const HostRequest& request) {
    EXPECT_EQ(request.method, HOST_METHOD_POST);
    EXPECT_STREQ(request.path, "/echo");
    ASSERT_EQ(request.argumentCount, 2u);
    EXPECT_EQ(request.arguments[0].name, nullptr);
    EXPECT_EQ(request.arguments[1].value.kind, static_cast<HostValueKind>(HOST_VALUE_SIGNED));
    ASSERT_TRUE(
        Vexa::SetHostString(response.result.value, request.arguments[0].value.payload.string.text));
    response.release = [](HostResponse* owned) { Vexa::ReleaseHostResult(owned->result); };
  };
  const Vexa::Maybe<std::string> echoed =
      module.Request<std::string>(HttpMethod::Post, "/echo", std::string("uuid-1"), int32_t{4});
  ASSERT_TRUE(echoed) << echoed.Error().Message();
  EXPECT_EQ(echoed.Value(), "uuid-1");

  const Vexa::Maybe<int32_t> number =
      module.Request<int32_t>(HttpMethod::Post, "/echo", std::string("text"), int32_t{0});
  ASSERT_FALSE(number);
  EXPECT_EQ(number.Error().code, 0);
  EXPECT_EQ(
      std::string(number.Error().Message()).rfind("Error converting response for POST /echo: ", 0),
      0u)
      << number.Error().Message();
}

// A streamed body served in the pieces of `pieces`; "!" fails the read.
struct Stream {
  std::vector<std::string> pieces;
  std::size_t next = 0;
  int released = 0;
};

uint8_t VEXA_HOST_CALL ReadPiece(void* opaque, void* buffer, uint32_t* size, uint8_t* more) {
  auto& stream = *static_cast<Stream*>(opaque);
  const std::string& piece = stream.pieces[stream.next++];
  if (piece == "!") {
    return 0;
  }
  EXPECT_EQ(*size, 4096u);
  std::memcpy(buffer, piece.data(), piece.size());
  *size = static_cast<uint32_t>(piece.size());
  *more = stream.next < stream.pieces.size() ? 1 : 0;
  return 1;
}

void VEXA_HOST_CALL ReleaseStream(void* opaque) {
  ++static_cast<Stream*>(opaque)->released;
}

TEST(ModuleRequest, StreamedAnswers) {
  struct Row {
    std::vector<std::string> pieces;
    const char* expected;  // the answer as JSON, or the failure text
    int yields;
  };
  const std::string full(4096, ' ');
  const Row rows[] = {
      {{"{\"a\":", "1}"}, "{\"a\":1}", 1},  // a short piece with more: one yield
      {{full + "", "[2]"}, "[2]", 0},       // a full piece: read on at once
      {{"[1", "!"}, "Error reading streamed response for GET /r: Stream read error", 1},
      {{"[1"}, "Error reading streamed response for GET /r: ", 0},  // not JSON
  };
  for (const Row& row : rows) {
    ScriptedModule module;
    Stream stream{row.pieces};
    module.answer = [&](HostResponse& response, const HostRequest&) {
      response.stream = &stream;
      response.streamRead = &ReadPiece;
      response.streamRelease = &ReleaseStream;
    };
    const Vexa::Maybe<Vexa::BindingProperty> answer =
        module.Request<Vexa::BindingProperty>(HttpMethod::Get, "/r");
    const std::string got = answer ? Vexa::ToJson(answer.Value()) : answer.Error().Message();
    EXPECT_EQ(got.substr(0, std::strlen(row.expected)), row.expected) << row.pieces[0];
    EXPECT_EQ(stream.released, 1);
    EXPECT_EQ(std::count(module.calls.begin(), module.calls.end(), "yield"), row.yields);
  }
}

TEST(ModuleAwait, AnnouncesOneWaitOnlyWhenNotReady) {
  ScriptedModule module;
  std::promise<Vexa::Maybe<Record>> ready;
  ready.set_value(Record{"now"});
  EXPECT_EQ(module.Await(ready.get_future()).Value().text, "now");
  EXPECT_TRUE(module.calls.empty());

  std::promise<int> later;
  int passes = 0;
  module.onYield = [&] {
    if (++passes == 3) {
      later.set_value(7);
    }
  };
  EXPECT_EQ(module.Await(later.get_future()), 7);
  const std::vector<std::string> expected = {
      "begin Wait: future<const char *__cdecl StaticType::Name<int>(void)>", "yield", "yield",
      "yield", "end"};
  EXPECT_EQ(module.calls, expected);

  module.calls.clear();
  module.Yield();
  EXPECT_EQ(module.calls, (std::vector<std::string>{"begin Wait: yield", "yield", "end"}));
}

TEST(ModuleAwaitDeathTest, BrokenFutureEndsTheProcess) {
  EXPECT_DEATH(
      {
        ScriptedModule module;
        std::future<int> broken;
        {
          std::promise<int> abandoned;
          broken = abandoned.get_future();
        }
        static_cast<void>(module.Await(std::move(broken)));
      },
      "ALE-6D828C10.*Caught std::future_error in AppModule::Await: \\(4\\) Broken promise");
}

}  // namespace
