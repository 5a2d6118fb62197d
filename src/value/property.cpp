#include "value/property.h"

#include <charconv>
#include <cstdio>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include "util/text.h"
#include "value/context.h"
#include "value/records.h"
#include "value/visit.h"

namespace Vexa {

namespace {

// The shared read-only constants: never counted, never freed, never written.
constinit const BindingProperty emptyProperty{};
const BindingBlob emptyBlob;
constexpr BindingEnumerator zeroEnumerator{};

// The first array of a collection fills one slot of the largest class (3 elements on x86-64,
// 4 on i386); after that the capacity doubles.
constexpr std::size_t kFirstCapacity =
    BindingBlockAllocator::kLargestBlock / sizeof(BindingProperty);

std::size_t NextCapacity(std::size_t capacity, std::size_t needed) noexcept {
  std::size_t grown = capacity < kFirstCapacity ? kFirstCapacity : capacity * 2;
  if (grown > kMaxBindingElements) {
    grown = kMaxBindingElements;
  }
  return grown < needed ? needed : grown;
}

[[noreturn]] void ThrowTooManyElements() {
  throw std::length_error(
      "BindingProperty: a collection holds at most kMaxBindingElements elements");
}

template <typename Integer>
std::string IntegerText(Integer value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace

const char* BindingPropertyKindName(BindingPropertyKind kind) {
  static constexpr const char* kNames[] = {"empty",  "bool", "signed", "unsigned",   "float",
                                           "string", "blob", "enum",   "collection", "structure"};
  const auto index = static_cast<std::size_t>(kind);
  return index < std::size(kNames) ? kNames[index] : "";
}

// --- Construction, copying, moving, destruction ---

BindingProperty::BindingProperty(const BindingProperty& other) {
  if (other.ownsContext_ != 0 && other.IsContainer()) {
    // A copy of a whole tree interns as many texts as the source holds: size the table once.
    EnsureContext().ReserveTexts(other.context_->InternedCount());
  }
  CopyPayloadFrom(other);
}

BindingProperty::BindingProperty(BindingProperty&& other) {
  if (other.ownsContext_ != 0) {
    // Both stand alone: take all of it; the source keeps this value's (absent) context.
    SwapFields(other);
    return;
  }
  CopyPayloadFrom(other);
  other.Reset();
}

BindingProperty& BindingProperty::operator=(const BindingProperty& other) {
  if (this == &other) {
    return *this;
  }
  if (other.context_ != nullptr && other.context_ == context_) {
    // One tree: the source may lie inside this value (which is about to be reset) or this
    // value inside the source (which is about to grow), so copy it out first.
    BindingProperty copy(other);
    if (ownsContext_ != 0) {
      SwapFields(copy);  // `copy` leaves with the old tree and its context
    } else {
      Reset();
      CopyPayloadFrom(copy);
    }
    return *this;
  }
  Reset();
  CopyPayloadFrom(other);
  return *this;
}

BindingProperty& BindingProperty::operator=(BindingProperty&& other) {
  if (this == &other) {
    return *this;
  }
  if (ownsContext_ != 0 && other.ownsContext_ != 0) {
    SwapFields(other);
    other.Reset();  // the old payload goes; the source keeps this value's former context
    return *this;
  }
  if (other.context_ == nullptr || other.context_ != context_) {
    // Different trees: the payload must be rebuilt in this value's context.
    Reset();
    CopyPayloadFrom(other);
    other.Reset();
    return *this;
  }
  // One tree. When this value lies inside the source, copying the source here and then
  // emptying the source empties both: do just that.
  if (other.ownsContext_ != 0 || (other.IsContainer() && other.Encloses(this))) {
    other.Reset();
    return *this;
  }
  // Otherwise the records already live in the right context: hand them over as they are. The
  // old payload is freed record by record (never wholesale), because the handed-over records
  // share the context with it.
  Payload payload;
  BindingPropertyKind kind;
  other.DetachPayload(payload, kind);
  FreePayload();
  payload_ = payload;
  kind_ = kind;
  return *this;
}

BindingProperty::~BindingProperty() {
  if (ownsContext_ != 0) {
    BindingValueContext::Recycle(context_);  // the whole tree lives in it
  } else {
    Reset();
  }
}

void BindingProperty::SwapFields(BindingProperty& other) noexcept {
  std::swap(payload_, other.payload_);
  std::swap(context_, other.context_);
  std::swap(kind_, other.kind_);
  std::swap(ownsContext_, other.ownsContext_);
}

void BindingProperty::DetachPayload(Payload& payload, BindingPropertyKind& kind) noexcept {
  payload = payload_;
  kind = kind_;
  payload_.bits = 0;
  kind_ = BindingPropertyKind::Empty;
}

BindingValueContext& BindingProperty::EnsureContext() {
  if (context_ == nullptr) {
    context_ = BindingValueContext::Acquire();  // only a standalone value is ever without one
  }
  return *context_;
}

void BindingProperty::Reset() noexcept {
  if (kind_ == BindingPropertyKind::Empty) {
    return;
  }
  if (ownsContext_ != 0 && IsContainer()) {
    // The whole context belongs to this tree: drop it in one sweep instead of record by record.
    context_->Clear();
  } else {
    FreePayload();
  }
  payload_.bits = 0;
  kind_ = BindingPropertyKind::Empty;
}

namespace {
// How many FreePayload calls are active on this thread: the depth of the nested free.
thread_local unsigned freeDepth = 0;
}  // namespace

void BindingProperty::FreePayload() noexcept {
  if (IsContainer() && freeDepth >= kMaxFreeDepth) [[unlikely]] {
    return;  // left to the context's wholesale drop rather than overflow the stack
  }
  struct Level {
    Level() noexcept { ++freeDepth; }
    ~Level() { --freeDepth; }
  } level;
  switch (kind_) {
    case BindingPropertyKind::String:
      if (payload_.string != BindingValueContext::EmptyText()) {
        context_->Release(payload_.string);
      }
      break;
    case BindingPropertyKind::Blob:
      context_->DeleteBlob(payload_.blob);
      break;
    case BindingPropertyKind::Enum:
      context_->DeleteRecord(payload_.enumerator);
      break;
    case BindingPropertyKind::Collection: {
      BindingCollection* collection = payload_.collection;
      for (uint32_t index = 0; index < collection->size; ++index) {
        BindingProperty& element = collection->elements[index];
        if (element.kind_ >= BindingPropertyKind::String) {
          element.FreePayload();
        }
      }
      if (collection->capacity != 0) {
        context_->Free(collection->elements, collection->capacity * sizeof(BindingProperty));
      }
      context_->DeleteRecord(collection);
      break;
    }
    case BindingPropertyKind::Structure:
      payload_.structure->Clear(*context_);
      context_->DeleteRecord(payload_.structure);
      break;
    default:
      break;
  }
}

void BindingProperty::CopyPayloadFrom(const BindingProperty& source) {
  switch (source.kind_) {
    case BindingPropertyKind::Empty:
      return;
    case BindingPropertyKind::String: {
      const BindingInternedString& text = *source.payload_.string;
      payload_.string =
          text.length == 0 ? BindingValueContext::EmptyText() : EnsureContext().Intern(text);
      kind_ = BindingPropertyKind::String;
      return;
    }
    case BindingPropertyKind::Blob: {
      BindingBlob bytes(source.payload_.blob->bytes);
      payload_.blob = EnsureContext().NewBlob(std::move(bytes));
      kind_ = BindingPropertyKind::Blob;
      return;
    }
    case BindingPropertyKind::Enum:
      payload_.enumerator =
          EnsureContext().NewRecord<BindingEnumerator>(*source.payload_.enumerator);
      kind_ = BindingPropertyKind::Enum;
      return;
    case BindingPropertyKind::Collection: {
      BindingValueContext& context = EnsureContext();
      BindingCollection* collection = context.NewRecord<BindingCollection>();
      payload_.collection = collection;
      kind_ = BindingPropertyKind::Collection;
      const BindingCollection& from = *source.payload_.collection;
      if (from.size != 0) {
        GrowCollection(*collection, from.size);
        // Each element counts as soon as it exists, so a failure part-way leaves a valid,
        // shorter collection.
        for (uint32_t index = 0; index < from.size; ++index) {
          BindingProperty* element =
              ::new (collection->elements + index) BindingProperty(NestedTag{}, &context);
          collection->size = index + 1;
          element->CopyPayloadFrom(from.elements[index]);
        }
      }
      return;
    }
    case BindingPropertyKind::Structure: {
      BindingValueContext& context = EnsureContext();
      BindingStructure* structure = context.NewRecord<BindingStructure>();
      payload_.structure = structure;
      kind_ = BindingPropertyKind::Structure;
      structure->CopyFrom(*source.payload_.structure, context);
      return;
    }
    default:  // bool, signed, unsigned, float
      payload_ = source.payload_;
      kind_ = source.kind_;
      return;
  }
}

bool BindingProperty::Encloses(const BindingProperty* value) const noexcept {
  if (kind_ == BindingPropertyKind::Collection) {
    const BindingCollection& collection = *payload_.collection;
    const std::less<const BindingProperty*> before;
    if (!before(value, collection.elements) &&
        before(value, collection.elements + collection.size)) {
      return true;
    }
    for (uint32_t index = 0; index < collection.size; ++index) {
      const BindingProperty& element = collection.elements[index];
      if (element.IsContainer() && element.Encloses(value)) {
        return true;
      }
    }
  } else if (kind_ == BindingPropertyKind::Structure) {
    for (const BindingMemberNode* node = payload_.structure->first; node != nullptr;
         node = node->next) {
      const BindingProperty& member = node->value;
      if (&member == value || (member.IsContainer() && member.Encloses(value))) {
        return true;
      }
    }
  }
  return false;
}

// --- Setters ---

BindingProperty& BindingProperty::SetBool(bool value) {
  Reset();
  payload_.boolean = value;
  kind_ = BindingPropertyKind::Bool;
  return *this;
}

BindingProperty& BindingProperty::SetSigned(int64_t value) {
  Reset();
  payload_.signedValue = value;
  kind_ = BindingPropertyKind::Signed;
  return *this;
}

BindingProperty& BindingProperty::SetUnsigned(uint64_t value) {
  Reset();
  payload_.unsignedValue = value;
  kind_ = BindingPropertyKind::Unsigned;
  return *this;
}

BindingProperty& BindingProperty::SetFloat(double value) {
  Reset();
  payload_.floatValue = value;
  kind_ = BindingPropertyKind::Float;
  return *this;
}

BindingProperty& BindingProperty::SetString(std::string_view text) {
  text = BindingTextBeforeNul(text);
  BindingInternedString* entry;
  if (text.empty()) {
    Reset();
    entry = BindingValueContext::EmptyText();
  } else if (ownsContext_ != 0 && IsContainer()) {
    // The text may lie in the tree that Reset drops wholesale: keep a copy across it.
    const std::string keep(text);
    Reset();
    entry = context_->InternExact(keep);
  } else {
    // Intern first: the text may be this value's own, which Reset releases.
    entry = EnsureContext().InternExact(text);
    Reset();
  }
  payload_.string = entry;
  kind_ = BindingPropertyKind::String;
  return *this;
}

BindingProperty& BindingProperty::SetString(const char* text) {
  return SetString(text != nullptr ? std::string_view(text) : std::string_view());
}

BindingProperty& BindingProperty::SetBlob(const uint8_t* bytes, std::size_t count) {
  return SetBlob(count != 0 ? BindingBlob(bytes, bytes + count) : BindingBlob());
}

BindingProperty& BindingProperty::SetBlob(const BindingBlob& bytes) {
  return SetBlob(BindingBlob(bytes));
}

BindingProperty& BindingProperty::SetBlob(BindingBlob&& bytes) {
  BindingBlob keep(std::move(bytes));  // `bytes` may be this value's own blob
  BindingValueContext& context = EnsureContext();
  Reset();
  payload_.blob = context.NewBlob(std::move(keep));
  kind_ = BindingPropertyKind::Blob;
  return *this;
}

BindingProperty& BindingProperty::SetEnum(int32_t value, const StaticTypeInfo& type) {
  BindingValueContext& context = EnsureContext();
  Reset();
  payload_.enumerator = context.NewRecord<BindingEnumerator>(BindingEnumerator{value, &type});
  kind_ = BindingPropertyKind::Enum;
  return *this;
}

// --- Readers ---

bool BindingProperty::GetBool(bool otherwise) const noexcept {
  return kind_ == BindingPropertyKind::Bool ? payload_.boolean : otherwise;
}

int64_t BindingProperty::GetSigned(int64_t otherwise) const noexcept {
  return kind_ == BindingPropertyKind::Signed ? payload_.signedValue : otherwise;
}

uint64_t BindingProperty::GetUnsigned(uint64_t otherwise) const noexcept {
  return kind_ == BindingPropertyKind::Unsigned ? payload_.unsignedValue : otherwise;
}

double BindingProperty::GetFloat(double otherwise) const noexcept {
  return kind_ == BindingPropertyKind::Float ? payload_.floatValue : otherwise;
}

std::string_view BindingProperty::GetString(std::string_view otherwise) const noexcept {
  return kind_ == BindingPropertyKind::String ? payload_.string->View() : otherwise;
}

const BindingBlob& BindingProperty::GetBlob() const noexcept {
  return GetBlob(emptyBlob);
}

const BindingBlob& BindingProperty::GetBlob(const BindingBlob& otherwise) const noexcept {
  return kind_ == BindingPropertyKind::Blob ? payload_.blob->bytes : otherwise;
}

const BindingEnumerator& BindingProperty::GetEnum() const noexcept {
  return GetEnum(zeroEnumerator);
}

const BindingEnumerator& BindingProperty::GetEnum(
    const BindingEnumerator& otherwise) const noexcept {
  return kind_ == BindingPropertyKind::Enum ? *payload_.enumerator : otherwise;
}

std::size_t BindingProperty::Size() const noexcept {
  switch (kind_) {
    case BindingPropertyKind::Empty:
      return 0;
    case BindingPropertyKind::String:
      return payload_.string->length;
    case BindingPropertyKind::Blob:
      return payload_.blob->bytes.size();
    case BindingPropertyKind::Collection:
      return payload_.collection->size;
    case BindingPropertyKind::Structure:
      return payload_.structure->count;
    default:
      return 1;
  }
}

// --- Containers ---

BindingProperty& BindingProperty::MakeCollection() {
  if (kind_ != BindingPropertyKind::Collection) {
    BindingValueContext& context = EnsureContext();
    Reset();
    payload_.collection = context.NewRecord<BindingCollection>();
    kind_ = BindingPropertyKind::Collection;
  }
  return *this;
}

BindingProperty& BindingProperty::MakeStructure() {
  if (kind_ != BindingPropertyKind::Structure) {
    BindingValueContext& context = EnsureContext();
    Reset();
    payload_.structure = context.NewRecord<BindingStructure>();
    kind_ = BindingPropertyKind::Structure;
  }
  return *this;
}

BindingCollection& BindingProperty::EnsureCollection() {
  MakeCollection();
  return *payload_.collection;
}

void BindingProperty::GrowCollection(BindingCollection& collection, std::size_t capacity) {
  auto* elements =
      static_cast<BindingProperty*>(context_->Allocate(capacity * sizeof(BindingProperty)));
  // Relocate bitwise: an element is its four fields and nothing refers to its address from
  // inside the tree, so the old copies are simply abandoned (no deep copy, no destructor).
  for (uint32_t index = 0; index < collection.size; ++index) {
    const BindingProperty& from = collection.elements[index];
    BindingProperty* to = ::new (elements + index) BindingProperty(NestedTag{}, from.context_);
    to->payload_ = from.payload_;
    to->kind_ = from.kind_;
  }
  if (collection.capacity != 0) {
    context_->Free(collection.elements, collection.capacity * sizeof(BindingProperty));
  }
  collection.elements = elements;
  collection.capacity = static_cast<uint32_t>(capacity);
}

bool BindingProperty::Reserve(std::size_t count) {
  if (kind_ != BindingPropertyKind::Collection || count > kMaxBindingElements) {
    return false;
  }
  BindingCollection& collection = *payload_.collection;
  if (count > collection.capacity) {
    GrowCollection(collection, count);
  }
  return true;
}

BindingProperty& BindingProperty::Append() {
  if (kind_ == BindingPropertyKind::Collection &&
      payload_.collection->size >= kMaxBindingElements) {
    ThrowTooManyElements();
  }
  BindingCollection& collection = EnsureCollection();
  if (collection.size == collection.capacity) {
    GrowCollection(collection, NextCapacity(collection.capacity, collection.size + 1));
  }
  BindingProperty* element =
      ::new (collection.elements + collection.size) BindingProperty(NestedTag{}, context_);
  ++collection.size;
  return *element;
}

const BindingProperty& BindingProperty::ElementAt(std::size_t index) const noexcept {
  if (kind_ == BindingPropertyKind::Collection && index < payload_.collection->size) {
    return payload_.collection->elements[index];
  }
  return emptyProperty;
}

BindingProperty& BindingProperty::ElementAt(std::size_t index) {
  if (index >= kMaxBindingElements) {
    ThrowTooManyElements();
  }
  BindingCollection& collection = EnsureCollection();
  if (index >= collection.size) {
    const std::size_t needed = index + 1;
    if (needed > collection.capacity) {
      GrowCollection(collection, NextCapacity(collection.capacity, needed));
    }
    for (std::size_t next = collection.size; next < needed; ++next) {
      ::new (collection.elements + next) BindingProperty(NestedTag{}, context_);
    }
    collection.size = static_cast<uint32_t>(needed);
  }
  return collection.elements[index];
}

const BindingProperty& BindingProperty::Member(std::string_view key) const noexcept {
  if (kind_ == BindingPropertyKind::Structure) {
    if (const BindingMemberNode* node = payload_.structure->Find(BindingTextBeforeNul(key));
        node != nullptr) {
      return node->value;
    }
  }
  return emptyProperty;
}

bool BindingProperty::HasMember(std::string_view key) const noexcept {
  return kind_ == BindingPropertyKind::Structure &&
         payload_.structure->Find(BindingTextBeforeNul(key)) != nullptr;
}

BindingProperty& BindingProperty::Member(std::string_view key) {
  key = BindingTextBeforeNul(key);
  if (kind_ != BindingPropertyKind::Structure) {
    if (kind_ == BindingPropertyKind::String || kind_ == BindingPropertyKind::Collection) {
      // The key may be this value's own text, which becoming a structure frees.
      const std::string keep(key);
      MakeStructure();
      return payload_.structure->FindOrInsert(keep, *context_);
    }
    MakeStructure();
  }
  return payload_.structure->FindOrInsert(key, *context_);
}

bool BindingProperty::RemoveMember(std::string_view key) {
  return kind_ == BindingPropertyKind::Structure &&
         payload_.structure->Remove(BindingTextBeforeNul(key), *context_);
}

BindingProperty::ElementRange BindingProperty::Elements() const noexcept {
  if (kind_ == BindingPropertyKind::Collection) {
    return {payload_.collection->elements, payload_.collection->size};
  }
  return {nullptr, 0};
}

BindingProperty::MemberRange BindingProperty::Members() const noexcept {
  if (kind_ == BindingPropertyKind::Structure) {
    BindingStructure& structure = *payload_.structure;
    structure.EnsureSorted();
    return {structure.first, structure.count};
  }
  return {nullptr, 0};
}

std::string_view BindingProperty::MemberRange::iterator::Key() const noexcept {
  return node_->key->View();
}

const BindingProperty& BindingProperty::MemberRange::iterator::Value() const noexcept {
  return node_->value;
}

BindingProperty::MemberRange::iterator&
BindingProperty::MemberRange::iterator::operator++() noexcept {
  node_ = node_->next;
  return *this;
}

// --- Walking, text, equality ---

void BindingProperty::Visit(BindingVisitor& visitor) const {
  VisitStatic(visitor);
}

std::string BindingProperty::ToText() const {
  switch (kind_) {
    case BindingPropertyKind::Bool:
      return payload_.boolean ? "true" : "false";
    case BindingPropertyKind::Signed:
      return IntegerText(payload_.signedValue);
    case BindingPropertyKind::Unsigned:
      return IntegerText(payload_.unsignedValue);
    case BindingPropertyKind::Float: {
      // "%f" of the largest double is 316 characters; the buffer holds any double.
      char buffer[400];
      const int length = std::snprintf(buffer, sizeof buffer, "%f", payload_.floatValue);
      return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
    }
    case BindingPropertyKind::String:
      return std::string(payload_.string->View());
    case BindingPropertyKind::Blob:
      return Base64Encode(payload_.blob->bytes.data(), payload_.blob->bytes.size());
    case BindingPropertyKind::Enum:
      return IntegerText(payload_.enumerator->value);
    default:  // empty, collection, structure
      return std::string();
  }
}

bool operator==(const BindingProperty& left, const BindingProperty& right) noexcept {
  if (left.kind_ != right.kind_) {
    return false;
  }
  switch (left.kind_) {
    case BindingPropertyKind::Empty:
      return true;
    case BindingPropertyKind::Bool:
      return left.payload_.boolean == right.payload_.boolean;
    case BindingPropertyKind::Signed:
      return left.payload_.signedValue == right.payload_.signedValue;
    case BindingPropertyKind::Unsigned:
      return left.payload_.unsignedValue == right.payload_.unsignedValue;
    case BindingPropertyKind::Float:
      return left.payload_.floatValue == right.payload_.floatValue;
    case BindingPropertyKind::String:
      return left.payload_.string == right.payload_.string ||
             left.payload_.string->View() == right.payload_.string->View();
    case BindingPropertyKind::Blob:
      return left.payload_.blob->bytes == right.payload_.blob->bytes;
    case BindingPropertyKind::Enum:
      return left.payload_.enumerator->value == right.payload_.enumerator->value &&
             left.payload_.enumerator->type == right.payload_.enumerator->type;
    case BindingPropertyKind::Collection: {
      const BindingCollection& a = *left.payload_.collection;
      const BindingCollection& b = *right.payload_.collection;
      if (a.size != b.size) {
        return false;
      }
      for (uint32_t index = 0; index < a.size; ++index) {
        if (!(a.elements[index] == b.elements[index])) {
          return false;
        }
      }
      return true;
    }
    case BindingPropertyKind::Structure: {
      BindingStructure& a = *left.payload_.structure;
      BindingStructure& b = *right.payload_.structure;
      if (a.count != b.count) {
        return false;
      }
      a.EnsureSorted();
      b.EnsureSorted();
      for (const BindingMemberNode *x = a.first, *y = b.first; x != nullptr;
           x = x->next, y = y->next) {
        if (x->key->View() != y->key->View() || !(x->value == y->value)) {
          return false;
        }
      }
      return true;
    }
  }
  return false;
}

}  // namespace Vexa
