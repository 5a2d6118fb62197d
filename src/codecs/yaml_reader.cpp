// The YAML reader's event loop: libyaml's parser events in, BindingValueBuilder events out.
// See codecs/yaml.h for the mapping, the limits and the decisions behind them.
#include <yaml.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "codecs/yaml.h"
#include "codecs/yaml_anchors.h"
#include "codecs/yaml_messages.h"
#include "codecs/yaml_scalar.h"
#include "util/format.h"
#include "value/builder.h"

namespace Vexa {
namespace {

// libyaml asserts on a null input, even for zero bytes.
constexpr unsigned char kNoInput[] = "";

// One libyaml event, released on every path out of the loop body.
class YamlEvent {
 public:
  YamlEvent() noexcept { std::memset(&event_, 0, sizeof event_); }
  ~YamlEvent() { yaml_event_delete(&event_); }
  YamlEvent(const YamlEvent&) = delete;
  YamlEvent& operator=(const YamlEvent&) = delete;

  // Releases what the event holds (libyaml leaves it zeroed) and hands it out for filling.
  [[nodiscard]] yaml_event_t* Refill() noexcept {
    yaml_event_delete(&event_);
    return &event_;
  }
  [[nodiscard]] const yaml_event_t& operator*() const noexcept { return event_; }

 private:
  yaml_event_t event_;
};

// A line and column counted from 1, as the reader's own messages give them.
struct YamlPosition {
  std::size_t line;
  std::size_t column;
};

[[nodiscard]] YamlPosition PositionOf(const yaml_mark_t& mark) noexcept {
  return {mark.line + 1, mark.column + 1};
}

[[nodiscard]] const char* NameOf(const yaml_char_t* text) noexcept {
  return text == nullptr ? "" : reinterpret_cast<const char*>(text);
}

// The position of byte `offset` of `text`, counted from 0 the way libyaml counts its marks:
// "\r\n", "\r", "\n" and the Unicode breaks NEL, LS and PS end a line; every other character
// (not byte) is one column. For the errors that libyaml reports with a byte offset only.
[[nodiscard]] yaml_mark_t MarkAtOffset(std::string_view text, std::size_t offset) noexcept {
  if (offset > text.size()) {
    offset = text.size();
  }
  yaml_mark_t mark{};
  mark.index = offset;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < offset; ++i) {
    const unsigned char byte = bytes[i];
    bool lineBreak = false;
    if (byte == '\n') {
      lineBreak = i == 0 || bytes[i - 1] != '\r';  // "\r\n" was counted at its "\r"
      if (!lineBreak) {
        continue;
      }
    } else if (byte == '\r') {
      lineBreak = true;
    } else if (byte == 0xC2 && i + 1 < offset && bytes[i + 1] == 0x85) {
      lineBreak = true;  // NEL
      ++i;
    } else if (byte == 0xE2 && i + 2 < offset && bytes[i + 1] == 0x80 &&
               (bytes[i + 2] == 0xA8 || bytes[i + 2] == 0xA9)) {
      lineBreak = true;  // LS, PS
      i += 2;
    }
    if (lineBreak) {
      ++mark.line;
      mark.column = 0;
    } else if ((byte & 0xC0) != 0x80) {
      ++mark.column;  // a character starts here
    }
  }
  return mark;
}

// One open sequence or mapping: how it is reached from its parent, and its anchor (whose entry
// is marked open while the node is).
struct YamlOpenNode {
  YamlPathStep step;  // unused for the root
  YamlAnchor* anchor = nullptr;
};

class YamlReader {
 public:
  YamlReader(std::string_view text, BindingResult& result)
      : text_(text),
        result_(result),
        builder_(result.value),
        aliasBudget_(YamlAliasCopyBudget(text.size())) {}
  ~YamlReader() {
    if (parserReady_) {
      yaml_parser_delete(&parser_);
    }
  }
  YamlReader(const YamlReader&) = delete;
  YamlReader& operator=(const YamlReader&) = delete;

