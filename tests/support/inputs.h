// Inputs for the decoders: long repeated texts, and copies in buffers of exactly their size so
// that a read past the end is caught by the address sanitizer rather than landing in slack.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace Vexa::Testing {

inline std::string Repeat(std::string_view piece, std::size_t count) {
  std::string text;
  text.reserve(piece.size() * count);
  for (std::size_t index = 0; index < count; ++index) {
    text += piece;
  }
  return text;
}

// A heap copy of `bytes` in a buffer of exactly their size (null when there are none).
inline std::unique_ptr<char[]> ExactCopy(std::string_view bytes) {
  if (bytes.empty()) {
    return nullptr;
  }
  std::unique_ptr<char[]> copy(new char[bytes.size()]);
  std::memcpy(copy.get(), bytes.data(), bytes.size());
  return copy;
}

}  // namespace Vexa::Testing
