#include "codecs/msgpack.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "value/builder.h"
#include "value/context.h"
#include "codec_test_support.h"
#include "codecs/msgpack_reader.h"
#include "util/format.h"

namespace {

using Vexa::BindingProperty;
using Vexa::BindingReuse;
using Vexa::DecodeMessagePack;
using Vexa::Format;
using Vexa::MessagePackDecoded;
using Vexa::Testing::DumpOf;
using Vexa::Testing::Outcome;
using Vexa::Testing::Repeat;
using Bytes = std::vector<uint8_t>;

constexpr std::size_t kLimit = Vexa::kMaxBindingDepth;

// The bytes of a compact notation: pairs of hex digits, with text between single quotes copied
// as it stands; spaces only separate. "81 a1'a' 01" is {"a": 1}.
Bytes Hex(std::string_view notation) {
  Bytes bytes;
  bool quoted = false;
  int high = -1;
  for (const char c : notation) {
    if (c == '\'') {
      quoted = !quoted;
    } else if (quoted) {
      bytes.push_back(static_cast<uint8_t>(c));
    } else if (c != ' ') {
      const int digit = c <= '9' ? c - '0' : c - 'a' + 10;
      high = high < 0 ? digit : (bytes.push_back(static_cast<uint8_t>(high * 16 + digit)), -1);
    }
  }
  return bytes;
}

// Decodes a copy of `bytes` in a buffer of exactly their size, so that a read past the end is
// caught by the address sanitizer rather than landing in the caller's slack.
MessagePackDecoded Decode(const Bytes& bytes) {
  const auto exact = Vexa::Testing::ExactCopy(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  return DecodeMessagePack(reinterpret_cast<const uint8_t*>(exact.get()), bytes.size());
}

// `count` bytes 'a', 'b', ... cycling through the alphabet.
std::string Letters(std::size_t count) {
  return Repeat("abcdefghijklmnopqrstuvwxyz", count / 26 + 1).substr(0, count);
}

constexpr std::size_t kWhole = std::numeric_limits<std::size_t>::max();

struct Case {
  std::string bytes;              // in the notation of Hex
  std::string expected;           // the value's dump, or "error: " and the message
  std::size_t consumed = kWhole;  // where decoding stopped; kWhole for the end of the input
};

void ExpectDecodes(const std::vector<Case>& cases) {
  for (const Case& item : cases) {
    SCOPED_TRACE(item.bytes.substr(0, 60));
    const Bytes bytes = Hex(item.bytes);
    const MessagePackDecoded decoded = Decode(bytes);
    EXPECT_EQ(Outcome(decoded.result), item.expected);
    EXPECT_EQ(decoded.consumed, item.consumed == kWhole ? bytes.size() : item.consumed);
  }
}

// The failure messages as Outcome gives them, in the exact words that clients match on.
constexpr const char* kInvalid = "error: Invalid MessagePack data";
std::string Invalid(std::size_t at) {
  return kInvalid + Format(" at position %1.", at);
}
std::string KeyNotString(std::size_t at) {
  return Invalid(at) + " Map keys must be strings.";
}
std::string Truncated(std::size_t bits, std::size_t at) {
  return kInvalid + Format(". %1-bit integer value at position %2 is truncated.", bits, at);
}
std::string StringTruncated(uint64_t size, std::size_t at) {
  return kInvalid + Format(". String of size %1 at position %2 is truncated.", size, at);
}
std::string BlobTruncated(uint64_t size, std::size_t at) {
  return kInvalid + Format(". Raw bytes of size %1 at position %2 are truncated.", size, at);
}
std::string TooManyElements(std::size_t at, uint64_t count) {
  return Invalid(at) + Format(" Array of %1 elements is longer than 268435455.", count);
}
std::string TooManyEntries(std::size_t at, uint64_t count) {
  return Invalid(at) + Format(" Map of %1 entries is larger than 268435455.", count);
}
std::string TooDeep(std::size_t at) {
  return Invalid(at) + " Arrays and maps are nested deeper than 512 levels.";
}

TEST(MessagePackDecode, EveryScalarFormatAtTheBoundariesOfItsWidth) {
  const std::string s31 = Letters(31), s255 = Letters(255), s256 = Letters(256);
  const std::string s65535 = Letters(65535), s65536 = Letters(65536);
  // Fixints and int 8-64 are signed, uint 8-64 unsigned: the same 42 is never merged.
  ExpectDecodes(
      {Case{"00", "S0"}, Case{"2a", "S42"}, Case{"7f", "S127"}, Case{"e0", "S-32"},
       Case{"ff", "S-1"}, Case{"c0", "~"}, Case{"c2", "false"}, Case{"c3", "true"},
       Case{"cc 00", "U0"}, Case{"cc 2a", "U42"}, Case{"cc ff", "U255"}, Case{"cd 0102", "U258"},
       Case{"cd ffff", "U65535"}, Case{"ce 01020304", "U16909060"},
       Case{"ce ffffffff", "U4294967295"}, Case{"cf 0102030405060708", "U72623859790382856"},
       Case{"cf ffffffffffffffff", "U18446744073709551615"}, Case{"cf 000000000000002a", "U42"},
       Case{"d0 80", "S-128"}, Case{"d0 7f", "S127"}, Case{"d0 ff", "S-1"}, Case{"d0 2a", "S42"},
       Case{"d1 8000", "S-32768"}, Case{"d1 7fff", "S32767"}, Case{"d1 0102", "S258"},
       Case{"d2 80000000", "S-2147483648"}, Case{"d2 7fffffff", "S2147483647"},
       Case{"d2 fffffffe", "S-2"}, Case{"d3 8000000000000000", "S-9223372036854775808"},
       Case{"d3 7fffffffffffffff", "S9223372036854775807"},
       Case{"d3 0102030405060708", "S72623859790382856"},
       // Floats keep infinities, not-a-number and the sign of zero.
       Case{"ca 3fc00000", "F1.5"}, Case{"ca be800000", "F-0.25"},
       Case{"ca 7f7fffff", "F3.4028234663852886e+38"},
       Case{"ca 00000001", "F1.4012984643248171e-45"}, Case{"ca 7f800000", "Finf"},
       Case{"ca 7fc00000", "Fnan"}, Case{"ca 80000000", "F-0"}, Case{"cb 3ff8000000000000", "F1.5"},
       Case{"cb 7fefffffffffffff", "F1.7976931348623157e+308"},
       Case{"cb 0000000000000001", "F4.9406564584124654e-324"},
       Case{"cb fff0000000000000", "F-inf"}, Case{"cb 7ff8000000000000", "Fnan"},
       // Texts keep their bytes up to a NUL; blobs keep all of them.
       Case{"a0", "''"}, Case{"a1'a'", "'a'"}, Case{"bf'" + s31 + "'", "'" + s31 + "'"},
       Case{"d9 00", "''"}, Case{"d9 ff'" + s255 + "'", "'" + s255 + "'"},
       Case{"da 0100'" + s256 + "'", "'" + s256 + "'"},
       Case{"da ffff'" + s65535 + "'", "'" + s65535 + "'"},
       Case{"db 00010000'" + s65536 + "'", "'" + s65536 + "'"}, Case{"db 00000000", "''"},
       Case{"a3 c3a9ff", "'\xC3\xA9\xFF'"}, Case{"a3'a' 00 'b'", "'a'"}, Case{"c4 00", "<>"},
       Case{"c4 03 0001ff", std::string("<\0\x01\xFF>", 5)},
       Case{"c4 ff'" + s255 + "'", "<" + s255 + ">"},
       Case{"c5 0100'" + s256 + "'", "<" + s256 + ">"},
       Case{"c6 00010000'" + s65536 + "'", "<" + s65536 + ">"}});
  for (int byte = 0; byte <= 0xFF; ++byte) {
    if (byte <= 0x7F || byte >= 0xE0) {
      EXPECT_EQ(Decode({static_cast<uint8_t>(byte)}).result.value.GetSigned(1000),
                static_cast<int8_t>(byte))
          << byte;
    }
  }
}

TEST(MessagePackDecode, ArraysAndMapsBuildTheirTree) {
  const std::string key300 = Letters(300);
  ExpectDecodes(
      {Case{"90", "[]"}, Case{"dc 0000", "[]"}, Case{"dd 00000000", "[]"}, Case{"80", "{}"},
       Case{"de 0000", "{}"}, Case{"df 00000000", "{}"}, Case{"81 a1'a' 01", "{a:S1}"},
       // Keys of every string format; members iterate in key order whatever the input's.
       Case{"84 a1'a' 01 d9 01'b' 02 da 012c'" + key300 + "' 03 db 00000001'c' 04",
            "{a:S1," + key300 + ":S3,b:S2,c:S4}"},
       Case{"83 a1'b' 02 a1'a' 01 a2'aa' 03", "{a:S1,aa:S3,b:S2}"},
       Case{"82 a4'list' 93 01 82 a1'x' c0 a1'y' 91 c3 a1's' a1'n' ff",
            "{list:[S1,{x:~,y:[true]},'s'],n:S-1}"},
       // A repeated key takes the later value: no merge of maps or arrays, nil empties.
       Case{"82 a1'a' 01 a1'a' 02", "{a:S2}"},
       Case{"82 a1'a' 81 a1'x' 01 a1'a' 81 a1'y' 02", "{a:{y:S2}}"},
       Case{"82 a1'a' 92 01 02 a1'a' 91 03", "{a:[S3]}"}, Case{"82 a1'a' 01 a1'a' c0", "{a:~}"},
       Case{"82 a1'a' 91 01 a1'a' a1't'", "{a:'t'}"}});
}

// An array of `count` elements 0, 1, ... (fixints cycling below 128) under `header`, or a map
// of `count` entries "k00000": 0, "k00001": 1, ..., with its dump.
Case ItemsOf(const std::string& header, std::size_t count, bool map) {
  Case items{header, map ? "{" : "["};
  for (std::size_t index = 0; index < count; ++index) {
    const std::string key = Format("k%1$05u", index);
    items.bytes += (map ? " a6'" + key + "' " : " ") + Format("%1$02x", index % 128);
    items.expected += (index == 0 ? "" : ",") + (map ? key + ":" : "") + Format("S%1", index % 128);
  }
  items.expected += map ? "}" : "]";
  return items;
}

TEST(MessagePackDecode, ArraysAndMapsOfEveryFormatHoldTheirDeclaredItems) {
  // Arrays, then maps, from the fix formats to the 32-bit counts.
  ExpectDecodes({ItemsOf("91", 1, false), ItemsOf("9f", 15, false), ItemsOf("dc 0010", 16, false),
                 ItemsOf("dc ffff", 65535, false), ItemsOf("dd 00010000", 65536, false),
                 ItemsOf("81", 1, true), ItemsOf("8f", 15, true), ItemsOf("de 0010", 16, true),
                 ItemsOf("de 03e8", 1000, true), ItemsOf("df 00010000", 65536, true)});
}

TEST(MessagePackDecode, RecurringTextsAreInternedOncePerTree) {
  // [{"id": "x"}, {"id": "x"}, {"id": "x"}]
  const MessagePackDecoded decoded = Decode(Hex("93" + Repeat("81 a2'id' a1'x' ", 3)));
  const Vexa::BindingValueContext* context = decoded.result.value.DiagnosticContext();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->InternedCount(), 2u);
  EXPECT_EQ(context->ReferenceCount("id"), 3u);
  EXPECT_EQ(context->ReferenceCount("x"), 3u);
}

TEST(MessagePackDecode, ReadingStopsAtTheEndOfTheValueOrOfTheInput) {
  ExpectDecodes(
      {Case{"", "~"},
       // Whatever follows the value, even bytes that would be invalid, is not looked at.
       Case{"c0 01", "~", 1}, Case{"2a 2a", "S42", 1}, Case{"01 c1", "S1", 1},
       Case{"cd 0102 cd", "U258", 3}, Case{"92 01 02 ff", "[S1,S2]", 3}, Case{"80 01", "{}", 1},
       Case{"81 a1'a' 90 db ff", "{a:[]}", 4}, Case{"a2'hi' a2", "'hi'", 3},
       // Input that ends between tokens keeps what was read; a key whose value never came adds
       // no member, and only the header of a huge array reserves nothing for it.
       Case{"92 01", "[S1]"}, Case{"82 a1'a' 01", "{a:S1}"}, Case{"82 a1'a' 01 a1'b'", "{a:S1}"},
       Case{"dc ffff", "[]"}, Case{"91 92 91", "[[[]]]"}});
  const uint8_t byte = 0x2A;
  EXPECT_EQ(DecodeMessagePack(&byte, 0).consumed, 0u);
  EXPECT_EQ(Outcome(DecodeMessagePack(&byte, 0).result), "~");
}

TEST(MessagePackFailures, TokensCutShortNameTheirWidthAndPosition) {
  ExpectDecodes(
      {Case{"cc", Truncated(8, 1), 1}, Case{"cd", Truncated(16, 1), 1},
       Case{"cd 01", Truncated(16, 1), 1}, Case{"ce 010203", Truncated(32, 1), 1},
       Case{"cf 01020304050607", Truncated(64, 1), 1}, Case{"d0", Truncated(8, 1), 1},
       Case{"d1 01", Truncated(16, 1), 1}, Case{"d2", Truncated(32, 1), 1},
       Case{"d3 01020304050607", Truncated(64, 1), 1}, Case{"ca 3fc000", Truncated(32, 1), 1},
       Case{"cb", Truncated(64, 1), 1}, Case{"d9", Truncated(8, 1), 1},
       Case{"da 00", Truncated(16, 1), 1}, Case{"db 000000", Truncated(32, 1), 1},
       Case{"a3'ab'", StringTruncated(3, 1), 1}, Case{"d9 05'a'", StringTruncated(5, 2), 2},
       Case{"da 0100'a'", StringTruncated(256, 3), 3},
       Case{"db 00000002", StringTruncated(2, 5), 5}, Case{"c4", Truncated(8, 1), 1},
       Case{"c5 01", Truncated(16, 1), 1}, Case{"c6 0000", Truncated(32, 1), 1},
       Case{"c4 05 01", BlobTruncated(5, 2), 2}, Case{"c5 0002 01", BlobTruncated(2, 3), 3},
       Case{"c6 00000001", BlobTruncated(1, 5), 5}, Case{"dc 00", Truncated(16, 1), 1},
       Case{"dd 000000", Truncated(32, 1), 1}, Case{"de", Truncated(16, 1), 1},
       Case{"df 00", Truncated(32, 1), 1}, Case{"92 01 cd 01", Truncated(16, 3), 3},
       Case{"81 a1'k' d9 02'x'", StringTruncated(2, 5), 5},
       Case{"81 a5'a'", StringTruncated(5, 2), 2}, Case{"81 d9", Truncated(8, 2), 2},
       Case{"81 da 00", Truncated(16, 2), 2},
       // Five bytes that claim 4 GB: refused before anything is allocated for them.
       Case{"db ffffffff", StringTruncated(0xFFFFFFFFu, 5), 5},
       Case{"c6 ffffffff", BlobTruncated(0xFFFFFFFFu, 5), 5},
       Case{"81 db ffffffff'a'", StringTruncated(0xFFFFFFFFu, 6), 6}});
}

TEST(MessagePackFailures, InvalidTypeBytesAndKeysAreRefusedJustAfterThem) {
  std::vector<Case> cases = {
      Case{"93 01 02 c1", Invalid(4), 4}, Case{"81 a1'a' d4 01 02", Invalid(4), 4},
      Case{"91 91 91 c9 00000001 01 01", Invalid(4), 4},
      Case{"82 a1'a' 01 91 01", KeyNotString(5), 5}, Case{"81 a1'a' 81 c0 01", KeyNotString(5), 5},
      // The second key of a map, after a complete first entry; a key that ends the input.
      Case{"82 a1'a' 01 cc 05 01", KeyNotString(5), 5}, Case{"81 01", KeyNotString(2), 2},
      Case{"81 01 01", KeyNotString(2), 2}};
  // The unused type byte and the ext types: alone, with a plausible ext payload after them, and
  // as the second element of an array.
  for (const char* type : {"c1", "c7", "c8", "c9", "d4", "d5", "d6", "d7", "d8"}) {
    cases.push_back({type, Invalid(1), 1});
    cases.push_back({type + std::string(" 010101010101"), Invalid(1), 1});
    cases.push_back({"92 01" + std::string(type) + "01", Invalid(3), 3});
  }
  // Every type byte that is not a string format, as a key.
  for (int type = 0; type <= 0xFF; ++type) {
    if ((type < 0xA0 || type > 0xBF) && (type < 0xD9 || type > 0xDB)) {
      cases.push_back({Format("81 %1$02x 0101", type), KeyNotString(2), 2});
    }
  }
  ExpectDecodes(cases);
}

TEST(MessagePackFailures, CountsAndNestingAreLimited) {
  // The message points at the count; decoding stops once the count has been read.
  ExpectDecodes(
      {Case{"dd ffffffff", TooManyElements(1, 0xFFFFFFFFu), 5},
       Case{"dd 10000000 01", TooManyElements(1, Vexa::kMaxBindingElements + 1), 5},
       // Above 2^31 entries the doubled item count of a map would wrap around in 32 bits.
       Case{"df 80000000 a1'a' 01", TooManyEntries(1, 0x80000000u), 5},
       Case{"91 df 10000000", TooManyEntries(2, Vexa::kMaxBindingElements + 1), 6},
       // Nesting up to the limit is decoded; arrays, maps, and an empty array as the one
       // level too many are refused: each is a level.
       Case{Repeat("91", kLimit) + "2a", Repeat("[", kLimit) + "S42" + Repeat("]", kLimit)},
       Case{Repeat("91", kLimit + 1), TooDeep(kLimit + 1), kLimit + 1},
       Case{Repeat("81 a0 ", kLimit + 1), TooDeep(2 * kLimit + 1), 2 * kLimit + 1},
       Case{Repeat("91", kLimit) + "dc 0000", TooDeep(kLimit + 1), kLimit + 3},
       Case{Repeat("91", 1000000), TooDeep(kLimit + 1), kLimit + 1},
       // Closed again after each level, depth never grows: a million siblings decode.
       Case{"dd 000f4240" + Repeat("90", 1000000), "[" + Repeat("[],", 999999) + "[]]"}});
}

// The largest accepted count with a single element present, and 400 nested arrays each
// declaring it (reserving what remains at every level would take 400 times the input): heap
// use stays small.
TEST(MessagePackFailures, HugeCountsReserveOnlyWhatTheInputHolds) {
  for (const Bytes& bytes : {Hex("dd 0fffffff 07"), Hex(Repeat("dd 0fffffff ", 400))}) {
    const std::size_t before = mallinfo2().uordblks + mallinfo2().hblkhd;
    const MessagePackDecoded decoded = Decode(bytes);
    const std::size_t after = mallinfo2().uordblks + mallinfo2().hblkhd;
    ASSERT_TRUE(decoded.result.Ok());
    EXPECT_LT(after - before, std::size_t{1} << 20);
    if (bytes.size() == 6) {
      EXPECT_EQ(DumpOf(decoded.result.value), "[S7]");
    }
  }
}

// A document with every format that decodes, nested in arrays and maps of every width, written
// token by token, with what decoding each of its prefixes must give: a prefix that ends
// between tokens is a good partial value read to its end; one that ends inside a token fails
// with the message of the read that the token cut short.
struct Document {
  Bytes bytes;
  std::vector<std::string> failures;  // by prefix length; empty where the prefix must decode
};

Document EveryFormatDocument() {
  const char* const tokens[] = {
      // {"scalars": [5, -27, nil, true, the integers, the floats, false, []],
      "de 0004", "a7'scalars'", "dc 0010", "05", "e5", "c0", "c3", "cc ff", "cd 1234",
      "ce 12345678", "cf 0102030405060708", "d0 80", "d1 8001", "d2 fffffffe",
      "d3 fffffffffffffffd", "ca 3fc00000", "cb 400921fb54442d18", "c2", "90",
      // "str8": ["str16 text", "str32", [bin8, bin16]], "key16": {"key32": bin32},
      "d9 04'str8'", "dd 00000003", "da 000a'str16 text'", "db 00000005'str32'", "92",
      "c4 04'bin8'", "c5 0005'bin16'", "da 0005'key16'", "df 00000001", "db 00000005'key32'",
      "c6 00000005'bin32'",
      // "": {"deep": [{}]}}
      "a0", "81", "a4'deep'", "91", "80"};
  Document document;
  for (const char* token : tokens) {
    const Bytes bytes = Hex(token);
    const std::size_t start = document.bytes.size();
    const uint8_t type = bytes[0];
    // Texts and blobs have a length of 0 (fixstr), 1, 2 or 4 bytes and a body; the other
    // tokens a fixed-width payload.
    const bool blob = type >= 0xC4 && type <= 0xC6;
    const bool text = (type >= 0xA0 && type <= 0xBF) || (type >= 0xD9 && type <= 0xDB);
    const std::size_t width = blob                   ? std::size_t{1} << (type - 0xC4)
                              : type >= 0xD9 && text ? std::size_t{1} << (type - 0xD9)
                              : text                 ? 0
                                                     : bytes.size() - 1;
    document.failures.resize(start + bytes.size() + 1);
    for (std::size_t cut = 1; cut <= width; ++cut) {
      document.failures[start + cut] = Truncated(width * 8, start + 1);
    }
    const std::size_t body = start + 1 + width, size = bytes.size() - 1 - width;
    for (std::size_t cut = 0; (blob || text) && cut < size; ++cut) {
      document.failures[body + cut] =
          blob ? BlobTruncated(size, body) : StringTruncated(size, body);
    }
    document.bytes.insert(document.bytes.end(), bytes.begin(), bytes.end());
  }
  return document;
}

TEST(MessagePackMalformed, EveryPrefixOfADocumentFailsOrDecodesAsItsTokensSay) {
  const Document document = EveryFormatDocument();
  const Bytes& whole = document.bytes;
  for (std::size_t length = 0; length <= whole.size(); ++length) {
    SCOPED_TRACE(length);
    const MessagePackDecoded decoded = Decode(Bytes(whole.begin(), whole.begin() + length));
    const std::string& expected = document.failures[length];
    if (expected.empty()) {
      // Cut between two tokens: good, and everything up to the cut was read.
      ASSERT_TRUE(decoded.result.Ok()) << decoded.result.ErrorText();
      EXPECT_EQ(decoded.consumed, length);
    } else {
      EXPECT_EQ(Outcome(decoded.result), expected);
    }
  }
  // The whole document, with every format where it landed.
  EXPECT_EQ(DumpOf(Decode(whole).result.value),
            "{:{deep:[{}]},key16:{key32:<bin32>},scalars:[S5,S-27,~,true,U255,U4660,U305419896,"
            "U72623859790382856,S-128,S-32767,S-2,S-3,F1.5,F3.1415926535897931,false,[]],"
            "str8:['str16 text','str32',[<bin8>,<bin16>]]}");
}

// Random bytes, and the document randomly damaged: decoding never reads outside the input and
// fails, if at all, with one of its own messages.
TEST(MessagePackMalformed, RandomAndDamagedBytesFailCleanly) {
  const auto expectClean = [](const Bytes& bytes) {
    const MessagePackDecoded decoded = Decode(bytes);
    EXPECT_LE(decoded.consumed, bytes.size());
    if (!decoded.result.Ok()) {
      const std::string_view message = decoded.result.ErrorText();
      EXPECT_TRUE(message.starts_with("Invalid MessagePack data")) << message;
    }
  };
  std::mt19937 random(20240611);
  for (int round = 0; round < 20000; ++round) {
    Bytes bytes(random() % 48);
    for (uint8_t& byte : bytes) {
      byte = static_cast<uint8_t>(random());
    }
    expectClean(bytes);
  }
  const Bytes whole = EveryFormatDocument().bytes;
  std::mt19937 damage(7);
  for (int round = 0; round < 5000; ++round) {
    Bytes bytes = whole;
    for (int count = 1 + damage() % 3; count > 0; --count) {
      bytes[damage() % bytes.size()] = static_cast<uint8_t>(damage());
    }
    expectClean(bytes);
  }
}

// Records every event as a short text, and the element counts it is asked to reserve.
struct RecordingSink {
  using Status = Vexa::BindingBuildStatus;
  std::vector<std::string> events;
  std::vector<std::size_t> reserved;

