#include "codecs/msgpack.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "binding/value_context.h"
#include "codecs/msgpack_messages.h"
#include "codecs/msgpack_reader.h"
#include "binding/value_builder.h"
#include "util/format.h"

namespace {

using Vexa::BindingBlob;
using Vexa::BindingProperty;
using Vexa::DecodeMessagePack;
using Vexa::Format;
using Vexa::MessagePackDecoded;
using Kind = Vexa::BindingPropertyKind;
using Bytes = std::vector<uint8_t>;

// Decodes a copy of `bytes` in a buffer of exactly their size, so that a read past the end is
// caught by the address sanitizer rather than landing in the caller's slack.
MessagePackDecoded Decode(const Bytes& bytes) {
  if (bytes.empty()) {
    return DecodeMessagePack(nullptr, 0);
  }
  const std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size()]);
  std::memcpy(exact.get(), bytes.data(), bytes.size());
  return DecodeMessagePack(exact.get(), bytes.size());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

Bytes Repeat(uint8_t byte, std::size_t count) {
  return Bytes(count, byte);
}

// `count` bytes 'a', 'b', ... cycling through the alphabet.
std::string Letters(std::size_t count) {
  std::string text;
  for (std::size_t index = 0; index < count; ++index) {
    text.push_back(static_cast<char>('a' + index % 26));
  }
  return text;
}

