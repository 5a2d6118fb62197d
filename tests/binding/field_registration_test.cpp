// Typed registration: what a member pointer makes of a field descriptor, and how the walk uses
// the converters it installs (and foreign ones).
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/conversion/conversion.h"
#include "binding/field_registration.h"
#include "binding/registry.h"
#include "conversion_test_support.h"

namespace Vexa {
namespace {

using Testing::Collection;
using Testing::ConvertInto;
using Testing::Structure;
using Testing::ValueOf;

// The deduction works from sizes, so the platform's long lands where its width says.
static_assert(kBindingKindOf<long> ==
              (sizeof(long) == 8 ? BindingTypeKind::Int64 : BindingTypeKind::Int32));
static_assert(kBindingKindOf<unsigned char> == BindingTypeKind::UInt8);
static_assert(kBindingKindOf<std::vector<uint8_t>> == BindingTypeKind::Blob);
static_assert(kBindingKindOf<std::vector<int8_t>> == BindingTypeKind::Vector);
static_assert(kBindingKindOf<std::vector<BindingBlob>> == BindingTypeKind::Vector);
static_assert(kIsBindable<std::optional<std::vector<std::string>>>);
static_assert(!kIsBindable<std::vector<std::vector<int>>>, "containers do not nest");
static_assert(!kIsBindable<std::unordered_map<std::string, std::vector<int>>>);
static_assert(!kIsBindable<std::vector<std::optional<int>>>);
static_assert(!kIsBindable<std::optional<std::optional<int>>>);
static_assert(!kIsBindable<std::unordered_map<int, int>>);
static_assert(!kIsBindable<std::map<std::string, int>>);
static_assert(!kIsBindable<int*>);
static_assert(!kIsBindable<std::string_view>);

enum class Mode : uint16_t { Off = 0, On = 1 };
VEXA_STATIC_TYPE(Mode, "enum Vexa::Mode");

struct Inner {
  int32_t value = 0;
};
VEXA_STATIC_TYPE(Inner, "struct Vexa::Inner");

struct Layout {
  bool flag = false;
  int8_t i8 = 0;
  uint16_t u16 = 0;
  uint32_t u32 = 0;
  int64_t i64 = 0;
  float f = 0;
  double d = 0;
  std::string s;
  BindingProperty object;
  BindingBlob blob;
  std::vector<std::string> strings;
  std::vector<Mode> modes;
  Mode mode = Mode::Off;
  Inner inner;
  BindingCallback callback;
  std::unordered_map<std::string, Inner> inners;
  std::optional<double> maybe;
  std::optional<std::vector<Inner>> maybeList;
};
VEXA_STATIC_TYPE(Layout, "struct Vexa::Layout");

struct Base {
  int32_t inherited = 0;
};
struct Derived : Base {
  int32_t own = 0;
};
VEXA_STATIC_TYPE(Derived, "struct Vexa::Derived");

class FieldRegistrationTest : public ::testing::Test {
 protected:
  FieldRegistrationTest() {
    RegisterEnum<Mode>(registry_, "Mode")
        .AddTag("test")
        .Value("Off", Mode::Off, "Nothing runs")
        .Value("On", Mode::On)
        .SetDescription("A switch.");
    RegisterRecord<Inner>(registry_, "Inner").Field("value", &Inner::value);
  }

  const BindingTypeDescriptor& RegisterLayout() {
    return RegisterRecord<Layout>(registry_, "Layout")
        .Field("flag", &Layout::flag)
        .Field("i8", &Layout::i8)
        .Field("u16", &Layout::u16)
        .Field("u32", &Layout::u32, "A count", kBindingFieldOmitWhenEmpty)
        .Field("i64", &Layout::i64)
        .Field("f", &Layout::f)
        .Field("d", &Layout::d)
        .Field("s", &Layout::s,
               {.description = "Text",
                .flags = kBindingFieldRequired,
                .exposedType = {BindingTypeKind::Int32}})
        .Field("object", &Layout::object)
        .Field("blob", &Layout::blob)
        .Field("strings", &Layout::strings)
        .Field("modes", &Layout::modes)
        .Field("mode", &Layout::mode)
        .Field("inner", &Layout::inner)
        .Field("callback", &Layout::callback)
        .Field("inners", &Layout::inners)
        .Field("maybe", &Layout::maybe)
        .Field("maybeList", &Layout::maybeList)
        .Descriptor();
  }

