#include "bridge/api_description.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace Vexa {

// Everything one Build makes. The inner vectors are only ever moved, never copied or resized
// after their records were pointed at, so every pointer into them stays valid.
struct BindingApiDescription::Arrays {
  std::vector<HostFunctionRecord> functions;
  std::vector<HostTypeRecord> types;
  std::vector<HostEventDescription> events;
  std::vector<std::vector<HostArgumentRecord>> arguments;  // one array per function
  std::vector<std::vector<HostFieldRecord>> fields;        // one array per record type
  std::vector<std::vector<HostEnumeratorRecord>> enumerators;
  std::vector<std::vector<const char*>> tags;  // one pointer array per tagged descriptor
  HostApiDescription description{};

  void AddFunction(const BindingFunctionDescriptor& function);
  void AddType(const BindingTypeDescriptor& type);
  void AddEvent(const BindingEventDescriptor& event);
  // Keeps a pointer array over `texts` and returns it; null for an empty list.
  const char* const* KeepTags(const std::vector<std::string>& texts);
  // Links the three record arrays and fills the description; runs once, after every record
  // was added, because linking takes the records' final addresses.
  void Finish();
};

namespace {

uint32_t KindNumber(BindingTypeKind kind) {
  return static_cast<uint32_t>(kind);
}

// Only kinds that refer to a registered type are named; the descriptor of a vector or map is
// that of its element.
const char* TypeName(const BindingTypeIdentifier& type) {
  switch (type.kind) {
    case BindingTypeKind::Vector:
    case BindingTypeKind::Enum:
    case BindingTypeKind::Struct:
    case BindingTypeKind::Map:
      return type.descriptor != nullptr ? HostText(type.descriptor->name) : kHostEmptyText;
    default:
      return kHostEmptyText;
  }
}

template <typename Record>
const Record* FirstOf(const std::vector<Record>& records) {
  return records.empty() ? nullptr : records.data();
}

template <typename Record>
uint32_t CountOf(const std::vector<Record>& records) {
  return static_cast<uint32_t>(records.size());
}

HostArgumentRecord ArgumentRecord(const BindingArgumentDescriptor& argument) {
  const BindingTypeIdentifier& type = argument.DescribedType();
  HostArgumentRecord record{};
  record.name = HostText(argument.name);
  record.description = HostText(argument.description);
  record.kind = KindNumber(type.kind);
  record.elementKind = KindNumber(type.elementKind);
  record.typeName = TypeName(type);
  record.optional = argument.optional ? 1 : 0;
  return record;
}

HostFieldRecord FieldRecord(const BindingFieldDescriptor& field) {
  const BindingTypeIdentifier& type = field.DescribedType();
  HostFieldRecord record{};
  record.name = HostText(field.name);
  record.description = HostText(field.description);
  record.offset = field.offset;
  record.kind = KindNumber(type.kind);
  record.elementKind = KindNumber(type.elementKind);
  record.typeName = TypeName(type);
  record.optional = field.optional ? 1 : 0;
  return record;
}

HostEnumeratorRecord EnumeratorRecord(const std::string& name, const BindingEnumValue& value) {
  HostEnumeratorRecord record{};
  record.name = HostText(name);
  record.description = HostText(value.description);
  record.value = value.value;
  return record;
}

}  // namespace

std::vector<const char*> HostTextArray(const std::vector<std::string>& texts) {
  std::vector<const char*> pointers;
  pointers.reserve(texts.size());
  for (const std::string& text : texts) {
    pointers.push_back(HostText(text));
  }
  return pointers;
}

const char* const* BindingApiDescription::Arrays::KeepTags(const std::vector<std::string>& texts) {
  if (texts.empty()) {
    return nullptr;
  }
  tags.push_back(HostTextArray(texts));
  return tags.back().data();
}

void BindingApiDescription::Arrays::AddFunction(const BindingFunctionDescriptor& function) {
  std::vector<HostArgumentRecord> records;
  records.reserve(function.arguments.size());
  for (const BindingArgumentDescriptor& argument : function.arguments) {
    records.push_back(ArgumentRecord(argument));
  }
  LinkHostRecords(records);

  const BindingTypeIdentifier& returned = function.DescribedReturnType();
  HostFunctionRecord record{};
  record.name = HostText(function.name);
  record.nameSpace = HostText(function.nameSpace);
  record.arguments = FirstOf(records);
  record.argumentCount = CountOf(records);
  record.returnKind = KindNumber(returned.kind);
  record.returnElementKind = KindNumber(returned.elementKind);
  record.returnTypeName = TypeName(returned);
  record.description = HostText(function.description);
  record.help = HostText(function.help);
  record.threadSafe = function.threadSafe ? 1 : 0;
  // The async type is what the call eventually delivers: the native return type, whatever
  // type the result is exposed as.
  const BindingTypeDescriptor* delivered = function.returnType.descriptor;
  record.asyncTypeName =
      function.isAsync && delivered != nullptr ? HostText(delivered->name) : kHostEmptyText;
  record.tags = KeepTags(function.tags);
  record.tagCount = static_cast<uint32_t>(function.tags.size());
  arguments.push_back(std::move(records));
  functions.push_back(record);
}

