// Value to native for bool, string, blob, object and enum targets, the guard, and native to
// value for scalars and enums, with the exact messages.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "binding/conversion/conversion.h"
#include "binding/field_registration.h"
#include "binding/registry.h"
#include "conversion_test_support.h"

namespace Vexa {
namespace {

using Testing::Blob;
using Testing::Collection;
using Testing::ConvertInto;
using Testing::Empty;
using Testing::Structure;

enum class Status32 : int32_t { InProgress = 0, Error = 3, Negative = -2 };
VEXA_STATIC_TYPE(Status32, "enum Vexa::Status32");
enum class Status8 : int8_t { InProgress = 0, Error = 3, Negative = -2 };
VEXA_STATIC_TYPE(Status8, "enum Vexa::Status8");
enum class Status16 : int16_t { InProgress = 0, Error = 3, Negative = -2 };
VEXA_STATIC_TYPE(Status16, "enum Vexa::Status16");
enum class Status64 : int64_t { InProgress = 0, Error = 3, Negative = -2, Wide = 0x100000003 };
VEXA_STATIC_TYPE(Status64, "enum Vexa::Status64");
enum class Unregistered : int32_t { Some = 1 };
VEXA_STATIC_TYPE(Unregistered, "enum Vexa::Unregistered");

template <typename Enum>
void RegisterStatus(BindingRegistry& registry, std::string_view name) {
  RegisterEnum<Enum>(registry, name)
      .Value("IN_PROGRESS", Enum::InProgress)
      .Value("ERROR", Enum::Error)
      .Value("NEGATIVE", Enum::Negative);
}

class ConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterStatus<Status32>(registry_, "GeoStatus");
    RegisterStatus<Status8>(registry_, "Status8");
    RegisterStatus<Status16>(registry_, "Status16");
    RegisterStatus<Status64>(registry_, "Status64");
  }

  BindingProperty EnumValue(int32_t value) const {
    BindingProperty property;
    property.SetEnum(value, StaticTypeInfoOf<Status32>());
    return property;
  }

  BindingRegistry registry_;
};

TEST_F(ConversionTest, BoolAcceptsOnlyExactTextsAndBools) {
  struct BoolCase {
    BindingProperty input;
    bool expected;
    const char* message;
  };
  const BoolCase cases[] = {
      {"true", true, nullptr},
      {"1", true, nullptr},
      {"false", false, nullptr},
      {"0", false, nullptr},
      {true, true, nullptr},
      {Empty(), false, "A value for 'x' is required."},
      {"True", false,
       "Value True for 'x' of type bool is in an incorrect format. Options are \"true\", "
       "\"false\", \"1\", \"0\"."},
      {"yes", false,
       "Value yes for 'x' of type bool is in an incorrect format. Options are \"true\", "
       "\"false\", \"1\", \"0\"."},
      {" 1", false,
       "Value  1 for 'x' of type bool is in an incorrect format. Options are \"true\", "
       "\"false\", \"1\", \"0\"."},
      {int64_t{1}, false,
       "Couldn't assign value to 'x' of type bool because the input is of an invalid type "
       "signed."},
      {uint64_t{1}, false,
       "Couldn't assign value to 'x' of type bool because the input is of an invalid type "
       "unsigned."},
      {1.0, false,
       "Couldn't assign value to 'x' of type bool because the input is of an invalid type "
       "float."},
      {EnumValue(3), false,
       "Couldn't assign value to 'x' of type bool because the input is of an invalid type enum."},
  };
  for (const BoolCase& row : cases) {
    SCOPED_TRACE(row.input.ToText());
    const auto converted = ConvertInto(!row.expected, row.input, registry_);
    EXPECT_EQ(converted.native, row.expected);
    EXPECT_EQ(converted.ok, row.message == nullptr);
    EXPECT_EQ(converted.error, row.message ? row.message : "");
  }
}

