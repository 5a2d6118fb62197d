// MessagePack: any bytes decode without crashing or reading outside them; a decode stops within
// the input, and a decoded value writes as JSON that reads again.
#include <cstdint>
#include <string>

#include "codecs/json.h"
#include "codecs/msgpack.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const Vexa::MessagePackDecoded decoded = Vexa::DecodeMessagePack(data, size);
  FUZZ_CHECK(decoded.consumed <= size,
             "stopped past the input at " + std::to_string(decoded.consumed));
  if (decoded.result.Ok()) {
    const std::string json = Vexa::ToJson(decoded.result.value);
    FUZZ_CHECK(Vexa::ParseJson(json).Ok(), "its JSON does not read: " + json);
  }
  return 0;
}
