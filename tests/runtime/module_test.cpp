// A module and its host: the version rule and names, requests and their failure texts, streamed
// answers, awaiting, events and the service proxy. The host is played by the module itself,
// which overrides its host calls (ScriptedModule below), so no C table is involved but the log's.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/field_registration.h"
#include "bridge/host_value.h"
#include "diagnostics/log_manager.h"
#include "runtime/app_module.h"
#include "runtime/entry.h"
#include "support/values.h"
#include "vexa/host_contract.h"

namespace Vexa {
namespace {

using Lines = std::vector<std::string>;
using Testing::Structure;

// Registered as "kor-test" (full name "mdl-be-kor-test") and started with host handle 42 and a
// host table whose entries write every call to `journal`: "request METHOD PATH [ARGUMENTS as
// JSON]", "subscribe NAME FLAGS", "unsubscribe NAME", "yield", "begin LABEL", "end", "log LEVEL
// TEXT". It offers no send entry. Each request is answered by `answer`, which finds status 200
// and a release of what bridge/host_value.h allocated already set. Deliver plays the host
// delivering an event through the callback and context of the module's subscriptions.
class ScriptedModule : public AppModule {
 public:
  ScriptedModule() {
    Register(PluginApiVersion{18, 0, 0, {}, {}}, "kor-test");
    host_.api.request = [](const HostApiTable* api, HostResponse* response,
                           const HostRequest* request) { Self(api).Answer(*response, *request); };
    host_.api.subscribe = [](const HostApiTable* api, const char* name, HostHandle,
                             HostEventCallback callback, void* context, uint32_t flags) {
      Self(api).subscription_ = {callback, context};
      Self(api).Note(std::string("subscribe ") + name + " " + std::to_string(flags));
    };
    host_.api.unsubscribe = [](const HostApiTable* api, const char* name, HostHandle) {
      Self(api).Note(std::string("unsubscribe ") + name);
    };
    host_.api.yield = [](const HostApiTable* api) {
      Self(api).onYield();
      Self(api).Note("yield");
    };
    host_.api.waitBegin = [](const HostApiTable* api, const char* label, uintptr_t) {
      Self(api).Note(std::string("begin ") + label);
    };
    host_.api.waitEnd = [](const HostApiTable* api) { Self(api).Note("end"); };
    host_.api.log = [](const HostApiTable* api, int32_t level, const char* message) {
      Self(api).Note("log " + std::to_string(level) + " " + message);
      if (Self(api).echoLog) {
        std::fprintf(stderr, "%s\n", message);
      }
    };
    EXPECT_TRUE(Start(HostLink(&context_)));
    journal.clear();
  }

  std::function<void(HostResponse&, const HostRequest&)> answer;
  std::function<void()> onYield = [] {};
  bool echoLog = false;  // log lines also to stderr, where a death test reads them
  Lines journal;

  // Thread-safe: a test may call the module from two threads at once.
  bool Note(std::string line) {
    const std::lock_guard lock(journalMutex_);
    journal.push_back(std::move(line));
    return true;
  }

  // Delivers `payload` as the event `name` to the module's subscription callback.
  void Deliver(const char* name, const HostValue& payload) {
    ASSERT_NE(subscription_.first, nullptr);
    const HostEvent event{name, payload, 0, subscription_.second};
    subscription_.first(&event);
  }

 private:
  struct Host {
    HostApiTable api;
    ScriptedModule* self;
  };

  static ScriptedModule& Self(const HostApiTable* api) {
    return *reinterpret_cast<const Host*>(api)->self;
  }

  void Answer(HostResponse& response, const HostRequest& request) {
    std::string arguments;
    for (uint32_t index = 0; index < request.argumentCount; ++index) {
      HostResult result{};
      BindingProperty value;
      const bool read = FromHostValue(result, value, request.arguments[index].value, "<journal>");
      ReleaseHostResult(result);
      arguments += (index == 0 ? "" : ",") + (read ? ToJson(value) : "?");
    }
    Note("request " + std::string(HttpMethodText(static_cast<HttpMethod>(request.method))) + " " +
         request.path + " [" + arguments + "]");
    response.status = 200;
    response.release = [](HostResponse* answered) { ReleaseHostResult(answered->result); };
    answer(response, request);
  }

