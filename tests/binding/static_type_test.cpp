// Native type identity: type texts, hash codes against an independent FNV-1a oracle and the
// values the host knows, and the names of the static records. Runs alike on x86-64 and i386.
#include "binding/static_type.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Vexa::Client::Api {
struct GeoInfo {
  std::string country;
};
VEXA_STATIC_TYPE(GeoInfo, "struct Vexa::Client::Api::GeoInfo");
}  // namespace Vexa::Client::Api

struct Undeclared {};

namespace Vexa {
namespace {

using Client::Api::GeoInfo;

// FNV-1a written out again, so that a fault in the production hash cannot hide itself.
uint32_t OracleHashCode(std::string_view typeText) {
  uint32_t hash = 2166136261u;
  for (const unsigned char byte :
       "unsigned int __cdecl StaticType::HashCode<" + std::string(typeText) + ">(void)") {
    hash = (hash ^ byte) * 16777619u;
  }
  return hash;
}

// The text T has, checked against `expected`, and its hash code against the oracle's.
template <typename T>
void ExpectText(const std::string& expected) {
  EXPECT_EQ(StaticType::TypeText<T>(), expected);
  EXPECT_EQ(StaticType::HashCode<T>(), OracleHashCode(expected)) << expected;
}

TEST(StaticTypeText, SpellsTypesAsTheHostsCompilerDid) {
  const std::string s =
      "class std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> >";
  ExpectText<long>(sizeof(long) == 8 ? "__int64" : "long");
  ExpectText<std::vector<std::vector<int>>>(
      "class std::vector<class std::vector<int,class std::allocator<int> >,"
      "class std::allocator<class std::vector<int,class std::allocator<int> > > >");
  ExpectText<std::unordered_map<std::string, int>>(
      "class std::unordered_map<" + s + ",int,struct std::hash<" + s + " >,struct std::equal_to<" +
      s + " >,class std::allocator<struct std::pair<" + s + " const ,int> > >");
  ExpectText<int**>("int **");
  ExpectText<std::vector<GeoInfo*>>(
      "class std::vector<struct Vexa::Client::Api::GeoInfo *,"
      "class std::allocator<struct Vexa::Client::Api::GeoInfo *> >");
}

TEST(StaticTypeHashCode, IsTheOneTheHostKnows) {
  EXPECT_EQ(StaticType::HashCode<int>(), 0x1C4DE261u);
  EXPECT_EQ(StaticType::HashCode<unsigned int>(), 0x3494B562u);
  EXPECT_EQ(StaticType::HashCode<bool>(), 0x6AB1187Cu);
  EXPECT_EQ(StaticType::HashCode<void>(), 0x1BE7EF8Eu);
  EXPECT_EQ(StaticType::HashCode<std::string>(), 0x2757680Bu);
  // The fixed-width integers hash alike on every architecture, whatever type they alias.
  EXPECT_EQ(StaticType::HashCode<uint64_t>(), 0xC647E802u);
  EXPECT_EQ(StaticType::HashCode<int64_t>(), StaticType::HashCode<long long>());
}

// Only declared types and the spelled-out library and fundamental types have a text.
static_assert(!StaticType::kHasText<Undeclared>);
static_assert(!StaticType::kHasText<std::map<std::string, int>>);

TEST(StaticTypeInfoRecord, NamesDeclaredTypesBySignatureAndOthersByHash) {
  EXPECT_STREQ(StaticTypeInfoOf<int>().name, "#1C4DE261");
  EXPECT_STREQ(StaticTypeInfoOf<std::string>().name, "#2757680B");
  EXPECT_STREQ(StaticTypeInfoOf<GeoInfo>().name,
               "const char *__cdecl StaticType::Name<struct Vexa::Client::Api::GeoInfo>(void)");
  EXPECT_STREQ(StaticType::Name<BindingProperty>(),
               "const char *__cdecl StaticType::Name<class Vexa::BindingProperty>(void)");
  // The 12-byte buffer holds the hash text, NUL-padded, also for a declared type.
  const StaticTypeInfo& wide = StaticTypeInfoOf<unsigned long long>();
  EXPECT_EQ(std::string(wide.text, sizeof wide.text), std::string("#C647E802\0\0\0", 12));
}

// The checks VEXA_STATIC_TYPE runs at compile time, on texts that must fail.
TEST(StaticTypeDeclaration, TextMustNameTheKindAndEndWithTheType) {
  EXPECT_FALSE(StaticTypeDetail::EndsWithName("struct A::MyGeoInfo", "GeoInfo"));
}

}  // namespace
}  // namespace Vexa
