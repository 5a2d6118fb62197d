#include "bridge/host_value.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

#include "binding/registry.h"
#include "util/format.h"

namespace Vexa {
namespace {

constexpr std::size_t kMaxHostCount = std::numeric_limits<uint32_t>::max();

void ZeroHostValue(HostValue& value) {
  std::memset(&value, 0, sizeof(HostValue));
}

void FreeOwnedText(const char* text) {
  std::free(const_cast<char*>(text));
}

// --- To host ---

class ToHostBuilder {
 public:
  explicit ToHostBuilder(const BindingRegistry* registry) : registry_(registry) {}

  // Fills `target`, which must be empty. On false `target` may hold a partly built value that
  // the caller releases.
  bool Build(const BindingProperty& property, HostValue& target, std::size_t depth) {
    switch (property.Kind()) {
      case BindingPropertyKind::Empty:
        return true;
      case BindingPropertyKind::Bool:
        SetHostBool(target, property.GetBool());
        return true;
      case BindingPropertyKind::Signed:
        SetHostSigned(target, property.GetSigned());
        return true;
      case BindingPropertyKind::Unsigned:
        SetHostUnsigned(target, property.GetUnsigned());
        return true;
      case BindingPropertyKind::Float:
        SetHostFloat(target, property.GetFloat());
        return true;
      case BindingPropertyKind::String:
        return SetHostString(target, property.GetString());
      case BindingPropertyKind::Blob: {
        const BindingBlob& bytes = property.GetBlob();
        return SetHostBlob(target, bytes.data(), bytes.size());
      }
      case BindingPropertyKind::Enum:
        return BuildEnum(property.GetEnum(), target);
      case BindingPropertyKind::Collection:
        return depth < kMaxBindingDepth && BuildCollection(property, target, depth + 1);
      case BindingPropertyKind::Structure:
        return depth < kMaxBindingDepth && BuildStructure(property, target, depth + 1);
    }
    return true;  // a kind outside the enum cannot be built by BindingProperty; send it empty
  }

 private:
  bool BuildEnum(const BindingEnumerator& enumerator, HostValue& target) {
    if (registry_ != nullptr && enumerator.type != nullptr) {
      if (const char* name = registry_->EnumeratorName(*enumerator.type, enumerator.value)) {
        return SetHostString(target, name);
      }
    }
    SetHostSigned(target, enumerator.value);
    return true;
  }

  bool BuildCollection(const BindingProperty& property, HostValue& target, std::size_t depth) {
    const std::size_t count = property.Size();
    if (count > kMaxHostCount) {
      return false;
    }
    HostValue* elements = AllocateHostValues(count);
    if (elements == nullptr && count != 0) {
      return false;
    }
    // Adopted before filling, so that a failure part-way is freed by one release.
    AdoptHostCollection(target, elements, static_cast<uint32_t>(count));
    std::size_t index = 0;
    for (const BindingProperty& element : property.Elements()) {
      if (index == count || !Build(element, elements[index], depth)) {
        return false;
      }
      ++index;
    }
    return true;
  }

  bool BuildStructure(const BindingProperty& property, HostValue& target, std::size_t depth) {
    const std::size_t count = property.Size();
    if (count > kMaxHostCount) {
      return false;
    }
    HostValueMember* members = AllocateHostMembers(count);
    if (members == nullptr && count != 0) {
      return false;
    }
    AdoptHostStructure(target, members, static_cast<uint32_t>(count));
    std::size_t index = 0;
    for (const auto& [key, member] : property.Members()) {
      if (index == count) {
        return false;
      }
      HostValueMember& slot = members[index++];
      slot.key = CopyHostText(std::string_view(key));
      slot.ownsKey = 1;
      if (slot.key == nullptr || !Build(member, slot.value, depth)) {
        return false;
      }
    }
    return true;
  }

  const BindingRegistry* registry_;
};

// --- Packed ---

// Lays the host form of values out in one block, in the order a depth-first walk meets its
// pieces: a container's array, then each element (a member's key text first). Run once without
// a block to measure, then over a block of at least the measured size to build: both runs
// place the same pieces at the same offsets. Arrays start at multiples of kArrayAlignment from
// the block's start; texts and bytes anywhere.
class HostValuePacker {
 public:
  static constexpr std::size_t kArrayAlignment = alignof(std::max_align_t);

  enum class Mode { Measure, Build };

  // Building places the pieces into `block` (null when nothing is to be placed).
  HostValuePacker(Mode mode, const BindingRegistry* registry, std::byte* block = nullptr)
      : building_(mode == Mode::Build), registry_(registry), block_(block) {}