  // Reads the whole text into the result (or fails it). Never throws.
  void Read() noexcept;

 private:
  void ReadEvents();
  // Each answers false when reading must stop (the result has failed).
  [[nodiscard]] bool OnDocumentStart();
  [[nodiscard]] bool OnScalar(const yaml_event_t& event);
  [[nodiscard]] bool OnContainerStart(const yaml_event_t& event, bool collection);
  [[nodiscard]] bool OnContainerEnd(const yaml_event_t& event, bool collection);
  [[nodiscard]] bool OnAlias(const yaml_event_t& event);
  [[nodiscard]] bool OnKeyAlias(const yaml_event_t& event, const YamlAnchor& anchor);

  // Whether the next node is a mapping key: inside a mapping whose last key got its value.
  [[nodiscard]] bool InKeyPosition() const noexcept {
    return builder_.InStructure() && !builder_.HasSelectedMember();
  }
  // How the next value event's target is reached from its parent (call before the event).
  void FillNextStep(YamlPathStep& step) const;
  // The path of the open containers (without the root), then `last` when given.
  [[nodiscard]] YamlPath OpenPath(const YamlPathStep* last) const;
  // Defines `name` for a node; false (failed) when it is defined already.
  [[nodiscard]] YamlAnchor* DefineAnchor(const char* name, const yaml_mark_t& mark);

  bool Fail(const std::string& message);
  // True for Ok; otherwise fails the result with the status's message (out of line: rare).
  [[nodiscard]] bool Check(BindingBuildStatus status, const yaml_mark_t& mark) {
    return status == BindingBuildStatus::Ok || FailStatus(status, mark);
  }
  bool FailStatus(BindingBuildStatus status, const yaml_mark_t& mark);
  void FailParser();