Bytes AsBytes(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

// Asserts a failure with exactly `message` that stopped at `consumed`.
void ExpectFailure(const Bytes& bytes, const std::string& message, std::size_t consumed) {
  const MessagePackDecoded decoded = Decode(bytes);
  EXPECT_FALSE(decoded.result.ok);
  EXPECT_EQ(decoded.result.ErrorText(), message);
  EXPECT_EQ(decoded.consumed, consumed);
  // The failure shape: exactly one member, "error", and nothing of the partial value.
  EXPECT_EQ(decoded.result.value.Kind(), Kind::Structure);
  EXPECT_EQ(decoded.result.value.Size(), 1u);
}

// A success that read exactly `consumed` bytes and yields `expected`.
void ExpectValue(const Bytes& bytes, const BindingProperty& expected, std::size_t consumed) {
  const MessagePackDecoded decoded = Decode(bytes);
  ASSERT_TRUE(decoded.result.ok) << decoded.result.ErrorText();
  EXPECT_EQ(decoded.consumed, consumed);
  EXPECT_EQ(decoded.result.value.Kind(), expected.Kind());
  EXPECT_TRUE(decoded.result.value == expected);
}

BindingProperty Blob(const Bytes& bytes) {
  BindingProperty value;
  value.SetBlob(bytes.data(), bytes.size());
  return value;
}

// --- Every type byte, at the boundaries of each width ---

struct ScalarCase {
  const char* name;
  Bytes bytes;
  BindingProperty expected;
};

std::vector<ScalarCase> ScalarCases() {
  const std::string s31 = Letters(31), s255 = Letters(255), s256 = Letters(256);
  const std::string s65535 = Letters(65535), s65536 = Letters(65536);
  const Bytes b255 = AsBytes(Letters(255)), b256 = AsBytes(Letters(256));
  const Bytes b65536 = AsBytes(Letters(65536));
  return {
      {"positive fixint 0", {0x00}, BindingProperty(int64_t{0})},
      {"positive fixint 42", {0x2A}, BindingProperty(int64_t{42})},
      {"positive fixint 127", {0x7F}, BindingProperty(int64_t{127})},
      {"negative fixint -32", {0xE0}, BindingProperty(int64_t{-32})},
      {"negative fixint -1", {0xFF}, BindingProperty(int64_t{-1})},
      {"nil", {0xC0}, BindingProperty()},
      {"false", {0xC2}, BindingProperty(false)},
      {"true", {0xC3}, BindingProperty(true)},
      {"uint 8 zero", {0xCC, 0x00}, BindingProperty(uint64_t{0})},
      {"uint 8 42", {0xCC, 0x2A}, BindingProperty(uint64_t{42})},
      {"uint 8 max", {0xCC, 0xFF}, BindingProperty(uint64_t{255})},
      {"uint 16 byte order", {0xCD, 0x01, 0x02}, BindingProperty(uint64_t{0x0102})},
      {"uint 16 max", {0xCD, 0xFF, 0xFF}, BindingProperty(uint64_t{65535})},
      {"uint 32 byte order", {0xCE, 0x01, 0x02, 0x03, 0x04}, BindingProperty(uint64_t{0x01020304})},
      {"uint 32 max", {0xCE, 0xFF, 0xFF, 0xFF, 0xFF}, BindingProperty(uint64_t{0xFFFFFFFF})},
      {"uint 64 byte order",
       {0xCF, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08},
       BindingProperty(uint64_t{0x0102030405060708})},
      {"uint 64 max",
       {0xCF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       BindingProperty(std::numeric_limits<uint64_t>::max())},
      {"int 8 min", {0xD0, 0x80}, BindingProperty(int64_t{-128})},
      {"int 8 max", {0xD0, 0x7F}, BindingProperty(int64_t{127})},
      {"int 8 -1", {0xD0, 0xFF}, BindingProperty(int64_t{-1})},
      {"int 16 min", {0xD1, 0x80, 0x00}, BindingProperty(int64_t{-32768})},
      {"int 16 max", {0xD1, 0x7F, 0xFF}, BindingProperty(int64_t{32767})},
      {"int 16 byte order", {0xD1, 0x01, 0x02}, BindingProperty(int64_t{0x0102})},
      {"int 32 min", {0xD2, 0x80, 0x00, 0x00, 0x00}, BindingProperty(int64_t{INT32_MIN})},
      {"int 32 max", {0xD2, 0x7F, 0xFF, 0xFF, 0xFF}, BindingProperty(int64_t{INT32_MAX})},
      {"int 32 -2", {0xD2, 0xFF, 0xFF, 0xFF, 0xFE}, BindingProperty(int64_t{-2})},
      {"int 64 min",
       {0xD3, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
       BindingProperty(std::numeric_limits<int64_t>::min())},
      {"int 64 max",
       {0xD3, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       BindingProperty(std::numeric_limits<int64_t>::max())},
      {"int 64 byte order",
       {0xD3, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08},
       BindingProperty(int64_t{0x0102030405060708})},
      {"float 32 1.5", {0xCA, 0x3F, 0xC0, 0x00, 0x00}, BindingProperty(1.5)},
      {"float 32 -0.25", {0xCA, 0xBE, 0x80, 0x00, 0x00}, BindingProperty(-0.25)},
      {"float 32 largest",
       {0xCA, 0x7F, 0x7F, 0xFF, 0xFF},
       BindingProperty(static_cast<double>(std::numeric_limits<float>::max()))},
      {"float 32 smallest subnormal",
       {0xCA, 0x00, 0x00, 0x00, 0x01},
       BindingProperty(static_cast<double>(std::numeric_limits<float>::denorm_min()))},
      {"float 32 infinity",
       {0xCA, 0x7F, 0x80, 0x00, 0x00},
       BindingProperty(std::numeric_limits<double>::infinity())},
      {"float 64 1.5", {0xCB, 0x3F, 0xF8, 0, 0, 0, 0, 0, 0}, BindingProperty(1.5)},
      {"float 64 largest",
       {0xCB, 0x7F, 0xEF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       BindingProperty(std::numeric_limits<double>::max())},
      {"float 64 smallest subnormal",
       {0xCB, 0, 0, 0, 0, 0, 0, 0, 0x01},
       BindingProperty(std::numeric_limits<double>::denorm_min())},
      {"float 64 minus infinity",
       {0xCB, 0xFF, 0xF0, 0, 0, 0, 0, 0, 0},
       BindingProperty(-std::numeric_limits<double>::infinity())},
      {"fixstr empty", {0xA0}, BindingProperty("")},
      {"fixstr one", {0xA1, 'a'}, BindingProperty("a")},
      {"fixstr 31", Concat({{0xBF}, AsBytes(s31)}), BindingProperty(s31)},
      {"str 8 empty", {0xD9, 0x00}, BindingProperty("")},
      {"str 8 255", Concat({{0xD9, 0xFF}, AsBytes(s255)}), BindingProperty(s255)},
      {"str 16 256", Concat({{0xDA, 0x01, 0x00}, AsBytes(s256)}), BindingProperty(s256)},
      {"str 16 65535", Concat({{0xDA, 0xFF, 0xFF}, AsBytes(s65535)}), BindingProperty(s65535)},
      {"str 32 65536", Concat({{0xDB, 0x00, 0x01, 0x00, 0x00}, AsBytes(s65536)}),
       BindingProperty(s65536)},
      {"str 32 empty", {0xDB, 0, 0, 0, 0}, BindingProperty("")},
      {"str non-ASCII bytes kept", {0xA3, 0xC3, 0xA9, 0xFF}, BindingProperty("\xC3\xA9\xFF")},
      {"str cut at its first NUL", {0xA3, 'a', 0x00, 'b'}, BindingProperty("a")},
      {"bin 8 empty", {0xC4, 0x00}, Blob({})},
      {"bin 8 three", {0xC4, 0x03, 0x00, 0x01, 0xFF}, Blob({0x00, 0x01, 0xFF})},
      {"bin 8 255", Concat({{0xC4, 0xFF}, b255}), Blob(b255)},
      {"bin 16 256", Concat({{0xC5, 0x01, 0x00}, b256}), Blob(b256)},
      {"bin 32 65536", Concat({{0xC6, 0x00, 0x01, 0x00, 0x00}, b65536}), Blob(b65536)},
  };
}

TEST(MessagePackScalars, DecodeEveryFormatAtTheBoundariesOfItsWidth) {
  for (const ScalarCase& scalar : ScalarCases()) {
    SCOPED_TRACE(scalar.name);
    ExpectValue(scalar.bytes, scalar.expected, scalar.bytes.size());
  }
}

TEST(MessagePackScalars, KeepSignedAndUnsignedApart) {
  // The same number 42 as a fixint and as a uint 8: never merged into one kind.
  EXPECT_EQ(Decode({0x2A}).result.value.Kind(), Kind::Signed);
  EXPECT_EQ(Decode({0xCC, 0x2A}).result.value.Kind(), Kind::Unsigned);
  EXPECT_EQ(Decode({0xD0, 0x2A}).result.value.Kind(), Kind::Signed);
  EXPECT_EQ(Decode({0xCF, 0, 0, 0, 0, 0, 0, 0, 0x2A}).result.value.Kind(), Kind::Unsigned);
}

TEST(MessagePackScalars, KeepNotANumberAndNegativeZero) {
  const MessagePackDecoded nan64 = Decode({0xCB, 0x7F, 0xF8, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(nan64.result.value.Kind(), Kind::Float);
  EXPECT_TRUE(std::isnan(nan64.result.value.GetFloat()));
  const MessagePackDecoded nan32 = Decode({0xCA, 0x7F, 0xC0, 0x00, 0x00});
  EXPECT_TRUE(std::isnan(nan32.result.value.GetFloat()));
  const MessagePackDecoded zero = Decode({0xCA, 0x80, 0x00, 0x00, 0x00});
  EXPECT_EQ(zero.result.value.GetFloat(1.0), 0.0);
  EXPECT_TRUE(std::signbit(zero.result.value.GetFloat(1.0)));
}

TEST(MessagePackScalars, EveryFixintDecodesToItsValue) {
  for (int byte = 0; byte <= 0xFF; ++byte) {
    if (byte > 0x7F && byte < 0xE0) {
      continue;
    }
    const MessagePackDecoded decoded = Decode({static_cast<uint8_t>(byte)});
    EXPECT_EQ(decoded.result.value.GetSigned(1000), static_cast<int8_t>(byte)) << byte;
  }
}

// --- Arrays and maps ---

TEST(MessagePackContainers, EmptyArraysOfEveryFormatAreEmptyCollections) {
  for (const Bytes& bytes : {Bytes{0x90}, Bytes{0xDC, 0, 0}, Bytes{0xDD, 0, 0, 0, 0}}) {
    const MessagePackDecoded decoded = Decode(bytes);
    ASSERT_TRUE(decoded.result.ok);
    EXPECT_EQ(decoded.result.value.Kind(), Kind::Collection);
    EXPECT_EQ(decoded.result.value.Size(), 0u);
    EXPECT_EQ(decoded.consumed, bytes.size());
  }
}

TEST(MessagePackContainers, EmptyMapsOfEveryFormatAreEmptyStructures) {
  for (const Bytes& bytes : {Bytes{0x80}, Bytes{0xDE, 0, 0}, Bytes{0xDF, 0, 0, 0, 0}}) {
    const MessagePackDecoded decoded = Decode(bytes);
    ASSERT_TRUE(decoded.result.ok);
    EXPECT_EQ(decoded.result.value.Kind(), Kind::Structure);
    EXPECT_EQ(decoded.result.value.Size(), 0u);
    EXPECT_EQ(decoded.consumed, bytes.size());
  }
}

// An array of `count` elements 0, 1, ... (fixints cycling below 128) under `header`.
Bytes ArrayOf(const Bytes& header, std::size_t count) {
  Bytes bytes = header;
  for (std::size_t index = 0; index < count; ++index) {
    bytes.push_back(static_cast<uint8_t>(index % 128));
  }
  return bytes;
}

TEST(MessagePackContainers, ArraysOfEveryFormatHoldTheirDeclaredElementsInOrder) {
  struct Case {
    Bytes header;
    std::size_t count;
  };
  const Case cases[] = {{{0x91}, 1},
                        {{0x9F}, 15},
                        {{0xDC, 0x00, 0x10}, 16},
                        {{0xDC, 0xFF, 0xFF}, 65535},
                        {{0xDD, 0x00, 0x01, 0x00, 0x00}, 65536}};
  for (const Case& array : cases) {
    SCOPED_TRACE(array.count);
    const Bytes bytes = ArrayOf(array.header, array.count);
    const MessagePackDecoded decoded = Decode(bytes);
    ASSERT_TRUE(decoded.result.ok);
    EXPECT_EQ(decoded.consumed, bytes.size());
    const BindingProperty& value = decoded.result.value;
    ASSERT_EQ(value.Size(), array.count);
    for (std::size_t index = 0; index < array.count; ++index) {
      ASSERT_EQ(value.ElementAt(index).GetSigned(-1), static_cast<int64_t>(index % 128));
    }
  }
}

// A map of `count` entries "k0": 0, "k1": 1, ... under `header`.
Bytes MapOf(const Bytes& header, std::size_t count) {
  Bytes bytes = header;
  for (std::size_t index = 0; index < count; ++index) {
    const std::string key = "k" + std::to_string(index);
    bytes.push_back(static_cast<uint8_t>(0xA0 | key.size()));
    bytes.insert(bytes.end(), key.begin(), key.end());
    bytes.push_back(static_cast<uint8_t>(index % 128));
  }
  return bytes;
}

TEST(MessagePackContainers, MapsOfEveryFormatHoldTheirDeclaredMembers) {
  struct Case {
    Bytes header;
    std::size_t count;
  };
  const Case cases[] = {{{0x81}, 1},
                        {{0x8F}, 15},
                        {{0xDE, 0x00, 0x10}, 16},
                        {{0xDE, 0x03, 0xE8}, 1000},
                        {{0xDF, 0x00, 0x01, 0x00, 0x00}, 65536}};
  for (const Case& map : cases) {
    SCOPED_TRACE(map.count);
    const Bytes bytes = MapOf(map.header, map.count);
    const MessagePackDecoded decoded = Decode(bytes);
    ASSERT_TRUE(decoded.result.ok);
    EXPECT_EQ(decoded.consumed, bytes.size());
    const BindingProperty& value = decoded.result.value;
    ASSERT_EQ(value.Size(), map.count);
    for (std::size_t index = 0; index < map.count; ++index) {
      ASSERT_EQ(value.Member("k" + std::to_string(index)).GetSigned(-1),
                static_cast<int64_t>(index % 128));
    }
  }
}

TEST(MessagePackContainers, MapWithOneStringKey) {
  BindingProperty expected;
  expected.Member("a") = int64_t{1};
  ExpectValue({0x81, 0xA1, 'a', 0x01}, expected, 4);
}

TEST(MessagePackContainers, KeysOfEveryStringFormatAreAccepted) {
  const std::string long_key = Letters(300);
  const Bytes bytes = Concat({{0x84, 0xA1, 'a', 0x01, 0xD9, 0x01, 'b', 0x02, 0xDA, 0x01, 0x2C},
                              AsBytes(long_key),
                              {0x03, 0xDB, 0, 0, 0, 0x01, 'c', 0x04}});
  const MessagePackDecoded decoded = Decode(bytes);
  ASSERT_TRUE(decoded.result.ok) << decoded.result.ErrorText();
  EXPECT_EQ(decoded.result.value.Member("a").GetSigned(), 1);
  EXPECT_EQ(decoded.result.value.Member("b").GetSigned(), 2);
  EXPECT_EQ(decoded.result.value.Member(long_key).GetSigned(), 3);
  EXPECT_EQ(decoded.result.value.Member("c").GetSigned(), 4);
}

TEST(MessagePackContainers, MembersIterateInKeyOrderWhateverTheirOrderInTheInput) {
  const MessagePackDecoded decoded =
      Decode({0x83, 0xA1, 'b', 0x02, 0xA1, 'a', 0x01, 0xA2, 'a', 'a', 0x03});
  std::vector<std::string> keys;
  for (const auto& [key, member] : decoded.result.value.Members()) {
    keys.emplace_back(key);
  }
  EXPECT_THAT(keys, ::testing::ElementsAre("a", "aa", "b"));
}

TEST(MessagePackContainers, NestedArraysAndMapsBuildTheWholeTree) {
  // {"list": [1, {"x": nil, "y": [true]}, "s"], "n": -1}
  const Bytes bytes = {0x82, 0xA4, 'l', 'i',  's',  't',  0x93, 0x01, 0x82, 0xA1, 'x',
                       0xC0, 0xA1, 'y', 0x91, 0xC3, 0xA1, 's',  0xA1, 'n',  0xFF};
  BindingProperty expected;
  BindingProperty& list = expected.Member("list");
  list.Append() = int64_t{1};
  BindingProperty& record = list.Append();
  record.Member("x");
  record.Member("y").Append() = true;
  list.Append() = "s";
  expected.Member("n") = int64_t{-1};
  ExpectValue(bytes, expected, bytes.size());
}

TEST(MessagePackContainers, RepeatedKeyTakesTheLaterValue) {
  struct Case {
    const char* name;
    Bytes bytes;
    BindingProperty expected;
  };
  BindingProperty scalar;
  scalar.Member("a") = int64_t{2};
  BindingProperty replacedMap;  // {"a": {"x": 1}, "a": {"y": 2}}: no merge of the two maps
  replacedMap.Member("a").Member("y") = int64_t{2};
  BindingProperty replacedArray;  // {"a": [1, 2], "a": [3]}
  replacedArray.Member("a").Append() = int64_t{3};
  BindingProperty emptied;  // {"a": 1, "a": nil}
  emptied.Member("a");
  BindingProperty kindChange;  // {"a": [1], "a": "t"}
  kindChange.Member("a") = "t";
  const Case cases[] = {
      {"scalar", {0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0x02}, scalar},
      {"map",
       {0x82, 0xA1, 'a', 0x81, 0xA1, 'x', 0x01, 0xA1, 'a', 0x81, 0xA1, 'y', 0x02},
       replacedMap},
      {"array", {0x82, 0xA1, 'a', 0x92, 0x01, 0x02, 0xA1, 'a', 0x91, 0x03}, replacedArray},
      {"nil", {0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0xC0}, emptied},
      {"kind", {0x82, 0xA1, 'a', 0x91, 0x01, 0xA1, 'a', 0xA1, 't'}, kindChange},
  };
  for (const Case& repeated : cases) {
    SCOPED_TRACE(repeated.name);
    ExpectValue(repeated.bytes, repeated.expected, repeated.bytes.size());
  }
}

TEST(MessagePackContainers, RecurringTextsAreInternedOncePerTree) {
  // [{"id": "x"}, {"id": "x"}, {"id": "x"}]
  Bytes bytes = {0x93};
  for (int index = 0; index < 3; ++index) {
    bytes.insert(bytes.end(), {0x81, 0xA2, 'i', 'd', 0xA1, 'x'});
  }
  const MessagePackDecoded decoded = Decode(bytes);
  const Vexa::BindingValueContext* context = decoded.result.value.DiagnosticContext();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->InternedCount(), 2u);
  EXPECT_EQ(context->ReferenceCount("id"), 3u);
  EXPECT_EQ(context->ReferenceCount("x"), 3u);
}

// --- Messages and their positions ---

struct FailureCase {
  const char* name;
  Bytes bytes;
  std::string message;
  std::size_t consumed;
};

std::string Invalid(std::size_t position) {
  return Format(Vexa::kMessagePackInvalidDataMessage, position);
}
std::string KeyNotString(std::size_t position) {
  return Format(Vexa::kMessagePackKeyNotStringMessage, position);
}
std::string Truncated(int bits, std::size_t position) {
  switch (bits) {
    case 8:
      return Format(Vexa::kMessagePackTruncated8Message, position);
    case 16:
      return Format(Vexa::kMessagePackTruncated16Message, position);
    case 32:
      return Format(Vexa::kMessagePackTruncated32Message, position);
    default:
      return Format(Vexa::kMessagePackTruncated64Message, position);
  }
}
std::string StringTruncated(uint64_t size, std::size_t position) {
  return Format(Vexa::kMessagePackStringTruncatedMessage, size, position);
}
std::string BlobTruncated(uint64_t size, std::size_t position) {
  return Format(Vexa::kMessagePackBlobTruncatedMessage, size, position);
}

TEST(MessagePackMessages, TemplatesReadAsClientsExpectThem) {
  // The documented texts, so that a slip in a template cannot hide behind the helpers above.
  EXPECT_EQ(Invalid(1), "Invalid MessagePack data at position 1.");
  EXPECT_EQ(KeyNotString(2), "Invalid MessagePack data at position 2. Map keys must be strings.");
  EXPECT_EQ(Truncated(8, 1),
            "Invalid MessagePack data. 8-bit integer value at position 1 is truncated.");
  EXPECT_EQ(Truncated(16, 1),
            "Invalid MessagePack data. 16-bit integer value at position 1 is truncated.");
  EXPECT_EQ(Truncated(32, 1),
            "Invalid MessagePack data. 32-bit integer value at position 1 is truncated.");
  EXPECT_EQ(Truncated(64, 1),
            "Invalid MessagePack data. 64-bit integer value at position 1 is truncated.");
  EXPECT_EQ(StringTruncated(5, 2),
            "Invalid MessagePack data. String of size 5 at position 2 is truncated.");
  EXPECT_EQ(BlobTruncated(5, 2),
            "Invalid MessagePack data. Raw bytes of size 5 at position 2 are truncated.");
}

TEST(MessagePackMessages, UnusedAndExtensionTypeBytesAreInvalidData) {
  for (const uint8_t type : {0xC1, 0xC7, 0xC8, 0xC9, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8}) {
    SCOPED_TRACE(type);
    // Alone, with a plausible ext payload after it, and as the second element of an array.
    ExpectFailure({type}, Invalid(1), 1);
    ExpectFailure({type, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01}, Invalid(1), 1);
    ExpectFailure({0x92, 0x01, type, 0x01}, Invalid(3), 3);
  }
}

std::vector<FailureCase> TruncationCases() {
  return {
      {"uint 8 without its byte", {0xCC}, Truncated(8, 1), 1},
      {"uint 16 alone", {0xCD}, Truncated(16, 1), 1},
      {"uint 16 one byte short", {0xCD, 0x01}, Truncated(16, 1), 1},
      {"uint 32 one byte short", {0xCE, 0x01, 0x02, 0x03}, Truncated(32, 1), 1},
      {"uint 64 one byte short", {0xCF, 1, 2, 3, 4, 5, 6, 7}, Truncated(64, 1), 1},
      {"int 8 alone", {0xD0}, Truncated(8, 1), 1},
      {"int 16 one byte short", {0xD1, 0x01}, Truncated(16, 1), 1},
      {"int 32 alone", {0xD2}, Truncated(32, 1), 1},
      {"int 64 one byte short", {0xD3, 1, 2, 3, 4, 5, 6, 7}, Truncated(64, 1), 1},
      {"float 32 one byte short", {0xCA, 0x3F, 0xC0, 0x00}, Truncated(32, 1), 1},
      {"float 64 alone", {0xCB}, Truncated(64, 1), 1},
      {"str 8 without its length", {0xD9}, Truncated(8, 1), 1},
      {"str 16 length cut", {0xDA, 0x00}, Truncated(16, 1), 1},
      {"str 32 length cut", {0xDB, 0x00, 0x00, 0x00}, Truncated(32, 1), 1},
      {"fixstr body short", {0xA3, 'a', 'b'}, StringTruncated(3, 1), 1},
      {"str 8 body short", {0xD9, 0x05, 'a'}, StringTruncated(5, 2), 2},
      {"str 16 body short", {0xDA, 0x01, 0x00, 'a'}, StringTruncated(256, 3), 3},
      {"str 32 body missing", {0xDB, 0x00, 0x00, 0x00, 0x02}, StringTruncated(2, 5), 5},
      {"bin 8 without its length", {0xC4}, Truncated(8, 1), 1},
      {"bin 16 length cut", {0xC5, 0x01}, Truncated(16, 1), 1},
      {"bin 32 length cut", {0xC6, 0x00, 0x00}, Truncated(32, 1), 1},
      {"bin 8 body short", {0xC4, 0x05, 0x01}, BlobTruncated(5, 2), 2},
      {"bin 16 body short", {0xC5, 0x00, 0x02, 0x01}, BlobTruncated(2, 3), 3},
      {"bin 32 body missing", {0xC6, 0x00, 0x00, 0x00, 0x01}, BlobTruncated(1, 5), 5},
      {"array 16 count cut", {0xDC, 0x00}, Truncated(16, 1), 1},
      {"array 32 count cut", {0xDD, 0x00, 0x00, 0x00}, Truncated(32, 1), 1},
      {"map 16 count missing", {0xDE}, Truncated(16, 1), 1},
      {"map 32 count cut", {0xDF, 0x00}, Truncated(32, 1), 1},
      {"inside an array", {0x92, 0x01, 0xCD, 0x01}, Truncated(16, 3), 3},
      {"inside a map value", {0x81, 0xA1, 'k', 0xD9, 0x02, 'x'}, StringTruncated(2, 5), 5},
      {"map key body short", {0x81, 0xA5, 'a'}, StringTruncated(5, 2), 2},
      {"map key length missing", {0x81, 0xD9}, Truncated(8, 2), 2},
      {"map key length cut", {0x81, 0xDA, 0x00}, Truncated(16, 2), 2},
  };
}

TEST(MessagePackMessages, TokensCutShortNameTheirWidthAndPosition) {
  for (const FailureCase& failure : TruncationCases()) {
    SCOPED_TRACE(failure.name);
    ExpectFailure(failure.bytes, failure.message, failure.consumed);
  }
}

TEST(MessagePackMessages, MapKeysOfOtherKindsAreRefusedJustAfterTheirTypeByte) {
  // Every type byte that is not a string format, as a key.
  for (int type = 0; type <= 0xFF; ++type) {
    if ((type >= 0xA0 && type <= 0xBF) || (type >= 0xD9 && type <= 0xDB)) {
      continue;
    }
    SCOPED_TRACE(type);
    ExpectFailure({0x81, static_cast<uint8_t>(type), 0x01, 0x01}, KeyNotString(2), 2);
  }
  // The second key of a map, after a complete first entry.
  ExpectFailure({0x82, 0xA1, 'a', 0x01, 0xCC, 0x05, 0x01}, KeyNotString(5), 5);
  // A key is refused even when it is the last byte of the input.
  ExpectFailure({0x81, 0x01}, KeyNotString(2), 2);
}

TEST(MessagePackMessages, HugeDeclaredLengthsFailWithoutAllocating) {
  // Five bytes that claim 4 GB: refused before anything is allocated for them.
  ExpectFailure({0xDB, 0xFF, 0xFF, 0xFF, 0xFF}, StringTruncated(0xFFFFFFFFu, 5), 5);
  ExpectFailure({0xC6, 0xFF, 0xFF, 0xFF, 0xFF}, BlobTruncated(0xFFFFFFFFu, 5), 5);
  ExpectFailure({0x81, 0xDB, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}, StringTruncated(0xFFFFFFFFu, 6), 6);
}

TEST(MessagePackMessages, CountsAboveTheElementLimitAreRefused) {
  const std::size_t limit = Vexa::kMaxBindingElements;
  // The message points at the count; decoding stops once the count has been read.
  ExpectFailure({0xDD, 0xFF, 0xFF, 0xFF, 0xFF},
                Format(Vexa::kMessagePackTooManyElementsMessage, 1, 0xFFFFFFFFu, limit), 5);
  ExpectFailure({0xDD, 0x10, 0x00, 0x00, 0x00, 0x01},
                Format(Vexa::kMessagePackTooManyElementsMessage, 1, limit + 1, limit), 5);
  // Above 2^31 entries the doubled item count of a map would wrap around in 32 bits.
  ExpectFailure({0xDF, 0x80, 0x00, 0x00, 0x00, 0xA1, 'a', 0x01},
                Format(Vexa::kMessagePackTooManyEntriesMessage, 1, 0x80000000u, limit), 5);
  ExpectFailure({0x91, 0xDF, 0x10, 0x00, 0x00, 0x00},
                Format(Vexa::kMessagePackTooManyEntriesMessage, 2, limit + 1, limit), 6);
  EXPECT_EQ(Format(Vexa::kMessagePackTooManyElementsMessage, 1, 0xFFFFFFFFu, limit),
            "Invalid MessagePack data at position 1. Array of 4294967295 elements is longer "
            "than 268435455.");
}

TEST(MessagePackMessages, CountsAtTheElementLimitAreAcceptedAndReserveOnlyWhatTheInputHolds) {
  // The largest accepted count, with a single element present: heap use stays small.
  const Bytes bytes = {0xDD, 0x0F, 0xFF, 0xFF, 0xFF, 0x07};
  const std::size_t before = mallinfo2().uordblks + mallinfo2().hblkhd;
  const MessagePackDecoded decoded = Decode(bytes);
  const std::size_t after = mallinfo2().uordblks + mallinfo2().hblkhd;
  ASSERT_TRUE(decoded.result.ok);
  EXPECT_EQ(decoded.result.value.Size(), 1u);
  EXPECT_EQ(decoded.result.value.ElementAt(0).GetSigned(), 7);
  EXPECT_LT(after - before, std::size_t{1} << 20);
}

TEST(MessagePackMessages, NestedHugeCountsReserveNoMoreThanTheInputTogether) {
  // 400 nested arrays each declaring the largest count: reserving what remains at every level
  // would take 400 times the input; the decode keeps to a small multiple of it.
  Bytes bytes;
  for (int level = 0; level < 400; ++level) {
    bytes.insert(bytes.end(), {0xDD, 0x0F, 0xFF, 0xFF, 0xFF});
  }
  const std::size_t before = mallinfo2().uordblks + mallinfo2().hblkhd;
  const MessagePackDecoded decoded = Decode(bytes);
  const std::size_t after = mallinfo2().uordblks + mallinfo2().hblkhd;
  ASSERT_TRUE(decoded.result.ok);
  EXPECT_LT(after - before, std::size_t{1} << 20);
}

TEST(MessagePackMessages, TheDocumentedEdgeCases) {
  ExpectFailure({0x81, 0x01, 0x01}, KeyNotString(2), 2);
  ExpectFailure({0xCD, 0x01}, Truncated(16, 1), 1);
  ExpectFailure({0xCD}, Truncated(16, 1), 1);
  ExpectFailure({0xD9, 0x05, 0x61}, StringTruncated(5, 2), 2);
  ExpectFailure({0xC1}, Invalid(1), 1);
}

// --- Depth ---

std::string TooDeep(std::size_t position) {
  return Format(Vexa::kMessagePackTooDeepMessage, position, Vexa::kMaxBindingDepth);
}

TEST(MessagePackDepth, AcceptsNestingUpToTheLimit) {
  Bytes bytes = Repeat(0x91, Vexa::kMaxBindingDepth);
  bytes.push_back(0x2A);
  const MessagePackDecoded decoded = Decode(bytes);
  ASSERT_TRUE(decoded.result.ok) << decoded.result.ErrorText();
  EXPECT_EQ(decoded.consumed, bytes.size());
  const BindingProperty* level = &decoded.result.value;
  for (std::size_t depth = 0; depth < Vexa::kMaxBindingDepth; ++depth) {
    ASSERT_EQ(level->Kind(), Kind::Collection) << depth;
    ASSERT_EQ(level->Size(), 1u);
    level = &level->ElementAt(0);
  }
  EXPECT_EQ(level->GetSigned(), 42);
}

TEST(MessagePackDepth, RefusesTheFirstContainerPastTheLimit) {
  const std::size_t limit = Vexa::kMaxBindingDepth;
  // Arrays, maps, and an empty array as the one level too many: each is a level.
  ExpectFailure(Repeat(0x91, limit + 1), TooDeep(limit + 1), limit + 1);
  Bytes maps;
  for (std::size_t level = 0; level <= limit; ++level) {
    maps.insert(maps.end(), {0x81, 0xA0});
  }
  ExpectFailure(maps, TooDeep(2 * limit + 1), 2 * limit + 1);
  Bytes emptyLast = Repeat(0x91, limit);
  emptyLast.insert(emptyLast.end(), {0xDC, 0x00, 0x00});
  ExpectFailure(emptyLast, TooDeep(limit + 1), limit + 3);
  EXPECT_EQ(TooDeep(513),
            "Invalid MessagePack data at position 513. Arrays and maps are nested deeper than "
            "512 levels.");
}

TEST(MessagePackDepth, AMillionNestedArraysFailCleanly) {
  const Bytes bytes = Repeat(0x91, 1000000);
  const std::size_t limit = Vexa::kMaxBindingDepth;
  ExpectFailure(bytes, TooDeep(limit + 1), limit + 1);
  // Closed again after each level: depth never grows, so a million levels of siblings decode.
  Bytes wide = {0xDD, 0x00, 0x0F, 0x42, 0x40};  // 1,000,000 elements
  for (int index = 0; index < 1000000; ++index) {
    wide.push_back(0x90);
  }
  const MessagePackDecoded decoded = Decode(wide);
  ASSERT_TRUE(decoded.result.ok);
  EXPECT_EQ(decoded.result.value.Size(), 1000000u);
}

// --- Consumed, partial input and trailing bytes ---

TEST(MessagePackConsumed, EmptyInputIsAnEmptyValue) {
  const MessagePackDecoded decoded = Decode({});
  EXPECT_TRUE(decoded.result.ok);
  EXPECT_TRUE(decoded.result.value.IsEmpty());
  EXPECT_EQ(decoded.consumed, 0u);
  const uint8_t byte = 0x2A;
  EXPECT_EQ(DecodeMessagePack(&byte, 0).consumed, 0u);
  EXPECT_TRUE(DecodeMessagePack(&byte, 0).result.value.IsEmpty());
}

TEST(MessagePackConsumed, BytesAfterTheValueAreLeftUnread) {
  struct Case {
    Bytes bytes;
    std::size_t consumed;
  };
  // Whatever follows, even bytes that would be invalid, is not looked at.
  const Case cases[] = {{{0xC0, 0x01}, 1},
                        {{0x2A, 0x2A}, 1},
                        {{0x01, 0xC1}, 1},
                        {{0xCD, 0x01, 0x02, 0xCD}, 3},
                        {{0x92, 0x01, 0x02, 0xFF}, 3},
                        {{0x80, 0x01}, 1},
                        {{0x81, 0xA1, 'a', 0x90, 0xDB, 0xFF}, 4},
                        {{0xA2, 'h', 'i', 0xA2}, 3}};
  for (const Case& trailing : cases) {
    const MessagePackDecoded decoded = Decode(trailing.bytes);
    EXPECT_TRUE(decoded.result.ok) << decoded.result.ErrorText();
    EXPECT_EQ(decoded.consumed, trailing.consumed);
  }
  EXPECT_TRUE(Decode({0xC0, 0x01}).result.value.IsEmpty());
}

TEST(MessagePackConsumed, InputEndingBetweenTokensKeepsWhatWasRead) {
  // An array declaring two elements with one present.
  const MessagePackDecoded array = Decode({0x92, 0x01});
  ASSERT_TRUE(array.result.ok);
  EXPECT_EQ(array.consumed, 2u);
  ASSERT_EQ(array.result.value.Size(), 1u);
  EXPECT_EQ(array.result.value.ElementAt(0).GetSigned(), 1);
  // A map whose second key is missing keeps its first member.
  const MessagePackDecoded map = Decode({0x82, 0xA1, 'a', 0x01});
  ASSERT_TRUE(map.result.ok);
  EXPECT_EQ(map.result.value.Size(), 1u);
  // A key whose value never came adds no member.
  const MessagePackDecoded key = Decode({0x82, 0xA1, 'a', 0x01, 0xA1, 'b'});
  ASSERT_TRUE(key.result.ok);
  EXPECT_EQ(key.consumed, 6u);
  EXPECT_EQ(key.result.value.Size(), 1u);
  EXPECT_FALSE(key.result.value.HasMember("b"));
  // Only the header of a huge array: an empty collection, nothing reserved for it.
  const MessagePackDecoded header = Decode({0xDC, 0xFF, 0xFF});
  ASSERT_TRUE(header.result.ok);
  EXPECT_EQ(header.result.value.Kind(), Kind::Collection);
  EXPECT_EQ(header.result.value.Size(), 0u);
  // Nested open containers.
  const MessagePackDecoded nested = Decode({0x91, 0x92, 0x91});
  ASSERT_TRUE(nested.result.ok);
  EXPECT_EQ(nested.result.value.ElementAt(0).ElementAt(0).Kind(), Kind::Collection);
}

// --- Malformed corpus ---

// Writes a document token by token and records, for every prefix of it, what decoding that
// prefix must give: a prefix that ends between tokens is a good partial value read to its end;
// one that ends inside a token fails with the message of the read that the token cut short.
class DocumentWriter {
 public:
  // A type byte followed by a fixed-width payload of `width` bytes (0, 1, 2, 4 or 8).
  DocumentWriter& Fixed(uint8_t type, const Bytes& payload) {
    const std::size_t start = Begin(type);
    for (std::size_t cut = 1; cut <= payload.size(); ++cut) {
      Expect(start + cut, Truncated(static_cast<int>(payload.size() * 8), start + 1));
    }
    Append(payload);
    return *this;
  }
  // A text or byte string: type byte, a big-endian length of `width` bytes, the body.
  DocumentWriter& Sized(uint8_t type, std::size_t width, const std::string& body, bool blob) {
    const std::size_t start = Begin(type);
    Bytes length;
    for (std::size_t index = width; index-- > 0;) {
      length.push_back(static_cast<uint8_t>(body.size() >> (8 * index)));
    }
    for (std::size_t cut = 1; cut <= width; ++cut) {
      Expect(start + cut, Truncated(static_cast<int>(width * 8), start + 1));
    }
    Append(length);
    const std::size_t bodyStart = bytes_.size();
    for (std::size_t cut = 0; cut < body.size(); ++cut) {
      Expect(bodyStart + cut, blob ? BlobTruncated(body.size(), bodyStart)
                                   : StringTruncated(body.size(), bodyStart));
    }
    Append(AsBytes(body));
    return *this;
  }
  DocumentWriter& FixString(const std::string& text) {
    return Sized(static_cast<uint8_t>(0xA0 | text.size()), 0, text, false);
  }
  // The header of an array or map with a count of `width` bytes (0 for the fix formats).
  DocumentWriter& Header(uint8_t type, std::size_t width, uint32_t count) {
    Bytes payload;
    for (std::size_t index = width; index-- > 0;) {
      payload.push_back(static_cast<uint8_t>(count >> (8 * index)));
    }
    return Fixed(type, payload);
  }

  [[nodiscard]] const Bytes& Data() const { return bytes_; }
  // The failure message for the prefix of `length` bytes; empty when it must decode.
  [[nodiscard]] std::string ExpectedFor(std::size_t length) const {
    return length < expected_.size() ? expected_[length] : std::string();
  }

 private:
  std::size_t Begin(uint8_t type) {
    bytes_.push_back(type);
    return bytes_.size() - 1;
  }
  void Append(const Bytes& more) { bytes_.insert(bytes_.end(), more.begin(), more.end()); }
  void Expect(std::size_t length, const std::string& message) {
    if (expected_.size() <= length) {
      expected_.resize(length + 1);
    }
    expected_[length] = message;
  }

  Bytes bytes_;
  std::vector<std::string> expected_;
};

// A document with every format that decodes, nested in arrays and maps of every width.
DocumentWriter EveryFormatDocument() {
  DocumentWriter writer;
  writer
      .Header(0xDE, 2, 4)  // map 16 of 4 entries
      .FixString("scalars")
      .Header(0xDC, 2, 16)  // array 16 of 16 elements
      .Fixed(0x05, {})
      .Fixed(0xE5, {})
      .Fixed(0xC0, {})
      .Fixed(0xC3, {})
      .Fixed(0xCC, {0xFF})
      .Fixed(0xCD, {0x12, 0x34})
      .Fixed(0xCE, {0x12, 0x34, 0x56, 0x78})
      .Fixed(0xCF, {1, 2, 3, 4, 5, 6, 7, 8})
      .Fixed(0xD0, {0x80})
      .Fixed(0xD1, {0x80, 0x01})
      .Fixed(0xD2, {0xFF, 0xFF, 0xFF, 0xFE})
      .Fixed(0xD3, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFD})
      .Fixed(0xCA, {0x3F, 0xC0, 0x00, 0x00})
      .Fixed(0xCB, {0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18})
      .Fixed(0xC2, {})
      .Fixed(0x90, {})
      .Sized(0xD9, 1, "str8", false)  // key
      .Header(0xDD, 4, 3)             // array 32
      .Sized(0xDA, 2, "str16 text", false)
      .Sized(0xDB, 4, "str32", false)
      .Header(0x92, 0, 2)
      .Sized(0xC4, 1, "bin8", true)
      .Sized(0xC5, 2, "bin16", true)
      .Sized(0xDA, 2, "key16", false)  // key
      .Header(0xDF, 4, 1)              // map 32
      .Sized(0xDB, 4, "key32", false)
      .Sized(0xC6, 4, "bin32", true)
      .FixString("")  // key
      .Header(0x81, 0, 1)
      .FixString("deep")
      .Header(0x91, 0, 1)
      .Header(0x80, 0, 0);
  return writer;
}

TEST(MessagePackMalformed, EveryPrefixOfADocumentFailsOrDecodesAsItsTokensSay) {
  const DocumentWriter writer = EveryFormatDocument();
  const Bytes& whole = writer.Data();
  for (std::size_t length = 0; length <= whole.size(); ++length) {
    SCOPED_TRACE(length);
    const MessagePackDecoded decoded = Decode(Bytes(whole.begin(), whole.begin() + length));
    const std::string expected = writer.ExpectedFor(length);
    if (expected.empty()) {
      // Cut between two tokens: good, and everything up to the cut was read.
      ASSERT_TRUE(decoded.result.ok) << decoded.result.ErrorText();
      EXPECT_EQ(decoded.consumed, length);
    } else {
      ASSERT_FALSE(decoded.result.ok);
      EXPECT_EQ(decoded.result.ErrorText(), expected);
    }
  }
  // The whole document, checked where each format landed.
  const MessagePackDecoded decoded = Decode(whole);
  ASSERT_TRUE(decoded.result.ok) << decoded.result.ErrorText();
  EXPECT_EQ(decoded.consumed, whole.size());
  const BindingProperty& value = decoded.result.value;
  EXPECT_EQ(value.Size(), 4u);
  const BindingProperty& scalars = value.Member("scalars");
  ASSERT_EQ(scalars.Size(), 16u);
  EXPECT_EQ(scalars.ElementAt(1).GetSigned(), -27);
  EXPECT_EQ(scalars.ElementAt(5).GetUnsigned(), 0x1234u);
  EXPECT_EQ(scalars.ElementAt(9).GetSigned(), -32767);
  EXPECT_EQ(scalars.ElementAt(11).GetSigned(), -3);
  EXPECT_DOUBLE_EQ(scalars.ElementAt(13).GetFloat(), 3.141592653589793);
  EXPECT_EQ(value.Member("str8").ElementAt(0).GetString(), "str16 text");
  EXPECT_EQ(value.Member("str8").ElementAt(2).ElementAt(1).GetBlob(),
            BindingBlob(AsBytes("bin16")));
  EXPECT_EQ(value.Member("key16").Member("key32").GetBlob(), BindingBlob(AsBytes("bin32")));
  EXPECT_EQ(value.Member("").Member("deep").ElementAt(0).Kind(), Kind::Structure);
}

// Decodes `bytes` and checks the invariants that hold for any input.
void ExpectCleanOutcome(const Bytes& bytes) {
  const MessagePackDecoded decoded = Decode(bytes);
  EXPECT_LE(decoded.consumed, bytes.size());
  if (!decoded.result.ok) {
    const std::string_view message = decoded.result.ErrorText();
    EXPECT_TRUE(message.starts_with("Invalid MessagePack data")) << message;
  }
}

TEST(MessagePackMalformed, RandomBytesNeverReadOutsideTheInput) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 20000; ++round) {
    Bytes bytes(random() % 48);
    for (uint8_t& byte : bytes) {
      byte = static_cast<uint8_t>(random());
    }
    ExpectCleanOutcome(bytes);
  }
}

TEST(MessagePackMalformed, RandomlyDamagedDocumentsFailCleanly) {
  const Bytes whole = EveryFormatDocument().Data();
  std::mt19937 random(7);
  for (int round = 0; round < 5000; ++round) {
    Bytes bytes = whole;
    for (int damage = 1 + random() % 3; damage > 0; --damage) {
      bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
    }
    ExpectCleanOutcome(bytes);
  }
}

TEST(MessagePackMalformed, StrayTypeBytesInsideContainers) {
  struct Case {
    Bytes bytes;
    std::string message;
    std::size_t consumed;
  };
  const Case cases[] = {
      {{0x93, 0x01, 0x02, 0xC1}, Invalid(4), 4},
      {{0x81, 0xA1, 'a', 0xD4, 0x01, 0x02}, Invalid(4), 4},
      {{0x82, 0xA1, 'a', 0x01, 0x91, 0x01}, KeyNotString(5), 5},
      {{0x81, 0xA1, 'a', 0x81, 0xC0, 0x01}, KeyNotString(5), 5},
      {{0x91, 0x91, 0x91, 0xC9, 0, 0, 0, 1, 1, 1}, Invalid(4), 4},
  };
  for (const Case& stray : cases) {
    ExpectFailure(stray.bytes, stray.message, stray.consumed);
  }
}

// --- The reader's event stream ---

// Records every event as a short text, and the element counts it is asked to reserve.
struct RecordingSink {
  using Status = Vexa::BindingBuildStatus;
  std::vector<std::string> events;
  std::vector<std::size_t> reserved;

  Status Add(std::string event) {
    events.push_back(std::move(event));
    return Status::Ok;
  }
  Status BeginCollection(Vexa::BindingReuse reuse) {
    return Add(reuse == Vexa::BindingReuse::Replace ? "[" : "[keep");
  }
  Status EndCollection() { return Add("]"); }
  Status BeginStructure(Vexa::BindingReuse reuse) {
    return Add(reuse == Vexa::BindingReuse::Replace ? "{" : "{keep");
  }
  Status EndStructure() { return Add("}"); }
  Status MemberKey(std::string_view key) { return Add("key " + std::string(key)); }
  Status Null() { return Add("null"); }
  Status Empty() { return Add("empty"); }
  Status Bool(bool value) { return Add(value ? "true" : "false"); }
  Status Signed(int64_t value) { return Add("s" + std::to_string(value)); }
  Status Unsigned(uint64_t value) { return Add("u" + std::to_string(value)); }
  Status Float(double value) { return Add("f" + std::to_string(value)); }
  Status String(std::string_view text) { return Add("'" + std::string(text) + "'"); }
  Status Blob(const uint8_t*, std::size_t count) { return Add("blob" + std::to_string(count)); }
  Status ReserveElements(std::size_t count) {
    reserved.push_back(count);
    return Status::Ok;
  }
};
static_assert(Vexa::BindingValueSink<RecordingSink>);

struct Recorded {
  bool ok;
  std::size_t position;
  RecordingSink sink;
};

Recorded Record(const Bytes& bytes) {
  Recorded recorded{};
  Vexa::MessagePackReader<RecordingSink> reader(bytes.data(), bytes.size(), recorded.sink);
  recorded.ok = reader.Run();
  recorded.position = reader.Position();
  return recorded;
}

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(MessagePackReaderEvents, ACompleteValueIsABalancedStream) {
  // {"a": [1, 2], "b": nil}
  const Recorded recorded = Record({0x82, 0xA1, 'a', 0x92, 0x01, 0x02, 0xA1, 'b', 0xC0});
  EXPECT_TRUE(recorded.ok);
  EXPECT_EQ(recorded.position, 9u);
  EXPECT_THAT(recorded.sink.events,
              ElementsAre("{", "key a", "[", "s1", "s2", "]", "key b", "empty", "}"));
  EXPECT_THAT(recorded.sink.reserved, ElementsAre(2u));
}

TEST(MessagePackReaderEvents, ContainersShortOfItemsStayOpenAndKeysWaitForTheirValue) {
  // [{"a": 1, "b" — the input ends after the second key.
  const Recorded recorded = Record({0x91, 0x82, 0xA1, 'a', 0x01, 0xA1, 'b'});
  EXPECT_TRUE(recorded.ok);
  EXPECT_THAT(recorded.sink.events, ElementsAre("[", "{", "key a", "s1"));
  // A failure stops the stream at once: nothing after the refused token.
  const Recorded failed = Record({0x92, 0x01, 0xC1, 0x02});
  EXPECT_FALSE(failed.ok);
  EXPECT_THAT(failed.sink.events, ElementsAre("[", "s1"));
}

TEST(MessagePackReaderEvents, ReservationsNeverExceedTheRemainingInput) {
  // The largest count with one element present: one element needs no reservation.
  EXPECT_THAT(Record({0xDD, 0x0F, 0xFF, 0xFF, 0xFF, 0x07}).sink.reserved, IsEmpty());
  // With three bytes left, three elements at most.
  EXPECT_THAT(Record({0xDC, 0xFF, 0xFF, 0x01, 0x02, 0x03}).sink.reserved, ElementsAre(3u));
  // An exact count is reserved as declared.
  EXPECT_THAT(Record(ArrayOf({0xDC, 0x01, 0x00}, 256)).sink.reserved, ElementsAre(256u));
}

TEST(MessagePackReaderEvents, AllReservationsTogetherStayWithinTheInputSize) {
  Bytes bytes;
  for (int level = 0; level < 400; ++level) {
    bytes.insert(bytes.end(), {0xDD, 0x0F, 0xFF, 0xFF, 0xFF});
  }
  const Recorded recorded = Record(bytes);
  ASSERT_TRUE(recorded.ok);
  std::size_t total = 0;
  for (const std::size_t count : recorded.sink.reserved) {
    total += count;
  }
  EXPECT_LE(total, bytes.size());
}

TEST(MessagePackReaderEvents, TheReaderBoundsNestingWhateverTheSink) {
  // The recording sink has no depth limit of its own.
  const Recorded recorded = Record(Repeat(0x91, 100000));
  EXPECT_FALSE(recorded.ok);
  EXPECT_EQ(recorded.position, Vexa::kMaxBindingDepth + 1);
  EXPECT_EQ(recorded.sink.events.size(), Vexa::kMaxBindingDepth);
}

// --- Sniffing ---

TEST(MessagePackSniffing, RecognisesBodiesThatOpenAMapOrAnArray) {
  for (int byte = 0; byte <= 0xFF; ++byte) {
    const uint8_t first[] = {static_cast<uint8_t>(byte), 0x00};
    const bool expected = (byte >= 0x80 && byte <= 0x9F) || (byte >= 0xDC && byte <= 0xDF);
    EXPECT_EQ(Vexa::LooksLikeMessagePack(first, 2), expected) << byte;
    EXPECT_EQ(Vexa::LooksLikeMessagePack(first, 1), expected) << byte;
  }
  EXPECT_TRUE(Vexa::LooksLikeMessagePack(std::string_view("\x83\xA1\x61\x01", 4)));
  EXPECT_TRUE(Vexa::LooksLikeMessagePack(std::string_view("\xDE\x00\x00", 3)));
  EXPECT_FALSE(Vexa::LooksLikeMessagePack(std::string_view("{\"a\":1}")));
  EXPECT_FALSE(Vexa::LooksLikeMessagePack(std::string_view("[1]")));
  EXPECT_FALSE(Vexa::LooksLikeMessagePack(std::string_view("--- a")));
}

TEST(MessagePackSniffing, EmptyInputIsNotMessagePack) {
  const uint8_t byte = 0x83;
  EXPECT_FALSE(Vexa::LooksLikeMessagePack(&byte, 0));
  EXPECT_FALSE(Vexa::LooksLikeMessagePack(nullptr, 0));
  EXPECT_FALSE(Vexa::LooksLikeMessagePack(std::string_view()));
}

}  // namespace
