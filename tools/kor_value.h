// kor-value: decodes a JSON, MessagePack or YAML payload through the plugin's own codecs and
// prints the value as compact JSON, for people debugging what the plugin receives.
//
//   kor-value body.json                 # JSON unless the bytes say otherwise
//   kor-value --from msgpack dump.bin
//   curl -s ... | kor-value -           # standard input
//
// Without --from the codec is the one the codecs' sniffing rule names (codecs/sniff.h), which
// the dispatcher applies to argument values as well; input it does not recognise is JSON.
//
// Exit status: 0 with the value on standard output; 1 with the codec's message on standard
// error when the input does not decode; 2 for a usage error (unknown option, unknown codec,
// more than one input, an input that cannot be read).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace Vexa::Tools {

// The whole program: `arguments` without the program name. Reads the input (standard input
// is `in`), writes to `out` and `err`, and returns the exit status.
int RunKorValue(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
                std::ostream& err);

}  // namespace Vexa::Tools
