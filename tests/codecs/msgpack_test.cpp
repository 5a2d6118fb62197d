// The MessagePack decoder: every format at the edges of its width, where decoding stops, every
// message with its position, the limits, the event stream of the reader, and the sniffing rule.
// Damaged and random input is fuzz/msgpack.cpp's.
#include "codecs/msgpack.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "codecs/msgpack_reader.h"
#include "support/describe.h"
#include "support/inputs.h"
#include "util/format.h"

namespace {

using namespace Vexa;
using namespace Vexa::Testing;
using Bytes = std::vector<uint8_t>;

constexpr std::size_t kLimit = kMaxBindingDepth;

// Pairs of hex digits, with text between single quotes copied as it stands; spaces only
// separate. "81 a1'a' 01" is {"a": 1}.
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

// Decodes a copy in a buffer of exactly the input's size (the sanitizer build sees overreads).
MessagePackDecoded Decode(const Bytes& bytes) {
  const auto exact =
      ExactCopy(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  return DecodeMessagePack(reinterpret_cast<const uint8_t*>(exact.get()), bytes.size());
}

std::string Letters(std::size_t count) {  // 'a', 'b', ... cycling through the alphabet
  return Repeat("abcdefghijklmnopqrstuvwxyz", count / 26 + 1).substr(0, count);
}

// Rows "bytes => expected": the bytes in the notation of Hex, the value's dump or "error: " and
// the message, and after " @ " where decoding stopped when that is not the end of the input.
void ExpectDecodes(const std::vector<std::string>& rows) {
  for (const std::string& row : rows) {
    auto [input, expected] = Sides(row);
    const std::size_t at = expected.find(" @ ");
    const Bytes bytes = Hex(input);
    const MessagePackDecoded decoded = Decode(bytes);
    EXPECT_EQ(Outcome(decoded.result), expected.substr(0, at)) << input.substr(0, 60);
    EXPECT_EQ(decoded.consumed,
              at == std::string::npos ? bytes.size() : std::stoul(expected.substr(at + 3)))
        << input.substr(0, 60);
  }
}

// The messages in the exact words that clients match on, with where decoding stopped.
std::string Invalid(std::size_t at, const char* more = "", std::size_t stop = 0) {
  return Format("error: Invalid MessagePack data at position %1.%2 @ %3", at, more,
                stop != 0 ? stop : at);
}
std::string KeyNotString(std::size_t at) {
  return Invalid(at, " Map keys must be strings.");
}
std::string Truncated(int bits, std::size_t at) {
  return Format(
      "error: Invalid MessagePack data. %1-bit integer value at position %2 is truncated. @ %2",
      bits, at);
}
std::string StringCut(uint64_t size, std::size_t at) {
  return Format(
      "error: Invalid MessagePack data. String of size %1 at position %2 is truncated. @ %2", size,
      at);
}
std::string BlobCut(uint64_t size, std::size_t at) {
  return Format(
      "error: Invalid MessagePack data. Raw bytes of size %1 at position %2 are truncated. @ %2",
      size, at);
}

TEST(MessagePackDecode, EveryFormatAtTheEdgesOfItsWidth) {
  const std::string s31 = Letters(31), s255 = Letters(255), s256 = Letters(256),
                    s65536 = Letters(65536);
  // Fixints and int 8-64 are signed, uint 8-64 unsigned: the same 42 is never merged.
  // clang-format off
  ExpectDecodes({"2a => S42", "7f => S127", "e0 => S-32", "ff => S-1", "c0 => ~", "c2 => false",
                 "c3 => true",
                 "cc 2a => U42", "cd 0102 => U258", "ce ffffffff => U4294967295",
                 "cf 0102030405060708 => U72623859790382856",
                 "cf ffffffffffffffff => U18446744073709551615",
                 "d0 80 => S-128", "d1 8000 => S-32768", "d1 0102 => S258",
                 "d2 80000000 => S-2147483648",
                 "d3 8000000000000000 => S-9223372036854775808", "ca 3fc00000 => F1.5",
                 "ca 7f800000 => Finf",
                 "cb 3ff8000000000000 => F1.5", "cb fff0000000000000 => F-inf", "a0 => ''",
                 "a3'a' 00 'b' => 'a'"});
  ExpectDecodes({"bf'" + s31 + "' => '" + s31 + "'", "d9 ff'" + s255 + "' => '" + s255 + "'",
                 "da 0100'" + s256 + "' => '" + s256 + "'",
                 "db 00010000'" + s65536 + "' => '" + s65536 + "'",
                 "c4 03 0001ff => <" + std::string("\0\x01\xFF>", 4),
                 "c4 ff'" + s255 + "' => <" + s255 + ">",
                 "c5 0100'" + s256 + "' => <" + s256 + ">",
                 "c6 00010000'" + s65536 + "' => <" + s65536 + ">"});
  // clang-format on
}

// An array of `count` elements 0, 1, ... or a map "k00000": 0, ... under `header`, as a row.
std::string ItemsOf(const std::string& header, std::size_t count, bool map) {
  std::string bytes = header, dump = map ? "{" : "[";
  for (std::size_t index = 0; index < count; ++index) {
    const std::string key = Format("k%1$05u", index);
    bytes += (map ? " a6'" + key + "' " : " ") + Format("%1$02x", index % 128);
    dump += (index == 0 ? "" : ",") + (map ? key + ":" : "") + Format("S%1", index % 128);
  }
  return bytes + " => " + dump + (map ? "}" : "]");
}

TEST(MessagePackDecode, ArraysAndMapsHoldTheirDeclaredItems) {
  const std::string key300 = Letters(300);
  // clang-format off
  ExpectDecodes(
      {"90 => []", "dc 0000 => []", "dd 00000000 => []", "80 => {}", "de 0000 => {}",
       "df 00000000 => {}",
       ItemsOf("9f", 15, false), ItemsOf("dc 0010", 16, false),
       ItemsOf("dd 00010000", 65536, false),
       ItemsOf("8f", 15, true), ItemsOf("de 0010", 16, true), ItemsOf("df 00010000", 65536, true),
       // Keys of every string format; members iterate in key order whatever the input's.
       "84 a1'a' 01 d9 01'b' 02 da 012c'" + key300 + "' 03 db 00000001'c' 04 => {a:S1," + key300 +
           ":S3,b:S2,c:S4}",
       "82 a4'list' 93 01 82 a1'x' c0 a1'y' 91 c3 a1's' a1'n' ff"
       " => {list:[S1,{x:~,y:[true]},'s'],n:S-1}",
       // A repeated key takes the later value: no merge of maps or arrays, and nil empties.
       "82 a1'a' 81 a1'x' 01 a1'a' 81 a1'y' 02 => {a:{y:S2}}",
       "82 a1'a' 92 01 02 a1'a' 91 03 => {a:[S3]}",
       "82 a1'a' 01 a1'a' c0 => {a:~}"});
  // clang-format on
}

TEST(MessagePackDecode, ReadingStopsAtTheEndOfTheValueOrOfTheInput) {
  // Input that ends between tokens keeps what was read; a key without its value adds no member.
  // clang-format off
  ExpectDecodes({" => ~", "c0 01 => ~ @ 1", "01 c1 => S1 @ 1", "cd 0102 cd => U258 @ 3",
                 "92 01 02 ff => [S1,S2] @ 3",
                 "81 a1'a' 90 db ff => {a:[]} @ 4", "92 01 => [S1]", "82 a1'a' 01 a1'b' => {a:S1}",
                 "dc ffff => []", "91 92 91 => [[[]]]"});
  // clang-format on
}

TEST(MessagePackFailures, TokensCutShortNameTheirWidthAndPosition) {
  // clang-format off
  ExpectDecodes({"cc => " + Truncated(8, 1), "cd 01 => " + Truncated(16, 1),
                 "ce 010203 => " + Truncated(32, 1),
                 "cf 01020304050607 => " + Truncated(64, 1), "d1 01 => " + Truncated(16, 1),
                 "ca 3fc000 => " + Truncated(32, 1), "cb => " + Truncated(64, 1),
                 "d9 => " + Truncated(8, 1),
                 "db 000000 => " + Truncated(32, 1), "d9 05'a' => " + StringCut(5, 2),
                 "da 0100'a' => " + StringCut(256, 3), "c5 01 => " + Truncated(16, 1),
                 "c4 05 01 => " + BlobCut(5, 2), "c6 00000001 => " + BlobCut(1, 5),
                 "dc 00 => " + Truncated(16, 1),
                 "df 00 => " + Truncated(32, 1), "92 01 cd 01 => " + Truncated(16, 3),
                 "81 a5'a' => " + StringCut(5, 2), "81 da 00 => " + Truncated(16, 2),
                 // Five bytes that claim 4 GB: refused before anything is allocated for them.
                 "db ffffffff => " + StringCut(0xFFFFFFFFu, 5),
                 "c6 ffffffff => " + BlobCut(0xFFFFFFFFu, 5)});
  // clang-format on
}

TEST(MessagePackFailures, InvalidTypesAndKeysAreRefusedJustAfterThem) {
  std::vector<std::string> rows = {"82 a1'a' 01 91 01 => " + KeyNotString(5),
                                   "81 01 => " + KeyNotString(2)};
  for (const std::string type : {"c1", "c7", "c8", "c9", "d4", "d5", "d6", "d7", "d8"}) {
    rows.push_back(type + " 0101 => " + Invalid(1));
    rows.push_back("92 01" + type + "01 => " + Invalid(3));
  }
  for (int type = 0; type <= 0xFF; ++type) {  // every type that is not a string, as a key
    if ((type < 0xA0 || type > 0xBF) && (type < 0xD9 || type > 0xDB)) {
      rows.push_back(Format("81 %1$02x 0101 => ", type) + KeyNotString(2));
    }
  }
  // clang-format off
  ExpectDecodes(rows);
  // clang-format on
}

TEST(MessagePackFailures, CountsAndNestingAreLimited) {
  const char* deeper = " Arrays and maps are nested deeper than 512 levels.";
  // clang-format off
  ExpectDecodes({"dd 10000000 01 => " +
                     Invalid(1, " Array of 268435456 elements is longer than 268435455.", 5),
                 // Above 2^31 entries the doubled item count of a map would wrap in 32 bits.
                 "91 df 80000000 => " +
                     Invalid(2, " Map of 2147483648 entries is larger than 268435455.", 6),
                 "91 df 10000000 => " +
                     Invalid(2, " Map of 268435456 entries is larger than 268435455.", 6),
                 Repeat("91", 1000000) + " => " + Invalid(kLimit + 1, deeper),
                 Repeat("91", kLimit) + "dc 0000 => " + Invalid(kLimit + 1, deeper, kLimit + 3),
                 // Closed after each level, nesting never grows: a million siblings decode.
                 "dd 000f4240" + Repeat("90", 1000000) + " => [" + Repeat("[],", 999999) + "[]]"});
  // clang-format on
}

// Records the events of the reader, and the element counts it asks to reserve.
struct RecordingSink {
  using Status = BindingBuildStatus;
  std::string events, reserved;
  std::size_t total = 0;
  Status Add(const std::string& event) {
    events += (events.empty() ? "" : " ") + event;
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
    reserved += (reserved.empty() ? "" : " ") + std::to_string(count);
    total += count;
    return Status::Ok;
  }
};

TEST(MessagePackReaderEvents, TheStreamFollowsTheInputWithinItsBounds) {
  struct EventCase {
    std::string bytes;
    bool ok;
    std::size_t position;
    std::string events, reserved;
  };
  const EventCase cases[] = {
      {"82 a1'a' 92 01 02 a1'b' c0", true, 9, "{ a: [ s1 s2 ] b: empty }", "2"},
      // Containers short of items stay open; a failure stops the stream at once.
      {"91 82 a1'a' 01 a1'b'", true, 7, "[ { a: s1", ""},
      {"92 01 c1 02", false, 3, "[ s1", "2"},
      // No more is reserved than bytes remain, and one element needs no reservation.
      {"dc ffff 01 02 03", true, 6, "[ s1 s2 s3", "3"},
      {"dd 0fffffff 07", true, 6, "[ s7", ""},
      // The reader bounds nesting whatever the sink (this one has no limit of its own).
      {Repeat("91", 100000), false, kLimit + 1, Repeat("[ ", kLimit - 1) + "[", ""}};
  for (const EventCase& item : cases) {
    const Bytes bytes = Hex(item.bytes);
    RecordingSink sink;
    MessagePackReader<RecordingSink> reader(bytes.data(), bytes.size(), sink);
    EXPECT_EQ(reader.Run(), item.ok) << item.bytes.substr(0, 40);
    EXPECT_EQ(reader.Position(), item.position) << item.bytes.substr(0, 40);
    EXPECT_EQ(sink.events + " / " + sink.reserved, item.events + " / " + item.reserved);
  }
  // 400 nested arrays each declaring the largest count reserve no more than the input's size.
  const Bytes nested = Hex(Repeat("dd 0fffffff ", 400));
  RecordingSink sink;
  MessagePackReader<RecordingSink> reader(nested.data(), nested.size(), sink);
  ASSERT_TRUE(reader.Run());
  EXPECT_LE(sink.total, nested.size());
}

TEST(MessagePackSniffing, RecognisesBodiesThatOpenAMapOrAnArray) {
  for (int byte = 0; byte <= 0xFF; ++byte) {
    const uint8_t first[] = {static_cast<uint8_t>(byte)};
    const bool expected = (byte >= 0x80 && byte <= 0x9F) || (byte >= 0xDC && byte <= 0xDF);
    EXPECT_EQ(LooksLikeMessagePack(first, 1), expected) << byte;
    EXPECT_FALSE(LooksLikeMessagePack(first, 0)) << byte;
  }
  EXPECT_FALSE(LooksLikeMessagePack(std::string_view()));
}

}  // namespace
