#include "util/text.h"

#include <algorithm>
#include <array>

namespace Vexa {
namespace {

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kBase64Pad = '=';
constexpr std::int8_t kNotBase64 = -1;

// Value of every byte in the alphabet, kNotBase64 for the others ('=' included).
constexpr std::array<std::int8_t, 256> MakeBase64Values() {
  std::array<std::int8_t, 256> values{};
  values.fill(kNotBase64);
  for (std::size_t i = 0; i < kBase64Alphabet.size(); ++i) {
    values[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<std::int8_t>(i);
  }
  return values;
}
constexpr std::array<std::int8_t, 256> kBase64Values = MakeBase64Values();

// Appends the bytes of one group of four values; a short group (2 or 3 values, the rest
// zero) appends only the bytes that its values complete.
void AppendDecodedGroup(std::string& out, const std::array<unsigned, 4>& c, std::size_t values) {
  const unsigned char bytes[3] = {
      static_cast<unsigned char>((c[0] << 2) + ((c[1] >> 4) & 3)),
      static_cast<unsigned char>(((c[1] & 15) << 4) + ((c[2] >> 2) & 15)),
      static_cast<unsigned char>(((c[2] & 3) << 6) + c[3]),
  };
  out.append(reinterpret_cast<const char*>(bytes), values - 1);
}

}  // namespace

std::string Base64Encode(const void* bytes, std::size_t count) {
  const unsigned char* in = static_cast<const unsigned char*>(bytes);
  std::string out;
  out.reserve(4 * ((count + 2) / 3));
  std::size_t i = 0;
  for (; count - i >= 3; i += 3) {
    const unsigned b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
    out += kBase64Alphabet[b0 >> 2];
    out += kBase64Alphabet[((b0 & 3) << 4) + (b1 >> 4)];
    out += kBase64Alphabet[((b1 & 15) << 2) + (b2 >> 6)];
    out += kBase64Alphabet[b2 & 63];
  }
  const std::size_t remaining = count - i;
  if (remaining > 0) {
    const unsigned b0 = in[i];
    const unsigned b1 = remaining > 1 ? in[i + 1] : 0;
    out += kBase64Alphabet[b0 >> 2];
    out += kBase64Alphabet[((b0 & 3) << 4) + (b1 >> 4)];
    out += remaining > 1 ? kBase64Alphabet[(b1 & 15) << 2] : kBase64Pad;
    out += kBase64Pad;
  }
  return out;
}

std::string Base64Encode(std::string_view bytes) {
  return Base64Encode(bytes.data(), bytes.size());
}

std::string Base64Decode(std::string_view text) {
  std::string out;
  out.reserve(3 * ((text.size() + 3) / 4));
  std::array<unsigned, 4> group{};
  std::size_t collected = 0;
  for (const char c : text) {
    const std::int8_t value = kBase64Values[static_cast<unsigned char>(c)];
    if (value == kNotBase64) {
      break;
    }
    group[collected++] = static_cast<unsigned>(value);
    if (collected == 4) {
      AppendDecodedGroup(out, group, 4);
      collected = 0;
    }
  }
  if (collected >= 2) {
    std::fill(group.begin() + static_cast<std::ptrdiff_t>(collected), group.end(), 0u);
    AppendDecodedGroup(out, group, collected);
  }
  return out;
}

std::vector<std::string> Split(std::string_view text, std::string_view separator) {
  if (separator.empty()) {
    return {std::string(text)};
  }
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t found = text.find(separator, start);
    if (found == std::string_view::npos) {
      pieces.emplace_back(text.substr(start));
      return pieces;
    }
    pieces.emplace_back(text.substr(start, found - start));
    start = found + separator.size();
  }
}

std::vector<std::string> Tokenize(std::string_view text, std::string_view delimiters) {
  std::vector<std::string> tokens;
  std::size_t start = text.find_first_not_of(delimiters);
  while (start != std::string_view::npos) {
    const std::size_t end = text.find_first_of(delimiters, start);
    tokens.emplace_back(text.substr(start, end - start));
    start = text.find_first_not_of(delimiters, end);
  }
  return tokens;
}

std::string Join(const std::vector<std::string>& strings, std::string_view separator,
                 std::size_t first, std::size_t count) {
  if (first >= strings.size() || count == 0) {
    return {};
  }
  const std::size_t last = first + std::min(count, strings.size() - first);
  std::size_t length = 0;
  for (std::size_t i = first; i < last; ++i) {
    length += strings[i].size() + separator.size();
  }
  std::string out;
  out.reserve(length);
  out += strings[first];
  for (std::size_t i = first + 1; i < last; ++i) {
    out += separator;
    out += strings[i];
  }
  return out;
}

std::string ReplaceAll(std::string_view text, std::string_view search,
                       std::string_view replacement) {
  std::size_t found = search.empty() ? std::string_view::npos : text.find(search);
  if (found == std::string_view::npos || search == replacement) {
    return std::string(text);
  }
  std::string out;
  std::size_t start = 0;
  while (found != std::string_view::npos) {
    out.append(text, start, found - start);
    out += replacement;
    start = found + search.size();
    found = text.find(search, start);
  }
  out.append(text, start);
  return out;
}

std::string ToLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

}  // namespace Vexa
