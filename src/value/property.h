// BindingProperty: the one dynamic value of the plugin, and the visitor that walks it.
//
//   Vexa::BindingProperty value;
//   value.Member("country") = "DE";              // becomes a structure with one member
//   value.Member("codes").ElementAt(1) = 49;     // a collection of two; element 0 empty
//   std::string_view country = value.Member("country").GetString();
//   for (const auto& [key, member] : value.Members()) { ... }   // keys in byte order
//
// A value is empty, a bool, a signed or unsigned 64-bit integer, a double, a text, a byte
// string (blob), an enumerator, a collection (elements by index) or a structure (members by
// unique key, always iterated in byte-wise key order).
//
// Ownership. A value that user code constructs stands by itself: it owns a value context
// (created on first need) that interns its texts and hands out the records of it and every
// value nested inside it from small-block allocators (payload records from the process-wide
// page pool, texts and members from heap pages; see value/context.h).
// Elements and members belong to their container and share its context. A reference to a
// member stays valid until that member is removed or its structure is reset; a reference to
// an element stays valid until its collection grows (ElementAt past the end, Append, Reserve)
// or is reset, because elements are stored contiguously and growth relocates them.
// Copies are deep. Moving one standalone value into another swaps their contents; moving
// into or out of a nested value copies deeply and empties the source.
//
// Aliasing is safe: a value may be assigned from, moved from or set to a text of a value of its
// own tree (`root = root.Member("a")`, `v.Member("x") = v`, `v = v.GetString()`). An
// assignment inside one tree behaves as if the source were first copied to a temporary; a
// move into a value that lies inside the source (`v.Member("x") = std::move(v)`) ends, like
// any move, with the source empty, which takes the target with it.
//
// Threading: one value tree is used by one thread at a time, for reading too (a structure's
// first ordered read after an insertion sorts its member list in place); different trees may
// live on different threads (the page pool behind them is locked).
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace Vexa {

struct StaticTypeInfo;
class BindingValueContext;
struct BindingInternedString;
struct BindingBlobRecord;
struct BindingCollection;
struct BindingStructure;
struct BindingMemberNode;

// The deepest nesting of collections and structures that decoders and conversions from
// outside data accept. Deeper input is refused with an error instead of being walked.
inline constexpr std::size_t kMaxBindingDepth = 512;

// The most elements a collection can hold; reserving more is refused, and growing past it
// with ElementAt or Append is a length error (std::length_error).
inline constexpr std::size_t kMaxBindingElements = 0x0FFFFFFF;

enum class BindingPropertyKind : uint8_t {
  Empty = 0,
  Bool = 1,
  Signed = 2,
  Unsigned = 3,
  Float = 4,
  String = 5,
  Blob = 6,
  Enum = 7,
  Collection = 8,
  Structure = 9,
};

// "empty", "bool", "signed", ... "structure"; the empty text for a number outside the kinds.
[[nodiscard]] const char* BindingPropertyKindName(BindingPropertyKind kind);

using BindingBlob = std::vector<uint8_t>;

// The payload of an enum value: the enumerator's number and the enum's native type.
struct BindingEnumerator {
  int32_t value = 0;
  const StaticTypeInfo* type = nullptr;  // does not own; static for the process
};

class BindingVisitor;

// The integer types a value can be built from: every one but bool (which has its own kind).
template <typename T>
concept BindingInteger = std::is_integral_v<T> && !std::is_same_v<T, bool>;

class BindingProperty {
 public:
  // Empty, standing by itself, with no context yet (constructing allocates nothing).
  // (User-provided so that `const BindingProperty empty;` compiles.)
  constexpr BindingProperty() noexcept {}
  BindingProperty(const BindingProperty& other);
  // Not noexcept: moving into or out of a nested value copies deeply (and may allocate).
  BindingProperty(BindingProperty&& other);
  BindingProperty& operator=(const BindingProperty& other);
  BindingProperty& operator=(BindingProperty&& other);
  // A standalone value destroys its context, and with it the whole tree, in one sweep over the
  // allocator's pages (no walk over the values, so any depth is fine).
  ~BindingProperty();

  // Standalone values of the scalar kinds and of texts. Every integer type is accepted
  // (signed ones become kind signed, unsigned ones kind unsigned), so call sites never hit an
  // ambiguity over `long` or `size_t`.
  BindingProperty(bool value) { SetBool(value); }
  template <BindingInteger T>
  BindingProperty(T value) {
    SetInteger(value);
  }
  BindingProperty(double value) { SetFloat(value); }
  BindingProperty(const char* text) { SetString(text); }
  BindingProperty(std::string_view text) { SetString(text); }
  BindingProperty(const std::string& text) { SetString(text); }

  // Assigning a scalar or a text is the matching setter.
  BindingProperty& operator=(bool value) { return SetBool(value); }
  template <BindingInteger T>
  BindingProperty& operator=(T value) {
    return SetInteger(value);
  }
  BindingProperty& operator=(double value) { return SetFloat(value); }
  BindingProperty& operator=(const char* text) { return SetString(text); }
  BindingProperty& operator=(std::string_view text) { return SetString(text); }
  BindingProperty& operator=(const std::string& text) { return SetString(text); }

  // --- Setters: each first resets the value, then stores the new payload. ---
  BindingProperty& SetBool(bool value);
  BindingProperty& SetSigned(int64_t value);
  BindingProperty& SetUnsigned(uint64_t value);
  template <BindingInteger T>
  BindingProperty& SetInteger(T value) {
    if constexpr (std::is_signed_v<T>) {
      return SetSigned(static_cast<int64_t>(value));
    } else {
      return SetUnsigned(static_cast<uint64_t>(value));
    }
  }
  BindingProperty& SetFloat(double value);
  // The text up to its first NUL is interned in the value's context; an empty (or null)
  // text takes no table entry.
  BindingProperty& SetString(std::string_view text);
  BindingProperty& SetString(const char* text);
  BindingProperty& SetBlob(const uint8_t* bytes, std::size_t count);
  BindingProperty& SetBlob(const BindingBlob& bytes);
  BindingProperty& SetBlob(BindingBlob&& bytes);
  BindingProperty& SetEnum(int32_t value, const StaticTypeInfo& type);

  // Frees the payload (recursively) and leaves the value empty; the context stays. On a
  // standalone value holding a container this drops the context's contents wholesale.
  void Reset() noexcept;

  // --- Readers. A getter answers its payload only when the kind is exactly its own, and the
  // caller's default otherwise; no conversion between kinds happens here. ---
  [[nodiscard]] BindingPropertyKind Kind() const noexcept { return kind_; }
  [[nodiscard]] bool IsEmpty() const noexcept { return kind_ == BindingPropertyKind::Empty; }
  [[nodiscard]] bool GetBool(bool otherwise = false) const noexcept;
  [[nodiscard]] int64_t GetSigned(int64_t otherwise = 0) const noexcept;
  [[nodiscard]] uint64_t GetUnsigned(uint64_t otherwise = 0) const noexcept;
  [[nodiscard]] double GetFloat(double otherwise = 0.0) const noexcept;
  // The interned text; its data() is NUL-terminated and lives as long as the value holds it.
  // The default default is "" (not a null view), so data() is a C string either way.
  [[nodiscard]] std::string_view GetString(std::string_view otherwise = "") const noexcept;
  // The shared empty blob / enumerator (value 0) when no default is given.
  [[nodiscard]] const BindingBlob& GetBlob() const noexcept;
  [[nodiscard]] const BindingBlob& GetBlob(const BindingBlob& otherwise) const noexcept;
  [[nodiscard]] const BindingEnumerator& GetEnum() const noexcept;
  [[nodiscard]] const BindingEnumerator& GetEnum(const BindingEnumerator& otherwise) const noexcept;

  // 0 for empty; byte length for a string or blob; element or member count for containers;
  // 1 for every other kind.
  [[nodiscard]] std::size_t Size() const noexcept;

  // --- Containers ---
  // Become an empty collection / structure unless already one (another payload is discarded).
  BindingProperty& MakeCollection();
  BindingProperty& MakeStructure();
  // Grows a collection's capacity to at least `count` elements. Returns false, changing
  // nothing, when the value is not a collection or `count` is above kMaxBindingElements.
  // Within the limit the memory is really taken (std::bad_alloc when it cannot be), so callers
  // that reserve a count read from outside bound it by the input's size first.
  [[nodiscard]] bool Reserve(std::size_t count);
  // Makes the value a collection and appends one empty element; returns it. A collection that
  // already holds kMaxBindingElements throws std::length_error and stays as it was.
  BindingProperty& Append();

  // Read-only element / member: the shared empty value when absent (never fails).
  [[nodiscard]] const BindingProperty& ElementAt(std::size_t index) const noexcept;
  [[nodiscard]] const BindingProperty& Member(std::string_view key) const noexcept;
  [[nodiscard]] bool HasMember(std::string_view key) const noexcept;
  // Mutable element: makes the value a collection and appends empty elements up to and
  // including `index` when it lies past the end. An index at or above kMaxBindingElements
  // would need a collection longer than allowed (and gigabytes of memory): that is a
  // programming error, answered with std::length_error before anything changes, as a
  // standard vector answers growth past its maximum. Decoders bound their counts first.
  BindingProperty& ElementAt(std::size_t index);
  // Mutable member: makes the value a structure and inserts an empty member when the key is
  // absent (the key up to its first NUL).
  BindingProperty& Member(std::string_view key);
  // Removes a member if present; returns whether one was removed. Linear in the member count.
  bool RemoveMember(std::string_view key);

  // Iteration. Elements in index order; members in byte-wise key order (the first ordered read
  // after an insertion sorts the members, see value/records.h). Empty ranges for a
  // value of any other kind. A range is a view: an element range is invalidated like element
  // references, a member range by any insertion or removal of a member.
  class ElementRange;
  class MemberRange;
  [[nodiscard]] ElementRange Elements() const noexcept;
  [[nodiscard]] MemberRange Members() const noexcept;

  // Calls the visitor depth first (see BindingVisitor).
  void Visit(BindingVisitor& visitor) const;
  // The same walk with the operations called on the visitor's static type, so that those of a
  // `final` visitor are direct calls (value/visit.h; for hot paths such as the writers).
  template <typename Visitor>
  void VisitStatic(Visitor& visitor) const;

  // The text form: "" for empty and containers, "true"/"false", decimal integers, "%f" for
  // floats, the text itself, Base64 of a blob, the decimal enumerator value.
  [[nodiscard]] std::string ToText() const;

  // Deep equality: same kind and same payload, recursively (enumerators by value and type,
  // floats by IEEE comparison, so a NaN equals nothing), whatever the contexts.
  friend bool operator==(const BindingProperty& left, const BindingProperty& right) noexcept;

  // --- Diagnostics (tests and statistics; not for program logic) ---
  // The context this value belongs to: its own if it stands alone, its root's otherwise; null
  // until first needed.
  [[nodiscard]] const BindingValueContext* DiagnosticContext() const noexcept { return context_; }
  // Whether the value stands by itself (owns its context) rather than being nested.
  [[nodiscard]] bool OwnsContext() const noexcept { return ownsContext_ != 0; }

 private:
  friend struct BindingCollection;
  friend struct BindingStructure;
  friend struct BindingMemberNode;
  // The decoders' bulk constructor: fills elements and members in place (value/builder.h).
  friend class BindingValueBuilder;

  union Payload {
    uint64_t bits = 0;
    bool boolean;
    int64_t signedValue;
    uint64_t unsignedValue;
    double floatValue;
    BindingInternedString* string;
    BindingBlobRecord* blob;
    BindingEnumerator* enumerator;
    BindingCollection* collection;
    BindingStructure* structure;
  };

  struct NestedTag {};
  // An element or member: shares `context`, owns nothing but its payload.
  BindingProperty(NestedTag, BindingValueContext* context) noexcept
      : context_(context), ownsContext_(0) {}

  [[nodiscard]] bool IsContainer() const noexcept {
    return kind_ >= BindingPropertyKind::Collection;
  }
  BindingValueContext& EnsureContext();
  // Frees the payload record by record (no wholesale drop); kind and payload are left stale.
  // Nesting is freed by recursion, bounded by kMaxFreeDepth: the containers below that depth
  // (only a value built by code nests so deep; decoders stop at kMaxBindingDepth) are left in
  // place, with the texts they hold, until the root drops its context wholesale.
  void FreePayload() noexcept;
  static constexpr unsigned kMaxFreeDepth = 2 * kMaxBindingDepth;
  // *this is empty and belongs to another context than `source` (or to none yet).
  void CopyPayloadFrom(const BindingProperty& source);
  void SwapFields(BindingProperty& other) noexcept;
  // Whether `value` lies somewhere inside this value's payload.
  [[nodiscard]] bool Encloses(const BindingProperty* value) const noexcept;
  BindingCollection& EnsureCollection();
  void GrowCollection(BindingCollection& collection, std::size_t capacity);
  void DetachPayload(Payload& payload, BindingPropertyKind& kind) noexcept;

  Payload payload_;
  BindingValueContext* context_ = nullptr;
  BindingPropertyKind kind_ = BindingPropertyKind::Empty;
  uint8_t ownsContext_ = 1;
};

// A value keeps only its payload, its context pointer and two bytes, so collections stay
// compact: 16 bytes on the host's 32-bit architecture.
#if defined(__i386__)
static_assert(sizeof(BindingProperty) == 16, "BindingProperty must stay 16 bytes on i386");
#elif defined(__x86_64__)
static_assert(sizeof(BindingProperty) <= 24, "BindingProperty must stay within 24 bytes on x86-64");
#endif

// Elements of a collection in index order, as a contiguous span.
class BindingProperty::ElementRange {
 public:
  using iterator = const BindingProperty*;
  using const_iterator = const BindingProperty*;

  [[nodiscard]] iterator begin() const noexcept { return first_; }
  [[nodiscard]] iterator end() const noexcept { return first_ + count_; }
  [[nodiscard]] std::size_t size() const noexcept { return count_; }
  [[nodiscard]] bool empty() const noexcept { return count_ == 0; }
  [[nodiscard]] const BindingProperty& operator[](std::size_t index) const noexcept {
    return first_[index];
  }

 private:
  friend class BindingProperty;
  ElementRange(const BindingProperty* first, std::size_t count) noexcept
      : first_(first), count_(count) {}
  const BindingProperty* first_ = nullptr;
  std::size_t count_ = 0;
};

// Members of a structure in byte-wise key order; each is a (key, value) pair, so
// `for (const auto& [key, member] : value.Members())` works.
class BindingProperty::MemberRange {
 public:
  class iterator {
   public:
    using value_type = std::pair<std::string_view, const BindingProperty&>;
    using reference = value_type;
    using difference_type = std::ptrdiff_t;
    using iterator_category = std::forward_iterator_tag;

    iterator() noexcept = default;
    [[nodiscard]] value_type operator*() const noexcept { return {Key(), Value()}; }
    [[nodiscard]] std::string_view Key() const noexcept;
    [[nodiscard]] const BindingProperty& Value() const noexcept;
    iterator& operator++() noexcept;
    iterator operator++(int) noexcept {
      iterator before = *this;
      ++*this;
      return before;
    }
    friend bool operator==(const iterator&, const iterator&) noexcept = default;

   private:
    friend class MemberRange;
    explicit iterator(const BindingMemberNode* node) noexcept : node_(node) {}
    const BindingMemberNode* node_ = nullptr;
  };
  using const_iterator = iterator;

  [[nodiscard]] iterator begin() const noexcept { return iterator(first_); }
  [[nodiscard]] iterator end() const noexcept { return iterator(); }
  [[nodiscard]] std::size_t size() const noexcept { return count_; }
  [[nodiscard]] bool empty() const noexcept { return count_ == 0; }

 private:
  friend class BindingProperty;
  MemberRange(const BindingMemberNode* first, std::size_t count) noexcept
      : first_(first), count_(count) {}
  const BindingMemberNode* first_ = nullptr;
  std::size_t count_ = 0;
};

// The operations of a depth-first walk, in the order they are declared. A collection calls
// BeginCollection, then per element BeginElement, the element's own walk and EndElement, then
// EndCollection; a structure does the same with its members in key order. Every operation
// does nothing by default; return values do not stop the walk.
class BindingVisitor {
 public:
  virtual ~BindingVisitor() = default;
  virtual void VisitEmpty() {}
  virtual void VisitBool(bool) {}
  virtual void VisitSigned(int64_t) {}
  virtual void VisitUnsigned(uint64_t) {}
  virtual void VisitFloat(double) {}
  virtual void VisitString(std::string_view) {}
  virtual void VisitBlob(const BindingBlob&) {}
  virtual void VisitEnum(const BindingEnumerator&) {}
  virtual void BeginCollection(std::size_t /*count*/) {}
  virtual void BeginElement(std::size_t /*index*/) {}
  virtual void EndElement(std::size_t /*index*/) {}
  virtual void EndCollection() {}
  virtual void BeginStructure(std::size_t /*count*/) {}
  virtual void BeginMember(std::string_view /*key*/) {}
  virtual void EndMember() {}
  virtual void EndStructure() {}
};

}  // namespace Vexa
