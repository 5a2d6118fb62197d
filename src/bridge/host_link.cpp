#include "bridge/host_link.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "bridge/host_messages.h"
#include "bridge/host_value.h"
#include "codecs/json.h"
#include "util/format.h"
#include "vexa/host_contract.h"

namespace Vexa {
namespace {

// Calls one entry of the host's table with the table first, unless the host offers no table or
// no such entry: then nothing is called and the answer is false.
template <auto Entry, typename... Arguments>
bool CallEntry(const HostContext* context, Arguments... arguments) {
  const HostApiTable* api = context != nullptr ? context->api : nullptr;
  if (api == nullptr || api->*Entry == nullptr) {
    return false;
  }
  (api->*Entry)(api, arguments...);
  return true;
}

// The host forms of a request's arguments, packed with their array into one scratch block that
// lives until the request is done; on the stack for the usual few small arguments.
class HostArguments {
 public:
  HostArguments() = default;
  HostArguments(const HostArguments&) = delete;
  HostArguments& operator=(const HostArguments&) = delete;

  // Builds the arguments' host forms. False when one has no host form (its position, from 1,
  // through `failed`) or, with `failed` 0, when memory ran out.
  bool Build(std::span<const BindingProperty* const> arguments, const BindingRegistry* registry,
             std::size_t& failed) {
    constexpr std::size_t kAlignment = alignof(std::max_align_t);
    const auto aligned = [](std::size_t bytes) {
      return (bytes + kAlignment - 1) / kAlignment * kAlignment;
    };
    std::size_t bytes = aligned(arguments.size() * sizeof(HostRequestArgument));
    for (std::size_t index = 0; index < arguments.size(); ++index) {
      std::size_t valueBytes = 0;
      if (!MeasurePackedHostValue(*arguments[index], registry, valueBytes)) {
        failed = index + 1;
        return false;
      }
      bytes += aligned(valueBytes);
    }
    failed = 0;
    if (arguments.empty()) {
      return true;
    }
    std::byte* const block = scratch_.Reserve(bytes);
    if (block == nullptr) {
      return false;
    }
    auto* entries = reinterpret_cast<HostRequestArgument*>(block);
    std::byte* next = block + aligned(arguments.size() * sizeof(HostRequestArgument));
    for (std::size_t index = 0; index < arguments.size(); ++index) {
      std::size_t valueBytes = 0;
      static_cast<void>(MeasurePackedHostValue(*arguments[index], registry, valueBytes));
      entries[index].name = nullptr;
      BuildPackedHostValue(*arguments[index], registry, valueBytes != 0 ? next : nullptr,
                           entries[index].value);
      next += aligned(valueBytes);
    }
    entries_ = entries;
    count_ = static_cast<uint32_t>(arguments.size());
    return true;
  }

  [[nodiscard]] const HostRequestArgument* Data() const { return entries_; }
  [[nodiscard]] uint32_t Count() const { return count_; }

 private:
  HostValueScratch scratch_;
  const HostRequestArgument* entries_ = nullptr;
  uint32_t count_ = 0;
};

// A NUL-terminated copy of a text (a URI, an event name), inside the object when it is short.
class TerminatedText {
 public:
  explicit TerminatedText(std::string_view text) {
    if (text.size() < sizeof short_) {
      std::memcpy(short_, text.data(), text.size());
      short_[text.size()] = '\0';
      text_ = short_;
    } else {
      long_.assign(text);
      text_ = long_.c_str();
    }
  }
  TerminatedText(const TerminatedText&) = delete;
  TerminatedText& operator=(const TerminatedText&) = delete;

  [[nodiscard]] const char* CString() const { return text_; }

 private:
  char short_[256];
  std::string long_;
  const char* text_;
};

// Gives the host's response back to the host, whatever path the reading took: the stream
// through its own release function (once), then the record through the record's.
class HostAnswer {
 public:
  HostAnswer() = default;
  ~HostAnswer() {
    ReleaseStream();
    if (response.release != nullptr) {
      response.release(&response);
    }
  }
  HostAnswer(const HostAnswer&) = delete;
  HostAnswer& operator=(const HostAnswer&) = delete;

  void ReleaseStream() {
    if (response.stream != nullptr && response.streamRelease != nullptr) {
      response.streamRelease(response.stream);
    }
    response.stream = nullptr;
    response.streamRead = nullptr;
    response.streamRelease = nullptr;
  }