TEST_F(ConversionTest, StringTakesTextsAndEnumeratorNamesOnly) {
  struct StringCase {
    BindingProperty input;
    const char* expected;
    const char* message;
  };
  BindingProperty unknownType;
  unknownType.SetEnum(1, StaticTypeInfoOf<Unregistered>());
  const StringCase cases[] = {
      {"abc", "abc", nullptr},
      {"", "", nullptr},
      {EnumValue(3), "ERROR", nullptr},
      {EnumValue(7), "", "7 is not a valid enumeration value for 'x'."},
      {unknownType, "", "1 is not a valid enumeration value for 'x'."},
      {Empty(), "", "A value for 'x' is required."},
      {int64_t{5}, "", "Couldn't assign value to 'x' because the input is not a string."},
      {1.5, "", "Couldn't assign value to 'x' because the input is not a string."},
      {Blob({1}), "", "Couldn't assign value to 'x' because the input is not a string."},
  };
  for (const StringCase& row : cases) {
    SCOPED_TRACE(row.input.ToText());
    const auto converted = ConvertInto(std::string("previous"), row.input, registry_);
    EXPECT_EQ(converted.native, row.expected);
    EXPECT_EQ(converted.error, row.message ? row.message : "");
  }
}

TEST_F(ConversionTest, BlobTakesBlobsAndStrictBase64) {
  struct BlobCase {
    BindingProperty input;
    BindingBlob expected;
    const char* message;
  };
  const char* const invalid =
      "Couldn't assign string value to 'x' of type blob because the input has invalid base64 "
      "characters.";
  const BlobCase cases[] = {
      {Blob({1, 2, 255}), {1, 2, 255}, nullptr},
      {"aGk=", {'h', 'i'}, nullptr},
      {"aGk", {'h', 'i'}, nullptr},
      {"", {}, nullptr},
      {"aGk= ", {}, invalid},
      {"aG\nk=", {}, invalid},
      {"aGk-", {}, invalid},
      {"aGk\xC3\xA9", {}, invalid},
      {Empty(), {}, "A value for 'x' is required."},
      {int64_t{1},
       {},
       "Couldn't assign value to 'x' of type blob because the input is not a blob."},
      {Collection({1}),
       {},
       "Couldn't assign value to 'x' of type blob because the input is not a blob."},
  };
  for (const BlobCase& row : cases) {
    SCOPED_TRACE(row.input.ToText());
    const auto converted = ConvertInto(BindingBlob{9, 9}, row.input, registry_);
    EXPECT_EQ(converted.native, row.expected);
    EXPECT_EQ(converted.error, row.message ? row.message : "");
  }
}

TEST_F(ConversionTest, ObjectTakesADeepCopyOfAnyInput) {
  const BindingProperty inputs[] = {
      Empty(), true, "text", Blob({1}), EnumValue(3), Collection({1, Structure({{"k", "v"}})})};
  for (const BindingProperty& input : inputs) {
    const auto converted = ConvertInto(BindingProperty("previous"), input, registry_);
    EXPECT_TRUE(converted.ok);
    EXPECT_EQ(converted.native, input);
  }
  // An input that lives inside the target is read before the target is replaced.
  BindingProperty object = Structure({{"inner", Collection({1, "two"})}});
  BindingResult result;
  EXPECT_TRUE(ToNative(result, object, object.Member("inner"), "x", registry_));
  EXPECT_EQ(object, Collection({1, "two"}));
}

class EnumConversionTest : public ConversionTest {};

TEST_F(EnumConversionTest, AcceptsNamesNumbersAndEnumeratorsOfTheEnum) {
  struct EnumCase {
    BindingProperty input;
    Status32 expected;
    const char* message;
  };
  const char* const fieldName = "status";
  const EnumCase cases[] = {
      {"ERROR", Status32::Error, nullptr},
      {"3", Status32::Error, nullptr},
      {"0x3", Status32::Error, nullptr},
      {"-2", Status32::Negative, nullptr},
      {"", Status32::InProgress, nullptr},  // the empty text parses as 0
      {int64_t{3}, Status32::Error, nullptr},
      {uint64_t{0x100000003}, Status32::Error, nullptr},  // the low 32 bits count
      {EnumValue(3), Status32::Error, nullptr},
      {"4", Status32::InProgress, "4 is not a valid GeoStatus enumeration value for 'status'."},
      {"nope", Status32::InProgress,
       "nope is not a valid GeoStatus enumeration value for 'status'."},
      {"error", Status32::InProgress,
       "error is not a valid GeoStatus enumeration value for 'status'."},
      {"99999999999999999999", Status32::InProgress,
       "99999999999999999999 is not a valid GeoStatus enumeration value for 'status'."},
      {int64_t{4}, Status32::InProgress,
       "4 is not a valid GeoStatus enumeration value for 'status'."},
      {EnumValue(7), Status32::InProgress,
       "7 is not a valid GeoStatus enumeration value for 'status'."},
      {Empty(), Status32::InProgress, "A value for 'status' is required."},
      {true, Status32::InProgress,
       "Couldn't assign value to 'status' of enum type because the input is of an invalid type "
       "bool."},
      {3.0, Status32::InProgress,
       "Couldn't assign value to 'status' of enum type because the input is of an invalid type "
       "float."},
      {Structure({}), Status32::InProgress,
       "Couldn't assign value to 'status' of enum type because the input is of an invalid type "
       "structure."},
  };
  for (const EnumCase& row : cases) {
    SCOPED_TRACE(row.input.ToText());
    const auto converted = ConvertInto(Status32::Negative, row.input, registry_, fieldName);
    EXPECT_EQ(converted.native, row.expected);
    EXPECT_EQ(converted.error, row.message ? row.message : "");
  }
}

