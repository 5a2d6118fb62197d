// The payload records of the container kinds of BindingProperty: the collection (a contiguous
// array of elements) and the structure (members reached by key through a hash index, iterated
// in byte-wise key order). Both records live in the context of the tree that holds them.
//
//   BindingStructure& members = *context.NewRecord<BindingStructure>();
//   BindingProperty& country = members.FindOrInsert("country", context);  // empty member
//   members.EnsureSorted();                        // before any ordered read
//   for (BindingMemberNode* node = members.first; node; node = node->next) { node->key ... }
//   members.Clear(context);                        // frees members, values and key references
//
// Structure design. Decoders and conversions mostly insert members and look them up by key;
// only serializers, visits and comparisons need them in key order. So a structure keeps
//   - one node per member (link, interned key, value) in the context's heap-backed slots: a
//     member never moves, so a reference to it survives the insertion and removal of others;
//   - the nodes linked in a list that is sorted by key bytes lazily: an insertion that does
//     not extend the order clears the `sorted` flag, and the next ordered read sorts the list
//     (past 32 members through a temporary array of key prefixes, which keeps the comparisons
//     in cache; otherwise, or without memory for it, by an in-place merge sort of the list).
//     Copies and decoders of sorted input never sort;
//   - past 16 members, an open-addressing index of the nodes by key hash (FNV-1a, the hash the
//     interned key already carries), so lookups and insertions cost one hash and a probe, not
//     a walk of byte comparisons through a tree. Up to 16, a scan of the list comparing
//     hashes is as fast and a structure costs no allocation beyond its record and nodes.
// Because ordered reads may sort, they modify the record although the value is const; this is
// sound because one tree is only ever used by one thread at a time.
//
// Elements, by contrast, are reached by index and stored contiguously; growing relocates them
// bitwise, which is sound because nothing points at an element from inside the tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "value/context.h"
#include "value/property.h"

namespace Vexa {

struct BindingCollection {
  BindingProperty* elements = nullptr;  // `capacity` slots, the first `size` constructed
  uint32_t size = 0;
  uint32_t capacity = 0;
};

// One member: the link to the next member, its interned key and its value.
struct BindingMemberNode {
  BindingMemberNode(BindingInternedString* memberKey, BindingValueContext* context) noexcept
      : key(memberKey), value(BindingProperty::NestedTag{}, context) {}

  BindingMemberNode* next = nullptr;
  BindingInternedString* key;
  BindingProperty value;
};

// Byte-wise order of `key` against an interned key: unsigned bytes, a prefix first.
[[nodiscard]] inline int BindingCompareKey(std::string_view key,
                                           const BindingInternedString& entry) noexcept {
  const std::size_t common = key.size() < entry.length ? key.size() : entry.length;
  if (common != 0) {
    if (const int order = std::memcmp(key.data(), entry.Text(), common); order != 0) {
      return order;
    }
  }
  return key.size() < entry.length ? -1 : (key.size() > entry.length ? 1 : 0);
}

struct BindingStructure {
  // Up to this many members a lookup scans the list; beyond, the index answers.
  static constexpr uint32_t kLinearLimit = 16;
  // Past this many members an unsorted list is sorted through an array of key prefixes.
  static constexpr uint32_t kArraySortFrom = 32;

  BindingMemberNode* first = nullptr;
  BindingMemberNode* last = nullptr;
  BindingMemberNode** index = nullptr;  // `indexCapacity` slots (a power of two), or null
  uint32_t count = 0;
  uint32_t indexCapacity = 0;
  bool sorted = true;  // whether the list is in key order

  // The member with exactly `key` (no NUL inside), or null.
  [[nodiscard]] BindingMemberNode* Find(std::string_view key) const noexcept {
    return Find(key, BindingHashText(key));
  }
  [[nodiscard]] BindingMemberNode* Find(std::string_view key, uint32_t hash) const noexcept;
  // The member with `key` (no NUL inside); a new empty one, its key interned in `context`, when
  // absent. Throws std::bad_alloc with the structure unchanged.
  BindingProperty& FindOrInsert(std::string_view key, BindingValueContext& context);
  // Removes and frees the member with `key`; whether there was one. Linear in the member count
  // (the list has no back links).
  bool Remove(std::string_view key, BindingValueContext& context) noexcept;
  // Frees every member: values recursively, key references released, arrays freed.
  void Clear(BindingValueContext& context) noexcept;
  // Makes this empty structure a deep copy of `source` (of another context) in `context`:
  // the same members in the same list order, so a sorted source gives a sorted copy. On
  // failure the partial copy is freed and the exception passed on.
  void CopyFrom(const BindingStructure& source, BindingValueContext& context);
  // Puts the member list in key order if it is not. Never fails: a temporary array is used
  // when memory allows, an in-place merge sort otherwise.
  void EnsureSorted() noexcept;

  // Diagnostics: whether order flag, index, uniqueness and count are consistent.
  [[nodiscard]] bool CheckInvariants() const noexcept;

 private:
  // Inserts members by their already interned keys (value/builder.h).
  friend class BindingValueBuilder;

  void Append(BindingMemberNode* node) noexcept;
  bool SortThroughArray() noexcept;
  void RebuildIndex(BindingValueContext& context, uint32_t capacity);
  void IndexInsert(BindingMemberNode* node) noexcept;
  void IndexErase(const BindingMemberNode* node) noexcept;
};

}  // namespace Vexa
