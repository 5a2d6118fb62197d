// The builtin types and the "OnCallback" event of an initialised registry, checked against the
// table that clients of the API description rely on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/builtin_records.h"
#include "binding/builtin_types.h"
#include "binding/conversion/conversion.h"
#include "binding/field_registration.h"
#include "binding/registry.h"
#include "conversion_test_support.h"

namespace Vexa {
namespace {

using K = BindingTypeKind;

struct ExpectedField {
  const char* name;
  BindingTypeKind kind;
  BindingTypeKind elementKind;
  const char* typeName;  // the descriptor's name for enums, records and their containers
  const char* description;
};

struct ExpectedEnumerator {
  const char* name;
  int32_t value;
  const char* description;
};

struct ExpectedType {
  const char* name;
  const StaticTypeInfo* typeInfo;
  const char* description;
  std::vector<std::string> tags;
  std::vector<ExpectedField> fields;
  std::vector<ExpectedEnumerator> enumerators;  // in name order
};

const std::vector<std::string> kHelpTags = {"$builtin", "help"};
const std::vector<std::string> kAsyncTags = {"$builtin", "async"};
const std::vector<std::string> kBuiltinTags = {"$builtin"};

// Registration order, which is also the order in which nested types must exist.
std::vector<ExpectedType> ExpectedBuiltins() {
  return {
      {"BindingHelpFormat",
       &StaticTypeInfoOf<BindingHelpFormat>(),
       "Help format for binding functions and types.",
       kHelpTags,
       {},
       {{"Epytext", 2, "Python epytext format"}, {"Full", 1, "Native help format"}}},
      {"BindingFullTypeIdentifier",
       &StaticTypeInfoOf<BindingFullTypeIdentifier>(),
       "Describes the type of a value.",
       kHelpTags,
       {{"type", K::String, K::None, "", ""}, {"elementType", K::String, K::None, "", ""}},
       {}},
      {"BindingFullArgumentHelp",
       &StaticTypeInfoOf<BindingFullArgumentHelp>(),
       "Describes a function parameter.",
       kHelpTags,
       {{"name", K::String, K::None, "", ""},
        {"description", K::String, K::None, "", ""},
        {"type", K::Struct, K::None, "BindingFullTypeIdentifier", ""},
        {"optional", K::Bool, K::None, "", ""}},
       {}},
      {"BindingFullFunctionHelp",
       &StaticTypeInfoOf<BindingFullFunctionHelp>(),
       "Describes a function.",
       kHelpTags,
       {{"name", K::String, K::None, "", ""},
        {"nameSpace", K::String, K::None, "", ""},
        {"arguments", K::Vector, K::Struct, "BindingFullArgumentHelp", ""},
        {"returns", K::Struct, K::None, "BindingFullTypeIdentifier", ""},
        {"description", K::String, K::None, "", ""},
        {"help", K::String, K::None, "", ""},
        {"threadSafe", K::Bool, K::None, "", ""},
        {"async", K::String, K::None, "", ""},
        {"tags", K::Vector, K::String, "", ""}},
       {}},
      {"BindingFullEnumValueHelp",
       &StaticTypeInfoOf<BindingFullEnumValueHelp>(),
       "Describes an enumerator.",
       kHelpTags,
       {{"name", K::String, K::None, "", ""},
        {"description", K::String, K::None, "", ""},
        {"value", K::Int32, K::None, "", ""}},
       {}},
      {"BindingFullFieldHelp",
       &StaticTypeInfoOf<BindingFullFieldHelp>(),
       "Describes a member of a struct.",
       kHelpTags,
       {{"name", K::String, K::None, "", ""},
        {"description", K::String, K::None, "", ""},
        {"offset", K::UInt32, K::None, "", ""},
        {"type", K::Struct, K::None, "BindingFullTypeIdentifier", ""},
        {"optional", K::Bool, K::None, "", ""}},
       {}},
      {"BindingFullTypeHelp",
       &StaticTypeInfoOf<BindingFullTypeHelp>(),
       "Describes a struct or enum type.",
       kHelpTags,
       {{"name", K::String, K::None, "", ""},
        {"nameSpace", K::String, K::None, "", ""},
        {"size", K::UInt32, K::None, "", ""},
        {"description", K::String, K::None, "", ""},
        {"tags", K::Vector, K::String, "", ""},
        {"fields", K::Vector, K::Struct, "BindingFullFieldHelp", ""},
        {"values", K::Vector, K::Struct, "BindingFullEnumValueHelp", ""}},
       {}},
      {"BindingFullEventHelp",
       &StaticTypeInfoOf<BindingFullEventHelp>(),
       "Describes an event.",
       kHelpTags,
       {{"name", K::String, K::None, "", ""},
        {"nameSpace", K::String, K::None, "", ""},
        {"type", K::Struct, K::None, "BindingFullTypeIdentifier", ""},
        {"description", K::String, K::None, "", ""},
        {"tags", K::Vector, K::String, "", ""}},
       {}},
      {"BindingFullApiHelp",
       &StaticTypeInfoOf<BindingFullApiHelp>(),
       "Describes the exposed native API.",
       kHelpTags,
       {{"functions", K::Vector, K::Struct, "BindingFullFunctionHelp", ""},
        {"types", K::Vector, K::Struct, "BindingFullTypeHelp", ""},
        {"events", K::Vector, K::Struct, "BindingFullEventHelp", ""}},
       {}},
      {"BindingAsyncState",
       &StaticTypeInfoOf<BindingAsyncState>(),
       "Possible states of an asynchronous operation.",
       kAsyncTags,
       {},
       {{"Cancelled", 3, "The operation was cancelled"},
        {"Cancelling", 2, "A request to cancel the operation has been made"},
        {"Failed", 5, "The operation encountered an error"},
        {"None", 0, "Invalid state"},
        {"Running", 1, "The operation is in flight"},
        {"Succeeded", 4, "The operation completed successfully"}}},
      {"BindingGenericEvent",
       &StaticTypeInfoOf<BindingGenericEvent>(),
       "Represents generic data for an event.",
       kBuiltinTags,
       {{"data", K::Object, K::None, "", "Event data"}},
       {}},
      {"BindingCallbackEvent",
       &StaticTypeInfoOf<BindingCallbackEvent>(),
       "Represents the parameters of a call to a provided callback.",
       kBuiltinTags,
       {{"id", K::UInt32, K::None, "", "ID of the callback being invoked"},
        {"parameters", K::Vector, K::Object, "", "Callback parameters"}},
       {}},
      {"BindingGenericAsyncEvent",
       &StaticTypeInfoOf<BindingGenericAsyncEvent>(),
       "Represents generic data for an asynchronous event.",
       kAsyncTags,
       {{"asyncToken", K::UInt32, K::None, "", "Asynchronous operation token"},
        {"data", K::Object, K::None, "", "Event data"}},
       {}},
      {"BindingAsyncFailureEvent",
       &StaticTypeInfoOf<BindingAsyncFailureEvent>(),
       "Represents a failed asynchronous operation.",
       kAsyncTags,
       {{"asyncToken", K::UInt32, K::None, "", "Asynchronous operation token"},
        {"error", K::String, K::None, "", "Error message"}},
       {}},
      {"BindingAsyncCancelEvent",
       &StaticTypeInfoOf<BindingAsyncCancelEvent>(),
       "Represents a cancelled asynchronous operation.",
       kAsyncTags,
       {{"asyncToken", K::UInt32, K::None, "", "Asynchronous operation token"}},
       {}},
  };
}

class BuiltinTypesTest : public ::testing::Test {
 protected:
  BuiltinTypesTest() { registry_.Initialize(); }
  BindingRegistry registry_;
};

TEST_F(BuiltinTypesTest, AFreshRegistryHoldsExactlyTheBuiltins) {
  const std::vector<ExpectedType> expected = ExpectedBuiltins();
  EXPECT_EQ(registry_.TypesSnapshot().size(), expected.size());
  for (const ExpectedType& type : expected) {
    SCOPED_TRACE(type.name);
    const BindingTypeDescriptor* descriptor = registry_.FindType(type.name);
    ASSERT_NE(descriptor, nullptr);
    EXPECT_EQ(registry_.FindType(*type.typeInfo), descriptor);
    EXPECT_EQ(descriptor->isEnum, !type.enumerators.empty());
    if (descriptor->isEnum) {
      EXPECT_EQ(descriptor->size, 4u);
    }
    EXPECT_EQ(descriptor->description, type.description);
    EXPECT_EQ(descriptor->tags, type.tags);
    ASSERT_EQ(descriptor->fields.size(), type.fields.size());
    for (std::size_t index = 0; index < type.fields.size(); ++index) {
      const ExpectedField& want = type.fields[index];
      const BindingFieldDescriptor& field = descriptor->fields[index];
      SCOPED_TRACE(want.name);
      EXPECT_EQ(field.name, want.name);
      EXPECT_EQ(field.type.kind, want.kind);
      EXPECT_EQ(field.type.elementKind, want.elementKind);
      EXPECT_EQ(field.description, want.description);
      EXPECT_EQ(field.flags, 0u);
      // A nested type registered out of order would have been looked up before it existed.
      const std::string nested = field.type.descriptor ? field.type.descriptor->name : "";
      EXPECT_EQ(nested, want.typeName);
    }
    ASSERT_EQ(descriptor->enumerators.size(), type.enumerators.size());
    auto enumerator = descriptor->enumerators.begin();
    for (const ExpectedEnumerator& want : type.enumerators) {
      EXPECT_EQ(enumerator->second.name, want.name);
      EXPECT_EQ(enumerator->second.value, want.value);
      EXPECT_EQ(enumerator->second.description, want.description);
      ++enumerator;
    }
  }
}

TEST_F(BuiltinTypesTest, OnCallbackCarriesTheCallbackEvent) {
  const BindingEventDescriptor* event = registry_.FindEvent("OnCallback");
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(event->dataType, registry_.FindType("BindingCallbackEvent"));
  EXPECT_EQ(event->description, "Fired when a callback is invoked.");
  EXPECT_EQ(event->tags, kBuiltinTags);
  EXPECT_EQ(registry_.EventsSnapshot().size(), 1u);
}

TEST_F(BuiltinTypesTest, RegisteringABuiltinNameAgainKeepsTheBuiltin) {
  const BindingTypeDescriptor* builtin = registry_.FindType("BindingGenericEvent");
  auto again = RegisterRecord<BindingAsyncCancelEvent>(registry_, "BindingGenericEvent");
  again.Field("asyncToken", &BindingAsyncCancelEvent::asyncToken).SetDescription("other");
  EXPECT_TRUE(again.Existed());
  EXPECT_EQ(registry_.FindType("BindingGenericEvent"), builtin);
  ASSERT_EQ(builtin->fields.size(), 1u);
  EXPECT_EQ(builtin->fields[0].name, "data");
  EXPECT_EQ(builtin->description, "Represents generic data for an event.");
}

TEST_F(BuiltinTypesTest, AsyncStatesRunFromNoneToFailed) {
  const BindingTypeDescriptor* state = registry_.FindType(StaticTypeInfoOf<BindingAsyncState>());
  ASSERT_NE(state, nullptr);
  const char* const names[] = {"None", "Running", "Cancelling", "Cancelled", "Succeeded", "Failed"};
  for (int32_t value = 0; value <= 5; ++value) {
    EXPECT_STREQ(state->EnumeratorName(value), names[value]);
  }
  EXPECT_EQ(Testing::ConvertInto(BindingAsyncState::None, "Failed", registry_).native,
            BindingAsyncState::Failed);
}

TEST_F(BuiltinTypesTest, CallbackEventsConvertFromTheirPayload) {
  const BindingProperty payload = Testing::Structure(
      {{"id", 7}, {"parameters", Testing::Collection({1, "two", Testing::Empty()})}});
  const auto event = Testing::ConvertInto(BindingCallbackEvent{}, payload, registry_, "<payload>");
  ASSERT_TRUE(event.ok) << event.error;
  EXPECT_EQ(event.native.id, 7u);
  EXPECT_EQ(event.native.parameters, (std::vector<BindingProperty>{1, "two", Testing::Empty()}));
  // The id comes back as what a uint32 field produces: an unsigned value.
  const BindingProperty expected = Testing::Structure(
      {{"id", 7u}, {"parameters", Testing::Collection({1, "two", Testing::Empty()})}});
  EXPECT_EQ(Testing::ValueOf(event.native, registry_).value, expected);
}

}  // namespace
}  // namespace Vexa
