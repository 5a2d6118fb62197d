// Host values: building, releasing and converting the flat HostValue records that carry every
// argument, body and event payload across the seam with the host.
//
//   HostValue value{};                                     // kind 0, owns nothing
//   if (!Vexa::ToHostValue(property, value, &registry)) { ... }   // not representable
//   ... hand `value` to the host; it gives it back when done ...
//   Vexa::ReleaseHostValue(value);                         // frees all it owns, kind 0 again
//
//   HostResult result{};
//   Vexa::BindingProperty argument;
//   if (!Vexa::FromHostValue(result, argument, request.arguments[0].value, "ip_address")) {
//     ... result.error holds the message ...
//   }
//   Vexa::ReleaseHostResult(result);
//
// Memory. Every buffer that a HostValue, HostValueMember or HostResult owns (the text of kind
// 6, the bytes of kind 8, the element array of kind 9, the member array of kind 10, member keys
// with ownsKey = 1, an error text with ownsError = 1) is allocated with std::malloc/std::calloc
// by the functions here and freed with std::free by ReleaseHostValue / ReleaseHostResult only.
// The host never frees a value that the plugin built: it hands it back to the plugin's release
// function. Values the host built (and every borrowed kind 5 and 7 payload) are only read.
//
// Records are packed: copy fields out instead of binding references to them.
//
// Out of memory. Nothing here throws on its own account: the producers report exhausted memory
// as a false result and leave the record empty (kind 0). FromHostValue also turns an allocation
// failure inside BindingProperty into a failure message. Only building a message after memory
// ran out can still raise std::bad_alloc.
//
// Threading: a record is used by one thread at a time; nothing here is locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "value/property.h"
#include "vexa/host_contract.h"

namespace Vexa {

class BindingRegistry;

// --- Messages of a failed conversion from a host value (%1 is the name given). ---

// The input's kind is none of 0 to 10 (%2 is the kind's name, which is then empty).
inline constexpr const char kHostValueIncompatibleMessage[] =
    "Couldn't assign value to '%1' of type object because the input is of an incompatible type "
    "'%2'.";
// More nested collections and structures than kMaxBindingDepth (%2).
inline constexpr const char kHostValueTooDeepMessage[] =
    "Couldn't assign value to '%1' because the input is nested deeper than %2 levels.";
// A blob, collection or structure (%2, the kind's name) with a null pointer but a count (%3).
inline constexpr const char kHostValueMissingDataMessage[] =
    "Couldn't assign value to '%1' because the input %2 has no data for its count of %3.";
// A collection of more elements (%2) than kMaxBindingElements (%3).
inline constexpr const char kHostValueTooManyElementsMessage[] =
    "Couldn't assign value to '%1' because the input collection has %2 elements, more than %3.";
// Memory ran out while building the property.
inline constexpr const char kHostValueOutOfMemoryMessage[] =
    "Couldn't assign value to '%1' because memory ran out.";
// Stored, unowned, as the error text when even the copy of a message cannot be allocated.
inline constexpr const char kHostErrorFallbackText[] = "Out of memory.";

// The kind's name as messages show it: "bool", "signed", "unsigned", "float", "string" (5 and
// 6), "blob" (7 and 8), "collection", "structure"; the empty text for 0 and for any other
// number. Never null; static texts.
[[nodiscard]] const char* HostValueKindName(HostValueKind kind);

// --- Allocation of what a record owns. Each returns null when memory ran out (or the count
// does not fit in memory); the caller then owns nothing. ---

// `count` zeroed HostValues (each kind 0) for AdoptHostCollection; null for a count of 0.
[[nodiscard]] HostValue* AllocateHostValues(std::size_t count);
// `count` zeroed members (null key, kind 0 value, ownsKey 0) for AdoptHostStructure; null for
// a count of 0.
[[nodiscard]] HostValueMember* AllocateHostMembers(std::size_t count);
// An owned, NUL-terminated copy of `text` up to its first NUL, for a member key with ownsKey 1.
[[nodiscard]] char* CopyHostText(std::string_view text);

// --- Release ---

// Frees what the record owns, recursively (the text of kind 6, the bytes of kind 8, every
// element and the array of kind 9; every owned key, every member value and the array of kind
// 10) and leaves all 12 bytes zero. Kinds 5 and 7 and unknown kinds free nothing. A null array
// is skipped whatever its count. Recurses to the depth of the value; values that ToHostValue
// builds are at most kMaxBindingDepth deep.
void ReleaseHostValue(HostValue& value);
// Releases the value, frees the error text when ownsError is 1, and zeroes the record.
void ReleaseHostResult(HostResult& result);

// --- Setters. Each first releases the record. ---

void SetHostBool(HostValue& value, bool flag);
void SetHostSigned(HostValue& value, int64_t number);
void SetHostUnsigned(HostValue& value, uint64_t number);
void SetHostFloat(HostValue& value, double number);
// Kind 6: an owned copy of the text up to its first NUL, with that length. False, leaving kind
// 0, when memory ran out or the text is longer than a 32-bit length.
[[nodiscard]] bool SetHostString(HostValue& value, std::string_view text);
// Kind 8: an owned copy of the bytes (no buffer for a count of 0). False, leaving kind 0, when
// memory ran out, the count exceeds 32 bits, or `bytes` is null with a non-zero count.
[[nodiscard]] bool SetHostBlob(HostValue& value, const uint8_t* bytes, std::size_t count);
// Kind 9 / 10: the record takes ownership of the array (from AllocateHostValues /
// AllocateHostMembers) and of everything that the elements or members own.
void AdoptHostCollection(HostValue& value, HostValue* elements, uint32_t count);
void AdoptHostStructure(HostValue& value, HostValueMember* members, uint32_t count);

// Releases the result's value and stores an owned copy of `message` as its error text
// (ownsError = 1), freeing an earlier owned error text first. When the copy cannot be
// allocated the static kHostErrorFallbackText is stored instead, with ownsError = 0.
void SetHostError(HostResult& result, std::string_view message);

// --- Conversions ---

// Replaces `target` with the host form of `property`: empty, bool, signed, unsigned and float
// as kinds 0 to 4; a string as an owned kind 6 text; a blob as owned kind 8 bytes; an enum as
// its enumerator's name (owned kind 6) when `registry` is given and names the value, else as
// kind 2 holding the 32-bit value sign-extended; a collection as kind 9 with the elements in
// order; a structure as kind 10 with the members in key order, each key an owned copy
// (ownsKey 1). The registry is borrowed for the call and may be null.
// Returns false, leaving `target` empty (kind 0, nothing owned), only when the value cannot be
// represented: memory ran out, a count or length exceeds 32 bits, or containers are nested
// deeper than kMaxBindingDepth.
[[nodiscard]] bool ToHostValue(const BindingProperty& property, HostValue& target,
                               const BindingRegistry* registry = nullptr);

// --- Packed values ---
//
// A packed value is what ToHostValue builds (the same kinds, texts, lengths, counts and ownsKey
// flags, so the host cannot tell the two apart) with everything it owns laid out in one block:
// one allocation instead of one per text and array. Its parts are never freed one by one, so it
// must not reach ReleaseHostValue: it is released with the block it was built in.

// The bytes the packed form of `property` takes (enum values named through `registry`, may be
// null). False when it has no host form, as for ToHostValue.
[[nodiscard]] bool MeasurePackedHostValue(const BindingProperty& property,
                                          const BindingRegistry* registry, std::size_t& bytes);
// Builds the packed form of `property` into `block`, which must hold the measured bytes and be
// aligned for std::max_align_t (null for 0 bytes). `target`'s old contents are not released.
void BuildPackedHostValue(const BindingProperty& property, const BindingRegistry* registry,
                          std::byte* block, HostValue& target);
// The packed form of `property` in one std::malloc block whose address is the root's text,
// bytes or array (none for kinds 0 to 4), released with ReleasePackedHostValue, which first
// releases `target`. False as ToHostValue, leaving `target` empty.
[[nodiscard]] bool ToPackedHostValue(const BindingProperty& property, HostValue& target,
                                     const BindingRegistry* registry = nullptr);
// Frees the block of a value built by ToPackedHostValue and zeroes it; kind 0 frees nothing.
void ReleasePackedHostValue(HostValue& value);

// Room for the packed values of one call to the host: inside the object up to kInlineBytes,
// else one heap block, freed with the object. Values built in it are valid while it lives.
class HostValueScratch {
 public:
  static constexpr std::size_t kInlineBytes = 1024;