  std::mutex journalMutex_;
  Host host_{{}, this};
  HostContext context_{&host_.api, 42};
  std::pair<HostEventCallback, void*> subscription_{};
};

// The message of a refused request, or "" when it was posted.
std::string Refusal(const Maybe<void>& posted) {
  return posted ? "" : posted.Error().Message();
}

TEST(PluginVersion, CompatibilityTextsAndFullNames) {
  const PluginApiVersion plugin{18, 1, 2, {}, {}};
  const std::pair<PluginApiVersion, bool> rows[] = {
      {{18, 1, 2, {}, {}}, true},  {{18, 5, 0, {}, {}}, true},  {{18, 1, 3, {}, {}}, true},
      {{18, 1, 1, {}, {}}, false}, {{18, 0, 9, {}, {}}, false}, {{19, 1, 2, {}, {}}, false},
      {{17, 9, 9, {}, {}}, false},
  };
  for (const auto& [core, compatible] : rows) {
    EXPECT_EQ(IsCompatible(core, plugin), compatible) << FormatText(core);
  }
  EXPECT_EQ(FormatText(PluginApiVersion{18, 0, 1, "beta", "7"}), "18.0.1-beta+7");
  EXPECT_EQ(FullNameFromShortNameAndType("kor-geoinfo", "backend"), "mdl-be-kor-geoinfo");
  EXPECT_EQ(FullNameFromShortNameAndType("kor-ui", "frontend"), "mdl-fe-kor-ui");
  const ScriptedModule module;  // the log goes to its journal
  EXPECT_EQ(FullNameFromShortNameAndType("kor-x", "backends"), "mdl-xx-kor-x");
  EXPECT_EQ(module.journal,
            Lines{"log 2             Plugin Manager| GetFullNameFromShortNameAndType("
                  "\"kor-x\", \"backends\") called with an unknown type"});
}

// Sets a variable of this process's environment; an empty value removes it.
void SetEnvironment(const char* name, const char* value) {
#if defined(_WIN32)
  _putenv_s(name, value);
#else
  if (*value != '\0') {
    ::setenv(name, value, 1);
  } else {
    ::unsetenv(name);
  }
#endif
}

struct UnconstructibleModule : AppModule {
  UnconstructibleModule() { throw std::bad_alloc(); }
};

TEST(ModuleEntry, IdentityTracesAndUnconstructibleModules) {
  HostLoadRecord record{18, 0, 0, &ModuleCallbacks(), &record, "stale", nullptr};
  LoadModule<UnconstructibleModule>(&record, "kor-test");
  EXPECT_EQ(std::tie(record.callbacks, record.module, record.fullName, record.endpoints),
            std::make_tuple(nullptr, nullptr, nullptr, nullptr));  // no callback table to call

  SetEnvironment(kPluginTraceVariable, "1");  // read when the module takes over the log
  ScriptedModule module;
  SetEnvironment(kPluginTraceVariable, "");
  EXPECT_EQ(Format("%1", module.Identity()), "mdl-be-kor-test (kor-test, backend)");
  EXPECT_EQ(Refusal(module.InvokeServiceProxy("svc", "getX", Failure(1, "x"), "", "", {})),
            "Failed to convert type \"const char *__cdecl StaticType::Name<class "
            "Vexa::Failure>(void)\" to BindingProperty for serialization");
  Trace("traced %d", 1);
  EXPECT_EQ(module.journal, Lines{"log 0 traced 1"});
}

// The answer as JSON or text, or "CODE MESSAGE" of the failure.
template <typename T>
std::string Outcome(const Maybe<T>& answer) {
  if (!answer) {
    return std::to_string(answer.Error().code) + " " + answer.Error().Message();
  }
  if constexpr (std::is_same_v<T, BindingProperty>) {
    return ToJson(answer.Value());
  } else if constexpr (std::is_same_v<T, std::string>) {
    return answer.Value();
  }
  return "ok";
}

TEST(ModuleRequest, ArgumentsAnswersAndFailureTexts) {
  ScriptedModule module;
  module.answer = [](HostResponse& response, const HostRequest& request) {
    if (request.argumentCount == 0) {
      SetHostError(response.result, "busy");
      response.status = 503;
    } else {
      ASSERT_TRUE(
          SetHostString(response.result.value, request.arguments[0].value.payload.string.text));
    }
  };
  EXPECT_EQ(Outcome(module.Request<std::string>(HttpMethod::Post, "/echo", std::string("uuid-1"),
                                                int32_t{4})),
            "uuid-1");
  EXPECT_EQ(module.journal, Lines{R"(request POST /echo ["uuid-1",4])"});
  EXPECT_EQ(Outcome(module.Request<BindingProperty>(HttpMethod::Get, "/kor-login/v1/session")),
            "503 Error response for GET /kor-login/v1/session: busy");
  EXPECT_EQ(
      Outcome(module.Request<int32_t>(HttpMethod::Post, "/echo", std::string("text"))),
      "0 Error converting response for POST /echo: Value text for '<result>' of type int32 is "
      "in an incorrect format");
  module.journal.clear();
  EXPECT_EQ(Outcome(module.Request(HttpMethod::Patch, "/s", Failure(1, "x"))),
            "400 Request not sent: Error converting parameters for PATCH /s: Couldn't convert "
            "native value because it's an unregistered structure.");
  EXPECT_EQ(module.journal, Lines{});  // nothing is sent
}

struct TestConfig {
  bool Enabled = false;  // NOLINT(readability-identifier-naming): the platform's spelling
};
VEXA_STATIC_TYPE(TestConfig, "struct Vexa::TestConfig");

// A module that declares nothing has the platform's session records under its own name and
// tags, as its own declared records; a configuration namespace is observed at its URI, and a
// module's own event is listed.
TEST(ModuleDeclarations, PlatformRecordsConfigurationAndOwnEvents) {
  ScriptedModule module;
  module.DeclareRecord<TestConfig>("Config").Field("Enabled", &TestConfig::Enabled);
  for (const char* name : {"MdlBeKorTestLoginSession", "MdlBeKorTestConfig"}) {
    const BindingTypeDescriptor* type = module.Registry().FindType(name);
    ASSERT_NE(type, nullptr) << name;
    EXPECT_EQ(type->tags, module.ApiTags()) << name;
  }
  EXPECT_EQ(module.Registry().FindType(StaticTypeInfoOf<Client::Api::LoginSessionState>()),
            module.Registry().FindType("MdlBeKorTestLoginSessionState"));

  module.answer = [](HostResponse& response, const HostRequest&) {
    ASSERT_TRUE(ToHostValue(Structure({{"Enabled", true}}), response.result.value));
  };
  bool enabled = false;
  module.ObserveConfiguration<TestConfig>(
      "Test",
      [&enabled](const PluginResourceEventOf<TestConfig>& event) { enabled = event.data.Enabled; });
  EXPECT_EQ(module.journal,
            (Lines{"subscribe OnJsonApiEvent_kor-platform-config_v1_namespaces_Test 0",
                   "request GET /kor-platform-config/v1/namespaces/Test []"}));
  EXPECT_TRUE(enabled);

  module.DeclareEvent<TestConfig>("OnTestChanged", "The configuration changed");
  const BindingEventDescriptor* event = module.Registry().FindEvent("OnTestChanged");
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(std::tie(event->dataType, event->tags, event->description),
            std::make_tuple(module.Registry().FindType("MdlBeKorTestConfig"), module.ApiTags(),
                            "The configuration changed"));
}

// A streamed body served in `pieces`; "!" fails the read.
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

TEST(ModuleRequest, StreamedAnswers) {
  struct Row {
    std::vector<std::string> pieces;
    const char* expected;  // the answer as JSON, or the failure text
    int yields;
  };
  const Row rows[] = {
      {{"{\"a\":", "1}"}, "{\"a\":1}", 1},          // a short piece with more: one yield
      {{std::string(4096, ' '), "[2]"}, "[2]", 0},  // a full piece: read on at once
      {{"[1", "!"}, "0 Error reading streamed response for GET /r: Stream read error", 1},
      {{"[1"}, "0 Error reading streamed response for GET /r: ", 0},  // not JSON
  };
  for (const Row& row : rows) {
    ScriptedModule module;
    Stream stream{row.pieces};
    module.answer = [&](HostResponse& response, const HostRequest&) {
      response.stream = &stream;
      response.streamRead = &ReadPiece;
      response.streamRelease = [](void* opaque) { ++static_cast<Stream*>(opaque)->released; };
    };
    const std::string got = Outcome(module.Request<BindingProperty>(HttpMethod::Get, "/r"));
    EXPECT_EQ(got.substr(0, std::strlen(row.expected)), row.expected) << row.pieces[0];
    EXPECT_EQ(stream.released, 1);
    EXPECT_EQ(std::count(module.journal.begin(), module.journal.end(), "yield"), row.yields);
  }
}

// A host whose stream hands out full pieces forever: the answer is bounded, not read forever.
TEST(ModuleRequest, AStreamedAnswerThatNeverEndsFails) {
  ScriptedModule module;
  module.answer = [](HostResponse& response, const HostRequest&) {
    response.stream = &response;
    response.streamRead = [](void*, void*, uint32_t* size, uint8_t* more) -> uint8_t {
      *more = 1;
      return *size == 4096 ? 1 : 0;
    };
    response.streamRelease = [](void*) {};
  };
  EXPECT_EQ(Outcome(module.Request<BindingProperty>(HttpMethod::Get, "/r")),
            "0 Error reading streamed response for GET /r: the streamed answer is longer than "
            "67108864 bytes");
}

// A careless host stops the module while it waits inside a yield: refused, with a log line,
// and the module stays until a Stop after the wait.
TEST(ModuleEntry, StopFromInsideAYieldIsRefused) {
  auto owned = std::make_unique<ScriptedModule>();
  ScriptedModule& module = *owned;
  HostedModule* hosted = HostModule(std::move(owned), "kor-test", "backend").release();
  module.onYield = [hosted] { ModuleCallbacks().stop(hosted); };
  module.Yield();
  EXPECT_EQ(module.journal,
            (Lines{"begin Wait: yield",
                   "log 2 mdl-be-kor-test: Stop refused: the host called Stop while the module "
                   "waits for it; the module stays loaded",
                   "yield", "end"}));
  module.onYield = [] {};
  ModuleCallbacks().stop(hosted);  // after the wait: stopped and destroyed
}

TEST(ModuleAwait, AnnouncesOneWaitOnlyWhenNotReady) {
  ScriptedModule module;
  std::promise<int> ready;
  ready.set_value(5);
  EXPECT_EQ(module.Await(ready.get_future()), 5);  // announces nothing

  std::promise<int> later;
  int passes = 0;
  module.onYield = [&] {
    if (++passes == 3) {
      later.set_value(7);
    }
  };
  EXPECT_EQ(module.Await(later.get_future()), 7);
  module.Yield();
  EXPECT_EQ(module.journal,
            (Lines{"begin Wait: future<const char *__cdecl StaticType::Name<int>(void)>", "yield",
                   "yield", "yield", "end", "begin Wait: yield", "yield", "end"}));
}

// Waits and messages name a type by its type text; a type without one has no name, nor a hash
// code (taken over the text) to be named by, so naming it does not compile instead of giving "?".
struct WithoutTypeText {};
template <typename T>
constexpr bool kNameable = requires {
  TypeNameOf<T>();
};
static_assert(kNameable<int> && !kNameable<WithoutTypeText>);
// A MaybeType of a template closes with a blank between the brackets, as every type text does.
static_assert(StaticType::TypeText<Maybe<std::vector<int>>>() ==
              "class Vexa::MaybeType<class Vexa::Failure,"
              "class std::vector<int,class std::allocator<int> > >");

TEST(ModuleAwaitDeathTest, BrokenFutureEndsTheProcess) {
  EXPECT_DEATH(
      {
        AppModule module;
        std::future<int> broken = std::promise<int>().get_future();
        static_cast<void>(module.Await(std::move(broken)));
      },
      ::testing::AllOf(
          ::testing::HasSubstr("Expression: ALE-6D828C10\n"),
          ::testing::HasSubstr(
              "Description: Caught std::future_error in AppModule::Await: (4) Broken promise")));
}

TEST(EventNames, NameTheTopLevelResourceAndPatternsStopAtTheNextSlash) {
  EXPECT_EQ(EventNameForUri("kor-login//v1/session/extra/"), "OnJsonApiEvent_kor-login_v1_session");
  EXPECT_EQ(EventNameForUri("/kor-platform-config/v1/namespaces/GeoInfo/Enabled/x"),
            "OnJsonApiEvent_kor-platform-config_v1_namespaces_GeoInfo_Enabled");
  EXPECT_EQ(EventNameForUri("/x/kor-platform-config/a/b/c"),
            "OnJsonApiEvent_x_kor-platform-config_a");
  const std::tuple<const char*, const char*, bool> rows[] = {
      {"/a/*", "/a/b", true},    {"/a/*", "/a/", false},   {"/a/*", "/a/b/c", false},
      {"/a/*/c", "/a//c", true}, {"/a/b", "/a/bc", false}, {"/a/bc", "/a/b", false},
  };
  for (const auto& [pattern, uri, matches] : rows) {
    EXPECT_EQ(UriMatchesPattern(pattern, uri), matches) << pattern << " " << uri;
  }
}

// Events and service proxy requests of one module; what its handlers receive is journalled too.
class ModuleTest : public ::testing::Test {
 protected:
  // Delivers the resource event of `uri` under the session's event name, as the host does.
  void Dispatch(const std::string& uri) {
    HostValue payload{};
    ASSERT_TRUE(ToHostValue(Structure({{"uri", uri}, {"eventType", "Update"}}), payload));
    module_.Deliver("OnJsonApiEvent_kor-login_v1_session", payload);
    ReleaseHostValue(payload);
  }
  void Observe(const char* uri, std::string label) {
    module_.Events().AddResourceHandler(uri, [this, label](const PluginResourceEvent& event) {
      module_.Note(label + " " + event.uri);
    });
  }