  HostResponse response{};
};

constexpr uint32_t kStreamChunk = 4096;

// Reads a streamed answer into one text: a short piece with more to come means the host needs
// a turn before it has the next one. Answers the text, or why it could not be read.
Maybe<std::string> ReadStream(HostAnswer& answer, const std::function<void()>& yield) {
  const HostResponse& response = answer.response;
  std::string text;
  const uint32_t announced = response.streamLength;  // copied: the record is packed
  text.reserve(std::min(announced, kMaxStreamedAnswerBytes));
  std::array<char, kStreamChunk> buffer;
  for (;;) {
    uint32_t size = kStreamChunk;
    uint8_t more = 0;
    if (response.streamRead(response.stream, buffer.data(), &size, &more) == 0) {
      return Failure(0, kStreamReadError);
    }
    const uint32_t read = std::min(size, kStreamChunk);
    if (read > kMaxStreamedAnswerBytes - text.size()) {
      return Failure(0, Format(kStreamTooLongError, kMaxStreamedAnswerBytes));
    }
    text.append(buffer.data(), read);
    if (size < kStreamChunk) {
      if (more == 0) {
        return text;
      }
      if (yield) {
        yield();
      }
    }
  }
}

// The plugin's one event callback: the context is the receiver given at subscription.
void VEXA_HOST_CALL DeliverHostEvent(const HostEvent* event) {
  if (event == nullptr || event->context == nullptr || event->name == nullptr) {
    return;
  }
  auto* receiver = static_cast<HostEventReceiver*>(event->context);
  const SequenceScope sequence(receiver->Sequence());
  try {
    const HostValue payload = event->payload;
    BindingResult converted;
    HostResult result{};
    if (!FromHostValue(result, converted.value, payload, kResultValueName)) {
      converted.Fail(result.error != nullptr ? result.error : "");
    }
    ReleaseHostResult(result);
    receiver->ReceiveHostEvent(event->name, std::move(converted));
  } catch (...) {
    // Nothing throws across the seam: an event that cannot be handled is dropped.
  }
}

}  // namespace

HostLink::HostLink(const HostContext* context)
    : context_(context != nullptr && context->api != nullptr ? context : nullptr) {}

HostHandle HostLink::Handle() const {
  return context_ != nullptr ? context_->handle : 0;
}

Maybe<BindingProperty> HostLink::Request(const HostCall& call, const BindingRegistry* registry,
                                         const std::function<void()>& yield) const {
  const std::string_view methodText = HttpMethodText(call.method);
  HostArguments entries;
  if (std::size_t failed = 0; !entries.Build(call.arguments, registry, failed)) {
    if (failed == 0) {
      throw std::bad_alloc();
    }
    return Failure(400, Format(kRequestNotSentMessage, methodText, call.uri,
                               Format(kArgumentNotRepresentable, failed)));
  }
  const TerminatedText path(call.uri);
  HostRequest request{};
  request.method = static_cast<HostMethod>(call.method);
  request.path = path.CString();
  request.arguments = entries.Data();
  request.argumentCount = entries.Count();
  request.context = Handle();

  HostAnswer answer;
  if (!CallEntry<&HostApiTable::request>(context_, &answer.response,
                                         static_cast<const HostRequest*>(&request))) {
    return Failure(0, Format(kMissingHostEntryMessage, methodText, call.uri));
  }
  const HostResponse& response = answer.response;
  if (response.result.error != nullptr) {
    return Failure(static_cast<int32_t>(response.status),
                   Format(kErrorResponseMessage, methodText, call.uri, response.result.error));
  }
  if (!call.readAnswer) {
    return BindingProperty{};
  }

  if (response.streamRead != nullptr) {
    Maybe<std::string> text = ReadStream(answer, yield);
    answer.ReleaseStream();
    if (!text) {
      return Failure(0,
                     Format(kStreamReadErrorMessage, methodText, call.uri, text.Error().Message()));
    }
    BindingResult parsed = ParseJson(text.Value());
    if (!parsed) {
      return Failure(0, Format(kStreamReadErrorMessage, methodText, call.uri,
                               std::string_view(parsed.ErrorText())));
    }
    return std::move(parsed.value);
  }

  HostResult converted{};
  BindingProperty value;
  if (!FromHostValue(converted, value, response.result.value, kResultValueName)) {
    Failure failure(0, Format(kConvertResponseMessage, methodText, call.uri,
                              converted.error != nullptr ? converted.error : ""));
    ReleaseHostResult(converted);
    return failure;
  }
  return value;
}

bool HostLink::Reserved2(uintptr_t first, uintptr_t second) const {
  return CallEntry<&HostApiTable::reserved2>(context_, first, second);
}

bool HostLink::SendEvent(std::span<const std::string_view> names, const BindingProperty& payload,
                         uint32_t flags, const BindingRegistry* registry) const {
  HostEvent event{};
  std::size_t bytes = 0;
  if (!MeasurePackedHostValue(payload, registry, bytes)) {
    return false;
  }
  HostValueScratch scratch;
  std::byte* const block = bytes != 0 ? scratch.Reserve(bytes) : nullptr;
  if (bytes != 0 && block == nullptr) {
    return false;
  }
  BuildPackedHostValue(payload, registry, block, event.payload);
  event.flags = flags;
  for (const std::string_view name : names) {
    const TerminatedText text(name);
    event.name = text.CString();
    if (!CallEntry<&HostApiTable::sendEvent>(context_, static_cast<const HostEvent*>(&event))) {
      return false;
    }
  }
  return true;
}

bool HostLink::Subscribe(const char* eventName, HostEventReceiver& receiver, uint32_t flags) const {
  return CallEntry<&HostApiTable::subscribe>(context_, eventName, Handle(), &DeliverHostEvent,
                                             static_cast<void*>(&receiver), flags);
}

bool HostLink::Unsubscribe(const char* eventName) const {
  return CallEntry<&HostApiTable::unsubscribe>(context_, eventName, Handle());
}

bool HostLink::Reserved6(uintptr_t first, uintptr_t second, uintptr_t third, double value,
                         uintptr_t fourth) const {
  return CallEntry<&HostApiTable::reserved6>(context_, first, second, third, value, fourth);
}

bool HostLink::Yield() const {
  return CallEntry<&HostApiTable::yield>(context_);
}

bool HostLink::WaitBegin(const char* label, uintptr_t reserved) const {
  return CallEntry<&HostApiTable::waitBegin>(context_, label, reserved);
}

bool HostLink::WaitEnd() const {
  return CallEntry<&HostApiTable::waitEnd>(context_);
}

bool HostLink::Log(int32_t level, const char* message) const {
  return CallEntry<&HostApiTable::log>(context_, level, message);
}

}  // namespace Vexa
