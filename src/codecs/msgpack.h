// MessagePack to BindingProperty: decodes one MessagePack value from a byte string, and tells
// whether a body without a content type looks like MessagePack.
//
//   const Vexa::MessagePackDecoded decoded = Vexa::DecodeMessagePack(bytes, size);
//   if (!decoded.result) { report(decoded.result.ErrorText()); }      // {"error": message}
//   else if (decoded.consumed != size) { /* bytes after the value were left unread */ }
//   if (Vexa::LooksLikeMessagePack(bytes, size)) { ... }               // 0x80-0x9F, 0xDC-0xDF
//
// Mapping. Positive and negative fixints and int 8-64 become signed values, uint 8-64 unsigned
// ones (never merged), float 32 and 64 floats, str texts (interned, cut at a NUL like every
// text of the value), bin blobs, nil an empty value, true and false bools, arrays collections
// and maps structures. Map keys must be strings; a key that appears twice addresses the same
// member again and the later value replaces the earlier one. The unused type byte 0xC1 and
// every ext and fixext type are invalid data.
//
// Partial input. Input that ends between two tokens is not an error: decoding stops and the
// result holds what was read (a collection or structure keeps the items read so far; a map
// key whose value never came adds no member). Input that ends inside a token (a type byte whose
// length, count, number or body is cut short) fails with a truncation message. The empty input
// is an empty value. Bytes after the first complete value are not read: `consumed` tells where
// the value ended, and callers that want exactly one value compare it with the size.
//
// Limits. The decoder is iterative (an explicit frame stack, no recursion) and never reads
// outside the given bytes. Every length and count from the input is checked against the bytes
// that remain before anything is allocated for it, so memory stays proportional to the input.
// Arrays and maps nested deeper than kMaxBindingDepth, and arrays or maps declaring more than
// kMaxBindingElements items, are refused with a failure. No exception escapes: should memory
// run out all the same, the result is a failure too.
//
// Threading: none shared; concurrent calls on different inputs are independent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "value/property.h"
#include "value/result.h"

namespace Vexa {

struct MessagePackDecoded {
  // The value, or on failure the structure {"error": message} (messages in
  // codecs/msgpack_messages.h); the partly built value is never kept.
  BindingResult result;
  // The index at which decoding stopped: just past the value on success, or where the input
  // ended; on failure the position that the failing read had reached.
  std::size_t consumed = 0;
};

// Decodes the first MessagePack value of `size` bytes at `data` (which may be null when size
// is 0). Borrows the bytes for the call only; the result owns everything it holds.
[[nodiscard]] MessagePackDecoded DecodeMessagePack(const uint8_t* data, std::size_t size);

[[nodiscard]] inline MessagePackDecoded DecodeMessagePack(std::string_view bytes) {
  return DecodeMessagePack(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// Whether the bytes begin like the MessagePack bodies this system exchanges: true when `size`
// is not 0 and the first byte opens a map or an array (0x80-0x9F fixmap and fixarray,
// 0xDC-0xDF array 16/32 and map 16/32). A scalar MessagePack value is not recognised, which
// keeps texts such as JSON ('{' is 0x7B, '[' 0x5B) and YAML on their own decoders.
[[nodiscard]] constexpr bool LooksLikeMessagePack(const uint8_t* data, std::size_t size) noexcept {
  if (size == 0 || data == nullptr) {
    return false;
  }
  const uint8_t first = data[0];
  return (first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF);
}

[[nodiscard]] inline bool LooksLikeMessagePack(std::string_view bytes) noexcept {
  return LooksLikeMessagePack(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace Vexa
