// BindingValueBuilder: builds one BindingProperty tree in place from a stream of decoder events
// (the JSON reader's SAX calls, MessagePack's type bytes, YAML's parser events).
//
//   Vexa::BindingResult result;
//   Vexa::BindingValueBuilder builder(result.value);    // builds into result.value
//   Vexa::BindingBuildStatus status = builder.BeginStructure();        // {
//   if (status == Vexa::BindingBuildStatus::Ok) status = builder.MemberKey("name");
//   if (status == Vexa::BindingBuildStatus::Ok) status = builder.String("Ada");  // "name":"Ada"
//   if (status == Vexa::BindingBuildStatus::Ok) status = builder.EndStructure(); // }
//   if (status != Vexa::BindingBuildStatus::Ok) result.Fail("...the decoder's own message...");
//
// The event contract (what every decoder feeding a builder relies on; `BindingValueSink` below
// states it as a concept, so a decoder can be written against any sink, e.g. a counting one):
//
// - Targets. Every value event (scalar, Null, Empty, Begin*, SelectTarget) first selects its
//   target: inside a collection a new empty element is appended to the innermost collection;
//   inside a structure it is the member chosen by the last MemberKey; outside any container it
//   is the root handed to the constructor. The value then goes straight into that target: the
//   tree is built where it will live, nothing is built aside and copied in.
// - MemberKey(key) selects (creates when missing) the member `key` (up to its first NUL) of the
//   innermost structure; a repeated key selects the same member again. The member exists from
//   this moment, so a decoder that must not create a member before its value is known calls
//   MemberKey only then. A key that is not followed by a value leaves its member empty.
// - Scalars replace whatever the target held. Null selects the target and stores nothing (an
//   appended element stays empty, a reselected member keeps its value); Empty makes the
//   target empty.
// - Begin* makes the target a container and opens it; End* closes the innermost one. With
//   BindingReuse::Keep a target that already is a container of that kind keeps its contents
//   (JSON's repeated keys address one member again and merge into it); with Replace it is
//   emptied first. Another kind of payload is always discarded.
// - Limits, reported through the returned status, never thrown: opening a container at depth
//   kMaxBindingDepth (the root container is depth 1, so kMaxBindingDepth nested containers
//   are accepted and the next one is refused) answers TooDeep; appending to a collection that
//   holds kMaxBindingElements answers TooManyElements. A refused event changes nothing; the
//   decoder turns the status into its own failure and message and stops feeding events (the
//   builder stays usable, but the partial tree is the decoder's to discard).
// - Misuse is answered with Unbalanced and changes nothing: an End* with no open container of
//   that kind, MemberKey outside a structure, a value inside a structure with no member
//   selected.
// - Texts and bytes handed to events are the decoder's (its input or its own buffers), never
//   texts of the tree being built: they are copied in after the target has been emptied.
// - No recursion anywhere: depth costs one frame of a fixed array inside the builder.
//
// Ownership: the builder borrows the root (does not own; must outlive the builder) and keeps
// pointers into its tree: nothing else may modify that tree while events are being fed. The
// root is not emptied by the constructor; a decoder that wants a fresh value passes an empty
// one. Failures of memory (std::bad_alloc) propagate; the tree is then valid but partial.
//
// Speed. This sits on the hot path of every decoder, so it works on the tree's records
// directly (it is a friend of BindingProperty and BindingStructure) instead of going through
// the one-value-at-a-time API:
// - an element is constructed in place at the end of its collection's contiguous array; the
//   array starts with room for two (pairs are the most common small arrays), then fills one
//   slot of the largest size class, then doubles; growth relocates bitwise, never deep-copies;
// - a member is inserted by its already interned key: a lookup compares entry pointers, no
//   bytes, and is skipped altogether in a structure this builder created when no key with the
//   same hash bit was inserted into it yet (the common case of a fresh object);
// - a text that recurs (every key, many values) is found in a small cache of this builder by a
//   cheap hash of its length and end bytes, instead of being hashed with FNV-1a a byte at a
//   time and probed in the intern table again; a large document adds a larger cache behind it;
// - the frame stack is a fixed array (beyond its records, only a large document allocates:
//   its larger text caches), and a frame keeps its container's record and context, which
//   each value event then reaches with one load.
//
// Threading: none; one builder, one thread, one tree.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "value/property.h"
#include "value/result.h"

