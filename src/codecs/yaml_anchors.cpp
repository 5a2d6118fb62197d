#include "codecs/yaml_anchors.h"

namespace Vexa {

YamlAnchor* YamlAnchorTable::Define(const char* name) {
  const auto [entry, inserted] = anchors_.try_emplace(std::string(name));
  return inserted ? &entry->second : nullptr;
}

YamlAnchor* YamlAnchorTable::Find(const char* name) {
  const auto found = anchors_.find(std::string(name));
  return found == anchors_.end() ? nullptr : &found->second;
}

const BindingProperty& FollowYamlPath(const BindingProperty& root, const YamlPath& path) {
  const BindingProperty* value = &root;
  for (const YamlPathStep& step : path) {
    value = step.isKey ? &value->Member(step.key) : &value->ElementAt(step.index);
  }
  return *value;
}

namespace {

// One open collection or structure of the walk and where the walk stands in it.
struct WalkFrame {
  const BindingProperty* element;  // next element of a collection
  const BindingProperty* elementEnd;
  BindingProperty::MemberRange::iterator member;  // next member of a structure
  BindingProperty::MemberRange::iterator memberEnd;
  bool collection;
};

}  // namespace

YamlCopyCheck CheckYamlCopy(const BindingProperty& value, std::size_t maxNodes,
                            std::size_t maxLevels, std::size_t& nodes) {
  nodes = 0;
  std::vector<WalkFrame> frames;
  // Counts `child` and opens it when it is a container.
  const auto enter = [&](const BindingProperty& child) -> YamlCopyCheck {
    if (++nodes > maxNodes) {
      return YamlCopyCheck::TooLarge;
    }
    const BindingPropertyKind kind = child.Kind();
    if (kind != BindingPropertyKind::Collection && kind != BindingPropertyKind::Structure) {
      return YamlCopyCheck::Fits;
    }
    if (frames.size() >= maxLevels) {
      return YamlCopyCheck::TooDeep;
    }
    WalkFrame frame{};
    frame.collection = kind == BindingPropertyKind::Collection;
    if (frame.collection) {
      const BindingProperty::ElementRange elements = child.Elements();
      frame.element = elements.begin();
      frame.elementEnd = elements.end();
    } else {
      const BindingProperty::MemberRange members = child.Members();
      frame.member = members.begin();
      frame.memberEnd = members.end();
    }
    frames.push_back(frame);
    return YamlCopyCheck::Fits;
  };

  YamlCopyCheck check = enter(value);
  while (check == YamlCopyCheck::Fits && !frames.empty()) {
    WalkFrame& top = frames.back();
    const BindingProperty* child = nullptr;
    if (top.collection) {
      if (top.element != top.elementEnd) {
        child = top.element++;
      }
    } else if (top.member != top.memberEnd) {
      child = &top.member.Value();
      ++top.member;
    }
    if (child == nullptr) {
      frames.pop_back();
      continue;
    }
    check = enter(*child);  // may push: `top` is not used after this
  }
  return check;
}

}  // namespace Vexa
