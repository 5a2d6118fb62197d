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

// Writes the host form of a value. Every piece (a text, a run of bytes, a container's array) is
// placed as a depth-first walk meets it: a container's array, then each element, a member's
// key text before its value. Three ways to place them:
//
//   Separate  each piece in a std::malloc block of its own (ToHostValue; ReleaseHostValue
//             frees them). A container is stored in its target before its elements are
//             written, so that after a failure one release frees what was built.
//   Measure   nothing is written; Size() then tells the bytes of the packed form.
//   Packed    into one block holding the measured bytes, at the offsets the measuring gave:
//             arrays at multiples of kArrayAlignment from the block's start, texts anywhere.
class HostValueWriter {
 public:
  enum class Mode { Separate, Measure, Packed };
  static constexpr std::size_t kArrayAlignment = alignof(std::max_align_t);

  // `block` is the packed form's (null when it has no bytes); unused by the other modes.
  HostValueWriter(Mode mode, const BindingRegistry* registry, std::byte* block = nullptr)
      : mode_(mode), registry_(registry), block_(block) {}

  // Writes `property` into `target`, which owns nothing (untouched when measuring). False when
  // the value has no host form (a count or length beyond 32 bits, nesting deeper than
  // kMaxBindingDepth) or, placing pieces separately, memory ran out.
  bool Write(const BindingProperty& property, HostValue& target, std::size_t depth = 0) {
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
        return WriteString(property.GetString(), target);
      case BindingPropertyKind::Blob:
        return WriteBlob(property.GetBlob(), target);
      case BindingPropertyKind::Enum:
        return WriteEnum(property.GetEnum(), target);
      case BindingPropertyKind::Collection:
        return depth < kMaxBindingDepth && WriteCollection(property, target, depth + 1);
      case BindingPropertyKind::Structure:
        return depth < kMaxBindingDepth && WriteStructure(property, target, depth + 1);
    }
    return true;  // a kind outside the enum cannot be built by BindingProperty; send it empty
  }

  // The bytes placed so far, when measuring or packing.
  [[nodiscard]] std::size_t Size() const { return size_; }

 private:
  [[nodiscard]] bool Writing() const { return mode_ != Mode::Measure; }

  // Room for `bytes` (not 0): where they start, or null when measuring or when memory ran out.
  std::byte* Place(std::size_t bytes, std::size_t alignment = 1) {
    if (mode_ == Mode::Separate) {
      return static_cast<std::byte*>(std::malloc(bytes));
    }
    size_ = (size_ + alignment - 1) / alignment * alignment;
    std::byte* const start = mode_ == Mode::Packed ? block_ + size_ : nullptr;
    size_ += bytes;
    return start;
  }

  // A NUL-terminated copy of `text` up to its first NUL, of that `length`; null as Place.
  char* PlaceText(std::string_view text, std::size_t& length) {
    length = std::min(text.size(), text.find('\0'));
    auto* copy = reinterpret_cast<char*>(Place(length + 1));
    if (copy != nullptr) {
      std::memcpy(copy, text.data(), length);
      copy[length] = '\0';
    }
    return copy;
  }

  // A zeroed array of `count` T (kind 0 values, null keys), null for none; null as Place.
  template <typename T>
  T* PlaceArray(std::size_t count) {
    if (count == 0) {
      return nullptr;
    }
    auto* array = reinterpret_cast<T*>(Place(count * sizeof(T), kArrayAlignment));
    if (array != nullptr) {
      std::memset(static_cast<void*>(array), 0, count * sizeof(T));
    }
    return array;
  }

  bool WriteString(std::string_view text, HostValue& target) {
    if (std::min(text.size(), text.find('\0')) > kMaxHostCount) {
      return false;
    }
    std::size_t length = 0;
    char* const copy = PlaceText(text, length);
    if (Writing() && copy == nullptr) {
      return false;
    }
    if (Writing()) {
      target.kind = HOST_VALUE_STRING;
      target.payload.string.text = copy;
      target.payload.string.length = static_cast<uint32_t>(length);
    }
    return true;
  }

  bool WriteBlob(const BindingBlob& bytes, HostValue& target) {
    const std::size_t count = bytes.size();
    if (count > kMaxHostCount) {
      return false;
    }
    std::byte* const copy = count != 0 ? Place(count) : nullptr;
    if (Writing()) {
      if (count != 0 && copy == nullptr) {
        return false;
      }
      if (copy != nullptr) {
        std::memcpy(copy, bytes.data(), count);
      }
      target.kind = HOST_VALUE_BLOB;
      target.payload.blob.bytes = reinterpret_cast<const uint8_t*>(copy);
      target.payload.blob.size = static_cast<uint32_t>(count);
    }
    return true;
  }

  bool WriteEnum(const BindingEnumerator& enumerator, HostValue& target) {
    if (registry_ != nullptr && enumerator.type != nullptr) {
      if (const char* name = registry_->EnumeratorName(*enumerator.type, enumerator.value)) {
        return WriteString(name, target);
      }
    }
    SetHostSigned(target, enumerator.value);
    return true;
  }

  bool WriteCollection(const BindingProperty& property, HostValue& target, std::size_t depth) {
    const std::size_t count = property.Size();
    if (count > kMaxHostCount) {
      return false;
    }
    HostValue* const elements = PlaceArray<HostValue>(count);
    if (Writing()) {
      if (count != 0 && elements == nullptr) {
        return false;
      }
      AdoptHostCollection(target, elements, static_cast<uint32_t>(count));
    }
    HostValue unused{};
    std::size_t index = 0;
    for (const BindingProperty& element : property.Elements()) {
      if (index == count || !Write(element, Writing() ? elements[index] : unused, depth)) {
        return false;
      }
      ++index;
    }
    return true;
  }

  bool WriteStructure(const BindingProperty& property, HostValue& target, std::size_t depth) {
    const std::size_t count = property.Size();
    if (count > kMaxHostCount) {
      return false;
    }
    HostValueMember* const members = PlaceArray<HostValueMember>(count);
    if (Writing()) {
      if (count != 0 && members == nullptr) {
        return false;
      }
      AdoptHostStructure(target, members, static_cast<uint32_t>(count));
    }
    HostValue unused{};
    std::size_t index = 0;
    for (const auto& [key, member] : property.Members()) {
      if (index == count) {
        return false;
      }
      std::size_t length = 0;
      char* const keyCopy = PlaceText(std::string_view(key), length);
      HostValue* value = &unused;
      if (Writing()) {
        HostValueMember& slot = members[index];
        slot.key = keyCopy;
        slot.ownsKey = 1;
        if (keyCopy == nullptr) {
          return false;
        }
        value = &slot.value;
      }
      if (!Write(member, *value, depth)) {
        return false;
      }
      ++index;
    }
    return true;
  }

  Mode mode_;
  const BindingRegistry* registry_;
  std::byte* block_;
  std::size_t size_ = 0;
};

// The block a packed value owns: its root's text, bytes or array, which the writer placed first.
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
  HostValueWriter writer(HostValueWriter::Mode::Separate, registry);
  if (!writer.Write(property, target)) {
    ReleaseHostValue(target);
    return false;
  }
  return true;
}

bool MeasurePackedHostValue(const BindingProperty& property, const BindingRegistry* registry,
                            std::size_t& bytes) {
  HostValueWriter measure(HostValueWriter::Mode::Measure, registry);
  HostValue unused{};
  if (!measure.Write(property, unused)) {
    return false;
  }
  bytes = measure.Size();
  return true;
}

void BuildPackedHostValue(const BindingProperty& property, const BindingRegistry* registry,
                          std::byte* block, HostValue& target) {
  ZeroHostValue(target);
  HostValueWriter packed(HostValueWriter::Mode::Packed, registry, block);
  static_cast<void>(packed.Write(property, target));  // measured, so it fits and succeeds
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