  std::string_view text_;
  BindingResult& result_;
  BindingValueBuilder builder_;
  yaml_parser_t parser_{};
  bool parserReady_ = false;
  int documents_ = 0;
  // The text of the key whose value comes next (the builder has already selected its member):
  // a view into the key's own event, which the loop keeps until the value's event is handled
  // (no copy per key), or into aliasKey_ for an alias in key position.
  std::string_view pendingKey_;
  bool keyPending_ = false;  // the event just handled was a key: keep it until the value
  std::string aliasKey_;
  YamlPathStep scalarStep_;  // the step of the anchored scalar being read
  std::string failure_;      // the message of a tagged scalar that fails
  // Parallel to the builder's open containers; entries above the depth keep their key
  // buffers for reuse.
  std::vector<YamlOpenNode> nodes_;
  YamlAnchorTable anchors_;
  std::size_t aliasBudget_;  // values that aliases may still copy
  // Two events alternate, so that a key's event outlives the event of its value; `slot_` is
  // the one being handled. Members, so that the failure of an allocation can still quote
  // the position of the event that it interrupted.
  YamlEvent events_[2];
  int slot_ = 0;
};

void YamlReader::Read() noexcept {
  try {
    ReadEvents();
  } catch (...) {
    // Only allocation can throw here (std::bad_alloc, or std::length_error from a container
    // asked for more than it can hold).
    const YamlPosition position = PositionOf((*events_[slot_]).start_mark);
    try {
      result_.Fail(Format(kYamlOutOfMemoryMessage, position.line, position.column));
    } catch (...) {
      result_.FailWithoutMessage();
    }
  }
}

void YamlReader::ReadEvents() {
  if (yaml_parser_initialize(&parser_) == 0) {
    FailParser();
    return;
  }
  parserReady_ = true;
  yaml_parser_set_encoding(&parser_, YAML_UTF8_ENCODING);
  const auto* input =
      text_.empty() ? kNoInput : reinterpret_cast<const unsigned char*>(text_.data());
  yaml_parser_set_input_string(&parser_, input, text_.size());

  int keySlot = -1;
  for (;;) {
    slot_ = keySlot == 0 ? 1 : 0;
    if (yaml_parser_parse(&parser_, events_[slot_].Refill()) == 0) {
      FailParser();
      return;
    }
    const yaml_event_t& event = *events_[slot_];
    keyPending_ = false;
    // Tested by frequency instead of a switch: a jump table over the event types mispredicts
    // on most events, scalars and container boundaries alternating as they do.
    const yaml_event_type_t type = event.type;
    bool goOn = true;
    if (type == YAML_SCALAR_EVENT) {
      goOn = OnScalar(event);
    } else if (type == YAML_MAPPING_START_EVENT || type == YAML_SEQUENCE_START_EVENT) {
      goOn = OnContainerStart(event, type == YAML_SEQUENCE_START_EVENT);
    } else if (type == YAML_MAPPING_END_EVENT || type == YAML_SEQUENCE_END_EVENT) {
      goOn = OnContainerEnd(event, type == YAML_SEQUENCE_END_EVENT);
    } else if (type == YAML_ALIAS_EVENT) {
      goOn = OnAlias(event);
    } else if (type == YAML_DOCUMENT_START_EVENT) {
      goOn = OnDocumentStart();
    } else if (type == YAML_STREAM_END_EVENT) {
      return;
    }  // stream start and document end mean nothing here
    if (!goOn) {
      return;
    }
    if (keyPending_) {
      keySlot = slot_;
    } else {
      keySlot = -1;
      pendingKey_ = {};  // its event is released with the next parse
    }
  }
}

bool YamlReader::OnDocumentStart() {
  // Every document after the first is refused, including one after an empty first document:
  // its nodes would otherwise land in the finished root.
  if (++documents_ > 1) {
    return Fail(kYamlMultiDocumentMessage);
  }
  return true;
}

bool YamlReader::OnScalar(const yaml_event_t& event) {
  const auto& scalar = event.data.scalar;
  const std::string_view text(reinterpret_cast<const char*>(scalar.value), scalar.length);
  const char* tag = reinterpret_cast<const char*>(scalar.tag);

  if (InKeyPosition()) {
    if (tag != nullptr && std::strcmp(tag, "tag:yaml.org,2002:str") != 0) {
      const YamlPosition position = PositionOf(event.start_mark);
      return Fail(Format(kYamlInvalidKeyMessage, position.line, position.column));
    }
    if (scalar.anchor != nullptr) {
      YamlAnchor* anchor = DefineAnchor(NameOf(scalar.anchor), event.start_mark);
      if (anchor == nullptr) {
        return false;
      }
      anchor->isKeyText = true;
      anchor->keyText.assign(text);
    }
    pendingKey_ = text;
    keyPending_ = true;
    return Check(builder_.MemberKey(text), event.start_mark);
  }

  // An anchored scalar's step is taken before the builder appends its element.
  if (scalar.anchor != nullptr) {
    FillNextStep(scalarStep_);
  }
  const bool quoted = scalar.style == YAML_SINGLE_QUOTED_SCALAR_STYLE ||
                      scalar.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE;
  BindingBuildStatus status = BindingBuildStatus::Ok;
  if (tag == nullptr) {
    status = quoted ? builder_.String(text) : FeedYamlPlainScalar(builder_, text);
  } else {
    const YamlScalar resolved = ResolveYamlScalar(tag, text, quoted, failure_);
    switch (resolved.kind) {
      case YamlScalarKind::Failed:
        return Fail(failure_);
      case YamlScalarKind::Empty:
        status = builder_.Empty();
        break;
      case YamlScalarKind::Unchanged:
        status = builder_.Null();
        break;
      case YamlScalarKind::Bool:
        status = builder_.Bool(resolved.boolean);
        break;
      case YamlScalarKind::Signed:
        status = builder_.Signed(resolved.whole);
        break;
      case YamlScalarKind::Unsigned:
        status = builder_.Unsigned(resolved.natural);
        break;
      case YamlScalarKind::Float:
        status = builder_.Float(resolved.real);
        break;
      case YamlScalarKind::String:
        status = builder_.String(text);
        break;
    }
  }
  if (!Check(status, event.start_mark)) {
    return false;
  }
  if (scalar.anchor != nullptr) {
    YamlAnchor* anchor = DefineAnchor(NameOf(scalar.anchor), event.start_mark);
    if (anchor == nullptr) {
      return false;
    }
    anchor->path = OpenPath(&scalarStep_);
  }
  return true;
}

bool YamlReader::OnContainerStart(const yaml_event_t& event, bool collection) {
  if (InKeyPosition()) {
    const YamlPosition position = PositionOf(event.start_mark);
    return Fail(Format(collection ? kYamlUnexpectedSequenceMessage : kYamlUnexpectedMappingMessage,
                       position.line, position.column));
  }
  const std::size_t depth = builder_.Depth();
  if (nodes_.size() <= depth) {
    nodes_.emplace_back();
  }
  YamlOpenNode& node = nodes_[depth];
  FillNextStep(node.step);
  node.anchor = nullptr;
  // A repeated key's earlier sequence or mapping is replaced, never merged into.
  const BindingBuildStatus status = collection ? builder_.BeginCollection(BindingReuse::Replace)
                                               : builder_.BeginStructure(BindingReuse::Replace);
  if (!Check(status, event.start_mark)) {
    return false;
  }
  const yaml_char_t* anchorName =
      collection ? event.data.sequence_start.anchor : event.data.mapping_start.anchor;
  if (anchorName != nullptr) {
    YamlAnchor* anchor = DefineAnchor(NameOf(anchorName), event.start_mark);
    if (anchor == nullptr) {
      return false;
    }
    anchor->path = OpenPath(nullptr);
    anchor->open = true;
    node.anchor = anchor;
  }
  return true;
}

bool YamlReader::OnContainerEnd(const yaml_event_t& event, bool collection) {
  const std::size_t depth = builder_.Depth();
  const BindingBuildStatus status = collection ? builder_.EndCollection() : builder_.EndStructure();
  if (!Check(status, event.start_mark)) {
    return false;
  }
  YamlAnchor* anchor = nodes_[depth - 1].anchor;  // depth >= 1: the builder closed a container
  if (anchor != nullptr) {
    anchor->open = false;
  }
  return true;
}

bool YamlReader::OnAlias(const yaml_event_t& event) {
  const char* name = NameOf(event.data.alias.anchor);
  const YamlPosition position = PositionOf(event.start_mark);
  const YamlAnchor* anchor = anchors_.Find(name);
  if (anchor != nullptr && anchor->open) {
    return Fail(Format(kYamlCyclicAliasMessage, name, position.line, position.column));
  }
  if (anchor == nullptr) {
    return Fail(Format(kYamlUndefinedAliasMessage, name, position.line, position.column));
  }
  if (InKeyPosition()) {
    return OnKeyAlias(event, *anchor);
  }
  if (anchor->isKeyText) {
    if (aliasBudget_ == 0) {
      return Fail(Format(kYamlAliasTooLargeMessage, name, YamlAliasCopyBudget(text_.size()),
                         position.line, position.column));
    }
    --aliasBudget_;
    return Check(builder_.String(anchor->keyText), event.start_mark);
  }
  // Selecting may append to the innermost collection and move its elements: the source is
  // looked up only afterwards.
  BindingBuildStatus status = BindingBuildStatus::Ok;
  BindingProperty* target = builder_.SelectTarget(status);
  if (target == nullptr) {
    return FailStatus(status, event.start_mark);
  }
  const BindingProperty& source = FollowYamlPath(builder_.Root(), anchor->path);
  std::size_t nodes = 0;
  switch (CheckYamlCopy(source, aliasBudget_, kMaxBindingDepth - builder_.Depth(), nodes)) {
    case YamlCopyCheck::TooLarge:
      return Fail(Format(kYamlAliasTooLargeMessage, name, YamlAliasCopyBudget(text_.size()),
                         position.line, position.column));
    case YamlCopyCheck::TooDeep:
      return Fail(
          Format(kYamlAliasTooDeepMessage, name, kMaxBindingDepth, position.line, position.column));
    case YamlCopyCheck::Fits:
      break;
  }
  aliasBudget_ -= nodes;
  // The source may enclose the target (a repeated key re-anchored around the alias): the
  // assignment copies as if through a temporary.
  *target = source;
  return true;
}

bool YamlReader::OnKeyAlias(const yaml_event_t& event, const YamlAnchor& anchor) {
  if (anchor.isKeyText) {
    aliasKey_.assign(anchor.keyText);
  } else {
    const BindingProperty& source = FollowYamlPath(builder_.Root(), anchor.path);
    if (source.Kind() != BindingPropertyKind::String) {
      const YamlPosition position = PositionOf(event.start_mark);
      return Fail(Format(kYamlInvalidKeyMessage, position.line, position.column));
    }
    aliasKey_.assign(source.GetString());
  }
  pendingKey_ = aliasKey_;
  keyPending_ = true;
  return Check(builder_.MemberKey(aliasKey_), event.start_mark);
}

void YamlReader::FillNextStep(YamlPathStep& step) const {
  if (builder_.InCollection()) {
    step.isKey = false;
    step.index = builder_.Innermost()->Size();  // the element about to be appended
  } else if (builder_.InStructure()) {
    step.isKey = true;  // the member that the pending key selected
    step.key.assign(pendingKey_);
  } else {
    step.isKey = false;  // the root, which no path contains
    step.index = 0;
  }
}

YamlPath YamlReader::OpenPath(const YamlPathStep* last) const {
  YamlPath path;
  const std::size_t depth = builder_.Depth();
  path.reserve(depth + 1);
  for (std::size_t i = 1; i < depth; ++i) {  // nodes_[0] is the root
    path.push_back(nodes_[i].step);
  }
  if (last != nullptr && depth > 0) {
    path.push_back(*last);
  }
  return path;
}

YamlAnchor* YamlReader::DefineAnchor(const char* name, const yaml_mark_t& mark) {
  YamlAnchor* anchor = anchors_.Define(name);
  if (anchor == nullptr) {
    const YamlPosition position = PositionOf(mark);
    Fail(Format(kYamlDuplicateAnchorMessage, name, position.line, position.column));
  }
  return anchor;
}

bool YamlReader::Fail(const std::string& message) {
  result_.Fail(message);
  return false;
}

bool YamlReader::FailStatus(BindingBuildStatus status, const yaml_mark_t& mark) {
  const YamlPosition position = PositionOf(mark);
  switch (status) {
    case BindingBuildStatus::Ok:
      return true;
    case BindingBuildStatus::TooDeep:
      return Fail(Format(kYamlTooDeepMessage, kMaxBindingDepth, position.line, position.column));
    case BindingBuildStatus::TooManyElements:
      return Fail(
          Format(kYamlTooManyElementsMessage, kMaxBindingElements, position.line, position.column));
    case BindingBuildStatus::Unbalanced:
      break;
  }
  // libyaml balances its events, so the builder never refuses one as out of place; should it
  // all the same, the reader stops rather than build on a broken stack.
  return Fail(Format(kYamlUnexpectedEventMessage, position.line, position.column));
}

void YamlReader::FailParser() {
  const char* problem = parser_.problem != nullptr ? parser_.problem : kYamlUnknownProblem;
  // Encoding errors come with a byte offset only; their mark is not set.
  const yaml_mark_t mark = parser_.error == YAML_READER_ERROR
                               ? MarkAtOffset(text_, parser_.problem_offset)
                               : parser_.problem_mark;
  Fail(Format(kYamlParserErrorMessage, problem, mark.line, mark.column));
}

}  // namespace

BindingResult ParseYaml(std::string_view text) {
  BindingResult result;
  YamlReader reader(text, result);
  reader.Read();
  return result;
}

}  // namespace Vexa
