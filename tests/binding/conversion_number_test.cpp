// Value to native for the integer, callback and floating-point kinds: every input kind, both
// ends of every range, and the parsing of texts, with the exact messages.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "binding/conversion/conversion.h"
#include "binding/registry.h"
#include "conversion_test_support.h"

namespace Vexa {
namespace {

using Testing::Blob;
using Testing::Collection;
using Testing::ConvertInto;
using Testing::Empty;
using Testing::Structure;

// Enumerator inputs carry a type; numbers only read their value.
enum class Sign : int32_t { Minus = -1 };
VEXA_STATIC_TYPE(Sign, "enum Vexa::Sign");

struct IntegerCase {
  BindingTypeKind kind;
  BindingProperty input;
  std::string expected;  // decimal value, or the message
};

class NumberConversionTest : public ::testing::Test {
 protected:
  BindingProperty EnumValue(int32_t value) const {
    BindingProperty property;
    property.SetEnum(value, StaticTypeInfoOf<Sign>());
    return property;
  }

  // Converts into 8 bytes of 0xAB through the untyped entry point and reads the result back
  // in the kind's width: the decimal value on success, the message on failure (after checking
  // that the target was zeroed).
  std::string IntegerOutcome(BindingTypeKind kind, const BindingProperty& input) const {
    alignas(8) unsigned char buffer[8];
    std::memset(buffer, 0xAB, sizeof buffer);
    BindingResult result;
    const bool ok =
        ConvertToNative(result, buffer, BindingNativeType{{kind}}, input, "x", registry_);
    EXPECT_EQ(ok, result.Ok());
    const std::string value = ReadInteger(buffer, kind);
    if (!result.Ok()) {
      EXPECT_EQ(value, "0") << "a refused integer target holds zero";
      return std::string(result.ErrorText());
    }
    return value;
  }

  void ExpectIntegerCases(const std::vector<IntegerCase>& cases) const {
    for (const IntegerCase& row : cases) {
      SCOPED_TRACE(std::string(BindingTypeKindName(row.kind)) + " <- " +
                   BindingPropertyKindName(row.input.Kind()) + " '" + row.input.ToText() + "'");
      EXPECT_EQ(IntegerOutcome(row.kind, row.input), row.expected);
    }
  }

  static std::string ReadInteger(const unsigned char* buffer, BindingTypeKind kind) {
    const auto read = [&](auto sample) {
      std::memcpy(&sample, buffer, sizeof sample);
      return std::to_string(sample);
    };
    switch (kind) {
      case BindingTypeKind::Int8:
        return read(int8_t{});
      case BindingTypeKind::UInt8:
        return read(uint8_t{});
      case BindingTypeKind::Int16:
        return read(int16_t{});
      case BindingTypeKind::UInt16:
        return read(uint16_t{});
      case BindingTypeKind::Int32:
        return read(int32_t{});
      case BindingTypeKind::UInt32:
      case BindingTypeKind::Callback:
        return read(uint32_t{});
      case BindingTypeKind::Int64:
        return read(int64_t{});
      default:
        return read(uint64_t{});
    }
  }