TEST_F(EnumConversionTest, StoresAndReadsInTheRegisteredSize) {
  EXPECT_EQ(ConvertInto(Status8::Negative, "ERROR", registry_).native, Status8::Error);
  EXPECT_EQ(ConvertInto(Status16::InProgress, "NEGATIVE", registry_).native, Status16::Negative);
  EXPECT_EQ(ConvertInto(Status64::Wide, "ERROR", registry_).native, Status64::Error);
  EXPECT_EQ(ConvertInto(Status64::Wide, "NEGATIVE", registry_).native, Status64::Negative);

  // Native to value: 1 and 2 bytes sign-extended, 8 bytes by their low 32 bits.
  EXPECT_EQ(Testing::ValueOf(Status8::Negative, registry_).value.GetEnum().value, -2);
  EXPECT_EQ(Testing::ValueOf(Status16::Negative, registry_).value.GetEnum().value, -2);
  EXPECT_EQ(Testing::ValueOf(Status64::Wide, registry_).value.GetEnum().value, 3);
  const BindingResult value = Testing::ValueOf(Status32::Error, registry_);
  EXPECT_EQ(value.value.GetEnum().value, 3);
  EXPECT_EQ(value.value.GetEnum().type, &StaticTypeInfoOf<Status32>());
}

TEST_F(EnumConversionTest, RefusesEnumsWithoutAUsableDescriptor) {
  // Registered with a storage size that no integer has.
  registry_.RegisterType("Odd", 3, StaticTypeInfoOf<Unregistered>(), true).AddEnumerator("A", 1);
  const BindingTypeDescriptor* odd = registry_.FindType("Odd");
  uint32_t native = 0xABABABAB;
  BindingResult result;
  EXPECT_FALSE(ConvertToNative(
      result, &native, {{BindingTypeKind::Enum, BindingTypeKind::None, odd}}, "A", "x", registry_));
  EXPECT_EQ(result.ErrorText(),
            "Couldn't assign value to 'x' of type Odd because the enum's size 3 is not 1, 2, 4 "
            "or 8.");
  EXPECT_EQ(native, 0xABABABABu) << "the width is unknown, so nothing is written";

  BindingResult value;
  EXPECT_TRUE(ConvertToValue(value, &native, {{BindingTypeKind::Enum, BindingTypeKind::None, odd}},
                             registry_));
  EXPECT_EQ(value.value.GetEnum().value, 0) << "other sizes read as 0";

  BindingRegistry empty;
  EXPECT_EQ(ConvertInto(Unregistered::Some, "Some", empty).error,
            "Couldn't assign value to 'x' because its enum type is not registered.");
  EXPECT_EQ(Testing::ValueOf(Unregistered::Some, empty).ErrorText(),
            "Couldn't convert native value because it's an unregistered enumeration.");
}

TEST_F(ConversionTest, AFailedResultAddsNothingAndEmptiesScalarTargets) {
  BindingResult result = BindingResult::Failed("first");
  bool flag = true;
  int32_t number = 5;
  double real = 5;
  std::string text = "keep?";
  BindingBlob bytes{1};
  Status16 status = Status16::Error;
  BindingProperty object = "keep?";
  BindingCallback callback{9};
  EXPECT_FALSE(ToNative(result, flag, "true", "a", registry_));
  EXPECT_FALSE(ToNative(result, number, int64_t{1}, "b", registry_));
  EXPECT_FALSE(ToNative(result, real, 1.0, "c", registry_));
  EXPECT_FALSE(ToNative(result, text, "new", "d", registry_));
  EXPECT_FALSE(ToNative(result, bytes, Blob({2}), "e", registry_));
  EXPECT_FALSE(ToNative(result, status, "ERROR", "f", registry_));
  EXPECT_FALSE(ToNative(result, object, "new", "g", registry_));
  EXPECT_FALSE(ToNative(result, callback, uint64_t{3}, "h", registry_));
  EXPECT_FALSE(ToNative(result, number, "not a number", "i", registry_));
  EXPECT_EQ(result.ErrorText(), "first");
  EXPECT_FALSE(flag);
  EXPECT_EQ(number, 0);
  EXPECT_EQ(real, 0.0);
  EXPECT_EQ(text, "");
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(status, Status16::InProgress);
  EXPECT_TRUE(object.IsEmpty());
  EXPECT_EQ(callback.id, 0u);
}