  HostValueScratch() = default;
  HostValueScratch(const HostValueScratch&) = delete;
  HostValueScratch& operator=(const HostValueScratch&) = delete;

  // A block of at least `bytes`, aligned for std::max_align_t; null when memory ran out. A
  // second call gives up the first block.
  [[nodiscard]] std::byte* Reserve(std::size_t bytes);

 private:
  struct Free {
    void operator()(std::byte* block) const { std::free(block); }
  };
  alignas(std::max_align_t) std::byte inline_[kInlineBytes];
  std::unique_ptr<std::byte, Free> heap_;
};

// Replaces `target` with the property form of `value`: kinds 0 to 4 as empty, bool (any
// non-zero byte is true), signed, unsigned and float; kinds 5 and 6 as a string read up to the
// text's NUL (the length word is not used; a null text is the empty string); kinds 7 and 8 as a
// blob of the given count; kind 9 as a collection with the elements in order; kind 10 as a
// structure filled in member order, where a later member with an equal key overwrites an
// earlier one and a null key is the empty key. `value` is only read.
// On failure returns false, records the message with SetHostError on `result` (whose value is
// released) and leaves in `target` what was built up to the failing part. Fails for a kind
// above 10 at any depth (kHostValueIncompatibleMessage), a null blob, element or member array
// with a non-zero count (kHostValueMissingDataMessage), a collection above kMaxBindingElements
// (kHostValueTooManyElementsMessage), containers nested deeper than kMaxBindingDepth
// (kHostValueTooDeepMessage), and exhausted memory (kHostValueOutOfMemoryMessage). The same
// `name` is used in messages at every depth. `result` is not touched on success.
[[nodiscard]] bool FromHostValue(HostResult& result, BindingProperty& target,
                                 const HostValue& value, std::string_view name);

}  // namespace Vexa