void BindingApiDescription::Arrays::AddType(const BindingTypeDescriptor& type) {
  HostTypeRecord record{};
  record.name = HostText(type.name);
  record.nameSpace = HostText(type.nameSpace);
  record.nativeSize = type.size;
  record.description = HostText(type.description);
  record.tags = KeepTags(type.tags);
  record.tagCount = static_cast<uint32_t>(type.tags.size());
  if (!type.fields.empty()) {
    std::vector<HostFieldRecord> records;
    records.reserve(type.fields.size());
    for (const BindingFieldDescriptor& field : type.fields) {
      records.push_back(FieldRecord(field));
    }
    LinkHostRecords(records);
    record.fields = records.data();
    record.count = CountOf(records);
    fields.push_back(std::move(records));
  } else {
    // The map iterates in name order, which is the order the enumerators are listed in.
    std::vector<HostEnumeratorRecord> records;
    records.reserve(type.enumerators.size());
    for (const auto& [name, value] : type.enumerators) {
      records.push_back(EnumeratorRecord(name, value));
    }
    LinkHostRecords(records);
    record.enumerators = FirstOf(records);
    record.count = CountOf(records);
    enumerators.push_back(std::move(records));
  }
  types.push_back(record);
}

void BindingApiDescription::Arrays::AddEvent(const BindingEventDescriptor& event) {
  HostEventDescription record{};
  record.name = HostText(event.name);
  record.nameSpace = HostText(event.nameSpace);
  record.dataTypeName = event.dataType != nullptr ? HostText(event.dataType->name) : kHostEmptyText;
  record.description = HostText(event.description);
  record.tags = KeepTags(event.tags);
  record.tagCount = static_cast<uint32_t>(event.tags.size());
  events.push_back(record);
}

void BindingApiDescription::Arrays::Finish() {
  LinkHostRecords(functions);
  LinkHostRecords(types);
  LinkHostRecords(events);
  description.functions = FirstOf(functions);
  description.functionCount = CountOf(functions);
  description.types = FirstOf(types);
  description.typeCount = CountOf(types);
  description.events = FirstOf(events);
  description.eventCount = CountOf(events);
}

BindingApiDescription::BindingApiDescription() = default;
BindingApiDescription::~BindingApiDescription() = default;
BindingApiDescription::BindingApiDescription(BindingApiDescription&&) noexcept = default;
BindingApiDescription& BindingApiDescription::operator=(BindingApiDescription&&) noexcept = default;

const HostApiDescription& BindingApiDescription::Build(const BindingFunctionMap& functions,
                                                       const BindingTypeMap& types,
                                                       const BindingEventMap& events) {
  // Built aside and swapped in, so that running out of memory leaves the old description.
  auto built = std::make_unique<Arrays>();
  built->functions.reserve(functions.size());
  built->arguments.reserve(functions.size());
  for (const auto& [name, function] : functions) {
    if (function != nullptr) {
      built->AddFunction(*function);
    }
  }
  built->types.reserve(types.size());
  for (const auto& [name, type] : types) {
    if (type != nullptr) {
      built->AddType(*type);
    }
  }
  built->events.reserve(events.size());
  for (const auto& [name, event] : events) {
    if (event != nullptr) {
      built->AddEvent(*event);
    }
  }
  built->Finish();
  arrays_ = std::move(built);
  return arrays_->description;
}

const HostApiDescription& BindingApiDescription::Build(const BindingRegistry& registry) {
  return Build(registry.FunctionsSnapshot(), registry.TypesSnapshot(), registry.EventsSnapshot());
}

const HostApiDescription& BindingApiDescription::Description() const noexcept {
  static constexpr HostApiDescription kNothing{};
  return arrays_ != nullptr ? arrays_->description : kNothing;
}

const HostFunctionRecord* BindingApiDescription::FindFunction(
    std::string_view name) const noexcept {
  if (arrays_ == nullptr) {
    return nullptr;
  }
  for (const HostFunctionRecord& record : arrays_->functions) {
    if (std::string_view(record.name) == name) {
      return &record;
    }
  }
  return nullptr;
}

}  // namespace Vexa