  BindingRegistry registry_;
};

TEST_F(FieldRegistrationTest, AMemberPointerFixesKindOffsetTypeInfoAndConverter) {
  const BindingTypeDescriptor& layout = RegisterLayout();
  const BindingTypeDescriptor* mode = registry_.FindType("Mode");
  const BindingTypeDescriptor* inner = registry_.FindType("Inner");
  using K = BindingTypeKind;
  struct Expected {
    const char* name;
    std::size_t offset;
    const StaticTypeInfo* typeInfo;
    BindingTypeKind kind;
    BindingTypeKind elementKind;
    const BindingTypeDescriptor* descriptor;
    bool optional;
  };
  const Expected table[] = {
      {"flag", offsetof(Layout, flag), &StaticTypeInfoOf<bool>(), K::Bool, K::None, nullptr, false},
      {"i8", offsetof(Layout, i8), &StaticTypeInfoOf<int8_t>(), K::Int8, K::None, nullptr, false},
      {"u16", offsetof(Layout, u16), &StaticTypeInfoOf<uint16_t>(), K::UInt16, K::None, nullptr,
       false},
      {"u32", offsetof(Layout, u32), &StaticTypeInfoOf<uint32_t>(), K::UInt32, K::None, nullptr,
       false},
      {"i64", offsetof(Layout, i64), &StaticTypeInfoOf<int64_t>(), K::Int64, K::None, nullptr,
       false},
      {"f", offsetof(Layout, f), &StaticTypeInfoOf<float>(), K::Float, K::None, nullptr, false},
      {"d", offsetof(Layout, d), &StaticTypeInfoOf<double>(), K::Double, K::None, nullptr, false},
      {"s", offsetof(Layout, s), &StaticTypeInfoOf<std::string>(), K::String, K::None, nullptr,
       false},
      {"object", offsetof(Layout, object), &StaticTypeInfoOf<BindingProperty>(), K::Object, K::None,
       nullptr, false},
      {"blob", offsetof(Layout, blob), &StaticTypeInfoOf<BindingBlob>(), K::Blob, K::None, nullptr,
       false},
      {"strings", offsetof(Layout, strings), &StaticTypeInfoOf<std::vector<std::string>>(),
       K::Vector, K::String, nullptr, false},
      {"modes", offsetof(Layout, modes), &StaticTypeInfoOf<std::vector<Mode>>(), K::Vector, K::Enum,
       mode, false},
      {"mode", offsetof(Layout, mode), &StaticTypeInfoOf<Mode>(), K::Enum, K::None, mode, false},
      {"inner", offsetof(Layout, inner), &StaticTypeInfoOf<Inner>(), K::Struct, K::None, inner,
       false},
      {"callback", offsetof(Layout, callback), &StaticTypeInfoOf<BindingCallback>(), K::Callback,
       K::None, nullptr, false},
      {"inners", offsetof(Layout, inners),
       &StaticTypeInfoOf<std::unordered_map<std::string, Inner>>(), K::Map, K::Struct, inner,
       false},
      {"maybe", offsetof(Layout, maybe), &StaticTypeInfoOf<std::optional<double>>(), K::Double,
       K::None, nullptr, true},
      {"maybeList", offsetof(Layout, maybeList),
       &StaticTypeInfoOf<std::optional<std::vector<Inner>>>(), K::Vector, K::Struct, inner, true},
  };
  ASSERT_EQ(layout.fields.size(), std::size(table));
  for (std::size_t index = 0; index < std::size(table); ++index) {
    const Expected& expected = table[index];
    const BindingFieldDescriptor& field = layout.fields[index];
    SCOPED_TRACE(expected.name);
    EXPECT_EQ(field.name, expected.name) << "fields stay in registration order";
    EXPECT_EQ(field.offset, expected.offset);
    EXPECT_EQ(field.typeInfo, expected.typeInfo);
    EXPECT_EQ(field.type.kind, expected.kind);
    EXPECT_EQ(field.type.elementKind, expected.elementKind);
    EXPECT_EQ(field.type.descriptor, expected.descriptor);
    EXPECT_EQ(field.optional, expected.optional);
    EXPECT_NE(dynamic_cast<const BindingNativeConverter*>(field.converter.get()), nullptr);
  }
}

TEST_F(FieldRegistrationTest, OptionsReachTheDescriptor) {
  const BindingTypeDescriptor& layout = RegisterLayout();
  const BindingFieldDescriptor* count = layout.FindField("u32");
  EXPECT_EQ(count->description, "A count");
  EXPECT_EQ(count->flags, kBindingFieldOmitWhenEmpty);
  EXPECT_FALSE(count->exposedType.IsSet());
  const BindingFieldDescriptor* text = layout.FindField("s");
  EXPECT_EQ(text->description, "Text");
  EXPECT_TRUE(text->IsRequired());
  EXPECT_EQ(text->exposedType.kind, BindingTypeKind::Int32);
  EXPECT_EQ(layout.FindField("flag")->description, "");
}

TEST_F(FieldRegistrationTest, EnumsRegisterTheirValuesSizeAndTexts) {
  const BindingTypeDescriptor* mode = registry_.FindType(StaticTypeInfoOf<Mode>());
  ASSERT_NE(mode, nullptr);
  EXPECT_TRUE(mode->isEnum);
  EXPECT_EQ(mode->size, sizeof(Mode));
  EXPECT_EQ(mode->description, "A switch.");
  EXPECT_EQ(mode->tags, (std::vector<std::string>{"test"}));
  ASSERT_NE(mode->FindEnumerator("Off"), nullptr);
  EXPECT_EQ(mode->FindEnumerator("Off")->description, "Nothing runs");
  EXPECT_EQ(mode->FindEnumerator("On")->value, 1);
}

TEST_F(FieldRegistrationTest, BaseClassMembersAreFieldsOfTheDerivedRecord) {
  RegisterRecord<Derived>(registry_, "Derived")
      .Field("inherited", &Derived::inherited)
      .Field("own", &Derived::own);
  const auto converted =
      ConvertInto(Derived{}, Structure({{"inherited", 1}, {"own", 2}}), registry_);
  EXPECT_EQ(converted.native.inherited, 1);
  EXPECT_EQ(converted.native.own, 2);
  EXPECT_EQ(ValueOf(converted.native, registry_).value, Structure({{"inherited", 1}, {"own", 2}}));
}

// Built only from a seed: offsets are measured without constructing one.
struct Seeded {
  explicit Seeded(int32_t seed) : value(seed) {}
  int32_t value;
  std::string label;
};
VEXA_STATIC_TYPE(Seeded, "struct Vexa::Seeded");

TEST_F(FieldRegistrationTest, RecordsWithoutADefaultConstructorCanBeRegistered) {
  RegisterRecord<Seeded>(registry_, "Seeded")
      .Field("value", &Seeded::value)
      .Field("label", &Seeded::label);
  Seeded seeded(5);
  BindingResult result;
  EXPECT_TRUE(ToNative(result, seeded, Structure({{"label", "five"}}), "seeded", registry_));
  EXPECT_EQ(seeded.value, 5);
  EXPECT_EQ(seeded.label, "five");
  EXPECT_EQ(ValueOf(seeded, registry_).value, Structure({{"value", 5}, {"label", "five"}}));
}

TEST_F(FieldRegistrationTest, ASecondRegistrationOfANameChangesNothing) {
  const BindingTypeDescriptor& first = RegisterLayout();
  const std::size_t fieldCount = first.fields.size();
  auto again = RegisterRecord<Inner>(registry_, "Layout");
  again.Field("value", &Inner::value).SetDescription("replaced?");
  EXPECT_TRUE(again.Existed());
  EXPECT_EQ(&again.Descriptor(), &first);
  EXPECT_EQ(first.fields.size(), fieldCount);
  EXPECT_EQ(first.description, "");
}

struct Outer {
  Inner first;
  std::vector<Derived> later;
};
VEXA_STATIC_TYPE(Outer, "struct Vexa::Outer");

TEST_F(FieldRegistrationTest, ANestedTypeRegisteredLaterIsReportedUnregistered) {
  RegisterRecord<Outer>(registry_, "Outer")
      .Field("first", &Outer::first)
      .Field("later", &Outer::later);
  RegisterRecord<Derived>(registry_, "Derived").Field("own", &Derived::own);
  EXPECT_EQ(registry_.FindType("Outer")->FindField("later")->type.descriptor, nullptr);
  const auto converted = ConvertInto(
      Outer{}, Structure({{"later", Collection({Structure({{"own", 1}})})}}), registry_);
  EXPECT_EQ(converted.error,
            "Couldn't assign value to 'later' because the input is an unregistered structure or "
            "not a structure at all.");
}

TEST_F(FieldRegistrationTest, InstalledConvertersWorkOnTheirOwn) {
  const BindingTypeDescriptor& layout = RegisterLayout();
  const BindingFieldDescriptor& strings = *layout.FindField("strings");
  std::vector<std::string> native;
  BindingResult result;
  EXPECT_TRUE(
      strings.converter->ToNative(result, &native, Collection({"a", "b"}), "strings", registry_));
  EXPECT_EQ(native, (std::vector<std::string>{"a", "b"}));
  BindingResult value;
  EXPECT_TRUE(strings.converter->ToValue(value, &native, strings, registry_));
  EXPECT_EQ(value.value, Collection({"a", "b"}));
}

// Callbacks given by name: "first" is 1, "second" is 2; anything else is refused.
class NamedCallbackConverter final : public BindingFieldConverter {
 public:
  bool ToNative(BindingResult& result, void* field, const BindingProperty& input,
                std::string_view name, const BindingRegistry&) const override {
    auto& callback = *static_cast<BindingCallback*>(field);
    const std::string_view text = input.GetString();
    callback.id = text == "first" ? 1 : text == "second" ? 2 : 0;
    if (result.Ok() && callback.id == 0) {
      result.Fail("no callback " + std::string(text) + " for " + std::string(name));
    }
    return result.Ok();
  }
  bool ToValue(BindingResult& result, const void* field, const BindingFieldDescriptor&,
               const BindingRegistry&) const override {
    const uint32_t id = static_cast<const BindingCallback*>(field)->id;
    if (id == 0) {
      result.Fail("callback 0 has no name");
    } else {
      result.value = id == 1 ? "first" : "second";
    }
    return result.Ok();
  }
};

struct WithCallback {
  BindingCallback onDone;
  int32_t after = 0;
};
VEXA_STATIC_TYPE(WithCallback, "struct Vexa::WithCallback");

TEST_F(FieldRegistrationTest, CallbackFieldsGoThroughTheirOwnConverter) {
  registry_.RegisterType<WithCallback>("WithCallback")
      .AddField("onDone",
                BindingNativeField{offsetof(WithCallback, onDone),
                                   StaticTypeInfoOf<BindingCallback>(),
                                   {BindingTypeKind::Callback},
                                   std::make_unique<NamedCallbackConverter>()},
                {.flags = kBindingFieldOmitWhenEmpty});
  BindingTypeBuilder again = registry_.RegisterType<WithCallback>("WithCallback");
  AddField<WithCallback>(again, "ignored", &WithCallback::after);  // the name exists: ignored
  const auto converted = ConvertInto(WithCallback{}, Structure({{"onDone", "second"}}), registry_);
  EXPECT_EQ(converted.native.onDone.id, 2u);
  EXPECT_EQ(ConvertInto(WithCallback{}, Structure({{"onDone", "third"}}), registry_).error,
            "no callback third for onDone");
  EXPECT_EQ(ValueOf(WithCallback{{1}, 0}, registry_).value, Structure({{"onDone", "first"}}));
  EXPECT_EQ(ValueOf(WithCallback{{0}, 0}, registry_).ErrorText(), "callback 0 has no name");
  EXPECT_EQ(registry_.FindType("WithCallback")->fields.size(), 1u);
}

}  // namespace
}  // namespace Vexa
