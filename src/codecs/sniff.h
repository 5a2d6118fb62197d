// The one rule by which a payload that comes without a content type tells its codec: the
// request dispatcher applies it to argument values of structured kinds, kor-value to its
// input.
//
//   switch (Vexa::SniffPayload(bytes)) {
//     case Vexa::SniffedCodec::MessagePack: ... DecodeMessagePack(bytes) ...
//     case Vexa::SniffedCodec::Json:        ... ParseJson(bytes) ...
//     case Vexa::SniffedCodec::Yaml:        ... ParseYaml(bytes) ...
//     case Vexa::SniffedCodec::None:        ... the caller's default (a text, or JSON) ...
//   }
//
// The checks run in this order, the first that holds decides:
// 1. the first byte opens a MessagePack map or array (0x80-0x9F, 0xDC-0xDF: LooksLikeMessagePack);
// 2. the first character after leading spaces is "{" or "[": JSON;
// 3. the text after leading spaces begins with "---": YAML;
// 4. nothing recognised.
// Only the space character counts as leading space: a tab or a line break in front of a value
// leaves it unrecognised. Nothing beyond the first bytes is looked at.
#pragma once

#include <cstddef>
#include <string_view>

#include "codecs/msgpack.h"

namespace Vexa {

enum class SniffedCodec { None, Json, MessagePack, Yaml };

[[nodiscard]] inline SniffedCodec SniffPayload(std::string_view bytes) noexcept {
  if (LooksLikeMessagePack(bytes)) {
    return SniffedCodec::MessagePack;
  }
  const std::size_t start = bytes.find_first_not_of(' ');
  if (start == std::string_view::npos) {
    return SniffedCodec::None;
  }
  const std::string_view text = bytes.substr(start);
  if (text.front() == '{' || text.front() == '[') {
    return SniffedCodec::Json;
  }
  if (text.starts_with("---")) {
    return SniffedCodec::Yaml;
  }
  return SniffedCodec::None;
}

}  // namespace Vexa
