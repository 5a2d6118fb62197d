#include "binding/host_value.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "binding/registry.h"
#include "binding/static_type.h"
#include "conversion_test_support.h"

namespace Vexa {
namespace {

enum class HostValueTestStatus : int32_t { Succeeded = 1, Error = 3 };
VEXA_STATIC_TYPE(HostValueTestStatus, "enum Vexa::HostValueTestStatus");

// Every host value a test builds goes through ReleaseHostValue, so the sanitizer build sees
// both leaks and frees of memory the record does not own.
struct OwnedHostValue {
  HostValue value{};
  OwnedHostValue() = default;
  OwnedHostValue(const OwnedHostValue&) = delete;
  OwnedHostValue& operator=(const OwnedHostValue&) = delete;
  ~OwnedHostValue() { ReleaseHostValue(value); }
};

struct OwnedHostResult {
  HostResult result{};
  OwnedHostResult() = default;
  OwnedHostResult(const OwnedHostResult&) = delete;
  OwnedHostResult& operator=(const OwnedHostResult&) = delete;
  ~OwnedHostResult() { ReleaseHostResult(result); }
  [[nodiscard]] std::string Error() const { return result.error ? result.error : "<none>"; }
};

// Packed fields are copied out before a matcher binds a reference to them.
HostValueKind KindOf(const HostValue& value) {
  return value.kind;
}
uint32_t CountOf(const HostValue& value) {
  return value.payload.string.length;  // every pointer-and-count kind keeps it here
}
const void* PointerOf(const HostValue& value) {
  return value.payload.string.text;
}
int64_t SignedOf(const HostValue& value) {
  return value.payload.signedValue;
}
const char* ErrorOf(const HostResult& result) {
  return result.error;
}

bool IsAllZero(const HostValue& value) {
  static const HostValue kZero{};
  return std::memcmp(&value, &kZero, sizeof(HostValue)) == 0;
}

HostValue BorrowedString(const char* text, uint32_t length) {
  HostValue value{};
  value.kind = HOST_VALUE_BORROWED_STRING;
  value.payload.string.text = text;
  value.payload.string.length = length;
  return value;
}

HostValue WithPointerAndCount(HostValueKind kind, const void* pointer, uint32_t count) {
  HostValue value{};
  value.kind = kind;
  value.payload.blob.bytes = static_cast<const uint8_t*>(pointer);
  value.payload.blob.size = count;
  return value;
}

// `levels` collections, each holding the next; the innermost holds one signed value.
void BuildNestedHostCollections(HostValue& root, std::size_t levels) {
  HostValue* current = &root;
  for (std::size_t level = 0; level < levels; ++level) {
    HostValue* element = AllocateHostValues(1);
    ASSERT_NE(element, nullptr);
    AdoptHostCollection(*current, element, 1);
    current = element;
  }
  SetHostSigned(*current, 7);
}

BindingProperty NestedProperty(std::size_t levels) {
  BindingProperty root;
  BindingProperty* current = &root;
  for (std::size_t level = 0; level < levels; ++level) {
    current = &current->ElementAt(0);
  }
  *current = 7;
  return root;
}

// --- Release and setters ---

TEST(HostValueRelease, FreesOnlyKeysThatTheMemberOwns) {
  static const char kBorrowedKey[] = "borrowed";
  HostValueMember* members = AllocateHostMembers(2);
  ASSERT_NE(members, nullptr);
  members[0].key = kBorrowedKey;
  members[0].ownsKey = 0;
  members[1].key = CopyHostText("owned");
  members[1].ownsKey = 1;
  ASSERT_TRUE(SetHostString(members[1].value, "text"));
  HostValue value{};
  AdoptHostStructure(value, members, 2);

  // Freeing the static key would abort; not freeing the owned one would leak.
  ReleaseHostValue(value);
  EXPECT_TRUE(IsAllZero(value));
}

TEST(HostValueRelease, LeavesBorrowedPayloadsAndNullArraysAloneAndZeroesTheRecord) {
  char text[] = "host text";
  for (HostValue value :
       {BorrowedString(text, 9), WithPointerAndCount(HOST_VALUE_COLLECTION, nullptr, 5),
        WithPointerAndCount(HOST_VALUE_STRUCTURE, nullptr, 5)}) {
    ReleaseHostValue(value);
    EXPECT_TRUE(IsAllZero(value));
  }
  EXPECT_STREQ(text, "host text");
}

TEST(HostValueSetters, EachReleasesWhatTheRecordHeldAndStringsAreOwnedCopiesUpToTheirNul) {
  OwnedHostValue owned;
  ASSERT_TRUE(SetHostString(owned.value, "first"));
  ASSERT_TRUE(SetHostBlob(owned.value, reinterpret_cast<const uint8_t*>("xyz"), 3));
  SetHostUnsigned(owned.value, 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(KindOf(owned.value), HostValueKind{HOST_VALUE_UNSIGNED});
  EXPECT_EQ(SignedOf(owned.value), -1);

  const std::string source("ab\0cd", 5);
  ASSERT_TRUE(SetHostString(owned.value, source));
  const char* text = owned.value.payload.string.text;
  const uint32_t length = owned.value.payload.string.length;
  EXPECT_EQ(KindOf(owned.value), HostValueKind{HOST_VALUE_STRING});
  EXPECT_NE(text, source.data());
  EXPECT_STREQ(text, "ab");
  EXPECT_EQ(length, 2u);
}

TEST(HostValueSetters, BlobRefusesNullBytesWithACountAndKeepsEmptyBlobsBufferless) {
  OwnedHostValue owned;
  ASSERT_TRUE(SetHostString(owned.value, "previous"));
  EXPECT_FALSE(SetHostBlob(owned.value, nullptr, 4));
  EXPECT_TRUE(IsAllZero(owned.value));

  ASSERT_TRUE(SetHostBlob(owned.value, nullptr, 0));
  EXPECT_EQ(KindOf(owned.value), HostValueKind{HOST_VALUE_BLOB});
  EXPECT_EQ(PointerOf(owned.value), nullptr);
}

TEST(HostValueSetters, ErrorReleasesTheValueAndOwnsACopyOfTheMessage) {
  OwnedHostResult owned;
  ASSERT_TRUE(SetHostString(owned.result.value, "body"));
  std::string message = "first";
  SetHostError(owned.result, message);
  SetHostError(owned.result, "second");  // the first copy is freed, not leaked
  message[0] = 'X';
  EXPECT_TRUE(IsAllZero(owned.result.value));
  EXPECT_EQ(owned.Error(), "second");
  EXPECT_EQ(owned.result.ownsError, 1);
}

TEST(HostValueKindNames, NameEveryKindAndNothingElse) {
  const std::vector<std::pair<HostValueKind, std::string>> cases = {
      {0, ""},           {1, "bool"},   {2, "signed"},    {3, "unsigned"}, {4, "float"},
      {5, "string"},     {6, "string"}, {7, "blob"},      {8, "blob"},     {9, "collection"},
      {10, "structure"}, {11, ""},      {0xFFFFFFFFu, ""}};
  for (const auto& [kind, name] : cases) {
    EXPECT_EQ(HostValueKindName(kind), name) << "kind " << kind;
  }
}

// --- To host ---

TEST(ToHostValue, StructureMembersComeInKeyOrderWithOwnedKeys) {
  const BindingProperty property = Testing::Structure({{"b", 2}, {"a", 1}});
  OwnedHostValue owned;
  ASSERT_TRUE(ToHostValue(property, owned.value));

  ASSERT_EQ(KindOf(owned.value), HostValueKind{HOST_VALUE_STRUCTURE});
  ASSERT_EQ(CountOf(owned.value), 2u);
  const HostValueMember* members = owned.value.payload.structure.members;
  EXPECT_STREQ(members[0].key, "a");
  EXPECT_STREQ(members[1].key, "b");
  EXPECT_EQ(members[0].ownsKey, 1);
  EXPECT_EQ(members[1].ownsKey, 1);
  EXPECT_EQ(SignedOf(members[0].value), 1);
}

TEST(ToHostValue, EnumIsItsEnumeratorNameOnlyWhenTheRegistryHasOne) {
  BindingRegistry registry;
  registry.RegisterType<HostValueTestStatus>("HostValueTestStatus")
      .AddEnumerator("SUCCEEDED", 1)
      .AddEnumerator("ERROR", 3);
  const StaticTypeInfo& status = StaticTypeInfoOf<HostValueTestStatus>();
  const BindingProperty known = Testing::Enumerator(3, status);
  const BindingProperty unknown = Testing::Enumerator(-2, status);
  const BindingProperty unregistered = Testing::Enumerator(1, StaticTypeInfoOf<BindingProperty>());

  OwnedHostValue named;
  ASSERT_TRUE(ToHostValue(known, named.value, &registry));
  EXPECT_EQ(KindOf(named.value), HostValueKind{HOST_VALUE_STRING});
  EXPECT_STREQ(named.value.payload.string.text, "ERROR");
  EXPECT_EQ(CountOf(named.value), 5u);

  // Without a name the 32-bit value travels sign-extended.
  const std::vector<std::tuple<const BindingProperty*, const BindingRegistry*, int64_t>> numbers = {
      {&known, nullptr, 3}, {&unknown, &registry, -2}, {&unregistered, &registry, 1}};
  for (const auto& [property, withRegistry, expected] : numbers) {
    OwnedHostValue number;
    ASSERT_TRUE(ToHostValue(*property, number.value, withRegistry));
    EXPECT_EQ(KindOf(number.value), HostValueKind{HOST_VALUE_SIGNED});
    EXPECT_EQ(SignedOf(number.value), expected);
  }
}

TEST(ToHostValue, ReplacesWhatTheTargetHeldAndRefusesNestingDeeperThanTheLimit) {
  OwnedHostValue owned;
  ASSERT_TRUE(SetHostString(owned.value, "old"));
  ASSERT_TRUE(ToHostValue(BindingProperty(true), owned.value));
  EXPECT_EQ(KindOf(owned.value), HostValueKind{HOST_VALUE_BOOL});
  EXPECT_EQ(SignedOf(owned.value), 1);  // the byte, and zeros after it

  ASSERT_TRUE(ToHostValue(NestedProperty(kMaxBindingDepth), owned.value));
  EXPECT_EQ(KindOf(owned.value), HostValueKind{HOST_VALUE_COLLECTION});

  // The partly built arrays are freed (the sanitizer build checks for leaks).
  EXPECT_FALSE(ToHostValue(NestedProperty(kMaxBindingDepth + 1), owned.value));
  EXPECT_TRUE(IsAllZero(owned.value));
}

// --- From host ---

TEST(FromHostValue, ReadsScalarKinds) {
  struct Case {
    HostValue input;
    BindingProperty expected;
  };
  HostValue boolean{HOST_VALUE_BOOL, {}};
  boolean.payload.boolean = 2;  // any non-zero byte is true
  HostValue negative{HOST_VALUE_SIGNED, {}};
  negative.payload.signedValue = -5000000000ll;
  HostValue large{HOST_VALUE_UNSIGNED, {}};
  large.payload.unsignedValue = 0xFFFFFFFFFFFFFFFFull;
  HostValue fraction{HOST_VALUE_FLOAT, {}};
  fraction.payload.floatValue = -2.5;
  const std::vector<Case> cases = {{HostValue{}, BindingProperty()},
                                   {boolean, BindingProperty(true)},
                                   {negative, BindingProperty(-5000000000ll)},
                                   {large, BindingProperty(0xFFFFFFFFFFFFFFFFull)},
                                   {fraction, BindingProperty(-2.5)}};
  for (const Case& test : cases) {
    OwnedHostResult owned;
    BindingProperty target("previous");
    EXPECT_TRUE(FromHostValue(owned.result, target, test.input, "value"));
    EXPECT_EQ(target, test.expected) << "kind " << KindOf(test.input);
    EXPECT_EQ(ErrorOf(owned.result), nullptr);
  }
}

TEST(FromHostValue, ReadsStringsUpToTheirNulWhateverTheLengthWordAndANullTextAsEmpty) {
  OwnedHostResult owned;
  BindingProperty target;
  for (const uint32_t length : {0u, 1u, 3u, 1000u}) {
    ASSERT_TRUE(FromHostValue(owned.result, target, BorrowedString("abc", length), "text"));
    EXPECT_EQ(target.GetString(), "abc") << "length word " << length;
  }
  ASSERT_TRUE(FromHostValue(owned.result, target, BorrowedString(nullptr, 4), "text"));
  EXPECT_EQ(target.Kind(), BindingPropertyKind::String);
  EXPECT_EQ(target.Size(), 0u);
}

TEST(FromHostValue, ReadsAnEmptyNullBlobAndRefusesMissingData) {
  OwnedHostResult owned;
  BindingProperty target;
  ASSERT_TRUE(FromHostValue(owned.result, target,
                            WithPointerAndCount(HOST_VALUE_BORROWED_BLOB, nullptr, 0), "b"));
  EXPECT_EQ(target.Kind(), BindingPropertyKind::Blob);

  const std::vector<std::pair<HostValue, std::string>> cases = {
      {WithPointerAndCount(HOST_VALUE_BLOB, nullptr, 3),
       "Couldn't assign value to 'data' because the input blob has no data for its count of 3."},
      {WithPointerAndCount(HOST_VALUE_COLLECTION, nullptr, 2),
       "Couldn't assign value to 'data' because the input collection has no data for its count "
       "of 2."},
      {WithPointerAndCount(HOST_VALUE_STRUCTURE, nullptr, 1),
       "Couldn't assign value to 'data' because the input structure has no data for its count "
       "of 1."}};
  for (const auto& [input, message] : cases) {
    OwnedHostResult failed;
    EXPECT_FALSE(FromHostValue(failed.result, target, input, "data"));
    EXPECT_EQ(failed.Error(), message);
  }
}

TEST(FromHostValue, UnknownKindInsideACollectionFailsAndKeepsWhatWasBuilt) {
  HostValue* elements = AllocateHostValues(3);
  ASSERT_NE(elements, nullptr);
  SetHostSigned(elements[0], 1);
  elements[1].kind = 11;
  SetHostSigned(elements[2], 3);
  OwnedHostValue input;
  AdoptHostCollection(input.value, elements, 3);
  OwnedHostResult owned;
  ASSERT_TRUE(SetHostString(owned.result.value, "body"));  // released by the failure
  BindingProperty target;

  EXPECT_FALSE(FromHostValue(owned.result, target, input.value, "items"));
  EXPECT_EQ(owned.Error(),
            "Couldn't assign value to 'items' of type object because the input is of an "
            "incompatible type ''.");
  EXPECT_EQ(owned.result.ownsError, 1);
  EXPECT_TRUE(IsAllZero(owned.result.value));
  ASSERT_EQ(target.Kind(), BindingPropertyKind::Collection);
  EXPECT_EQ(target.ElementAt(0), BindingProperty(1));
  EXPECT_EQ(target.Size(), 2u);  // the failing element's slot, left empty; nothing after it
  EXPECT_TRUE(target.ElementAt(1).IsEmpty());
}

TEST(FromHostValue, LaterDuplicateKeysOverwriteEarlierOnesAndANullKeyIsEmpty) {
  HostValueMember* members = AllocateHostMembers(3);
  ASSERT_NE(members, nullptr);
  members[0].key = "k";
  SetHostSigned(members[0].value, 1);
  members[1].key = "k";
  SetHostSigned(members[1].value, 2);
  members[2].key = nullptr;
  SetHostBool(members[2].value, true);
  OwnedHostValue input;
  AdoptHostStructure(input.value, members, 3);
  OwnedHostResult owned;
  BindingProperty target;

  ASSERT_TRUE(FromHostValue(owned.result, target, input.value, "s"));
  EXPECT_EQ(target.Size(), 2u);
  EXPECT_EQ(target.Member("k"), BindingProperty(2));
  EXPECT_EQ(target.Member(""), BindingProperty(true));
}

TEST(FromHostValue, ReplacesAContainerTheTargetAlreadyHeld) {
  OwnedHostValue input;
  BuildNestedHostCollections(input.value, 1);
  OwnedHostResult owned;
  BindingProperty target = Testing::Collection({Testing::Empty(), Testing::Empty(), 5});
  ASSERT_TRUE(FromHostValue(owned.result, target, input.value, "list"));
  EXPECT_EQ(target, Testing::Collection({7}));
}

TEST(FromHostValue, RefusesNestingAndCountsBeyondTheLimits) {
  OwnedHostValue deepest;
  BuildNestedHostCollections(deepest.value, kMaxBindingDepth);
  OwnedHostResult owned;
  BindingProperty target;
  ASSERT_TRUE(FromHostValue(owned.result, target, deepest.value, "deep"));
  EXPECT_EQ(target, NestedProperty(kMaxBindingDepth));

  OwnedHostValue tooDeep;
  BuildNestedHostCollections(tooDeep.value, kMaxBindingDepth + 1);
  EXPECT_FALSE(FromHostValue(owned.result, target, tooDeep.value, "deep"));
  EXPECT_EQ(owned.Error(),
            "Couldn't assign value to 'deep' because the input is nested deeper than 512 "
            "levels.");

  // A count above the element limit is refused before anything is read.
  HostValue oneElement{};  // the count claims far more than is there: must not be read
  const HostValue input = WithPointerAndCount(HOST_VALUE_COLLECTION, &oneElement,
                                              static_cast<uint32_t>(kMaxBindingElements) + 1);
  EXPECT_FALSE(FromHostValue(owned.result, target, input, "many"));
  EXPECT_EQ(owned.Error(),
            "Couldn't assign value to 'many' because the input collection has 268435456 "
            "elements, more than 268435455.");
}

// --- Round trips ---

TEST(HostValueRoundTrip, EveryKindComesBackEqual) {
  using namespace Testing;
  const BindingProperty cases[] = {Empty(),
                                   true,
                                   int64_t{-9223372036854775807 - 1},
                                   uint64_t{18446744073709551615u},
                                   1.0 / 3.0,
                                   "",
                                   "text",
                                   Blob({0, 1, 0xFF}),
                                   Collection({}),
                                   Structure({}),
                                   Structure({{"name", "Zürich"},
                                              {"codes", Collection({Empty(), 41u})},
                                              {"nested", Structure({{"flag", false}})}})};
  for (const BindingProperty& original : cases) {
    OwnedHostValue host;
    ASSERT_TRUE(ToHostValue(original, host.value));
    OwnedHostResult owned;
    BindingProperty back;
    ASSERT_TRUE(FromHostValue(owned.result, back, host.value, "value")) << owned.Error();
    EXPECT_EQ(back, original) << "kind " << BindingPropertyKindName(original.Kind());
  }
}

}  // namespace
}  // namespace Vexa
