// Registration of the builtin types, in the order the host's API description lists them: the
// help format enum and the help records (each after the records it contains), then the async
// state enum and the generic event records.
#include "binding/builtin_types.h"

#include "binding/builtin_records.h"
#include "binding/field_registration.h"
#include "binding/registry.h"

namespace Vexa {
namespace {

constexpr std::string_view kHelpTag = "help";
constexpr std::string_view kAsyncTag = "async";
constexpr std::string_view kAsyncTokenDescription = "Asynchronous operation token";
constexpr std::string_view kEventDataDescription = "Event data";

void RegisterHelpFormat(BindingRegistry& registry) {
  RegisterEnum<BindingHelpFormat>(registry, "BindingHelpFormat")
      .AddTags({kBuiltinTag, kHelpTag})
      .Value("Full", BindingHelpFormat::Full, "Native help format")
      .Value("Epytext", BindingHelpFormat::Epytext, "Python epytext format")
      .SetDescription("Help format for binding functions and types.");
}

// Help records describe themselves without field descriptions.
template <typename Record>
BindingRecordBuilder<Record> RegisterHelpRecord(BindingRegistry& registry, std::string_view name) {
  auto builder = RegisterRecord<Record>(registry, name);
  builder.AddTags({kBuiltinTag, kHelpTag});
  return builder;
}

void RegisterHelpRecords(BindingRegistry& registry) {
  using TypeId = BindingFullTypeIdentifier;
  RegisterHelpRecord<TypeId>(registry, "BindingFullTypeIdentifier")
      .Field("type", &TypeId::type)
      .Field("elementType", &TypeId::elementType)
      .SetDescription("Describes the type of a value.");

  using Argument = BindingFullArgumentHelp;
  RegisterHelpRecord<Argument>(registry, "BindingFullArgumentHelp")
      .Field("name", &Argument::name)
      .Field("description", &Argument::description)
      .Field("type", &Argument::type)
      .Field("optional", &Argument::optional)
      .SetDescription("Describes a function parameter.");

  using Function = BindingFullFunctionHelp;
  RegisterHelpRecord<Function>(registry, "BindingFullFunctionHelp")
      .Field("name", &Function::name)
      .Field("nameSpace", &Function::nameSpace)
      .Field("arguments", &Function::arguments)
      .Field("returns", &Function::returns)
      .Field("description", &Function::description)
      .Field("help", &Function::help)
      .Field("threadSafe", &Function::threadSafe)
      .Field("async", &Function::async)
      .Field("tags", &Function::tags)
      .SetDescription("Describes a function.");

  using EnumValue = BindingFullEnumValueHelp;
  RegisterHelpRecord<EnumValue>(registry, "BindingFullEnumValueHelp")
      .Field("name", &EnumValue::name)
      .Field("description", &EnumValue::description)
      .Field("value", &EnumValue::value)
      .SetDescription("Describes an enumerator.");

  using FieldHelp = BindingFullFieldHelp;
  RegisterHelpRecord<FieldHelp>(registry, "BindingFullFieldHelp")
      .Field("name", &FieldHelp::name)
      .Field("description", &FieldHelp::description)
      .Field("offset", &FieldHelp::offset)
      .Field("type", &FieldHelp::type)
      .Field("optional", &FieldHelp::optional)
      .SetDescription("Describes a member of a struct.");

  using TypeHelp = BindingFullTypeHelp;
  RegisterHelpRecord<TypeHelp>(registry, "BindingFullTypeHelp")
      .Field("name", &TypeHelp::name)
      .Field("nameSpace", &TypeHelp::nameSpace)
      .Field("size", &TypeHelp::size)
      .Field("description", &TypeHelp::description)
      .Field("tags", &TypeHelp::tags)
      .Field("fields", &TypeHelp::fields)
      .Field("values", &TypeHelp::values)
      .SetDescription("Describes a struct or enum type.");

  using EventHelp = BindingFullEventHelp;
  RegisterHelpRecord<EventHelp>(registry, "BindingFullEventHelp")
      .Field("name", &EventHelp::name)
      .Field("nameSpace", &EventHelp::nameSpace)
      .Field("type", &EventHelp::type)
      .Field("description", &EventHelp::description)
      .Field("tags", &EventHelp::tags)
      .SetDescription("Describes an event.");

  using Api = BindingFullApiHelp;
  RegisterHelpRecord<Api>(registry, "BindingFullApiHelp")
      .Field("functions", &Api::functions)
      .Field("types", &Api::types)
      .Field("events", &Api::events)
      .SetDescription("Describes the exposed native API.");
}

void RegisterAsyncState(BindingRegistry& registry) {
  using State = BindingAsyncState;
  RegisterEnum<State>(registry, "BindingAsyncState")
      .AddTags({kBuiltinTag, kAsyncTag})
      .Value("None", State::None, "Invalid state")
      .Value("Running", State::Running, "The operation is in flight")
      .Value("Cancelling", State::Cancelling, "A request to cancel the operation has been made")
      .Value("Cancelled", State::Cancelled, "The operation was cancelled")
      .Value("Succeeded", State::Succeeded, "The operation completed successfully")
      .Value("Failed", State::Failed, "The operation encountered an error")
      .SetDescription("Possible states of an asynchronous operation.");
}

void RegisterEventRecords(BindingRegistry& registry) {
  RegisterRecord<BindingGenericEvent>(registry, "BindingGenericEvent")
      .AddTag(kBuiltinTag)
      .Field("data", &BindingGenericEvent::data, kEventDataDescription)
      .SetDescription("Represents generic data for an event.");

  RegisterRecord<BindingCallbackEvent>(registry, "BindingCallbackEvent")
      .AddTag(kBuiltinTag)
      .Field("id", &BindingCallbackEvent::id, "ID of the callback being invoked")
      .Field("parameters", &BindingCallbackEvent::parameters, "Callback parameters")
      .SetDescription("Represents the parameters of a call to a provided callback.");

  RegisterRecord<BindingGenericAsyncEvent>(registry, "BindingGenericAsyncEvent")
      .AddTags({kBuiltinTag, kAsyncTag})
      .Field("asyncToken", &BindingGenericAsyncEvent::asyncToken, kAsyncTokenDescription)
      .Field("data", &BindingGenericAsyncEvent::data, kEventDataDescription)
      .SetDescription("Represents generic data for an asynchronous event.");

  RegisterRecord<BindingAsyncFailureEvent>(registry, "BindingAsyncFailureEvent")
      .AddTags({kBuiltinTag, kAsyncTag})
      .Field("asyncToken", &BindingAsyncFailureEvent::asyncToken, kAsyncTokenDescription)
      .Field("error", &BindingAsyncFailureEvent::error, "Error message")
      .SetDescription("Represents a failed asynchronous operation.");

  RegisterRecord<BindingAsyncCancelEvent>(registry, "BindingAsyncCancelEvent")
      .AddTags({kBuiltinTag, kAsyncTag})
      .Field("asyncToken", &BindingAsyncCancelEvent::asyncToken, kAsyncTokenDescription)
      .SetDescription("Represents a cancelled asynchronous operation.");
}

}  // namespace

void RegisterBuiltinTypes(BindingRegistry& registry) {
  RegisterHelpFormat(registry);
  RegisterHelpRecords(registry);
  RegisterAsyncState(registry);
  RegisterEventRecords(registry);
}

}  // namespace Vexa