  BindingRegistry registry_;
};

TEST_F(NumberConversionTest, EveryTypeAcceptsItsBoundsAndRefusesOneBeyond) {
  struct Bounds {
    BindingTypeKind kind;
    const char* minimum;
    const char* maximum;
    const char* belowMinimum;
    const char* aboveMaximum;
  };
  const Bounds table[] = {
      {BindingTypeKind::Int8, "-128", "127", "-129", "128"},
      {BindingTypeKind::Int16, "-32768", "32767", "-32769", "32768"},
      {BindingTypeKind::Int32, "-2147483648", "2147483647", "-2147483649", "2147483648"},
      {BindingTypeKind::Int64, "-9223372036854775808", "9223372036854775807",
       "-9223372036854775809", "9223372036854775808"},
      {BindingTypeKind::UInt8, "0", "255", "-1", "256"},
      {BindingTypeKind::UInt16, "0", "65535", "-1", "65536"},
      {BindingTypeKind::UInt32, "0", "4294967295", "-1", "4294967296"},
      {BindingTypeKind::UInt64, "0", "18446744073709551615", "-1", "18446744073709551616"},
  };
  for (const Bounds& bounds : table) {
    const std::string type = BindingTypeKindName(bounds.kind);
    SCOPED_TRACE(type);
    const auto range = [&](const char* text) {
      return "Value " + std::string(text) + " for 'x' of type " + type + " is out of range";
    };
    // As texts: parsed, then range-checked (the 64-bit ones beyond are parse overflows).
    EXPECT_EQ(IntegerOutcome(bounds.kind, bounds.minimum), bounds.minimum);
    EXPECT_EQ(IntegerOutcome(bounds.kind, bounds.maximum), bounds.maximum);
    EXPECT_EQ(IntegerOutcome(bounds.kind, bounds.belowMinimum), range(bounds.belowMinimum));
    EXPECT_EQ(IntegerOutcome(bounds.kind, bounds.aboveMaximum), range(bounds.aboveMaximum));
    // As numbers of the input kinds.
    const bool isSigned = bounds.minimum[0] == '-';
    const BindingProperty minimum = isSigned ? BindingProperty(std::stoll(bounds.minimum))
                                             : BindingProperty(std::stoull(bounds.minimum));
    EXPECT_EQ(IntegerOutcome(bounds.kind, minimum), bounds.minimum);
    EXPECT_EQ(IntegerOutcome(bounds.kind, BindingProperty(std::stoull(bounds.maximum))),
              bounds.maximum);
    EXPECT_EQ(IntegerOutcome(bounds.kind, BindingProperty(int64_t{-1})),
              isSigned ? "-1" : range("-1"));
    if (bounds.kind != BindingTypeKind::Int64 && bounds.kind != BindingTypeKind::UInt64) {
      EXPECT_EQ(IntegerOutcome(bounds.kind, BindingProperty(std::stoull(bounds.aboveMaximum))),
                range(bounds.aboveMaximum));
    }
  }
}

TEST_F(NumberConversionTest, SignedTargetsFollowTheRuleOfEachInputKind) {
  using K = BindingTypeKind;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<IntegerCase> cases = {
      {K::Int32, Empty(), "A value for 'x' is required."},
      {K::Int32, int64_t{-5}, "-5"},
      {K::Int32, uint64_t{5}, "5"},
      {K::Int8, 2.9, "2"},
      {K::Int8, -2.9, "-2"},
      {K::Int8, 127.9, "Value 127.900000 for 'x' of type int8 is out of range"},
      {K::Int32, 1e10, "Value 10000000000.000000 for 'x' of type int32 is out of range"},
      {K::Int32, nan, "Value nan for 'x' of type int32 is out of range"},
      {K::Int64, -9223372036854775808.0, "-9223372036854775808"},
      // 2^63 equals the int64 maximum as a double but does not fit once truncated.
      {K::Int64, 9223372036854775808.0,
       "Value 9223372036854775808.000000 for 'x' of type int64 is out of range"},
      {K::Int32, "0x10", "16"},
      {K::Int32, "0X1f", "31"},
      {K::Int32, "010", "8"},
      {K::Int32, "", "0"},
      {K::Int32, " \t42", "42"},
      {K::Int32, "+7", "7"},
      {K::Int32, "-7", "-7"},
      {K::Int32, "12abc", "Value 12abc for 'x' of type int32 is in an incorrect format"},
      {K::Int32, "42 ", "Value 42  for 'x' of type int32 is in an incorrect format"},
      {K::Int32, "-", "Value - for 'x' of type int32 is in an incorrect format"},
      {K::Int32, "0x", "Value 0x for 'x' of type int32 is in an incorrect format"},
      {K::Int32, "1.5", "Value 1.5 for 'x' of type int32 is in an incorrect format"},
      {K::Int64, "99999999999999999999",
       "Value 99999999999999999999 for 'x' of type int64 is out of range"},
      {K::Int8, "0x80", "Value 0x80 for 'x' of type int8 is out of range"},
      {K::Int32, true,
       "Couldn't assign value to 'x' of type int32 because the input is of an invalid type bool."},
      {K::Int16, Blob({1}),
       "Couldn't assign value to 'x' of type int16 because the input is of an invalid type blob."},
      {K::Int64, Collection({1}),
       "Couldn't assign value to 'x' of type int64 because the input is of an invalid type "
       "collection."},
      {K::Int8, Structure({{"a", 1}}),
       "Couldn't assign value to 'x' of type int8 because the input is of an invalid type "
       "structure."},
  };
  ExpectIntegerCases(cases);
}

TEST_F(NumberConversionTest, EnumInputsGiveTheirValueRangeChecked) {
  EXPECT_EQ(IntegerOutcome(BindingTypeKind::Int8, EnumValue(-2)), "-2");
  EXPECT_EQ(IntegerOutcome(BindingTypeKind::Int8, EnumValue(300)),
            "Value 300 for 'x' of type int8 is out of range");
  EXPECT_EQ(IntegerOutcome(BindingTypeKind::UInt16, EnumValue(3)), "3");
  EXPECT_EQ(IntegerOutcome(BindingTypeKind::UInt16, EnumValue(-1)),
            "Value -1 for 'x' of type uint16 is out of range");
}

TEST_F(NumberConversionTest, UnsignedTargetsFollowTheRuleOfEachInputKind) {
  using K = BindingTypeKind;
  const std::vector<IntegerCase> cases = {
      {K::UInt32, Empty(), "A value for 'x' is required."},
      {K::UInt64, int64_t{-1}, "Value -1 for 'x' of type uint64 is out of range"},
      {K::UInt8, 2.9, "2"},
      {K::UInt8, -0.0, "0"},
      {K::UInt8, -0.5, "Value -0.500000 for 'x' of type uint8 is out of range"},
      {K::UInt64, 18446744073709549568.0, "18446744073709549568"},
      {K::UInt64, 18446744073709551616.0,
       "Value 18446744073709551616.000000 for 'x' of type uint64 is out of range"},
      {K::UInt8, "300", "Value 300 for 'x' of type uint8 is out of range"},
      {K::UInt8, "0xFF", "255"},
      {K::UInt16, "0177", "127"},
      {K::UInt32, "+5", "5"},
      {K::UInt32, "", "0"},
      {K::UInt32, "-1", "Value -1 for 'x' of type uint32 is out of range"},
      {K::UInt32, "-0", "Value -0 for 'x' of type uint32 is out of range"},
      // strtoull would wrap this to 2^64 - 1; a minus after blanks is refused as well.
      {K::UInt64, " -1", "Value  -1 for 'x' of type uint64 is out of range"},
      {K::UInt32, "-x", "Value -x for 'x' of type uint32 is in an incorrect format"},
      {K::UInt32, "7z", "Value 7z for 'x' of type uint32 is in an incorrect format"},
      {K::UInt64, "18446744073709551616",
       "Value 18446744073709551616 for 'x' of type uint64 is out of range"},
      {K::UInt8, false,
       "Couldn't assign value to 'x' of type uint8 because the input is of an invalid type bool."},
      {K::Callback, uint64_t{7}, "7"},
      {K::Callback, "0x10", "16"},
      {K::Callback, int64_t{-1}, "Value -1 for 'x' of type callback is out of range"},
  };
  ExpectIntegerCases(cases);
}

TEST_F(NumberConversionTest, FloatingTargetsFollowTheRuleOfEachInputKind) {
  struct FloatCase {
    BindingTypeKind kind;
    BindingProperty input;
    double expected;
    std::string message;  // empty when accepted
  };
  using K = BindingTypeKind;
  const double infinity = std::numeric_limits<double>::infinity();
  const FloatCase cases[] = {
      {K::Double, Empty(), 0, "A value for 'x' is required."},
      {K::Double, int64_t{-3}, -3.0, ""},
      {K::Double, uint64_t{18446744073709551615u}, 18446744073709551615.0, ""},
      {K::Float, 0.1, static_cast<double>(0.1f), ""},
      {K::Float, -3.4028234663852886e38, -3.4028234663852886e38, ""},
      {K::Float, 3.5e38, 0,
       "Value " + BindingProperty(3.5e38).ToText() + " for 'x' of type float is out of range"},
      {K::Double, infinity, 0, "Value inf for 'x' of type double is out of range"},
      {K::Double, " 2.25", 2.25, ""},
      {K::Double, "-1e3", -1000.0, ""},
      {K::Double, "", 0.0, ""},
      {K::Double, "1.5x", 0, "Value 1.5x for 'x' of type double is in an incorrect format"},
      {K::Double, "1e999", 0, "Value 1e999 for 'x' of type double is out of range"},
      {K::Float, "1e39", 0, "Value 1e39 for 'x' of type float is out of range"},
      {K::Double, EnumValue(3), 3.0, ""},
      {K::Double, true, 0,
       "Couldn't assign value to 'x' of type double because the input is of an invalid type "
       "bool."},
      {K::Float, Blob({}), 0,
       "Couldn't assign value to 'x' of type float because the input is of an invalid type blob."},
  };
  for (const FloatCase& row : cases) {
    SCOPED_TRACE(std::string(BindingTypeKindName(row.kind)) + " <- '" + row.input.ToText() + "'");
    const auto check = [&](auto initial) {
      const auto converted = ConvertInto(initial, row.input, registry_);
      EXPECT_EQ(static_cast<double>(converted.native), row.expected);
      EXPECT_EQ(converted.ok, row.message.empty());
      EXPECT_EQ(converted.error, row.message);
    };
    if (row.kind == K::Float) {
      check(-1.0f);
    } else {
      check(-1.0);
    }
  }
}

TEST_F(NumberConversionTest, FloatTargetsKeepANan) {
  const auto converted = ConvertInto(1.0f, std::numeric_limits<double>::quiet_NaN(), registry_);
  EXPECT_TRUE(converted.ok);
  EXPECT_TRUE(std::isnan(converted.native));
  EXPECT_TRUE(std::isnan(ConvertInto(1.0, "nan", registry_).native));
}

}  // namespace
}  // namespace Vexa