namespace Vexa {

class BindingValueContext;
struct BindingCollection;
struct BindingStructure;
struct BindingShortTextHashes;  // hashes of short texts seen lately on a thread (builder.cpp)
struct BindingInternedString;
struct BindingTextEnds;  // a text's first and last eight bytes (builder.cpp)

// What a builder event answers. Only Ok lets the decoder go on.
enum class BindingBuildStatus : uint8_t {
  Ok = 0,
  TooDeep = 1,          // a container would nest deeper than kMaxBindingDepth
  TooManyElements = 2,  // a collection would hold more than kMaxBindingElements
  Unbalanced = 3,       // an event out of place (see the contract above)
};

// "ok", "nesting too deep", "too many elements", "unbalanced event": short English names for
// diagnostics and tests. Decoders build their own messages from the status.
[[nodiscard]] const char* BindingBuildStatusName(BindingBuildStatus status) noexcept;

// What Begin* does with a target that already is a container of the requested kind.
enum class BindingReuse : uint8_t {
  Keep,     // keeps its elements / members (JSON: a repeated key merges)
  Replace,  // empties it first
};

class BindingValueBuilder {
 public:
  // Builds into `root` (borrowed; must outlive the builder). `root` keeps what it holds until
  // the first value event targets it.
  explicit BindingValueBuilder(BindingProperty& root) noexcept;
  BindingValueBuilder(const BindingValueBuilder&) = delete;
  BindingValueBuilder& operator=(const BindingValueBuilder&) = delete;

  // --- Containers ---
  [[nodiscard]] BindingBuildStatus BeginCollection(BindingReuse reuse = BindingReuse::Keep) {
    return Open(reuse, true);
  }
  [[nodiscard]] BindingBuildStatus EndCollection() noexcept { return Close(true); }
  [[nodiscard]] BindingBuildStatus BeginStructure(BindingReuse reuse = BindingReuse::Keep) {
    return Open(reuse, false);
  }
  [[nodiscard]] BindingBuildStatus EndStructure() noexcept { return Close(false); }
  // Selects (creates when missing) the member `key` of the innermost structure as the target
  // of the next value event.
  [[nodiscard]] BindingBuildStatus MemberKey(std::string_view key);
  // Grows the capacity of the innermost collection to at least `count` elements, so that a
  // decoder that knows the count up front appends without relocations. TooManyElements for a
  // count above kMaxBindingElements; Unbalanced when the innermost container is no collection.
  // The memory is really taken: bound a count read from the input by the input's size first.
  [[nodiscard]] BindingBuildStatus ReserveElements(std::size_t count);

  // --- Scalars ---
  [[nodiscard]] BindingBuildStatus Null();
  [[nodiscard]] BindingBuildStatus Empty();
  [[nodiscard]] BindingBuildStatus Bool(bool value);
  [[nodiscard]] BindingBuildStatus Signed(int64_t value);
  [[nodiscard]] BindingBuildStatus Unsigned(uint64_t value);
  [[nodiscard]] BindingBuildStatus Float(double value);
  // The text up to its first NUL, interned in the tree's context.
  [[nodiscard]] BindingBuildStatus String(std::string_view text);
  // The bytes are copied once, into the value's blob record.
  [[nodiscard]] BindingBuildStatus Blob(const uint8_t* bytes, std::size_t count);
  [[nodiscard]] BindingBuildStatus Blob(BindingBlob&& bytes);
  [[nodiscard]] BindingBuildStatus Enum(int32_t value, const StaticTypeInfo& type);

  // Selects the target of the next value exactly as a scalar event does and hands it to the
  // caller to fill by other means (a YAML alias copies an earlier value into it). Null, with
  // `status` set, when refused. The pointer is valid until the next event. Selecting may
  // append to the innermost collection, which relocates its elements: find any source value
  // inside the tree only after this call.
  [[nodiscard]] BindingProperty* SelectTarget(BindingBuildStatus& status);

  // --- State ---
  // Open containers (0 outside any).
  [[nodiscard]] std::size_t Depth() const noexcept { return depth_; }
  // The innermost open container, or null at depth 0. Its element count after a value event
  // inside a collection is the index of that value plus one.
  [[nodiscard]] BindingProperty* Innermost() const noexcept {
    return depth_ == 0 ? nullptr : frames_[depth_ - 1].container;
  }
  [[nodiscard]] bool InCollection() const noexcept {
    return depth_ != 0 && frames_[depth_ - 1].isCollection;
  }
  [[nodiscard]] bool InStructure() const noexcept {
    return depth_ != 0 && !frames_[depth_ - 1].isCollection;
  }
  // Whether MemberKey has selected a member that no value event has taken yet.
  [[nodiscard]] bool HasSelectedMember() const noexcept { return member_ != nullptr; }
  [[nodiscard]] BindingProperty& Root() const noexcept { return *root_; }

 private:
  struct Frame {
    BindingProperty* container;  // a collection or structure inside the tree
    // The container's record and context, kept here so that an event reaches them with one
    // load, not two in a row (both stay put while the container is open).
    union {
      BindingCollection* collection;
      BindingStructure* structure;
    };
    BindingValueContext* context;
    // A structure created by this frame holds only the keys inserted through it: a key whose
    // bit (of its hash) is not set here cannot be present, and the search for it is skipped.
    uint64_t keyBits;
    bool isCollection;
    bool fresh;
  };