  // Places the pieces of `property` and, when building, fills `target` (which owns nothing).
  // False when the value has no host form; no piece is then placed in a block.
  bool Pack(const BindingProperty& property, HostValue& target, std::size_t depth = 0) {
    switch (property.Kind()) {
      case BindingPropertyKind::Empty:
        return true;
      case BindingPropertyKind::Bool:
        SetHostBool(target, property.GetBool());
        return true;
      case BindingPropertyKind::Signed:
        SetHostSigned(target, property.GetSigned());
        return true;
      case BindingPropertyKind::Unsigned:
        SetHostUnsigned(target, property.GetUnsigned());
        return true;
      case BindingPropertyKind::Float:
        SetHostFloat(target, property.GetFloat());
        return true;
      case BindingPropertyKind::String:
        return PackString(property.GetString(), target);
      case BindingPropertyKind::Blob:
        return PackBlob(property.GetBlob(), target);
      case BindingPropertyKind::Enum:
        return PackEnum(property.GetEnum(), target);
      case BindingPropertyKind::Collection:
        return depth < kMaxBindingDepth && PackCollection(property, target, depth + 1);
      case BindingPropertyKind::Structure:
        return depth < kMaxBindingDepth && PackStructure(property, target, depth + 1);
    }
    return true;  // as ToHostValue: a kind outside the enum is sent empty
  }

  // The bytes placed so far.
  [[nodiscard]] std::size_t Size() const { return size_; }

 private:
  [[nodiscard]] bool Building() const { return building_; }

  // Reserves `bytes` at the next offset that is a multiple of `alignment`; where they start
  // when building, else null.
  std::byte* Place(std::size_t bytes, std::size_t alignment = 1) {
    size_ = (size_ + alignment - 1) / alignment * alignment;
    std::byte* const start = Building() ? block_ + size_ : nullptr;
    size_ += bytes;
    return start;
  }

  // A NUL-terminated copy of `text` up to its first NUL; its length through `length`.
  const char* PlaceText(std::string_view text, std::size_t& length) {
    length = std::min(text.size(), text.find('\0'));
    auto* copy = reinterpret_cast<char*>(Place(length + 1));
    if (copy != nullptr) {
      std::memcpy(copy, text.data(), length);
      copy[length] = '\0';
    }
    return copy;
  }

  bool PackString(std::string_view text, HostValue& target) {
    std::size_t length = 0;
    const char* copy = PlaceText(text, length);
    if (length > kMaxHostCount) {
      return false;
    }
    if (Building()) {
      target.kind = HOST_VALUE_STRING;
      target.payload.string.text = copy;
      target.payload.string.length = static_cast<uint32_t>(length);
    }
    return true;
  }

  bool PackBlob(const BindingBlob& bytes, HostValue& target) {
    const std::size_t count = bytes.size();
    if (count > kMaxHostCount) {
      return false;
    }
    std::byte* copy = count != 0 ? Place(count) : nullptr;
    if (Building()) {
      if (copy != nullptr) {
        std::memcpy(copy, bytes.data(), count);
      }
      target.kind = HOST_VALUE_BLOB;
      target.payload.blob.bytes = reinterpret_cast<const uint8_t*>(copy);
      target.payload.blob.size = static_cast<uint32_t>(count);
    }
    return true;
  }

  bool PackEnum(const BindingEnumerator& enumerator, HostValue& target) {
    if (registry_ != nullptr && enumerator.type != nullptr) {
      if (const char* name = registry_->EnumeratorName(*enumerator.type, enumerator.value)) {
        return PackString(name, target);
      }
    }
    SetHostSigned(target, enumerator.value);
    return true;
  }

  bool PackCollection(const BindingProperty& property, HostValue& target, std::size_t depth) {
    const std::size_t count = property.Size();
    if (count > kMaxHostCount) {
      return false;
    }
    auto* elements = reinterpret_cast<HostValue*>(
        count != 0 ? Place(count * sizeof(HostValue), kArrayAlignment) : nullptr);
    if (Building()) {
      std::memset(static_cast<void*>(elements), 0, count * sizeof(HostValue));
      target.kind = HOST_VALUE_COLLECTION;
      target.payload.collection.elements = elements;
      target.payload.collection.count = static_cast<uint32_t>(count);
    }
    HostValue ignored{};
    std::size_t index = 0;
    for (const BindingProperty& element : property.Elements()) {
      if (index == count || !Pack(element, Building() ? elements[index] : ignored, depth)) {
        return false;
      }
      ++index;
    }
    return true;
  }

