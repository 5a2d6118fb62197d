// Host values: what release frees, the two conversions with their messages, and the nesting
// and element limits.
#include "bridge/host_value.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "binding/registry.h"
#include "codecs/json.h"
#include "support/values.h"

namespace Vexa {
namespace {

using namespace Testing;

enum class HostValueTestStatus : int32_t { Error = 3 };
VEXA_STATIC_TYPE(HostValueTestStatus, "enum Vexa::HostValueTestStatus");

// Everything a test builds is released, so the sanitizer build sees both leaks and frees of
// memory a record does not own.
struct Owned {
  HostValue value{};
  HostResult result{};
  ~Owned() {
    ReleaseHostValue(value);
    ReleaseHostResult(result);
  }
  [[nodiscard]] std::string Error() const { return result.error ? result.error : "<none>"; }
};

bool IsAllZero(const HostValue& value) {
  static const HostValue kZero{};
  return std::memcmp(&value, &kZero, sizeof(HostValue)) == 0;
}

TEST(HostValue, ReleaseFreesOnlyWhatTheRecordOwnsAndZeroesIt) {
  static const char kBorrowedKey[] = "borrowed";
  HostValueMember* members = AllocateHostMembers(2);
  members[0].key = kBorrowedKey;  // freeing it would abort; not freeing the owned one leaks
  members[1].key = CopyHostText("owned");
  members[1].ownsKey = 1;
  ASSERT_TRUE(SetHostString(members[1].value, "text"));
  HostValue value{};
  AdoptHostStructure(value, members, 2);
  ReleaseHostValue(value);
  EXPECT_TRUE(IsAllZero(value));
}

TEST(HostValue, EveryKindComesBackEqualStructuresInKeyOrderAndEnumsByName) {
  BindingRegistry registry;
  registry.RegisterType<HostValueTestStatus>("HostValueTestStatus").AddEnumerator("ERROR", 3);
  const StaticTypeInfo& status = StaticTypeInfoOf<HostValueTestStatus>();
  const BindingProperty original =
      Structure({{"b", Collection({Empty(), true, int64_t{-9223372036854775807 - 1},
                                   uint64_t{18446744073709551615u}, 1.0 / 3.0, "", "Zürich",
                                   Blob({0, 1, 0xFF}), Structure({}), Enumerator(-2, status)})},
                 {"a", Enumerator(3, status)}});
  Owned host;
  ASSERT_TRUE(ToHostValue(original, host.value, &registry));
  const HostValueMember& first = host.value.payload.structure.members[0];
  EXPECT_EQ(+first.ownsKey, 1);
  EXPECT_EQ(+first.value.payload.string.length, 5u);
  BindingProperty back;
  ASSERT_TRUE(FromHostValue(host.result, back, host.value, "value")) << host.Error();
  // An enum without a name travels as its sign-extended number.
  BindingProperty expected = original;
  expected.Member("a") = "ERROR";
  expected.Member("b").ElementAt(9) = int64_t{-2};
  EXPECT_EQ(back, expected);
}

// Whether two host values are the same to a host: kinds, numbers, texts with their lengths,
// bytes, counts, keys and ownsKey flags, at every depth.
bool SameToTheHost(const HostValue& left, const HostValue& right) {
  if (left.kind != right.kind) {
    return false;
  }
  switch (left.kind) {
    case HOST_VALUE_STRING:
      return left.payload.string.length == right.payload.string.length &&
             std::strcmp(left.payload.string.text, right.payload.string.text) == 0;
    case HOST_VALUE_BLOB:
      return left.payload.blob.size == right.payload.blob.size &&
             (left.payload.blob.size == 0 ||
              std::memcmp(left.payload.blob.bytes, right.payload.blob.bytes,
                          left.payload.blob.size) == 0);
    case HOST_VALUE_COLLECTION:
      if (left.payload.collection.count != right.payload.collection.count) {
        return false;
      }
      for (uint32_t index = 0; index < left.payload.collection.count; ++index) {
        if (!SameToTheHost(left.payload.collection.elements[index],
                           right.payload.collection.elements[index])) {
          return false;
        }
      }
      return true;
    case HOST_VALUE_STRUCTURE:
      if (left.payload.structure.count != right.payload.structure.count) {
        return false;
      }
      for (uint32_t index = 0; index < left.payload.structure.count; ++index) {
        const HostValueMember& a = left.payload.structure.members[index];
        const HostValueMember& b = right.payload.structure.members[index];
        if (std::strcmp(a.key, b.key) != 0 || a.ownsKey != b.ownsKey ||
            !SameToTheHost(a.value, b.value)) {
          return false;
        }
      }
      return true;
    default:
      return std::memcmp(&left, &right, sizeof(HostValue)) == 0;
  }
}

// A packed value is the one ToHostValue builds, in one block that one release frees (the
// sanitizer build sees a leak or a stray free); a value without a host form is refused alike.
TEST(PackedHostValue, IsWhatToHostValueBuildsInOneBlock) {
  BindingRegistry registry;
  registry.RegisterType<HostValueTestStatus>("HostValueTestStatus").AddEnumerator("ERROR", 3);
  const StaticTypeInfo& status = StaticTypeInfoOf<HostValueTestStatus>();
  const BindingProperty rows[] = {
      Structure({{"b", Collection({Empty(), true, int64_t{-5}, uint64_t{7}, 0.5, "", "Zürich",
                                   Blob({0, 1, 0xFF}), Blob({}), Structure({}), Collection({}),
                                   Enumerator(-2, status)})},
                 {"a", Enumerator(3, status)},
                 {std::string("n\0ul", 4), std::string("te\0xt", 5)}}),
      Structure({}),
      Collection({}),
      "",
      "text",
      Blob({}),
      Blob({9}),
      Enumerator(3, status),
      42,
      Empty()};
  for (const BindingProperty& row : rows) {
    Owned owned;
    ASSERT_TRUE(ToHostValue(row, owned.value, &registry));
    HostValue packed{};
    ASSERT_TRUE(ToPackedHostValue(row, packed, &registry));
    EXPECT_TRUE(SameToTheHost(packed, owned.value)) << ToJson(row);
    ReleasePackedHostValue(packed);
    EXPECT_TRUE(IsAllZero(packed));
  }
  HostValue packed{};
  EXPECT_FALSE(ToPackedHostValue(NestedCollections(kMaxBindingDepth + 1), packed));
  EXPECT_TRUE(IsAllZero(packed));
  EXPECT_TRUE(ToPackedHostValue(NestedCollections(kMaxBindingDepth), packed));
  ReleasePackedHostValue(packed);
}

TEST(FromHostValue, ReadsTextsUpToTheirNulAndRefusesUnknownKindsKeepingWhatWasBuilt) {
  HostValue* elements = AllocateHostValues(4);
  elements[0].kind = HOST_VALUE_BORROWED_STRING;
  elements[0].payload.string.text = "abc";
  elements[0].payload.string.length = 1;  // not trusted
  elements[1].kind = HOST_VALUE_BOOL;
  elements[1].payload.boolean = 2;  // any non-zero byte is true
  elements[2].kind = 11;
  Owned input;
  AdoptHostCollection(input.value, elements, 4);
  BindingProperty target = Collection({5, 5, 5, 5, 5});
  EXPECT_FALSE(FromHostValue(input.result, target, input.value, "items"));
  EXPECT_EQ(input.Error(),
            "Couldn't assign value to 'items' of type object because the input is of an "
            "incompatible type ''.");
  EXPECT_EQ(target, Collection({"abc", true, Empty()}));

  HostValue blob{};
  blob.kind = HOST_VALUE_BLOB;
  blob.payload.blob.size = 3;  // but no bytes
  EXPECT_FALSE(FromHostValue(input.result, target, blob, "data"));
  EXPECT_EQ(input.Error(),
            "Couldn't assign value to 'data' because the input blob has no data for its count of "
            "3.");
}

TEST(HostValue, NestingIsBoundedBothWaysAndCountsBeforeAnythingIsRead) {
  Owned owned;
  ASSERT_TRUE(ToHostValue(NestedCollections(kMaxBindingDepth), owned.value));
  EXPECT_FALSE(ToHostValue(NestedCollections(kMaxBindingDepth + 1), owned.value));
  EXPECT_TRUE(IsAllZero(owned.value)) << "the partly built arrays are freed";

  BindingProperty target;
  ASSERT_TRUE(ToHostValue(NestedCollections(kMaxBindingDepth), owned.value));
  EXPECT_TRUE(FromHostValue(owned.result, target, owned.value, "deep"));
  HostValue* outer = AllocateHostValues(1);
  std::swap(*outer, owned.value);
  AdoptHostCollection(owned.value, outer, 1);  // one level more
  EXPECT_FALSE(FromHostValue(owned.result, target, owned.value, "deep"));
  EXPECT_EQ(owned.Error(),
            "Couldn't assign value to 'deep' because the input is nested deeper than 512 "
            "levels.");

  HostValue oneElement{};  // the count claims far more than is there: must not be read
  HostValue many{};
  many.kind = HOST_VALUE_COLLECTION;
  many.payload.collection.elements = &oneElement;
  many.payload.collection.count = static_cast<uint32_t>(kMaxBindingElements) + 1;
  EXPECT_FALSE(FromHostValue(owned.result, target, many, "many"));
  EXPECT_EQ(owned.Error(),
            "Couldn't assign value to 'many' because the input collection has 268435456 "
            "elements, more than 268435455.");
}

}  // namespace
}  // namespace Vexa