  // A uuid request, or a method request when `replyMethod` is given; its answer is journalled.
  std::string Invoke(std::string_view replyMethod = "") {
    return Refusal(module_.InvokeServiceProxy("svc", "getX", Structure({{"ip", "1.2.3.4"}}),
                                              replyMethod, replyMethod.empty() ? "" : "text",
                                              [this](const PluginServiceProxyResponse& answer) {
                                                module_.Note("answer " + answer.payload);
                                              }));
  }
  static PluginServiceProxyResponse Response(std::string uuid, std::string method,
                                             std::string payload) {
    return {std::move(uuid), "svc", std::move(method), std::move(payload), "OK", ""};
  }

  ScriptedModule module_;
};

TEST_F(ModuleTest, SubscriptionsAreCountedAndStopReleasesTheRest) {
  module_.Subscribe("/kor-login/v1/session");
  module_.Subscribe("/kor-login/v1/session/extra");
  module_.Subscribe("/kor-geoinfo/v1/whereami");
  module_.Unsubscribe("/kor-login/v1/session");
  module_.Unsubscribe("/kor-login/v1/session");
  module_.Unsubscribe("/kor-login/v1/session");  // one too many: ignored
  module_.BeginStop();
  EXPECT_EQ(module_.journal,
            (Lines{"subscribe OnJsonApiEvent_kor-login_v1_session 0",
                   "subscribe OnJsonApiEvent_kor-geoinfo_v1_whereami 0",
                   "unsubscribe OnJsonApiEvent_kor-login_v1_session",
                   "unsubscribe OnJsonApiEvent_kor-geoinfo_v1_whereami",
                   "unsubscribe OnServiceProxyAsyncEvent", "unsubscribe OnServiceProxyMethodEvent",
                   "unsubscribe OnServiceProxyUuidEvent"}));
  EXPECT_EQ(module_.Events().SubscriptionCount("/kor-geoinfo/v1/whereami"), 0);
}

TEST_F(ModuleTest, ExactHandlerFirstThenMatchingPatternsInOrder) {
  Observe("/kor-login/v1/*", "any");
  Observe("/kor-login/v1/session/*", "below");
  Observe("/*/v1/session/extra", "extra");
  Observe("/kor-login/v1/session", "replaced");
  Observe("kor-login/v1/session", "exact");  // the same URI
  module_.Subscribe("/kor-login/v1/session");
  module_.journal.clear();
  Dispatch("/kor-login/v1/session");
  Dispatch("kor-login/v1/session/extra");
  EXPECT_EQ(module_.journal,
            (Lines{"exact /kor-login/v1/session", "any /kor-login/v1/session",
                   "below /kor-login/v1/session/extra", "extra /kor-login/v1/session/extra"}));
}

// A host that enters the module from a second thread while a call of it is still running (here
// an event delivered while the module handles another and yields) gets a report in debug
// builds; one after the other, the calls may come from any thread.
TEST_F(ModuleTest, ASecondThreadInsideTheModulesSequenceIsReported) {
#ifdef NDEBUG
  GTEST_SKIP() << "the sequence is checked in debug builds only";
#else
  module_.Subscribe("/kor-login/v1/session");
  int depth = 0;
  module_.onYield = [&] {
    if (++depth == 1) {
      std::thread([&] { Dispatch("/kor-login/v1/session"); }).join();
    }
  };
  module_.Events().AddResourceHandler("/kor-login/v1/session",
                                      [&](const PluginResourceEvent&) { module_.Yield(); });
  module_.journal.clear();
  Dispatch("/kor-login/v1/session");
  const auto reports = [&] {
    return std::count_if(module_.journal.begin(), module_.journal.end(), [](const auto& line) {
      return line.find("entered a sequence bound to thread") != std::string::npos;
    });
  };
  EXPECT_EQ(reports(), 1);
  std::thread([&] { Dispatch("/kor-login/v1/session"); }).join();  // after the call: no report
  EXPECT_EQ(reports(), 1);
#endif
}

TEST_F(ModuleTest, UnreadableAndFailingEventsAreDroppedWithATrace) {
  module_.Events().AddResourceHandler("/kor-login/v1/session", [](const PluginResourceEvent&) {
    throw std::runtime_error("handler failed");
  });
  module_.Subscribe("/kor-login/v1/session");
  module_.journal.clear();
  LogManager::Obtain()->SetMutedGroups(0);
  HostValue unreadable{};
  unreadable.kind = 99;
  module_.Deliver("OnJsonApiEvent_kor-login_v1_session", unreadable);
  module_.Deliver("OnJsonApiEvent_kor-other_v1_x", unreadable);  // not subscribed: ignored
  Dispatch("/kor-login/v1/session");
  LogManager::Obtain()->SetMutedGroups(kGroupExtra);
  EXPECT_EQ(module_.journal,
            (Lines{"log 0 mdl-be-kor-test: Couldn't convert payload const char *__cdecl "
                   "StaticType::Name<struct Vexa::PluginResourceEvent>(void) for event "
                   "OnJsonApiEvent_kor-login_v1_session: Couldn't assign value to '<result>' of "
                   "type object because the input is of an incompatible type ''.",
                   "log 0 mdl-be-kor-test: Handling event OnJsonApiEvent_kor-login_v1_session",
                   "log 0 mdl-be-kor-test: Dropped event OnJsonApiEvent_kor-login_v1_session: "
                   "handler failed"}));
}

TEST_F(ModuleTest, ProxyAnswerBeforeItsUuidIsMatchedOnceTheRequestIsStored) {
  module_.answer = [this](HostResponse& response, const HostRequest&) {
    module_.ServiceProxyTables().OnUuidResponse(Response("u1", "getX", "1"));
    ASSERT_TRUE(SetHostString(response.result.value, "u1"));
  };
  EXPECT_EQ(Invoke(), "");
  EXPECT_EQ(module_.journal,
            (Lines{"log 3 mdl-be-kor-test: Preparing service proxy request: svc.getX",
                   "request POST /kor-login/v1/service-proxy-uuid-requests "
                   R"(["svc","getX",42,"{\"ip\":\"1.2.3.4\"}"])",
                   "log 3 mdl-be-kor-test: Started service proxy request: svc.getX (u1)",
                   "answer 1", "log 3 mdl-be-kor-test: Fulfilled service proxy request: u1"}));
  EXPECT_EQ(module_.ServiceProxyTables().PendingCount(), 0u);
}

// Kept while a POST is out, then dropped: an answer no request can claim neither stays nor
// completes a later request of its key.
TEST_F(ModuleTest, ProxyAnswersNoRequestWaitsForAreDropped) {
  module_.answer = [this](HostResponse& response, const HostRequest&) {
    module_.ServiceProxyTables().OnMethodResponse(Response("", "reply", "early"));
    ASSERT_TRUE(SetHostString(response.result.value, "u1"));
  };
  LogManager::Obtain()->SetMutedGroups(0);
  EXPECT_EQ(Invoke(), "");
  module_.ServiceProxyTables().OnUuidResponse(Response("u1", "getX", "1"));
  module_.ServiceProxyTables().OnUuidResponse(Response("u1", "getX", "again"));
  module_.ServiceProxyTables().OnMethodResponse(Response("", "reply", "stale"));
  LogManager::Obtain()->SetMutedGroups(kGroupExtra);
  module_.answer = [](HostResponse&, const HostRequest&) {};
  EXPECT_EQ(Invoke("reply"), "");
  EXPECT_EQ(module_.ServiceProxyTables().PendingCount(), 1u);
  const std::string ignored = "log 0 mdl-be-kor-test: Ignored service proxy answer ";
  EXPECT_THAT(module_.journal,
              ::testing::IsSupersetOf(Lines{ignored + "svc.reply: no request waits for it",
                                            "answer 1", ignored + "u1: no request waits for it"}));
}

TEST_F(ModuleTest, ProxyMethodRequestIsRefusedWhileItsReplyIsPending) {
  module_.answer = [](HostResponse&, const HostRequest&) {};
  EXPECT_EQ(Invoke("reply"), "");
  EXPECT_EQ(Invoke("reply"), "Request already in flight");
  module_.ServiceProxyTables().OnMethodResponse(Response("", "reply", "3"));
  EXPECT_EQ(Invoke("reply"), "");
  EXPECT_THAT(module_.journal,
              ::testing::IsSupersetOf(
                  {"request POST /kor-login/v1/service-proxy-method-requests "
                   R"(["svc","getX","reply","text",42,"{\"ip\":\"1.2.3.4\"}"])",
                   "log 2 mdl-be-kor-test: Could not invoke service proxy as request is already "
                   "in flight",
                   "answer 3"}));
}