  bool PackStructure(const BindingProperty& property, HostValue& target, std::size_t depth) {
    const std::size_t count = property.Size();
    if (count > kMaxHostCount) {
      return false;
    }
    auto* members = reinterpret_cast<HostValueMember*>(
        count != 0 ? Place(count * sizeof(HostValueMember), kArrayAlignment) : nullptr);
    if (Building()) {
      std::memset(static_cast<void*>(members), 0, count * sizeof(HostValueMember));
      target.kind = HOST_VALUE_STRUCTURE;
      target.payload.structure.members = members;
      target.payload.structure.count = static_cast<uint32_t>(count);
    }
    HostValue ignored{};
    std::size_t index = 0;
    for (const auto& [key, member] : property.Members()) {
      if (index == count) {
        return false;
      }
      std::size_t length = 0;
      const char* keyCopy = PlaceText(std::string_view(key), length);
      HostValue* value = &ignored;
      if (Building()) {
        HostValueMember& slot = members[index];
        slot.key = keyCopy;
        slot.ownsKey = 1;
        value = &slot.value;
      }
      if (!Pack(member, *value, depth)) {
        return false;
      }
      ++index;
    }
    return true;
  }

  bool building_;
  const BindingRegistry* registry_;
  std::byte* block_;
  std::size_t size_ = 0;
};

// The block a packed value owns: its root's text, bytes or array, which the packer placed first.
void* PackedBlock(const HostValue& value) {
  switch (value.kind) {
    case HOST_VALUE_STRING:
      return const_cast<char*>(value.payload.string.text);
    case HOST_VALUE_BLOB:
      return const_cast<uint8_t*>(value.payload.blob.bytes);
    case HOST_VALUE_COLLECTION:
      return value.payload.collection.elements;
    case HOST_VALUE_STRUCTURE:
      return value.payload.structure.members;
    default:
      return nullptr;
  }
}

// --- From host ---

class FromHostReader {
 public:
  FromHostReader(HostResult& result, std::string_view name) : result_(result), name_(name) {}

  bool Read(BindingProperty& target, const HostValue& value, std::size_t depth) {
    const HostValueKind kind = value.kind;
    switch (kind) {
      case HOST_VALUE_EMPTY:
        target.Reset();
        return true;
      case HOST_VALUE_BOOL:
        target.SetBool(value.payload.boolean != 0);
        return true;
      case HOST_VALUE_SIGNED:
        target.SetSigned(value.payload.signedValue);
        return true;
      case HOST_VALUE_UNSIGNED:
        target.SetUnsigned(value.payload.unsignedValue);
        return true;
      case HOST_VALUE_FLOAT:
        target.SetFloat(value.payload.floatValue);
        return true;
      case HOST_VALUE_BORROWED_STRING:
      case HOST_VALUE_STRING: {
        // The host's length word is not trusted: the text ends at its NUL.
        const char* text = value.payload.string.text;
        target.SetString(text != nullptr ? text : "");
        return true;
      }
      case HOST_VALUE_BORROWED_BLOB:
      case HOST_VALUE_BLOB:
        return ReadBlob(target, value);
      case HOST_VALUE_COLLECTION:
        return ReadCollection(target, value, depth + 1);
      case HOST_VALUE_STRUCTURE:
        return ReadStructure(target, value, depth + 1);
      default:
        return Fail(Format(kHostValueIncompatibleMessage, name_, HostValueKindName(kind)));
    }
  }

  bool Fail(const std::string& message) {
    SetHostError(result_, message);
    return false;
  }

 private:
  bool FailMissingData(HostValueKind kind, uint32_t count) {
    return Fail(Format(kHostValueMissingDataMessage, name_, HostValueKindName(kind), count));
  }

  bool ReadBlob(BindingProperty& target, const HostValue& value) {
    const uint8_t* bytes = value.payload.blob.bytes;
    const uint32_t size = value.payload.blob.size;
    if (bytes == nullptr && size != 0) {
      return FailMissingData(value.kind, size);
    }
    target.SetBlob(bytes, size);
    return true;
  }

  bool ReadCollection(BindingProperty& target, const HostValue& value, std::size_t depth) {
    const HostValue* elements = value.payload.collection.elements;
    const uint32_t count = value.payload.collection.count;
    if (depth > kMaxBindingDepth) {
      return Fail(Format(kHostValueTooDeepMessage, name_, kMaxBindingDepth));
    }
    if (count > kMaxBindingElements) {
      return Fail(Format(kHostValueTooManyElementsMessage, name_, count, kMaxBindingElements));
    }
    if (elements == nullptr && count != 0) {
      return FailMissingData(value.kind, count);
    }
    // Replaced rather than merged: stale elements of an earlier collection must not survive.
    target.Reset();
    target.MakeCollection();
    if (!target.Reserve(count)) {
      return Fail(Format(kHostValueTooManyElementsMessage, name_, count, kMaxBindingElements));
    }
    for (uint32_t index = 0; index < count; ++index) {
      if (!Read(target.Append(), elements[index], depth)) {
        return false;
      }
    }
    return true;
  }