TEST_F(ConversionTest, AChainReportsItsFirstFailure) {
  BindingResult result;
  int8_t small = 0;
  bool flag = false;
  EXPECT_FALSE(ToNative(result, small, "300", "small", registry_));
  EXPECT_FALSE(ToNative(result, flag, "maybe", "flag", registry_));
  EXPECT_EQ(result.ErrorText(), "Value 300 for 'small' of type int8 is out of range");
}

TEST_F(ConversionTest, ScalarsBecomeValuesOfTheirKind) {
  const auto value = [&](const auto& native) { return Testing::ValueOf(native, registry_).value; };
  EXPECT_EQ(value(true), BindingProperty(true));
  EXPECT_EQ(value(int8_t{-5}), BindingProperty(int64_t{-5}));
  EXPECT_EQ(value(int16_t{-300}), BindingProperty(int64_t{-300}));
  EXPECT_EQ(value(int32_t{INT32_MIN}), BindingProperty(int64_t{INT32_MIN}));
  EXPECT_EQ(value(int64_t{INT64_MIN}), BindingProperty(int64_t{INT64_MIN}));
  EXPECT_EQ(value(uint8_t{255}), BindingProperty(uint64_t{255}));
  EXPECT_EQ(value(uint16_t{65535}), BindingProperty(uint64_t{65535}));
  EXPECT_EQ(value(uint32_t{UINT32_MAX}), BindingProperty(uint64_t{UINT32_MAX}));
  EXPECT_EQ(value(uint64_t{UINT64_MAX}), BindingProperty(uint64_t{UINT64_MAX}));
  EXPECT_EQ(value(1.5f), BindingProperty(1.5));
  EXPECT_EQ(value(0.1), BindingProperty(0.1));
  EXPECT_EQ(value(std::string("text")), BindingProperty("text"));
  EXPECT_EQ(value(BindingBlob{1, 2}), Blob({1, 2}));
  EXPECT_EQ(value(BindingCallback{7}), BindingProperty(uint64_t{7}));
  const BindingProperty tree = Structure({{"list", Collection({1, "two"})}});
  EXPECT_EQ(value(tree), tree);
  EXPECT_EQ(value(int64_t{-5}).Kind(), BindingPropertyKind::Signed);
  EXPECT_EQ(value(uint8_t{5}).Kind(), BindingPropertyKind::Unsigned);
}

TEST_F(ConversionTest, OmitWhenEmptyKeepsOnlyNonZeroValues) {
  struct KeptCase {
    BindingProperty value;
    bool kept;
  };
  BindingProperty enumZero;
  enumZero.SetEnum(0, StaticTypeInfoOf<Status32>());
  const KeptCase cases[] = {
      {Empty(), false},
      {false, false},
      {true, true},
      {int64_t{0}, false},
      {int64_t{-1}, true},
      {uint64_t{0}, false},
      {uint64_t{2}, true},
      {0.0, false},
      {-0.0, false},
      {0.5, true},
      {std::numeric_limits<double>::quiet_NaN(), true},
      {"", false},
      {"a", true},
      {Blob({}), false},
      {Blob({0}), true},
      {Collection({}), false},
      {Collection({Empty()}), true},
      {Structure({}), false},
      {Structure({{"a", Empty()}}), true},
      {enumZero, false},
      {EnumValue(3), true},
  };
  for (const KeptCase& row : cases) {
    SCOPED_TRACE(std::string(BindingPropertyKindName(row.value.Kind())) + " '" +
                 row.value.ToText() + "'");
    EXPECT_EQ(IsKeptWhenOmittingEmpty(row.value), row.kept);
  }
}

}  // namespace
}  // namespace Vexa