// Two threads start one method request at once while the host holds the first POST: its key is
// taken before the POST, so the other is refused instead of posted too.
TEST_F(ModuleTest, ProxyMethodRequestFromTwoThreadsAtOnceIsPostedOnce) {
  std::mutex mutex;
  std::condition_variable changed;
  int tried = 0;  // threads that entered the host's request entry or came back refused
  int posted = 0;
  const auto tryOnce = [&] {
    const std::lock_guard lock(mutex);
    ++tried;
    changed.notify_all();
  };
  module_.answer = [&](HostResponse&, const HostRequest&) {
    tryOnce();
    std::unique_lock lock(mutex);
    ++posted;
    changed.wait(lock, [&] { return tried >= 2; });
  };
  std::string answers[2];
  const auto request = [&](std::string& answer) {
    answer = Invoke("reply");
    tryOnce();
  };
  std::thread other(request, std::ref(answers[1]));
  request(answers[0]);
  other.join();
  EXPECT_EQ(posted, 1);
  EXPECT_THAT(answers, ::testing::UnorderedElementsAre("", "Request already in flight"));
  EXPECT_EQ(module_.ServiceProxyTables().PendingCount(), 1u);
}

// An awaited call yields until its answer comes, announcing one wait as Await does (a call for
// the response record gets it whole); when the tables are cleared meanwhile no answer can come,
// and the process ends as for a broken future.
TEST_F(ModuleTest, AwaitedProxyCallYieldsUntilItsAnswerOrEndsWhenItCanNoLongerCome) {
  module_.answer = [](HostResponse& response, const HostRequest&) {
    ASSERT_TRUE(SetHostString(response.result.value, "u1"));
  };
  int passes = 0;
  module_.onYield = [&] {
    if (++passes == 2) {
      module_.ServiceProxyTables().OnUuidResponse(Response("u1", "getX", R"({"state":1})"));
    }
  };
  const Maybe<PluginManagerResource> answer =
      module_.ServiceProxy<PluginManagerResource>("svc", "getX", BindingProperty{});
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer.Value().state, PluginManagerState::PluginsInitialized);
  Lines waits;
  std::copy_if(module_.journal.begin(), module_.journal.end(), std::back_inserter(waits),
               [](const std::string& line) { return !line.starts_with("log"); });
  EXPECT_THAT(waits, ::testing::ElementsAre(::testing::StartsWith("request POST"),
                                            ::testing::StartsWith("begin Wait: future<"), "yield",
                                            "yield", "end"));
  EXPECT_EQ(module_.ServiceProxyTables().PendingCount(), 0u);

  // Asked for the response itself, a service's error comes with its status, not as a failure.
  module_.onYield = [this] {
    module_.ServiceProxyTables().OnUuidResponse({"u1", "svc", "getX", "", "404", "no such x"});
  };
  const Maybe<PluginServiceProxyResponse> raw =
      module_.ServiceProxy<PluginServiceProxyResponse>("svc", "getX", BindingProperty{});
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw.Value().status + " " + raw.Value().error, "404 no such x");

  module_.onYield = [this] { module_.ServiceProxyTables().Clear(); };
  module_.echoLog = true;
  EXPECT_DEATH(
      static_cast<void>(module_.ServiceProxy<PluginManagerResource>("svc", "getX", 0)),
      ::testing::HasSubstr("Caught std::future_error in AppModule::Await: (4) Broken promise"));
}

