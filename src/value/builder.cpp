#include "value/builder.h"

#include <bit>
#include <cstring>
#include <iterator>
#include <new>
#include <utility>

#include "value/context.h"
#include "value/records.h"

namespace Vexa {

namespace {

using Node = BindingMemberNode;

// Growth of a collection's array: two elements first (pairs such as coordinates are the most
// common small arrays), then as many as fill one slot of the largest size class, then doubling
// (up to the element limit). Arrays beyond that slot come from the heap.
constexpr std::size_t kFirstCapacity = 2;
constexpr std::size_t kSlotCapacity =
    BindingBlockAllocator::kLargestBlock / sizeof(BindingProperty);
static_assert(kSlotCapacity > kFirstCapacity);

std::size_t NextCapacity(std::size_t capacity) noexcept {
  const std::size_t grown = capacity < kFirstCapacity  ? kFirstCapacity
                            : capacity < kSlotCapacity ? kSlotCapacity
                                                       : capacity * 2;
  return grown > kMaxBindingElements ? kMaxBindingElements : grown;
}

// The index size BindingStructure keeps for `count` members: at most half full, at least 64.
uint32_t IndexCapacityFor(uint32_t count) noexcept {
  uint32_t capacity = 64;
  while (capacity / 2 < count) {
    capacity *= 2;
  }
  return capacity;
}

}  // namespace

// A text's first and last (up to) eight bytes as two words, read inside its bounds. Together
// with the length they are the whole text when it has at most 16 bytes.
struct BindingTextEnds {
  uint64_t head = 0;
  uint64_t tail = 0;
};

namespace {

// The text caches' sizes as bits of a slot number (BindingValueBuilder::TextCache).
constexpr unsigned kInlineSlotBits = 8;
constexpr unsigned kLargeSlotBits = 12;

[[gnu::always_inline]] inline BindingTextEnds EndsOf(const char* bytes,
                                                     std::size_t length) noexcept {
  BindingTextEnds ends;
  if (length >= 8) {
    std::memcpy(&ends.head, bytes, 8);
    std::memcpy(&ends.tail, bytes + length - 8, 8);
  } else if (length >= 4) {
    uint32_t first;
    uint32_t last;
    std::memcpy(&first, bytes, 4);
    std::memcpy(&last, bytes + length - 4, 4);
    ends.head = first;
    ends.tail = last;
  } else if (length != 0) {
    ends.head = static_cast<unsigned char>(bytes[0]) |
                static_cast<uint64_t>(static_cast<unsigned char>(bytes[length / 2])) << 8 |
                static_cast<uint64_t>(static_cast<unsigned char>(bytes[length - 1])) << 16;
  }
  return ends;
}

// A text's length, ends and `middle` word mixed by multiplication; the top bits choose its
// slot in a text cache. Texts that agree there share a slot; the full comparison on a hit
// tells them apart, so a collision costs a miss, never a wrong answer.
uint64_t MixText(const BindingTextEnds& ends, std::size_t length, uint64_t middle) noexcept {
  return (ends.head ^ (ends.tail * 0x9E3779B97F4A7C15ull) ^ (middle * 0xFF51AFD7ED558CCDull) ^
          length) *
         0xC2B2AE3D27D4EB4Full;
}

std::size_t InlineTextSlot(const BindingTextEnds& ends, std::size_t length) noexcept {
  return static_cast<std::size_t>(MixText(ends, length, 0) >> (64 - kInlineSlotBits));
}

// The large cache mixes in the middle word of a text past 16 bytes as well, as a large document
// holds many texts of one length that share both ends (dates, numbers, paths).
std::size_t LargeTextSlot(const char* bytes, std::size_t length,
                          const BindingTextEnds& ends) noexcept {
  uint64_t middle = 0;
  if (length > 16) {
    std::memcpy(&middle, bytes + length / 2 - 4, 8);
  }
  return static_cast<std::size_t>(MixText(ends, length, middle) >> (64 - kLargeSlotBits));
}

// A text cache's slot `index` is valid while its bit in `filled` is set.
bool IsFilled(const uint64_t* filled, std::size_t index) noexcept {
  return (filled[index / 64] & (uint64_t{1} << (index % 64))) != 0;
}

void Fill(uint64_t* filled, std::size_t index) noexcept {
  filled[index / 64] |= uint64_t{1} << (index % 64);
}

// Whether `entry` holds exactly `text` (of which `ends` are the ends): the words decide texts
// of up to 16 bytes, which keys mostly are, without a call to memcmp.
[[gnu::always_inline]] inline bool SameText(const BindingInternedString& entry,
                                            std::string_view text,
                                            const BindingTextEnds& ends) noexcept {
  if (entry.length != text.size()) {
    return false;
  }
  const BindingTextEnds stored = EndsOf(entry.Text(), entry.length);
  if (stored.head != ends.head || stored.tail != ends.tail) {
    return false;
  }
  return text.size() <= 16 || std::memcmp(entry.Text() + 8, text.data() + 8, text.size() - 16) == 0;
}

// Whether `key` sorts after `last` in byte-wise order. Both texts end with a NUL and hold none
// before it, so their first bytes can always be read and decide most pairs at once; a shorter
// text shows its NUL where the longer goes on, which puts a prefix first.
bool KeyAfter(const BindingInternedString& key, const BindingInternedString& last) noexcept {
  const auto keyFirst = static_cast<unsigned char>(key.Text()[0]);
  const auto lastFirst = static_cast<unsigned char>(last.Text()[0]);
  if (keyFirst != lastFirst) {
    return keyFirst > lastFirst;
  }
  return BindingCompareKey(key.View(), last) > 0;
}

// The member of `structure` whose key is `key`. Keys of one tree are interned in its one
// context, so equal texts are the same entry: a pointer comparison decides.
Node* FindMember(const BindingStructure& structure, const BindingInternedString* key) noexcept {
  if (structure.index != nullptr) {
    const uint32_t mask = structure.indexCapacity - 1;
    for (uint32_t slot = key->hash & mask;; slot = (slot + 1) & mask) {
      Node* node = structure.index[slot];
      if (node == nullptr || node->key == key) {
        return node;
      }
    }
  }
  for (Node* node = structure.first; node != nullptr; node = node->next) {
    if (node->key == key) {
      return node;
    }
  }
  return nullptr;
}

}  // namespace

const char* BindingBuildStatusName(BindingBuildStatus status) noexcept {
  switch (status) {
    case BindingBuildStatus::Ok:
      return "ok";
    case BindingBuildStatus::TooDeep:
      return "nesting too deep";
    case BindingBuildStatus::TooManyElements:
      return "too many elements";
    case BindingBuildStatus::Unbalanced:
      return "unbalanced event";
  }
  return "";
}

// The texts of one document recur in the next: every request of a kind brings the same keys
// and many of the same values. The text caches below find them within a document; this finds
// their hashes across documents, sparing the byte-at-a-time FNV-1a of a short text. A text of
// at most 16 bytes is wholly given by its length and its two end words, so a slot holds those
// and compares no bytes; it holds no pointer either, so it is valid in any context and is
// never cleared. Direct-mapped on the slot of the text caches, one per thread (6 KiB).
struct BindingShortTextHashes {
  static constexpr std::size_t kLongest = 16;
  struct Slot {
    uint64_t head;
    uint64_t tail;
    uint32_t length;  // 0: free (the empty text is never looked up)
    uint32_t hash;
  };
  Slot slots[std::size_t{1} << 8];
};

namespace {
thread_local constinit BindingShortTextHashes threadShortTextHashes{};
}  // namespace

BindingValueBuilder::BindingValueBuilder(BindingProperty& root) noexcept
    : root_(&root), shortTextHashes_(&threadShortTextHashes) {
  static_assert(TextCache::kInlineSlots == std::size_t{1} << kInlineSlotBits &&
                TextCache::kLargeSlots == std::size_t{1} << kLargeSlotBits);
  static_assert(std::size(BindingShortTextHashes{}.slots) == TextCache::kInlineSlots,
                "a text has the same slot in the inline caches and in the hashes");
}

void BindingValueBuilder::ForgetTexts() noexcept {
  keyCache_.Forget();
  valueCache_.Forget();
}

void BindingValueBuilder::TextCache::Forget() noexcept {
  std::memset(filled, 0, sizeof filled);
  if (large != nullptr) {
    std::memset(large->filled, 0, sizeof large->filled);
  }
}

bool BindingValueBuilder::TextCache::Enlarge() noexcept {
  large.reset(new (std::nothrow) Large);
  if (large == nullptr) {
    return false;
  }
  std::memset(large->filled, 0, sizeof large->filled);
  // What the inline slots hold moves along, to the slots its texts have in the large ones.
  for (std::size_t word = 0; word < kInlineSlots / 64; ++word) {
    for (uint64_t bits = filled[word]; bits != 0; bits &= bits - 1) {
      BindingInternedString* entry = slots[word * 64 + std::countr_zero(bits)];
      const std::size_t index =
          LargeTextSlot(entry->Text(), entry->length, EndsOf(entry->Text(), entry->length));
      large->slots[index] = entry;
      Fill(large->filled, index);
    }
  }
  return true;
}

// --- Targets ---

[[gnu::always_inline]] inline BindingProperty* BindingValueBuilder::Select() {
  if (depth_ == 0) {
    return root_;
  }
  const Frame& top = frames_[depth_ - 1];
  if (top.isCollection) {
    BindingCollection& collection = *top.collection;
    if (collection.size == collection.capacity) [[unlikely]] {
      if (collection.size >= kMaxBindingElements) {
        failure_ = BindingBuildStatus::TooManyElements;
        return nullptr;
      }
      Grow(*top.container, collection, NextCapacity(collection.capacity));
    }
    BindingProperty* element = ::new (collection.elements + collection.size)
        BindingProperty(BindingProperty::NestedTag{}, top.context);
    ++collection.size;
    return element;
  }
  BindingProperty* member = member_;
  if (member == nullptr) [[unlikely]] {
    failure_ = BindingBuildStatus::Unbalanced;
    return nullptr;
  }
  member_ = nullptr;
  return member;
}

// A collection's array grows to `capacity` elements: a new array is only allocated (nothing to
// move); a used one is relocated by BindingProperty itself.
void BindingValueBuilder::Grow(BindingProperty& holder, BindingCollection& collection,
                               std::size_t capacity) {
  if (collection.capacity == 0) {
    collection.elements = static_cast<BindingProperty*>(
        holder.context_->Allocate(capacity * sizeof(BindingProperty)));
    collection.capacity = static_cast<uint32_t>(capacity);
    return;
  }
  holder.GrowCollection(collection, capacity);
}

// Empties a target that holds something, before it is given a new payload. Emptying may
// release interned texts (and a reset root drops its whole context), so the text caches,
// which do not count their entries, are forgotten first.
[[gnu::always_inline]] inline BindingProperty* BindingValueBuilder::Prepare(
    BindingProperty* target) noexcept {
  if (target->kind_ != BindingPropertyKind::Empty) [[unlikely]] {
    EmptyTarget(target);
  }
  return target;
}

void BindingValueBuilder::EmptyTarget(BindingProperty* target) noexcept {
  if (target->kind_ >= BindingPropertyKind::String) {
    ForgetTexts();
  }
  target->Reset();
}

// The entry for `text`, not found in a text cache, interned in `context` with one reference
// taken for the caller; `cacheable` tells whether it may be cached (the text had no NUL). The
// FNV-1a hash of a short text comes from the thread's remembered hashes at `hashIndex` when
// it is there, and is remembered otherwise.
[[gnu::always_inline]] inline BindingInternedString* BindingValueBuilder::InternMissed(
    std::string_view text, const BindingTextEnds& ends, std::size_t hashIndex,
    BindingValueContext& context, bool& cacheable) {
  BindingShortTextHashes::Slot* known = text.size() <= BindingShortTextHashes::kLongest
                                            ? &shortTextHashes_->slots[hashIndex]
                                            : nullptr;
  const bool remembered = known != nullptr && known->length == text.size() &&
                          known->head == ends.head && known->tail == ends.tail;
  // Only texts without a NUL are remembered, so a remembered one needs no cut.
  const BindingCutText cut =
      remembered ? BindingCutText{text, known->hash} : BindingCutAndHashText(text);
  BindingInternedString* entry =
      cut.text.empty() ? BindingValueContext::EmptyText() : context.Intern(cut.text, cut.hash);
  cacheable = cut.text.size() == text.size();
  if (cacheable && known != nullptr && !remembered) {
    *known = {ends.head, ends.tail, static_cast<uint32_t>(text.size()), cut.hash};
  }
  return entry;
}

// The entry for `text` (up to its first NUL) in `context`, with one reference taken for the
// caller. Only texts without a NUL are cached, so a hit also proves there is none to cut.
BindingInternedString* BindingValueBuilder::InternCached(std::string_view text,
                                                         BindingValueContext& context,
                                                         TextCache& cache) {
  if (text.empty()) {
    return BindingValueContext::EmptyText();
  }
  const BindingTextEnds ends = EndsOf(text.data(), text.size());
  const std::size_t index = InlineTextSlot(ends, text.size());
  if (IsFilled(cache.filled, index)) {
    if (BindingInternedString* cached = cache.slots[index]; SameText(*cached, text, ends)) {
      ++cached->count;
      return cached;
    }
  }
  if (--cache.missesBeforeLarge < 0) [[unlikely]] {
    if (BindingInternedString* entry = InternThroughLarge(text, ends, index, context, cache)) {
      return entry;
    }
  }
  bool cacheable;
  BindingInternedString* entry = InternMissed(text, ends, index, context, cacheable);
  if (cacheable) {
    cache.slots[index] = entry;
    Fill(cache.filled, index);
  }
  return entry;
}

// InternCached past the inline slots' misses: the large slots are looked at (added first when
// missing), and a text found or interned is cached in both. Null, with the misses counted
// afresh, when there is no memory for the large slots.
BindingInternedString* BindingValueBuilder::InternThroughLarge(std::string_view text,
                                                               const BindingTextEnds& ends,
                                                               std::size_t index,
                                                               BindingValueContext& context,
                                                               TextCache& cache) {
  if (cache.large == nullptr && !cache.Enlarge()) {
    cache.missesBeforeLarge = TextCache::kInlineMisses;
    return nullptr;
  }
  TextCache::Large& large = *cache.large;
  const std::size_t largeIndex = LargeTextSlot(text.data(), text.size(), ends);
  BindingInternedString* entry = nullptr;
  bool cacheable = true;
  if (IsFilled(large.filled, largeIndex) && SameText(*large.slots[largeIndex], text, ends)) {
    entry = large.slots[largeIndex];
    ++entry->count;
  } else {
    entry = InternMissed(text, ends, index, context, cacheable);
  }
  if (cacheable) {
    cache.slots[index] = entry;
    Fill(cache.filled, index);
    large.slots[largeIndex] = entry;
    Fill(large.filled, largeIndex);
  }
  return entry;
}

// --- Containers ---

BindingBuildStatus BindingValueBuilder::Open(BindingReuse reuse, bool collection) {
  // Checked before the target is selected, so that a refused container appends nothing.
  if (depth_ >= kMaxBindingDepth) {
    return BindingBuildStatus::TooDeep;
  }
  BindingProperty* target = Select();
  if (target == nullptr) {
    return failure_;
  }
  const BindingPropertyKind kind =
      collection ? BindingPropertyKind::Collection : BindingPropertyKind::Structure;
  const bool fresh = reuse == BindingReuse::Replace || target->kind_ != kind;
  if (fresh) {
    Prepare(target);
    BindingValueContext& context =
        target->context_ != nullptr ? *target->context_ : target->EnsureContext();
    if (collection) {
      target->payload_.collection = context.NewRecord<BindingCollection>();
    } else {
      target->payload_.structure = context.NewRecord<BindingStructure>();
    }
    target->kind_ = kind;
  }
  Frame& frame = frames_[depth_];
  frame.container = target;
  if (collection) {
    frame.collection = target->payload_.collection;
  } else {
    frame.structure = target->payload_.structure;
  }
  frame.context = target->context_;
  frame.keyBits = 0;
  frame.isCollection = collection;
  frame.fresh = fresh;
  ++depth_;
  return BindingBuildStatus::Ok;
}

BindingBuildStatus BindingValueBuilder::MemberKey(std::string_view key) {
  if (depth_ == 0 || frames_[depth_ - 1].isCollection) {
    return BindingBuildStatus::Unbalanced;
  }
  Frame& frame = frames_[depth_ - 1];
  BindingStructure& structure = *frame.structure;
  BindingValueContext& context = *frame.context;
  // One reference on the key is taken here; the new member keeps it, a found one gives it back
  // (the found member holds another, so the entry survives).
  BindingInternedString* entry = InternCached(key, context, keyCache_);
  const uint64_t keyBit = uint64_t{1} << (entry->hash & 63);
  if (!frame.fresh || (frame.keyBits & keyBit) != 0) {
    if (Node* found = FindMember(structure, entry); found != nullptr) {
      context.Release(entry);
      member_ = &found->value;
      return BindingBuildStatus::Ok;
    }
  }
  Node* node;
  try {
    if (structure.count + 1 > BindingStructure::kLinearLimit &&
        (structure.count + 1) * 2 > structure.indexCapacity) {
      structure.RebuildIndex(context, IndexCapacityFor(structure.count + 1));
    }
    node = context.New<Node>(entry, &context);
  } catch (...) {
    ForgetTexts();  // the release may erase the entry that a cache slot points at
    context.Release(entry);
    throw;
  }
  if (structure.sorted && structure.last != nullptr) {
    structure.sorted = KeyAfter(*entry, *structure.last->key);
  }
  // BindingStructure::Append, spelled out: it is out of line and this is the hot path.
  (structure.last != nullptr ? structure.last->next : structure.first) = node;
  structure.last = node;
  ++structure.count;
  if (structure.index != nullptr) {
    structure.IndexInsert(node);
  }
  frame.keyBits |= keyBit;
  member_ = &node->value;
  return BindingBuildStatus::Ok;
}

BindingBuildStatus BindingValueBuilder::ReserveElements(std::size_t count) {
  if (depth_ == 0 || !frames_[depth_ - 1].isCollection) {
    return BindingBuildStatus::Unbalanced;
  }
  if (count > kMaxBindingElements) {
    return BindingBuildStatus::TooManyElements;
  }
  const Frame& frame = frames_[depth_ - 1];
  BindingCollection& collection = *frame.collection;
  if (count > collection.capacity) {
    Grow(*frame.container, collection, count);
  }
  return BindingBuildStatus::Ok;
}

// --- Scalars ---

BindingBuildStatus BindingValueBuilder::Null() {
  return Select() != nullptr ? BindingBuildStatus::Ok : failure_;
}

BindingBuildStatus BindingValueBuilder::Empty() {
  BindingProperty* target = Select();
  if (target == nullptr) {
    return failure_;
  }
  Prepare(target);
  return BindingBuildStatus::Ok;
}

BindingBuildStatus BindingValueBuilder::Bool(bool value) {
  BindingProperty* target = Select();
  if (target == nullptr) {
    return failure_;
  }
  Prepare(target)->payload_.boolean = value;
  target->kind_ = BindingPropertyKind::Bool;
  return BindingBuildStatus::Ok;
}

BindingBuildStatus BindingValueBuilder::Signed(int64_t value) {
  BindingProperty* target = Select();
  if (target == nullptr) {
    return failure_;
  }
  Prepare(target)->payload_.signedValue = value;
  target->kind_ = BindingPropertyKind::Signed;
  return BindingBuildStatus::Ok;
}

BindingBuildStatus BindingValueBuilder::Unsigned(uint64_t value) {
  BindingProperty* target = Select();
  if (target == nullptr) {
    return failure_;
  }
  Prepare(target)->payload_.unsignedValue = value;
  target->kind_ = BindingPropertyKind::Unsigned;
  return BindingBuildStatus::Ok;
}

BindingBuildStatus BindingValueBuilder::Float(double value) {
  BindingProperty* target = Select();
  if (target == nullptr) {
    return failure_;
  }
  Prepare(target)->payload_.floatValue = value;
  target->kind_ = BindingPropertyKind::Float;
  return BindingBuildStatus::Ok;
}

BindingBuildStatus BindingValueBuilder::String(std::string_view text) {
  BindingProperty* target = Select();
  if (target == nullptr) {
    return failure_;
  }
  // Emptied before interning: resetting the root drops its context's table, entries included.
  Prepare(target);
  BindingValueContext& context =
      target->context_ != nullptr ? *target->context_ : target->EnsureContext();
  target->payload_.string = InternCached(text, context, valueCache_);
  target->kind_ = BindingPropertyKind::String;
  return BindingBuildStatus::Ok;
}

BindingBuildStatus BindingValueBuilder::Blob(const uint8_t* bytes, std::size_t count) {
  BindingProperty* target = Select();
  if (target == nullptr) {
    return failure_;
  }
  Prepare(target)->SetBlob(bytes, count);
  return BindingBuildStatus::Ok;
}

BindingBuildStatus BindingValueBuilder::Blob(BindingBlob&& bytes) {
  BindingProperty* target = Select();
  if (target == nullptr) {
    return failure_;
  }
  Prepare(target)->SetBlob(std::move(bytes));
  return BindingBuildStatus::Ok;
}

BindingBuildStatus BindingValueBuilder::Enum(int32_t value, const StaticTypeInfo& type) {
  BindingProperty* target = Select();
  if (target == nullptr) {
    return failure_;
  }
  Prepare(target)->SetEnum(value, type);
  return BindingBuildStatus::Ok;
}

BindingProperty* BindingValueBuilder::SelectTarget(BindingBuildStatus& status) {
  BindingProperty* target = Select();
  if (target == nullptr) {
    status = failure_;
    return nullptr;
  }
  if (target->kind_ >= BindingPropertyKind::String) {
    ForgetTexts();  // the caller may overwrite it, releasing texts
  }
  status = BindingBuildStatus::Ok;
  return target;
}

}  // namespace Vexa