  Status Add(std::string event) {
    events.push_back(std::move(event));
    return Status::Ok;
  }
  Status BeginCollection(BindingReuse reuse) {
    return Add(reuse == BindingReuse::Replace ? "[" : "[keep");
  }
  Status EndCollection() { return Add("]"); }
  Status BeginStructure(BindingReuse reuse) {
    return Add(reuse == BindingReuse::Replace ? "{" : "{keep");
  }
  Status EndStructure() { return Add("}"); }
  Status MemberKey(std::string_view key) { return Add(std::string(key) + ":"); }
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

struct EventCase {
  std::string bytes;  // in the notation of Hex
  bool ok;
  std::size_t position;
  std::string events;    // separated by spaces
  std::string reserved;  // the counts reserved, separated by spaces
};

TEST(MessagePackReaderEvents, TheStreamFollowsTheInputWithinItsBounds) {
  const EventCase cases[] = {
      // {"a": [1, 2], "b": nil} is a balanced stream.
      EventCase{"82 a1'a' 92 01 02 a1'b' c0", true, 9, "{ a: [ s1 s2 ] b: empty }", "2"},
      // Containers short of items stay open, and a key waits for its value.
      EventCase{"91 82 a1'a' 01 a1'b'", true, 7, "[ { a: s1", ""},
      // A failure stops the stream at once: nothing after the refused token.
      EventCase{"92 01 c1 02", false, 3, "[ s1", "2"},
      // One element needs no reservation; no more is reserved than bytes remain; an exact count
      // is reserved as declared.
      EventCase{"dd 0fffffff 07", true, 6, "[ s7", ""},
      EventCase{"dc ffff 01 02 03", true, 6, "[ s1 s2 s3", "3"},
      EventCase{"dc 0100" + Repeat("07", 256), true, 259, "[ " + Repeat("s7 ", 256) + "]", "256"},
      // The reader bounds nesting whatever the sink (this one has no limit of its own).
      EventCase{Repeat("91", 100000), false, kLimit + 1, Repeat("[ ", kLimit - 1) + "[", ""}};
  for (const EventCase& item : cases) {
    SCOPED_TRACE(item.bytes.substr(0, 60));
    const Bytes bytes = Hex(item.bytes);
    RecordingSink sink;
    Vexa::MessagePackReader<RecordingSink> reader(bytes.data(), bytes.size(), sink);
    EXPECT_EQ(reader.Run(), item.ok);
    EXPECT_EQ(reader.Position(), item.position);
    std::string events, reserved;
    for (const std::string& event : sink.events) {
      events += (events.empty() ? "" : " ") + event;
    }
    for (const std::size_t count : sink.reserved) {
      reserved += (reserved.empty() ? "" : " ") + std::to_string(count);
    }
    EXPECT_EQ(events, item.events);
    EXPECT_EQ(reserved, item.reserved);
  }
  // All reservations of 400 nested arrays, each declaring the largest count, together stay
  // within the input size.
  const Bytes nested = Hex(Repeat("dd 0fffffff ", 400));
  RecordingSink sink;
  Vexa::MessagePackReader<RecordingSink> reader(nested.data(), nested.size(), sink);
  ASSERT_TRUE(reader.Run());
  std::size_t total = 0;
  for (const std::size_t count : sink.reserved) {
    total += count;
  }
  EXPECT_LE(total, nested.size());
}

TEST(MessagePackSniffing, RecognisesBodiesThatOpenAMapOrAnArray) {
  for (int byte = 0; byte <= 0xFF; ++byte) {
    const uint8_t first[] = {static_cast<uint8_t>(byte), 0x00};
    const bool expected = (byte >= 0x80 && byte <= 0x9F) || (byte >= 0xDC && byte <= 0xDF);
    EXPECT_EQ(Vexa::LooksLikeMessagePack(first, 2), expected) << byte;
    EXPECT_EQ(Vexa::LooksLikeMessagePack(first, 1), expected) << byte;
    // Empty input is not MessagePack, whatever the byte behind it.
    EXPECT_FALSE(Vexa::LooksLikeMessagePack(first, 0)) << byte;
  }
  EXPECT_FALSE(Vexa::LooksLikeMessagePack(nullptr, 0));
  EXPECT_FALSE(Vexa::LooksLikeMessagePack(std::string_view()));
  EXPECT_TRUE(Vexa::LooksLikeMessagePack(std::string_view("\x83\xA1\x61\x01", 4)));
  EXPECT_TRUE(Vexa::LooksLikeMessagePack(std::string_view("\xDE\x00\x00", 3)));
  EXPECT_FALSE(Vexa::LooksLikeMessagePack(std::string_view("{\"a\":1}")));
  EXPECT_FALSE(Vexa::LooksLikeMessagePack(std::string_view("[1]")));
  EXPECT_FALSE(Vexa::LooksLikeMessagePack(std::string_view("--- a")));
}

}  // namespace