TEST_F(ModuleTest, ProxyAsyncMessagesReachTheirHandlerOrTheLog) {
  module_.ServiceProxyTables().SetAsyncHandler("svc", "push",
                                               [this](const PluginServiceProxyResponse& answer) {
                                                 module_.Note("async " + answer.payload);
                                               });
  module_.ServiceProxyTables().OnAsyncResponse(Response("", "push", "4"));
  module_.ServiceProxyTables().OnAsyncResponse(Response("", "pull", "5"));
  EXPECT_EQ(module_.journal, (Lines{"async 4",
                                    "log 2 mdl-be-kor-test: Could not find registered "
                                    "handler for async service proxy event svc.pull"}));
}

TEST_F(ModuleTest, ProxyFailuresAndStopLeaveNothingPending) {
  module_.answer = [](HostResponse& response, const HostRequest&) {
    SetHostError(response.result, "down");
  };
  EXPECT_EQ(Invoke(), "Error response for POST /kor-login/v1/service-proxy-uuid-requests: down");
  EXPECT_EQ(Invoke("reply"),
            "Error response for POST /kor-login/v1/service-proxy-method-requests: down");
  EXPECT_EQ(module_.ServiceProxyTables().PendingCount(), 0u);

  module_.answer = [](HostResponse& response, const HostRequest&) {
    ASSERT_TRUE(SetHostString(response.result.value, "u1"));
  };
  EXPECT_EQ(Invoke("reply"), "");  // the failed POST gave its key back
  auto future = module_.ServiceProxyCall<PluginManagerResource>("svc", "getX", BindingProperty{});
  module_.BeginStop();
  ASSERT_EQ(future.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  EXPECT_THROW(future.get(), std::future_error);  // a broken promise
  module_.journal.clear();
  EXPECT_EQ(
      Refusal(module_.ServiceProxyTables().Invoke("svc", "getX", BindingProperty{}, "", "", {})),
      "Finalizing");
  EXPECT_EQ(module_.journal, Lines{});
}

}  // namespace
}  // namespace Vexa