  // Texts recently interned by this builder, found by a cheap hash of their bytes: a hit
  // spares the FNV-1a hash (a byte at a time) and the intern table's probe, which is most of
  // the cost of a key, and keys and many values recur throughout a document. Direct-mapped;
  // a slot holds an entry of the tree's table (not counted) and is valid only while its bit in
  // `filled` is set, so that forgetting them all clears a few words, not the slots (a small
  // document would spend more on that than on its parse). 256 slots inside the builder serve
  // a small document; after 128 misses, as a large document brings more distinct texts than
  // they keep apart, 4096 slots on the heap are added behind them.
  struct TextCache {
    static constexpr std::size_t kInlineSlots = 256;
    static constexpr std::size_t kLargeSlots = 4096;
    static constexpr int64_t kInlineMisses = 128;
    struct Large {
      uint64_t filled[kLargeSlots / 64];
      BindingInternedString* slots[kLargeSlots];  // read only where `filled` says
    };

    void Forget() noexcept;
    // Adds the large slots, with what the inline ones hold; false without memory for them.
    bool Enlarge() noexcept;

    uint64_t filled[kInlineSlots / 64] = {};
    BindingInternedString* slots[kInlineSlots];  // read only where `filled` says
    // Counts down the inline slots' misses; below zero, the large slots are in use.
    int64_t missesBeforeLarge = kInlineMisses;
    std::unique_ptr<Large> large;
  };
  // Both are on every event's path and are inlined into the events (value_builder.cpp).
  inline BindingProperty* Select();
  inline BindingProperty* Prepare(BindingProperty* target) noexcept;
  void Grow(BindingProperty& holder, BindingCollection& collection, std::size_t capacity);
  void EmptyTarget(BindingProperty* target) noexcept;
  BindingInternedString* InternCached(std::string_view text, BindingValueContext& context,
                                      TextCache& cache);
  BindingInternedString* InternThroughLarge(std::string_view text, const BindingTextEnds& ends,
                                            std::size_t index, BindingValueContext& context,
                                            TextCache& cache);
  inline BindingInternedString* InternMissed(std::string_view text, const BindingTextEnds& ends,
                                             std::size_t hashIndex, BindingValueContext& context,
                                             bool& cacheable);
  void ForgetTexts() noexcept;
  BindingBuildStatus Open(BindingReuse reuse, bool collection);
  BindingBuildStatus Close(bool collection) noexcept {
    if (depth_ == 0 || frames_[depth_ - 1].isCollection != collection) {
      return BindingBuildStatus::Unbalanced;
    }
    --depth_;
    member_ = nullptr;  // a key of the closed structure that got no value stays an empty member
    return BindingBuildStatus::Ok;
  }

  BindingProperty* root_;
  BindingProperty* member_ = nullptr;  // selected by MemberKey, taken by the next value
  std::size_t depth_ = 0;
  BindingBuildStatus failure_ = BindingBuildStatus::Ok;  // why the last Select refused
  BindingShortTextHashes* shortTextHashes_;              // this thread's
  TextCache keyCache_;
  TextCache valueCache_;
  // Not initialised: only frames below depth_ are ever read.
  std::array<Frame, kMaxBindingDepth> frames_;
};

// The events a decoder may feed, with their statuses: the contract above as a concept, so that
// decoders can be templates over their sink (the builder, or a test's recording sink).
template <typename Sink>
concept BindingValueSink = requires(Sink& sink, std::string_view text, bool flag, int64_t whole,
                                    uint64_t natural, double real, const uint8_t* bytes,
                                    std::size_t count, BindingReuse reuse) {
  { sink.BeginCollection(reuse) } -> std::same_as<BindingBuildStatus>;
  { sink.EndCollection() } -> std::same_as<BindingBuildStatus>;
  { sink.BeginStructure(reuse) } -> std::same_as<BindingBuildStatus>;
  { sink.EndStructure() } -> std::same_as<BindingBuildStatus>;
  { sink.MemberKey(text) } -> std::same_as<BindingBuildStatus>;
  { sink.Null() } -> std::same_as<BindingBuildStatus>;
  { sink.Empty() } -> std::same_as<BindingBuildStatus>;
  { sink.Bool(flag) } -> std::same_as<BindingBuildStatus>;
  { sink.Signed(whole) } -> std::same_as<BindingBuildStatus>;
  { sink.Unsigned(natural) } -> std::same_as<BindingBuildStatus>;
  { sink.Float(real) } -> std::same_as<BindingBuildStatus>;
  { sink.String(text) } -> std::same_as<BindingBuildStatus>;
  { sink.Blob(bytes, count) } -> std::same_as<BindingBuildStatus>;
};

static_assert(BindingValueSink<BindingValueBuilder>);

}  // namespace Vexa
