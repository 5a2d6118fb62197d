// The YAML reader's anchor table: what each anchor name stands for, how to find an anchored
// value again in the tree being built, and how much an alias would copy.
//
//   Vexa::YamlAnchorTable anchors;
//   Vexa::YamlAnchor* anchor = anchors.Define("base");         // null: defined before
//   anchor->path = currentPath;                                   // or keyText for a key
//   const Vexa::BindingProperty& source = Vexa::FollowYamlPath(root, anchor->path);
//   std::size_t nodes = 0;
//   if (Vexa::CheckYamlCopy(source, budgetLeft, levelsLeft, nodes) == Vexa::YamlCopyCheck::Fits)
//     target = source;
//
// Why paths and not pointers: elements live contiguously and move when their collection
// grows, so a pointer to an anchored element would not survive the next element. A path of
// indexes and keys from the root is looked up when the alias is read; it finds the value as it
// stands then (a repeated key may have replaced it since, and an alias then sees the new
// value, or the shared empty value when the path no longer leads anywhere).
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "value/property.h"

namespace Vexa {

// One step from a value to one of its children: an element index or a member key.
struct YamlPathStep {
  bool isKey = false;
  std::size_t index = 0;
  std::string key;
};

// Steps from the root; the empty path is the root itself.
using YamlPath = std::vector<YamlPathStep>;

struct YamlAnchor {
  // An anchored mapping key stands for its text; any other node for the value at `path`.
  bool isKeyText = false;
  // The anchored sequence or mapping is still being read: an alias to it now is cyclic.
  bool open = false;
  std::string keyText;
  YamlPath path;
};

class YamlAnchorTable {
 public:
  // A new, empty entry for `name`, or null when the name is defined already. The entry stays
  // at its address until the table is destroyed.
  [[nodiscard]] YamlAnchor* Define(const char* name);
  // The entry of `name`, or null.
  [[nodiscard]] YamlAnchor* Find(const char* name);

 private:
  std::unordered_map<std::string, YamlAnchor> anchors_;
};

// The value that `path` leads to from `root`; the shared empty value as soon as a step finds no
// such element or member. Reads only.
[[nodiscard]] const BindingProperty& FollowYamlPath(const BindingProperty& root,
                                                    const YamlPath& path);

enum class YamlCopyCheck {
  Fits,
  TooLarge,  // more than the allowed number of values
  TooDeep,   // more levels of sequences and mappings than allowed
};

// Counts the values in `value` (itself, and every element and member below it, recursively)
// into `nodes`, and whether it holds at most `maxNodes` values and at most `maxLevels` levels
// of collections and structures (a scalar has none, "[]" one, "[[]]" two). Stops as soon as a
// limit is passed, so its work is bounded by `maxNodes`; no recursion.
[[nodiscard]] YamlCopyCheck CheckYamlCopy(const BindingProperty& value, std::size_t maxNodes,
                                          std::size_t maxLevels, std::size_t& nodes);

}  // namespace Vexa
