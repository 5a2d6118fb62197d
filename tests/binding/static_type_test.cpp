// Native type identity: type texts, hash codes against an independent FNV-1a oracle, and the
// names of the static records. The same expectations run on x86-64 and i386.
#include "binding/static_type.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace Vexa::Client::Api {
struct GeoInfo {
  std::string country;
};
VEXA_STATIC_TYPE(GeoInfo, "struct Vexa::Client::Api::GeoInfo");

enum class GeoInfoStatus : int32_t { Succeeded = 1, Error = 3 };
VEXA_STATIC_TYPE(GeoInfoStatus, "enum Vexa::Client::Api::GeoInfoStatus");

class Locator {
 public:
  enum Mode { Fast, Exact };
};
VEXA_STATIC_TYPE(Locator, "class Vexa::Client::Api::Locator");
VEXA_STATIC_TYPE(Locator::Mode, "enum Vexa::Client::Api::Locator::Mode");
}  // namespace Vexa::Client::Api

struct Undeclared {};

namespace Vexa {
namespace {

using Client::Api::GeoInfo;
using Client::Api::GeoInfoStatus;
using Client::Api::Locator;

constexpr std::string_view kStringText =
    "class std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> >";

// FNV-1a written out again, so that a fault in the production hash cannot hide itself.
uint32_t OracleHash(std::string_view text) {
  uint32_t hash = 2166136261u;
  for (const unsigned char byte : text) {
    hash ^= byte;
    hash *= 16777619u;
  }
  return hash;
}

uint32_t OracleHashCode(std::string_view typeText) {
  return OracleHash("unsigned int __cdecl StaticType::HashCode<" + std::string(typeText) +
                    ">(void)");
}

std::string HashName(uint32_t hash) {
  char text[16];
  std::snprintf(text, sizeof text, "#%08X", static_cast<unsigned>(hash));
  return text;
}

struct TypeCase {
  std::string typeText;  // what the type's text must be
  std::string_view actualText;
  uint32_t hashCode;
  const StaticTypeInfo* info;
};

template <typename T>
TypeCase Case(std::string expectedText) {
  return {std::move(expectedText), StaticType::TypeText<T>(), StaticType::HashCode<T>(),
          &StaticTypeInfoOf<T>()};
}

// Every case: the text as expected, the hash code over its signature, and a record that
// carries the same hash code.
void ExpectTypeCases(const std::vector<TypeCase>& cases) {
  for (const TypeCase& c : cases) {
    SCOPED_TRACE(c.typeText);
    EXPECT_EQ(c.actualText, c.typeText);
    EXPECT_EQ(c.hashCode, OracleHashCode(c.typeText));
    EXPECT_EQ(c.info->hashCode, c.hashCode);
  }
}

// The hash codes the host knows, checked at compile time.
static_assert(StaticType::HashCode<int>() == 0x1C4DE261u);
static_assert(StaticType::HashCode<unsigned int>() == 0x3494B562u);
static_assert(StaticType::HashCode<bool>() == 0x6AB1187Cu);
static_assert(StaticType::HashCode<void>() == 0x1BE7EF8Eu);
static_assert(StaticType::HashCode<unsigned long long>() == 0xC647E802u);
// The fixed-width integers hash alike on every architecture, whatever type they alias.
static_assert(StaticType::HashCode<uint64_t>() == 0xC647E802u);
static_assert(StaticType::HashCode<int64_t>() == StaticType::HashCode<long long>());
static_assert(StaticType::HashCode<std::string>() == 0x2757680Bu);

TEST(StaticTypeText, FundamentalTypesUseTheirSignatureSpelling) {
  ExpectTypeCases({Case<void>("void"), Case<bool>("bool"), Case<char>("char"),
                   Case<signed char>("signed char"), Case<unsigned char>("unsigned char"),
                   Case<short>("short"), Case<unsigned short>("unsigned short"), Case<int>("int"),
                   Case<unsigned int>("unsigned int"),
                   Case<long>(sizeof(long) == 8 ? "__int64" : "long"),
                   Case<unsigned long>(sizeof(long) == 8 ? "unsigned __int64" : "unsigned long"),
                   Case<long long>("__int64"), Case<unsigned long long>("unsigned __int64"),
                   Case<float>("float"), Case<double>("double")});
}

TEST(StaticTypeText, StandardContainersSeparateClosingBracketsByABlank) {
  const std::string s(kStringText);
  ExpectTypeCases({
      Case<std::string>(s),
      Case<std::vector<int>>("class std::vector<int,class std::allocator<int> >"),
      Case<std::vector<std::string>>("class std::vector<" + s + ",class std::allocator<" + s +
                                     " > >"),
      Case<std::vector<std::vector<int>>>(
          "class std::vector<class std::vector<int,class std::allocator<int> >,"
          "class std::allocator<class std::vector<int,class std::allocator<int> > > >"),
      Case<std::optional<int>>("class std::optional<int>"),
      Case<std::optional<std::vector<bool>>>(
          "class std::optional<class std::vector<bool,class std::allocator<bool> > >"),
      Case<std::unordered_map<std::string, int>>(
          "class std::unordered_map<" + s + ",int,struct std::hash<" + s +
          " >,struct std::equal_to<" + s + " >,class std::allocator<struct std::pair<" + s +
          " const ,int> > >"),
      Case<std::unordered_map<std::string, std::string>>(
          "class std::unordered_map<" + s + "," + s + ",struct std::hash<" + s +
          " >,struct std::equal_to<" + s + " >,class std::allocator<struct std::pair<" + s +
          " const ," + s + " > > >"),
  });
}

TEST(StaticTypeText, PointersAppendAStarAfterABlankOnce) {
  ExpectTypeCases(
      {Case<int*>("int *"), Case<int**>("int **"), Case<void*>("void *"),
       Case<GeoInfo*>("struct Vexa::Client::Api::GeoInfo *"),
       Case<std::vector<GeoInfo*>>("class std::vector<struct Vexa::Client::Api::GeoInfo "
                                   "*,class std::allocator<struct "
                                   "Vexa::Client::Api::GeoInfo *> >")});
}

TEST(StaticTypeText, DeclaredRecordsAndEnumsUseTheirDeclaredText) {
  ExpectTypeCases({Case<GeoInfo>("struct Vexa::Client::Api::GeoInfo"),
                   Case<GeoInfoStatus>("enum Vexa::Client::Api::GeoInfoStatus"),
                   Case<Locator>("class Vexa::Client::Api::Locator"),
                   Case<Locator::Mode>("enum Vexa::Client::Api::Locator::Mode"),
                   Case<BindingProperty>("class Vexa::BindingProperty"),
                   Case<std::vector<GeoInfo>>("class std::vector<struct Vexa::Client::Api::GeoInfo,"
                                              "class std::allocator<struct "
                                              "Vexa::Client::Api::GeoInfo> >")});
}

// Types without a text: asking for their hash code does not compile.
static_assert(StaticType::kHasText<std::vector<GeoInfo>>);
static_assert(!StaticType::kHasText<Undeclared>);
static_assert(!StaticType::kHasText<std::vector<Undeclared>>);
static_assert(!StaticType::kHasText<Undeclared*>);
static_assert(!StaticType::kHasText<const int>);
static_assert(!StaticType::kHasText<std::map<std::string, int>>);
static_assert(!StaticType::kHasText<std::unordered_map<int, Undeclared>>);
static_assert(StaticType::kHasDeclaredText<GeoInfo>);
static_assert(!StaticType::kHasDeclaredText<int>);
static_assert(!StaticType::kHasDeclaredText<std::vector<GeoInfo>>);

TEST(StaticTypeName, IsTheSignatureTextOfDeclaredTypes) {
  EXPECT_STREQ(StaticType::Name<GeoInfo>(),
               "const char *__cdecl StaticType::Name<struct Vexa::Client::Api::GeoInfo>(void)");
  EXPECT_STREQ(StaticType::Name<BindingProperty>(),
               "const char *__cdecl StaticType::Name<class Vexa::BindingProperty>(void)");
}

TEST(StaticTypeInfoRecord, NamesDeclaredTypesBySignatureAndOthersByHash) {
  const std::pair<const StaticTypeInfo*, std::string> cases[] = {
      {&StaticTypeInfoOf<int>(), "#1C4DE261"},
      {&StaticTypeInfoOf<void>(), "#1BE7EF8E"},
      {&StaticTypeInfoOf<std::string>(), "#2757680B"},
      {&StaticTypeInfoOf<std::vector<GeoInfo>>(),
       HashName(StaticType::HashCode<std::vector<GeoInfo>>())},
      {&StaticTypeInfoOf<GeoInfo*>(), HashName(StaticType::HashCode<GeoInfo*>())},
      {&StaticTypeInfoOf<GeoInfo>(), StaticType::Name<GeoInfo>()},
      {&StaticTypeInfoOf<GeoInfoStatus>(),
       "const char *__cdecl StaticType::Name<enum Vexa::Client::Api::GeoInfoStatus>(void)"},
      {&StaticTypeInfoOf<BindingProperty>(), StaticType::Name<BindingProperty>()}};
  for (const auto& [info, name] : cases) {
    EXPECT_EQ(info->name, name);
  }
}

TEST(StaticTypeInfoRecord, BufferHoldsTheHashTextPaddedWithNuls) {
  const StaticTypeInfo& info = StaticTypeInfoOf<unsigned long long>();
  EXPECT_EQ(std::string(info.text, sizeof info.text), std::string("#C647E802\0\0\0", 12));
  EXPECT_EQ(info.name, static_cast<const char*>(info.text));
  const StaticTypeInfo& declared = StaticTypeInfoOf<GeoInfo>();
  EXPECT_STREQ(declared.text, HashName(declared.hashCode).c_str());
}

TEST(StaticTypeInfoRecord, OneRecordPerTypeAtAFixedAddress) {
  EXPECT_EQ(&StaticTypeInfoOf<int>(), &StaticTypeInfoOf<int>());
  EXPECT_EQ(StaticType::Name<GeoInfo>(), StaticType::Name<GeoInfo>());
  EXPECT_NE(&StaticTypeInfoOf<int>(), &StaticTypeInfoOf<unsigned int>());
  static_assert(StaticTypeInfoOf<std::vector<int>>().hashCode ==
                StaticType::HashCode<std::vector<int>>());
}

// The checks VEXA_STATIC_TYPE runs at compile time, exercised on texts that must fail.
TEST(StaticTypeDeclaration, TextMustNameTheKindAndEndWithTheType) {
  using StaticTypeDetail::EndsWithName;
  using StaticTypeDetail::StartsWithKindWord;
  EXPECT_TRUE(StartsWithKindWord<GeoInfo>("struct A::GeoInfo"));
  EXPECT_TRUE(StartsWithKindWord<GeoInfo>("class A::GeoInfo"));
  EXPECT_FALSE(StartsWithKindWord<GeoInfo>("enum A::GeoInfo"));
  EXPECT_FALSE(StartsWithKindWord<GeoInfo>("structA::GeoInfo"));
  EXPECT_TRUE(StartsWithKindWord<GeoInfoStatus>("enum A::GeoInfoStatus"));
  EXPECT_FALSE(StartsWithKindWord<GeoInfoStatus>("struct A::GeoInfoStatus"));
  EXPECT_FALSE(StartsWithKindWord<int>("struct int"));

  EXPECT_TRUE(EndsWithName("struct A::GeoInfo", "GeoInfo"));
  EXPECT_TRUE(EndsWithName("struct GeoInfo", "GeoInfo"));
  EXPECT_TRUE(EndsWithName("enum A::Locator::Mode", "Locator::Mode"));
  EXPECT_TRUE(EndsWithName("struct A::GeoInfo", "::A::GeoInfo"));
  EXPECT_FALSE(EndsWithName("struct A::MyGeoInfo", "GeoInfo"));
  EXPECT_FALSE(EndsWithName("struct A::GeoInfo2", "GeoInfo"));
  EXPECT_FALSE(EndsWithName("GeoInfo", "GeoInfo"));
  EXPECT_FALSE(EndsWithName("struct A::GeoInfo", ""));
}

}  // namespace
}  // namespace Vexa
