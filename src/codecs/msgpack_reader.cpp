// DecodeMessagePack: the MessagePack reader feeding the value builder, and the turning of its
// outcome into a BindingResult.
#include <cstddef>
#include <cstdint>
#include <new>

#include "codecs/msgpack.h"
#include "codecs/msgpack_messages.h"
#include "codecs/msgpack_reader.h"
#include "util/format.h"
#include "value/builder.h"
#include "value/property.h"
#include "value/result.h"

namespace Vexa {

MessagePackDecoded DecodeMessagePack(const uint8_t* data, std::size_t size) {
  MessagePackDecoded decoded;
  BindingValueBuilder builder(decoded.result.value);
  MessagePackReader<BindingValueBuilder> reader(data, size, builder);
  try {
    if (!reader.Run()) {
      // Drops the partly built value with the builder's pointers into it; neither is used again.
      decoded.result.Fail(reader.Message());
    }
  } catch (const std::bad_alloc&) {
    // Inputs are bounded so that memory stays proportional to their size; this is the system
    // running out all the same.
    decoded.result.Fail(Format(kMessagePackOutOfMemoryMessage, reader.Position()));
  }
  decoded.consumed = reader.Position();
  return decoded;
}

}  // namespace Vexa
