// Value to native for the scalar and enum kinds (bool, the integers and callback, float and
// double, string, blob, object, enum) with the exact messages, both ends of every number
// range, the guard of a failed result, and native to value for scalars and enums.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "binding/field_registration.h"
#include "conversion_test_support.h"

namespace Vexa {
namespace {

using Testing::Into;

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

std::string Range(const std::string& text, const char* type) {
  return "Value " + text + " for 'x' of type " + type + " is out of range";
}

class Conversion : public ::testing::Test {
 protected:
  Conversion() {
    Register<Status32>("GeoStatus");
    Register<Status8>("Status8");
    Register<Status16>("Status16");
    Register<Status64>("Status64");
  }
  template <typename Enum>
  void Register(std::string_view name) {
    RegisterEnum<Enum>(registry_, name)
        .Value("IN_PROGRESS", Enum::InProgress)
        .Value("ERROR", Enum::Error)
        .Value("NEGATIVE", Enum::Negative);
  }
  static BindingProperty Status(int32_t value) {
    return Testing::Enumerator(value, StaticTypeInfoOf<Status32>());
  }

  BindingRegistry registry_;
};

TEST_F(Conversion, EveryTargetFollowsTheRuleOfEachInputKind) {
  const BindingRegistry& r = registry_;
  const std::string text = "previous";
  const BindingBlob blob{9, 9};
  const Status32 status = Status32::Negative;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::pair<std::string, std::string> cases[] = {
      {Into(false, "1", r), "true"},
      {Into(true, "0", r), "false"},
      {Into(true, BindingProperty(), r), "A value for 'x' is required."},
      {Into(true, "True", r),
       "Value True for 'x' of type bool is in an incorrect format. Options are \"true\", "
       "\"false\", \"1\", \"0\"."},
      {Into(true, int64_t{1}, r),
       "Couldn't assign value to 'x' of type bool because the input is of an invalid type "
       "signed."},
      {Into(int8_t{1}, 2.9, r), "2"},
      {Into(int32_t{1}, 1e10, r), Range("10000000000.000000", "int32")},
      {Into(int64_t{1}, -9223372036854775808.0, r), "-9223372036854775808"},
      // 2^63 equals the int64 maximum as a double but does not fit once truncated.
      {Into(int64_t{1}, 9223372036854775808.0, r), Range("9223372036854775808.000000", "int64")},
      {Into(uint8_t{1}, -0.5, r), Range("-0.500000", "uint8")},
      {Into(int32_t{1}, "0x10", r), "16"},
      {Into(int32_t{1}, "", r), "0"},
      {Into(int32_t{1}, "12abc", r), "Value 12abc for 'x' of type int32 is in an incorrect format"},
      {Into(int64_t{1}, "99999999999999999999", r), Range("99999999999999999999", "int64")},
      // strtoull would wrap these to 2^64 - 1.
      {Into(uint64_t{1}, " -1", r), Range(" -1", "uint64")},
      {Into(int8_t{1}, Status(300), r), Range("300", "int8")},
      {Into(uint16_t{1}, Status(-1), r), Range("-1", "uint16")},
      {Into(BindingCallback{1}, uint64_t{4294967296}, r), Range("4294967296", "callback")},
      {Into(int32_t{1}, true, r),
       "Couldn't assign value to 'x' of type int32 because the input is of an invalid type bool."},
      {Into(1.0f, 3.5e38, r), Range(BindingProperty(3.5e38).ToText(), "float")},
      {Into(1.0f, nan, r), "nan"},  // a NaN passes both comparisons
      {Into(1.0, "1.5x", r), "Value 1.5x for 'x' of type double is in an incorrect format"},
      {Into(1.0, "1e-400", r), Range("1e-400", "double")},
      {Into(1.0f, "1e39", r), Range("1e39", "float")},
      {Into(text, Status(3), r), "ERROR"},
      {Into(text, Status(7), r), "7 is not a valid enumeration value for 'x'."},
      {Into(text, BindingProperty(), r), "A value for 'x' is required."},
      {Into(text, 1.5, r), "Couldn't assign value to 'x' because the input is not a string."},
      {Into(blob, "aGk=", r), "aGk="},
      {Into(blob, "aGk= ", r),
       "Couldn't assign string value to 'x' of type blob because the input has invalid base64 "
       "characters."},
      {Into(blob, int64_t{1}, r),
       "Couldn't assign value to 'x' of type blob because the input is not a blob."},
      {Into(status, "ERROR", r), "3"},
      {Into(status, uint64_t{0x100000003}, r), "3"},  // the low 32 bits count
      {Into(status, "4", r), "4 is not a valid GeoStatus enumeration value for 'x'."},
      {Into(status, "nope", r), "nope is not a valid GeoStatus enumeration value for 'x'."},
      {Into(status, Status(7), r), "7 is not a valid GeoStatus enumeration value for 'x'."},
      {Into(status, 3.0, r),
       "Couldn't assign value to 'x' of enum type because the input is of an invalid type "
       "float."},
      // Stored and read back in the registered size: 1 and 2 bytes sign-extended, 8 bytes by
      // their low 32 bits.
      {Into(Status8::InProgress, "NEGATIVE", r), "-2"},
      {Into(Status16::InProgress, "NEGATIVE", r), "-2"},
      {Into(Status64::InProgress, "NEGATIVE", r), "-2"},
      {ToValue(Status64::Wide, r).value.ToText(), "3"},
  };
  for (const auto& [actual, expected] : cases) {
    EXPECT_EQ(actual, expected);
  }
  const auto kind = [&](const auto& native) { return ToValue(native, r).value.Kind(); };
  EXPECT_EQ(kind(uint16_t{65535}), BindingPropertyKind::Unsigned);
}

TEST_F(Conversion, EnumsWithoutAUsableDescriptorAreRefused) {
  registry_.RegisterType("Odd", 3, StaticTypeInfoOf<Unregistered>(), true).AddEnumerator("A", 1);
  const BindingNativeType odd{
      {BindingTypeKind::Enum, BindingTypeKind::None, registry_.FindType("Odd")}};
  uint32_t native = 0xABABABAB;
  BindingResult result;
  EXPECT_FALSE(ConvertToNative(result, &native, odd, "A", "x", registry_));
  EXPECT_EQ(result.ErrorText(),
            "Couldn't assign value to 'x' of type Odd because the enum's size 3 is not 1, 2, 4 "
            "or 8.");
  EXPECT_EQ(native, 0xABABABABu) << "the width is unknown, so nothing is written";
  const BindingRegistry empty;
  EXPECT_EQ(Testing::ConvertInto(Unregistered::Some, "Some", empty).error,
            "Couldn't assign value to 'x' because its enum type is not registered.");
  BindingResult value;
  EXPECT_FALSE(ToValue(value, Unregistered::Some, empty));
  EXPECT_EQ(value.ErrorText(),
            "Couldn't convert native value because it's an unregistered enumeration.");
}

TEST_F(Conversion, AFailedResultKeepsItsFirstMessageAndEmptiesScalarTargets) {
  BindingResult result;
  int8_t small = 5;
  Status16 status = Status16::Error;
  BindingProperty object = "keep?";
  EXPECT_FALSE(ToNative(result, small, "300", "small", registry_));
  EXPECT_FALSE(ToNative(result, status, "ERROR", "status", registry_));
  EXPECT_FALSE(ToNative(result, object, "new", "object", registry_));
  EXPECT_EQ(result.ErrorText(), "Value 300 for 'small' of type int8 is out of range");
  EXPECT_TRUE(small == 0 && status == Status16::InProgress && object.IsEmpty());
}

// Both ends of T's range as texts, the maximum as a number, and one beyond each as texts (the
// 64-bit ones beyond are parse overflows) and as the signed -1.
template <typename T>
void ExpectBounds(const char* type, const std::string& minimum, const std::string& maximum,
                  const std::string& below, const std::string& above) {
  SCOPED_TRACE(type);
  const BindingRegistry registry;
  const bool isSigned = minimum[0] == '-';
  EXPECT_EQ(Into(T{1}, minimum, registry), minimum);
  EXPECT_EQ(Into(T{1}, maximum, registry), maximum);
  EXPECT_EQ(Into(T{1}, below, registry), Range(below, type));
  EXPECT_EQ(Into(T{1}, above, registry), Range(above, type));
  EXPECT_EQ(Into(T{1}, std::stoull(maximum), registry), maximum);
  EXPECT_EQ(Into(T{1}, int64_t{-1}, registry), isSigned ? "-1" : Range("-1", type));
}

TEST(NumberConversion, EveryTypeAcceptsItsBoundsAndRefusesOneBeyond) {
  ExpectBounds<int8_t>("int8", "-128", "127", "-129", "128");
  ExpectBounds<int16_t>("int16", "-32768", "32767", "-32769", "32768");
  ExpectBounds<int32_t>("int32", "-2147483648", "2147483647", "-2147483649", "2147483648");
  ExpectBounds<int64_t>("int64", "-9223372036854775808", "9223372036854775807",
                        "-9223372036854775809", "9223372036854775808");
  ExpectBounds<uint8_t>("uint8", "0", "255", "-1", "256");
  ExpectBounds<uint16_t>("uint16", "0", "65535", "-1", "65536");
  ExpectBounds<uint32_t>("uint32", "0", "4294967295", "-1", "4294967296");
  ExpectBounds<uint64_t>("uint64", "0", "18446744073709551615", "-1", "18446744073709551616");
}

}  // namespace
}  // namespace Vexa
