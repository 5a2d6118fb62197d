// kor-value: decodes a JSON, MessagePack or YAML payload through the plugin's own codecs and
// prints the value as compact JSON, for people debugging what the plugin receives.
//
//   kor-value body.json                 # JSON unless the bytes say otherwise
//   kor-value --from msgpack dump.bin
//   curl -s ... | kor-value -           # standard input
//
// Exit status: 0 with the value on standard output; 1 with the codec's message on standard
// error when the input does not decode; 2 for a usage error (unknown option, unknown codec,
// more than one input, an input that cannot be read).
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace Vexa::Tools {

enum class Codec { Json, MessagePack, Yaml };

// The codec that the plugin's dispatcher would pick for an argument value of unknown type:
// MessagePack when the first byte opens a map or an array (0x80-0x9F, 0xDC-0xDF), JSON when
// the first character after leading spaces is "{" or "[", YAML when the text after leading
// spaces begins with "---", and JSON for anything else.
[[nodiscard]] Codec SniffCodec(std::string_view bytes);

// The whole program: `arguments` without the program name. Reads the input (standard input
// is `in`), writes to `out` and `err`, and returns the exit status.
int RunKorValue(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
                std::ostream& err);

}  // namespace Vexa::Tools