  bool ReadStructure(BindingProperty& target, const HostValue& value, std::size_t depth) {
    const HostValueMember* members = value.payload.structure.members;
    const uint32_t count = value.payload.structure.count;
    if (depth > kMaxBindingDepth) {
      return Fail(Format(kHostValueTooDeepMessage, name_, kMaxBindingDepth));
    }
    if (members == nullptr && count != 0) {
      return FailMissingData(value.kind, count);
    }
    target.Reset();
    target.MakeStructure();
    for (uint32_t index = 0; index < count; ++index) {
      const HostValueMember& member = members[index];
      const char* key = member.key;
      if (!Read(target.Member(key != nullptr ? key : ""), member.value, depth)) {
        return false;
      }
    }
    return true;
  }

  HostResult& result_;
  std::string_view name_;
};

}  // namespace

const char* HostValueKindName(HostValueKind kind) {
  switch (kind) {
    case HOST_VALUE_BOOL:
      return "bool";
    case HOST_VALUE_SIGNED:
      return "signed";
    case HOST_VALUE_UNSIGNED:
      return "unsigned";
    case HOST_VALUE_FLOAT:
      return "float";
    case HOST_VALUE_BORROWED_STRING:
    case HOST_VALUE_STRING:
      return "string";
    case HOST_VALUE_BORROWED_BLOB:
    case HOST_VALUE_BLOB:
      return "blob";
    case HOST_VALUE_COLLECTION:
      return "collection";
    case HOST_VALUE_STRUCTURE:
      return "structure";
    default:
      return "";
  }
}

HostValue* AllocateHostValues(std::size_t count) {
  // calloc checks count * size for overflow and zeroes, which is kind 0 for every element.
  return count == 0 ? nullptr : static_cast<HostValue*>(std::calloc(count, sizeof(HostValue)));
}

HostValueMember* AllocateHostMembers(std::size_t count) {
  return count == 0 ? nullptr
                    : static_cast<HostValueMember*>(std::calloc(count, sizeof(HostValueMember)));
}

char* CopyHostText(std::string_view text) {
  const std::size_t length = std::min(text.size(), text.find('\0'));
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (copy != nullptr) {
    std::memcpy(copy, text.data(), length);
    copy[length] = '\0';
  }
  return copy;
}

void ReleaseHostValue(HostValue& value) {
  switch (value.kind) {
    case HOST_VALUE_STRING:
      FreeOwnedText(value.payload.string.text);
      break;
    case HOST_VALUE_BLOB:
      std::free(const_cast<uint8_t*>(value.payload.blob.bytes));
      break;
    case HOST_VALUE_COLLECTION: {
      HostValue* elements = value.payload.collection.elements;
      const uint32_t count = value.payload.collection.count;
      for (uint32_t index = 0; elements != nullptr && index < count; ++index) {
        ReleaseHostValue(elements[index]);
      }
      std::free(elements);
      break;
    }
    case HOST_VALUE_STRUCTURE: {
      HostValueMember* members = value.payload.structure.members;
      const uint32_t count = value.payload.structure.count;
      for (uint32_t index = 0; members != nullptr && index < count; ++index) {
        if (members[index].ownsKey == 1) {
          FreeOwnedText(members[index].key);
        }
        ReleaseHostValue(members[index].value);
      }
      std::free(members);
      break;
    }
    default:
      break;
  }
  ZeroHostValue(value);
}

void ReleaseHostResult(HostResult& result) {
  ReleaseHostValue(result.value);
  if (result.ownsError == 1) {
    FreeOwnedText(result.error);
  }
  result.error = nullptr;
  result.ownsError = 0;
}

void SetHostBool(HostValue& value, bool flag) {
  ReleaseHostValue(value);
  value.kind = HOST_VALUE_BOOL;
  value.payload.boolean = flag ? 1 : 0;
}

void SetHostSigned(HostValue& value, int64_t number) {
  ReleaseHostValue(value);
  value.kind = HOST_VALUE_SIGNED;
  value.payload.signedValue = number;
}

void SetHostUnsigned(HostValue& value, uint64_t number) {
  ReleaseHostValue(value);
  value.kind = HOST_VALUE_UNSIGNED;
  value.payload.unsignedValue = number;
}

void SetHostFloat(HostValue& value, double number) {
  ReleaseHostValue(value);
  value.kind = HOST_VALUE_FLOAT;
  value.payload.floatValue = number;
}

bool SetHostString(HostValue& value, std::string_view text) {
  ReleaseHostValue(value);
  const std::size_t length = std::min(text.size(), text.find('\0'));
  if (length > kMaxHostCount) {
    return false;
  }
  char* copy = CopyHostText(text.substr(0, length));
  if (copy == nullptr) {
    return false;
  }
  value.kind = HOST_VALUE_STRING;
  value.payload.string.text = copy;
  value.payload.string.length = static_cast<uint32_t>(length);
  return true;
}

bool SetHostBlob(HostValue& value, const uint8_t* bytes, std::size_t count) {
  ReleaseHostValue(value);
  if (count > kMaxHostCount || (bytes == nullptr && count != 0)) {
    return false;
  }
  uint8_t* copy = nullptr;
  if (count != 0) {
    copy = static_cast<uint8_t*>(std::malloc(count));
    if (copy == nullptr) {
      return false;
    }
    std::memcpy(copy, bytes, count);
  }
  value.kind = HOST_VALUE_BLOB;
  value.payload.blob.bytes = copy;
  value.payload.blob.size = static_cast<uint32_t>(count);
  return true;
}

void AdoptHostCollection(HostValue& value, HostValue* elements, uint32_t count) {
  ReleaseHostValue(value);
  value.kind = HOST_VALUE_COLLECTION;
  value.payload.collection.elements = elements;
  value.payload.collection.count = count;
}

void AdoptHostStructure(HostValue& value, HostValueMember* members, uint32_t count) {
  ReleaseHostValue(value);
  value.kind = HOST_VALUE_STRUCTURE;
  value.payload.structure.members = members;
  value.payload.structure.count = count;
}

void SetHostError(HostResult& result, std::string_view message) {
  ReleaseHostResult(result);
  if (char* copy = CopyHostText(message)) {
    result.error = copy;
    result.ownsError = 1;
  } else {
    result.error = kHostErrorFallbackText;
  }
}

bool ToHostValue(const BindingProperty& property, HostValue& target,
                 const BindingRegistry* registry) {
  ReleaseHostValue(target);
  ToHostBuilder builder(registry);
  if (!builder.Build(property, target, 0)) {
    ReleaseHostValue(target);
    return false;
  }
  return true;
}

bool MeasurePackedHostValue(const BindingProperty& property, const BindingRegistry* registry,
                            std::size_t& bytes) {
  HostValuePacker measure(HostValuePacker::Mode::Measure, registry);
  HostValue ignored{};
  if (!measure.Pack(property, ignored)) {
    return false;
  }
  bytes = measure.Size();
  return true;
}

void BuildPackedHostValue(const BindingProperty& property, const BindingRegistry* registry,
                          std::byte* block, HostValue& target) {
  ZeroHostValue(target);
  HostValuePacker build(HostValuePacker::Mode::Build, registry, block);
  static_cast<void>(build.Pack(property, target));  // measured, so it fits and succeeds
}

bool ToPackedHostValue(const BindingProperty& property, HostValue& target,
                       const BindingRegistry* registry) {
  ReleasePackedHostValue(target);
  std::size_t bytes = 0;
  if (!MeasurePackedHostValue(property, registry, bytes)) {
    return false;
  }
  std::byte* block = nullptr;
  if (bytes != 0) {
    block = static_cast<std::byte*>(std::malloc(bytes));
    if (block == nullptr) {
      return false;
    }
  }
  BuildPackedHostValue(property, registry, block, target);
  return true;
}

void ReleasePackedHostValue(HostValue& value) {
  std::free(PackedBlock(value));
  ZeroHostValue(value);
}

std::byte* HostValueScratch::Reserve(std::size_t bytes) {
  if (bytes <= kInlineBytes) {
    return inline_;
  }
  heap_.reset(static_cast<std::byte*>(std::malloc(bytes)));
  return heap_.get();
}

bool FromHostValue(HostResult& result, BindingProperty& target, const HostValue& value,
                   std::string_view name) {
  FromHostReader reader(result, name);
  try {
    return reader.Read(target, value, 0);
  } catch (const std::bad_alloc&) {
    return reader.Fail(Format(kHostValueOutOfMemoryMessage, name));
  } catch (const std::length_error&) {
    // A reservation beyond what the standard containers can hold is the same condition.
    return reader.Fail(Format(kHostValueOutOfMemoryMessage, name));
  }
}

}  // namespace Vexa
