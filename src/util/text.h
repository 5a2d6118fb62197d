// Byte-string helpers shared by the type system, the codecs and the dispatcher: Base64,
// splitting, tokenizing, joining, replacement, ASCII lower-casing and byte-order reversal.
//
//   std::string blob = Vexa::Base64Decode("TWFu");                  // "Man"
//   std::vector<std::string> parts = Vexa::Split("a,b,", ",");      // "a", "b", ""
//   std::string tail = Vexa::Join(parts, "/", 1);                   // "b/"
//
// Every function treats text as opaque bytes (no character set, no locale), returns a new
// value, leaves its arguments alone and never throws except when allocation fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace Vexa {

// Standard Base64 (RFC 4648 alphabet, '=' padding, no line breaks) of `count` bytes at
// `bytes`; `bytes` may be null when count is 0. An empty input gives an empty text.
[[nodiscard]] std::string Base64Encode(const void* bytes, std::size_t count);
[[nodiscard]] std::string Base64Encode(std::string_view bytes);

// Lenient Base64 decoding: reads up to the first '=' or the first byte outside the
// alphabet and ignores the rest without reporting it. A trailing group of 2 or 3
// characters yields 1 or 2 bytes; a lone trailing character yields nothing. Callers that
// must reject malformed text check it themselves.
[[nodiscard]] std::string Base64Decode(std::string_view text);

// The pieces of `text` between occurrences of `separator`, empty pieces included: "" gives
// one empty piece, "a,b," at "," gives "a", "b", "". An empty separator never matches, so
// the result is the whole text as one piece.
[[nodiscard]] std::vector<std::string> Split(std::string_view text, std::string_view separator);

// Every maximal run of bytes not in `delimiters`, in order; never an empty token. An empty
// delimiter set gives the whole text as one token (none for an empty text).
[[nodiscard]] std::vector<std::string> Tokenize(std::string_view text, std::string_view delimiters);

// Passed as Join's count to join every string from `first` to the end.
inline constexpr std::size_t kJoinAll = std::numeric_limits<std::size_t>::max();

// strings[first], then `separator` and each following string, for at most `count` strings
// (clipped at the end of the list). Empty when `first` is past the end or count is 0.
[[nodiscard]] std::string Join(const std::vector<std::string>& strings, std::string_view separator,
                               std::size_t first = 0, std::size_t count = kJoinAll);

// `text` with every non-overlapping occurrence of `search`, scanned from the start, replaced
// by `replacement`; the inserted text is never searched again. An empty `search` changes
// nothing.
[[nodiscard]] std::string ReplaceAll(std::string_view text, std::string_view search,
                                     std::string_view replacement);

// A copy with 'A' to 'Z' lowered; every other byte, including those from 128 up, unchanged.
[[nodiscard]] std::string ToLower(std::string_view text);

// The value with its byte order reversed, for big-endian wire formats.
[[nodiscard]] constexpr std::uint16_t ByteSwap16(std::uint16_t value) {
  return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}

[[nodiscard]] constexpr std::uint32_t ByteSwap32(std::uint32_t value) {
  return ((value & 0x000000FFu) << 24) | ((value & 0x0000FF00u) << 8) |
         ((value & 0x00FF0000u) >> 8) | ((value & 0xFF000000u) >> 24);
}

[[nodiscard]] constexpr std::uint64_t ByteSwap64(std::uint64_t value) {
  return (static_cast<std::uint64_t>(ByteSwap32(static_cast<std::uint32_t>(value))) << 32) |
         ByteSwap32(static_cast<std::uint32_t>(value >> 32));
}

}  // namespace Vexa
