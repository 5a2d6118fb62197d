#include "binding/registry.h"

#include <cstring>
#include <utility>

namespace Vexa {
namespace {

// Every map starts with 8 buckets and rehashes once it holds more entries than buckets.
constexpr std::size_t kInitialBuckets = 8;

template <typename Map>
void ResetMap(Map& map) {
  map.clear();
  map.max_load_factor(1.0f);
  map.rehash(kInitialBuckets);
}

constexpr uint32_t kVoidHashCode = StaticType::HashCode<void>();

// The same native type, or two types whose texts happen to share a hash code.
bool IsSameType(const StaticTypeInfo& left, const StaticTypeInfo& right) {
  return &left == &right ||
         (left.hashCode == right.hashCode && std::strcmp(left.name, right.name) == 0);
}

}  // namespace

std::size_t BindingHashCodeHash::operator()(uint32_t hashCode) const noexcept {
  const char bytes[4] = {
      static_cast<char>(hashCode & 0xFFu), static_cast<char>((hashCode >> 8) & 0xFFu),
      static_cast<char>((hashCode >> 16) & 0xFFu), static_cast<char>((hashCode >> 24) & 0xFFu)};
  return Fnv1aHash(std::string_view(bytes, sizeof bytes));
}

BindingRegistry::BindingRegistry() {
  ResetMap(functions_);
  ResetMap(events_);
  ResetMap(types_);
  ResetMap(typesByHash_);
}

BindingRegistry::~BindingRegistry() = default;

bool BindingRegistry::IsInitialized() const {
  std::lock_guard lock(mutex_);
  return initialized_;
}

void BindingRegistry::Clear() {
  // Declared before the lock, so destroyed after it is released: converter and implementation
  // destructors are code from outside the registry.
  BindingNameMap<std::unique_ptr<BindingEventDescriptor>> events;
  BindingNameMap<std::unique_ptr<BindingTypeDescriptor>> types;
  std::unordered_map<const BindingFunctionDescriptor*, std::unique_ptr<BindingFunctionDescriptor>>
      functions;
  std::lock_guard lock(mutex_);
  events.swap(events_);
  types.swap(types_);
  functions.swap(ownedFunctions_);
  ResetMap(functions_);
  ResetMap(events_);
  ResetMap(types_);
  ResetMap(typesByHash_);
  ++generation_;
  initialized_ = false;
}

void BindingRegistry::MarkInitialized() {
  std::lock_guard lock(mutex_);
  initialized_ = true;
}

// --- Types ---

BindingTypeBuilder BindingRegistry::RegisterType(std::string_view name, uint32_t size,
                                                 const StaticTypeInfo& typeInfo, bool isEnum) {
  std::lock_guard lock(mutex_);
  if (const auto found = types_.find(name); found != types_.end()) {
    return BindingTypeBuilder(*this, *found->second, true);
  }
  auto descriptor = std::make_unique<BindingTypeDescriptor>();
  descriptor->size = size;
  descriptor->isEnum = isEnum;
  descriptor->name = name;
  descriptor->hashCode = typeInfo.hashCode;
  descriptor->typeInfo = &typeInfo;
  descriptor->registry = this;
  BindingTypeDescriptor& registered = *descriptor;
  types_.emplace(std::string(name), std::move(descriptor));
  if (typeInfo.hashCode != kVoidHashCode) {
    // A second name for the same native type keeps the first one's entry.
    typesByHash_.emplace(typeInfo.hashCode, &registered);
  }
  return BindingTypeBuilder(*this, registered, false);
}

const BindingTypeDescriptor* BindingRegistry::FindType(std::string_view name) const {
  std::lock_guard lock(mutex_);
  const auto found = types_.find(name);
  return found == types_.end() ? nullptr : found->second.get();
}

const BindingTypeDescriptor* BindingRegistry::FindType(const StaticTypeInfo& typeInfo) const {
  std::lock_guard lock(mutex_);
  const auto found = typesByHash_.find(typeInfo.hashCode);
  if (found == typesByHash_.end() || !IsSameType(*found->second->typeInfo, typeInfo)) {
    return nullptr;
  }
  return found->second;
}

BindingTypeMap BindingRegistry::TypesSnapshot() const {
  std::lock_guard lock(mutex_);
  BindingTypeMap snapshot;
  snapshot.reserve(types_.size());
  for (const auto& [name, descriptor] : types_) {
    snapshot.emplace(name, descriptor.get());
  }
  return snapshot;
}

const char* BindingRegistry::EnumeratorName(const StaticTypeInfo& enumType, int32_t value) const {
  const BindingTypeDescriptor* type = FindType(enumType);
  return type == nullptr ? nullptr : type->EnumeratorName(value);
}

bool BindingRegistry::IsEnumeratorValue(const BindingTypeDescriptor& type, int32_t value) {
  return type.HasEnumeratorValue(value);
}

const char* BindingRegistry::TypeName(BindingTypeKind kind) {
  return BindingTypeKindName(kind);
}

// --- Events ---

BindingEventBuilder BindingRegistry::RegisterEvent(std::string_view name,
                                                   const BindingTypeDescriptor* dataType) {
  std::lock_guard lock(mutex_);
  if (const auto found = events_.find(name); found != events_.end()) {
    return BindingEventBuilder(*found->second, true);
  }
  auto descriptor = std::make_unique<BindingEventDescriptor>();
  descriptor->name = name;
  descriptor->dataType = dataType;
  BindingEventDescriptor& registered = *descriptor;
  events_.emplace(std::string(name), std::move(descriptor));
  return BindingEventBuilder(registered, false);
}

const BindingEventDescriptor* BindingRegistry::FindEvent(std::string_view name) const {
  std::lock_guard lock(mutex_);
  const auto found = events_.find(name);
  return found == events_.end() ? nullptr : found->second.get();
}

bool BindingRegistry::RemoveEvent(std::string_view name) {
  std::unique_ptr<BindingEventDescriptor> removed;
  std::lock_guard lock(mutex_);
  const auto found = events_.find(name);
  if (found == events_.end()) {
    return false;
  }
  removed = std::move(found->second);
  events_.erase(found);
  return true;
}

BindingEventMap BindingRegistry::EventsSnapshot() const {
  std::lock_guard lock(mutex_);
  BindingEventMap snapshot;
  snapshot.reserve(events_.size());
  for (const auto& [name, descriptor] : events_) {
    snapshot.emplace(name, descriptor.get());
  }
  return snapshot;
}

// --- Functions ---

BindingFunctionDescriptor& BindingRegistry::RegisterFunction(std::string_view name,
                                                             std::size_t argumentCount,
                                                             bool detached) {
  auto descriptor = std::make_unique<BindingFunctionDescriptor>();
  descriptor->name = name;
  descriptor->arguments.resize(argumentCount);
  for (BindingArgumentDescriptor& argument : descriptor->arguments) {
    argument.owner = descriptor.get();
  }
  descriptor->registry = this;
  BindingFunctionDescriptor& registered = *descriptor;

  std::lock_guard lock(mutex_);
  ownedFunctions_.emplace(&registered, std::move(descriptor));
  if (!detached) {
    functions_.emplace(std::string(name), &registered);
    ++generation_;
  }
  return registered;
}

void BindingRegistry::SetArgument(BindingFunctionDescriptor& function, std::size_t index,
                                  const BindingTypeIdentifier& type, bool optional) {
  if (index >= function.arguments.size()) {
    function.arguments.resize(index + 1);
  }
  BindingArgumentDescriptor& argument = function.arguments[index];
  argument.type = type;
  argument.optional = optional;
  argument.owner = &function;
}

std::size_t BindingRegistry::AddArgument(BindingFunctionDescriptor& function, std::string_view name,
                                         std::string_view description,
                                         const BindingTypeIdentifier& exposedType) {
  const std::size_t index = function.namedArguments++;
  if (index >= function.arguments.size()) {
    function.arguments.resize(index + 1);
  }
  BindingArgumentDescriptor& argument = function.arguments[index];
  argument.name = name;
  argument.nameHash = Fnv1aHash(name);
  argument.description = description;
  if (exposedType.IsSet()) {
    argument.exposedType = exposedType;
  }
  argument.owner = &function;
  return index;
}

bool BindingRegistry::RemoveFunction(const BindingFunctionDescriptor* function) {
  std::unique_ptr<BindingFunctionDescriptor> removed;  // destroyed after the lock is released
  std::lock_guard lock(mutex_);
  const auto owned = ownedFunctions_.find(function);
  if (owned == ownedFunctions_.end()) {
    return false;
  }
  removed = std::move(owned->second);
  ownedFunctions_.erase(owned);
  // Only the name's own entry goes: a shadowed duplicate leaves the first function in place.
  if (const auto named = functions_.find(removed->name);
      named != functions_.end() && named->second == function) {
    functions_.erase(named);
  }
  ++generation_;
  return true;
}

BindingFunctionDescriptor* BindingRegistry::FindFunction(std::string_view name) const {
  std::lock_guard lock(mutex_);
  const auto found = functions_.find(name);
  return found == functions_.end() ? nullptr : found->second;
}

BindingFunctionMap BindingRegistry::FunctionsSnapshot() const {
  std::lock_guard lock(mutex_);
  return functions_;
}

uint32_t BindingRegistry::Generation() const {
  std::lock_guard lock(mutex_);
  return generation_;
}

// --- Builders ---

BindingTypeBuilder& BindingTypeBuilder::AddField(std::string_view name, BindingNativeField native,
                                                 const BindingFieldOptions& options) {
  if (existed_) {
    return *this;
  }
  BindingFieldDescriptor& field = descriptor_->fields.emplace_back();
  field.name = name;
  field.nameHash = Fnv1aHash(name);
  field.description = options.description;
  field.typeInfo = &native.typeInfo;
  field.offset = native.offset;
  field.type = native.type;
  if (options.exposedType.IsSet()) {
    field.exposedType = options.exposedType;
  }
  field.flags = options.flags;
  field.converter = std::move(native.converter);
  field.optional = native.optional;
  lastFieldOffset_ = native.offset;
  return *this;
}

BindingTypeBuilder& BindingTypeBuilder::AddEnumerator(std::string_view name, int32_t value,
                                                      std::string_view description) {
  if (existed_) {
    return *this;
  }
  auto found = descriptor_->enumerators.find(name);
  if (found == descriptor_->enumerators.end()) {
    found = descriptor_->enumerators.emplace(std::string(name), BindingEnumValue{}).first;
  }
  BindingEnumValue& enumerator = found->second;
  enumerator.value = value;
  enumerator.name = name;
  enumerator.description = description;
  enumerator.owner = descriptor_;
  return *this;
}

BindingTypeBuilder& BindingTypeBuilder::AddTags(std::initializer_list<std::string_view> tags) {
  if (!existed_) {
    descriptor_->tags.insert(descriptor_->tags.end(), tags.begin(), tags.end());
  }
  return *this;
}

BindingTypeBuilder& BindingTypeBuilder::AddTags(std::span<const std::string> tags) {
  if (!existed_) {
    descriptor_->tags.insert(descriptor_->tags.end(), tags.begin(), tags.end());
  }
  return *this;
}

BindingTypeBuilder& BindingTypeBuilder::AddTag(std::string_view tag) {
  if (!existed_ && !tag.empty()) {
    descriptor_->tags.emplace_back(tag);
  }
  return *this;
}

BindingTypeBuilder& BindingTypeBuilder::SetDescription(std::string_view description) {
  if (!existed_) {
    descriptor_->description = description;
  }
  return *this;
}

BindingTypeBuilder& BindingTypeBuilder::SetNameSpace(std::string_view nameSpace) {
  if (!existed_) {
    descriptor_->nameSpace = nameSpace;
  }
  return *this;
}

BindingEventBuilder& BindingEventBuilder::AddTags(std::initializer_list<std::string_view> tags) {
  if (!existed_) {
    descriptor_->tags.insert(descriptor_->tags.end(), tags.begin(), tags.end());
  }
  return *this;
}

BindingEventBuilder& BindingEventBuilder::AddTag(std::string_view tag) {
  if (!existed_ && !tag.empty()) {
    descriptor_->tags.emplace_back(tag);
  }
  return *this;
}

BindingEventBuilder& BindingEventBuilder::SetDescription(std::string_view description) {
  if (!existed_) {
    descriptor_->description = description;
  }
  return *this;
}

BindingEventBuilder& BindingEventBuilder::SetNameSpace(std::string_view nameSpace) {
  if (!existed_) {
    descriptor_->nameSpace = nameSpace;
  }
  return *this;
}

}  // namespace Vexa
