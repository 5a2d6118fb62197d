#include "value/records.h"

#include <algorithm>
#include <new>

namespace Vexa {

namespace {

using Node = BindingMemberNode;

bool Matches(const Node* node, std::string_view key, uint32_t hash) noexcept {
  const BindingInternedString& entry = *node->key;
  return entry.hash == hash && entry.length == key.size() &&
         (key.empty() || std::memcmp(entry.Text(), key.data(), key.size()) == 0);
}

bool KeyBefore(const Node* left, const Node* right) noexcept {
  return BindingCompareKey(left->key->View(), *right->key) < 0;
}

// The smallest power of two that keeps `count` entries at most half full (at least 64).
uint32_t IndexCapacityFor(uint32_t count) noexcept {
  uint32_t capacity = 64;
  while (capacity / 2 < count) {
    capacity *= 2;
  }
  return capacity;
}

}  // namespace

Node* BindingStructure::Find(std::string_view key, uint32_t hash) const noexcept {
  if (index != nullptr) {
    const uint32_t mask = indexCapacity - 1;
    for (uint32_t slot = hash & mask;; slot = (slot + 1) & mask) {
      Node* node = index[slot];
      if (node == nullptr || Matches(node, key, hash)) {
        return node;
      }
    }
  }
  for (Node* node = first; node != nullptr; node = node->next) {
    if (Matches(node, key, hash)) {
      return node;
    }
  }
  return nullptr;
}

BindingProperty& BindingStructure::FindOrInsert(std::string_view key,
                                                BindingValueContext& context) {
  const uint32_t hash = BindingHashText(key);
  if (Node* node = Find(key, hash); node != nullptr) {
    return node->value;
  }
  // Make room first, so that a failure leaves the structure as it was.
  if (count + 1 > kLinearLimit && (count + 1) * 2 > indexCapacity) {
    RebuildIndex(context, IndexCapacityFor(count + 1));
  }
  BindingInternedString* entry = context.Intern(key, hash);
  Node* node;
  try {
    node = context.New<Node>(entry, &context);
  } catch (...) {
    context.Release(entry);
    throw;
  }
  if (sorted && last != nullptr) {
    sorted = BindingCompareKey(key, *last->key) > 0;  // appending in order keeps it
  }
  Append(node);
  if (index != nullptr) {
    IndexInsert(node);
  }
  return node->value;
}

bool BindingStructure::Remove(std::string_view key, BindingValueContext& context) noexcept {
  const uint32_t hash = BindingHashText(key);
  Node* previous = nullptr;
  Node* node = first;
  while (node != nullptr && !Matches(node, key, hash)) {
    previous = node;
    node = node->next;
  }
  if (node == nullptr) {
    return false;
  }
  if (index != nullptr) {
    IndexErase(node);
  }
  (previous != nullptr ? previous->next : first) = node->next;
  if (last == node) {
    last = previous;
  }
  --count;
  node->value.Reset();
  context.Release(node->key);
  context.Delete(node);
  return true;
}

void BindingStructure::Clear(BindingValueContext& context) noexcept {
  Node* node = first;
  while (node != nullptr) {
    Node* next = node->next;
    node->value.Reset();
    context.Release(node->key);
    context.Delete(node);
    node = next;
  }
  if (indexCapacity != 0) {
    context.Free(index, indexCapacity * sizeof(Node*));
  }
  first = nullptr;
  last = nullptr;
  index = nullptr;
  count = 0;
  indexCapacity = 0;
  sorted = true;
}

void BindingStructure::CopyFrom(const BindingStructure& source, BindingValueContext& context) {
  try {
    // Two stages of loads ahead of the copy: far ahead the source's nodes and key entries,
    // nearer the target's buckets (found through the source key's hash), reached at random.
    constexpr int kFar = 16;
    constexpr int kNear = 8;
    const Node* far = source.first;
    const Node* near = source.first;
    for (int step = 0; step < kFar && far != nullptr; ++step) {
      far = far->next;
      if (step < kNear) {
        near = near->next;
      }
    }
    for (const Node* from = source.first; from != nullptr; from = from->next) {
      if (far != nullptr) {
        __builtin_prefetch(far->key);  // the source's key entry, read at the near stage
        __builtin_prefetch(far->next);
        far = far->next;
      }
      if (near != nullptr) {
        context.PrefetchIntern(near->key->hash);
        near = near->next;
      }
      BindingInternedString* key = context.Intern(*from->key);
      Node* node;
      try {
        node = context.New<Node>(key, &context);
      } catch (...) {
        context.Release(key);
        throw;
      }
      Append(node);  // linked before its value is copied, so Clear can undo a copy cut short
      node->value.CopyPayloadFrom(from->value);
    }
    if (count > kLinearLimit) {
      RebuildIndex(context, IndexCapacityFor(count));
    }
    sorted = source.sorted;
  } catch (...) {
    Clear(context);
    throw;
  }
}

void BindingStructure::EnsureSorted() noexcept {
  if (sorted) {
    return;
  }
  if (count > kArraySortFrom && SortThroughArray()) {
    return;
  }
  // Bottom-up merge sort of the list: runs of width 1, 2, 4, ... merged pairwise in place,
  // no recursion and no allocation. Keys are unique, so stability does not matter.
  Node* list = first;
  Node* tail = nullptr;
  for (std::size_t width = 1;; width *= 2) {
    Node* left = list;
    list = nullptr;
    Node** link = &list;
    std::size_t merges = 0;
    while (left != nullptr) {
      ++merges;
      Node* right = left;
      std::size_t leftSize = 0;
      while (leftSize < width && right != nullptr) {
        ++leftSize;
        right = right->next;
      }
      std::size_t rightSize = width;
      while (leftSize > 0 || (rightSize > 0 && right != nullptr)) {
        Node* taken;
        if (leftSize != 0 && (rightSize == 0 || right == nullptr || KeyBefore(left, right))) {
          taken = left;
          left = left->next;
          --leftSize;
        } else {
          taken = right;
          right = right->next;
          --rightSize;
        }
        *link = taken;
        link = &taken->next;
        tail = taken;
      }
      left = right;
    }
    *link = nullptr;
    if (merges <= 1) {
      break;
    }
  }
  first = list;
  last = tail;
  sorted = true;
}

bool BindingStructure::SortThroughArray() noexcept {
  // Walking a long list compares through two nodes and two entries scattered in memory; an
  // array of 16-byte key prefixes (big-endian, so integer order is byte order; zero-padded,
  // which sorts a shorter key first since keys hold no NUL) decides almost every comparison
  // in cache. Without memory for the array the caller merge-sorts the list instead.
  struct Item {
    uint64_t high;
    uint64_t low;
    Node* node;
  };
  auto* items = static_cast<Item*>(::operator new(count * sizeof(Item), std::nothrow));
  if (items == nullptr) {
    return false;
  }
  auto prefix = [](const BindingInternedString& key, std::size_t offset) noexcept {
    unsigned char bytes[8] = {};
    if (key.length > offset) {
      std::memcpy(bytes, key.Text() + offset, key.length - offset < 8 ? key.length - offset : 8);
    }
    uint64_t value = 0;
    for (const unsigned char byte : bytes) {
      value = value << 8 | byte;
    }
    return value;
  };
  std::size_t size = 0;
  for (Node* node = first; node != nullptr; node = node->next) {
    items[size++] = {prefix(*node->key, 0), prefix(*node->key, 8), node};
  }
  std::sort(items, items + size, [](const Item& left, const Item& right) noexcept {
    if (left.high != right.high) {
      return left.high < right.high;
    }
    if (left.low != right.low) {
      return left.low < right.low;
    }
    return KeyBefore(left.node, right.node);  // both at least 16 bytes long
  });
  first = items[0].node;
  for (std::size_t position = 0; position + 1 < size; ++position) {
    items[position].node->next = items[position + 1].node;
  }
  last = items[size - 1].node;
  last->next = nullptr;
  ::operator delete(items);
  sorted = true;
  return true;
}

bool BindingStructure::CheckInvariants() const noexcept {
  if (count > kLinearLimit && index == nullptr) {
    return false;
  }
  uint32_t seen = 0;
  const Node* previous = nullptr;
  for (const Node* node = first; node != nullptr; node = node->next) {
    ++seen;
    // Find answers the first match: a duplicate key would answer another node.
    if (Find(node->key->View()) != node || node->value.OwnsContext()) {
      return false;
    }
    if (sorted && previous != nullptr && !KeyBefore(previous, node)) {
      return false;
    }
    previous = node;
  }
  if (seen != count || last != previous) {
    return false;
  }
  if (index != nullptr) {
    uint32_t used = 0;
    for (uint32_t slot = 0; slot < indexCapacity; ++slot) {
      used += index[slot] != nullptr ? 1 : 0;
    }
    if (used != count || count * 2 > indexCapacity) {
      return false;
    }
  }
  return true;
}

void BindingStructure::Append(Node* node) noexcept {
  node->next = nullptr;
  (last != nullptr ? last->next : first) = node;
  last = node;
  ++count;
}

void BindingStructure::RebuildIndex(BindingValueContext& context, uint32_t newCapacity) {
  auto** rebuilt = static_cast<Node**>(context.Allocate(newCapacity * sizeof(Node*)));
  std::memset(rebuilt, 0, newCapacity * sizeof(Node*));
  if (indexCapacity != 0) {
    context.Free(index, indexCapacity * sizeof(Node*));
  }
  index = rebuilt;
  indexCapacity = newCapacity;
  const uint32_t mask = indexCapacity - 1;
  constexpr int kAhead = 8;
  const Node* ahead = first;
  for (int step = 0; step < kAhead && ahead != nullptr; ++step) {
    ahead = ahead->next;
  }
  for (Node* node = first; node != nullptr; node = node->next) {
    if (ahead != nullptr) {
      __builtin_prefetch(&index[ahead->key->hash & mask]);
      ahead = ahead->next;
    }
    IndexInsert(node);
  }
}

void BindingStructure::IndexInsert(Node* node) noexcept {
  const uint32_t mask = indexCapacity - 1;
  uint32_t slot = node->key->hash & mask;
  while (index[slot] != nullptr) {
    slot = (slot + 1) & mask;
  }
  index[slot] = node;
}

void BindingStructure::IndexErase(const Node* node) noexcept {
  // Linear probing: after emptying a slot, pull back every later entry of the run whose home
  // slot does not lie between the hole and itself, so no probe stops early at the hole.
  const uint32_t mask = indexCapacity - 1;
  uint32_t hole = node->key->hash & mask;
  while (index[hole] != node) {
    hole = (hole + 1) & mask;
  }
  for (uint32_t next = (hole + 1) & mask; index[next] != nullptr; next = (next + 1) & mask) {
    const uint32_t home = index[next]->key->hash & mask;
    const bool homeBetween =
        hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
    if (!homeBetween) {
      index[hole] = index[next];
      hole = next;
    }
  }
  index[hole] = nullptr;
}

}  // namespace Vexa
