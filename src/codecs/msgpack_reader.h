// MessagePackReader: the MessagePack decoding loop, feeding the events of one value to any
// BindingValueSink (the value builder in DecodeMessagePack; a counting or recording sink in
// tests and benchmarks). Most code wants DecodeMessagePack in codecs/msgpack.h instead.
//
//   Vexa::BindingResult result;
//   Vexa::BindingValueBuilder builder(result.value);
//   Vexa::MessagePackReader<Vexa::BindingValueBuilder> reader(bytes, size, builder);
//   if (!reader.Run()) { result.Fail(reader.Message()); }
//   std::size_t consumed = reader.Position();
//
// The loop is iterative: an explicit stack holds the arrays and maps that are open, so nesting
// never recurses; the stack is a fixed array of kMaxBindingDepth frames of 12 bytes inside the
// reader, since nesting is bounded anyway. The sink selects targets and builds the tree; what
// MessagePack adds, and no sink can know, is that an array or map declares its item count up
// front and ends when that many items were read rather than at a closing token. So each open
// container has a frame here: how many items it declared (a map counts keys and values
// separately, so twice its entries) and how many were started. A map key is read together with
// its value and handed to the sink only when the value begins, so input that ends after a key
// adds no member. Scalars never get a frame.
//
// Bounds: every read checks the bytes that remain first (size - position, which cannot
// underflow), so no input makes the reader look outside [data, data + size). Lengths are
// checked before the sink sees anything of them. Counts above kMaxBindingElements are refused,
// and so is nesting past kMaxBindingDepth (by the reader for its frames, whatever the sink; the
// builder has the same limit). A collection is reserved at most as many elements as bytes
// remain, and all reservations of one run together at most the input size, so memory stays
// proportional to the input whatever the counts claim.
//
// Exceptions: the reader throws nothing itself; whatever the sink throws (std::bad_alloc from
// the builder) passes through, and the reader is then not to be used again.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "codecs/msgpack_messages.h"
#include "util/format.h"
#include "value/builder.h"
#include "value/property.h"
#include "value/result.h"

namespace Vexa {

namespace MessagePackDetail {

// What a type byte starts. Dispatching on a 256-entry table of these takes one indexed load and
// one jump per token, where range tests on the byte would take a chain of compares first.
enum class Token : uint8_t {
  PositiveFixint,
  NegativeFixint,
  FixMap,
  FixArray,
  FixStr,
  Nil,
  False,
  True,
  Bin8,
  Bin16,
  Bin32,
  Float32,
  Float64,
  Uint8,
  Uint16,
  Uint32,
  Uint64,
  Int8,
  Int16,
  Int32,
  Int64,
  Str8,
  Str16,
  Str32,
  Array16,
  Array32,
  Map16,
  Map32,
  Invalid,  // 0xC1, never used, and the ext and fixext types
};

inline constexpr std::array<Token, 256> kTokens = [] {
  std::array<Token, 256> tokens{};
  for (int type = 0; type < 256; ++type) {
    Token token = Token::Invalid;
    if (type <= 0x7F) {
      token = Token::PositiveFixint;
    } else if (type <= 0x8F) {
      token = Token::FixMap;
    } else if (type <= 0x9F) {
      token = Token::FixArray;
    } else if (type <= 0xBF) {
      token = Token::FixStr;
    } else if (type >= 0xE0) {
      token = Token::NegativeFixint;
    }
    tokens[static_cast<std::size_t>(type)] = token;
  }
  const Token fixed[] = {Token::Nil,     Token::Invalid, Token::False,   Token::True,
                         Token::Bin8,    Token::Bin16,   Token::Bin32,   Token::Invalid,
                         Token::Invalid, Token::Invalid, Token::Float32, Token::Float64,
                         Token::Uint8,   Token::Uint16,  Token::Uint32,  Token::Uint64,
                         Token::Int8,    Token::Int16,   Token::Int32,   Token::Int64,
                         Token::Invalid, Token::Invalid, Token::Invalid, Token::Invalid,
                         Token::Invalid, Token::Str8,    Token::Str16,   Token::Str32,
                         Token::Array16, Token::Array32, Token::Map16,   Token::Map32};
  for (std::size_t index = 0; index < 32; ++index) {
    tokens[0xC0 + index] = fixed[index];
  }
  return tokens;
}();

}  // namespace MessagePackDetail

template <BindingValueSink Sink>
class MessagePackReader {
 public:
  // Borrows the bytes and the sink; both must outlive the reader.
  MessagePackReader(const uint8_t* data, std::size_t size, Sink& sink) noexcept
      : data_(data), size_(data != nullptr ? size : 0), reserveBudget_(size_), sink_(sink) {}

  // Feeds the first value of the input to the sink. True when the input held a complete value,
  // ended between two tokens, or was empty; false on invalid or cut input and on a refusal of
  // the sink, with Message() telling why. Call once.
  [[nodiscard]] bool Run();

  // Where reading stopped: just past the value, at the end of the input, or where the failing
  // read was (see the messages).
  [[nodiscard]] std::size_t Position() const noexcept { return position_; }
  // The failure message, formatted; empty after success.
  [[nodiscard]] const std::string& Message() const noexcept { return message_; }

 private:
  // One open array or map; its value is the sink's innermost container at the same depth.
  struct Frame {
    uint32_t count;  // declared items: elements, or keys plus values
    uint32_t next;   // items started so far
    bool isStructure;
  };

  bool ReadValue();
  bool ReadKey(std::string_view& key);
  bool ReadLength(uint32_t widthClass, uint32_t& length);
  bool ReadString(uint32_t length);
  bool ReadBlob(uint32_t length);
  bool OpenCollection(uint32_t count, std::size_t countPosition);
  bool OpenStructure(uint32_t count, std::size_t countPosition);

  // Whether the sink took the event; otherwise the run fails. `position` is where a container
  // that nests too deep is reported.
  bool Accept(BindingBuildStatus status, std::size_t position = 0) {
    if (status == BindingBuildStatus::Ok) [[likely]] {
      return true;
    }
    Refused(status, position);
    return false;
  }
  [[gnu::cold, gnu::noinline]] void Refused(BindingBuildStatus status, std::size_t position);

  // The frame stack's own bound, the same as the builder's: whatever the sink, no more than
  // kMaxBindingDepth containers are open at once.
  bool MayNest(std::size_t position) {
    if (depth_ < kMaxBindingDepth) [[likely]] {
      return true;
    }
    Refused(BindingBuildStatus::TooDeep, position);
    return false;
  }

  // Whether `count` more bytes remain; fails with the truncation `message` at the position
  // otherwise.
  bool Have(std::size_t count, const char* message) {
    if (size_ - position_ >= count) [[likely]] {
      return true;
    }
    Cut(message);
    return false;
  }
  [[gnu::cold, gnu::noinline]] void Cut(const char* message) { Fail(message, position_); }

  // Big-endian loads: one unaligned load and a byte swap each (memcpy is how C++ spells an
  // unaligned load; compilers emit a single move for it).
  uint32_t Take8() noexcept { return data_[position_++]; }
  uint32_t Take16() noexcept {
    uint16_t bits;
    std::memcpy(&bits, data_ + position_, sizeof bits);
    position_ += sizeof bits;
    return FromBigEndian(bits);
  }
  uint32_t Take32() noexcept {
    uint32_t bits;
    std::memcpy(&bits, data_ + position_, sizeof bits);
    position_ += sizeof bits;
    return FromBigEndian(bits);
  }
  uint64_t Take64() noexcept {
    uint64_t bits;
    std::memcpy(&bits, data_ + position_, sizeof bits);
    position_ += sizeof bits;
    return FromBigEndian(bits);
  }
  template <typename Word>
  static Word FromBigEndian(Word bits) noexcept {
    if constexpr (std::endian::native == std::endian::big) {
      return bits;
    } else if constexpr (sizeof(Word) == 2) {
      return __builtin_bswap16(bits);
    } else if constexpr (sizeof(Word) == 4) {
      return __builtin_bswap32(bits);
    } else {
      return __builtin_bswap64(bits);
    }
  }
  double TakeFloat32() noexcept {
    const uint32_t bits = Take32();
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return static_cast<double>(value);
  }
  double TakeFloat64() noexcept {
    const uint64_t bits = Take64();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

  template <typename... Args>
  [[gnu::cold, gnu::noinline]] void Fail(const char* message, const Args&... args) {
    message_ = Format(message, args...);
  }

  const uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
  std::size_t reserveBudget_;
  Sink& sink_;
  std::string message_;
  // The open containers, innermost last. Fixed, since nesting is bounded: no allocation, and
  // the innermost frame is one index away.
  std::size_t depth_ = 0;
  std::array<Frame, kMaxBindingDepth> frames_;
};

template <BindingValueSink Sink>
bool MessagePackReader<Sink>::Run() {
  if (position_ == size_) {
    return true;  // the empty input is the empty value
  }
  // Each pass reads the root, or starts one element or map entry of the innermost open
  // container, or closes that container when all its items are there. Input that ends between
  // two tokens ends the value as it stands. (One loop with one place that reads a value keeps
  // the reading inlined into it.)
  bool rootRead = false;
  while (position_ < size_) {
    if (depth_ == 0) {
      if (rootRead) {
        break;  // the value is complete; what follows is not read
      }
      rootRead = true;
    } else {
      Frame& top = frames_[depth_ - 1];
      if (top.next == top.count) {
        static_cast<void>(top.isStructure ? sink_.EndStructure() : sink_.EndCollection());
        --depth_;
        continue;
      }
      if (top.isStructure) {
        top.next += 2;
        std::string_view key;
        if (!ReadKey(key)) {
          return false;
        }
        if (position_ == size_) {
          return true;  // a key whose value never came: no member, and the map stays open
        }
        if (!Accept(sink_.MemberKey(key))) {
          return false;
        }
      } else {
        ++top.next;
      }
    }
    // May push a frame, which invalidates `top`.
    if (!ReadValue()) {
      return false;
    }
  }
  // The input ended: close the containers that got all their items, so that a complete value
  // reaches the sink as a balanced stream. Those still short of items stay open.
  while (depth_ != 0 && frames_[depth_ - 1].next == frames_[depth_ - 1].count) {
    static_cast<void>(frames_[depth_ - 1].isStructure ? sink_.EndStructure()
                                                      : sink_.EndCollection());
    --depth_;
  }
  return true;
}

// One token at the position (at least one byte remains) into the sink's next target: a scalar
// is stored, an array or map is opened.
template <BindingValueSink Sink>
[[gnu::always_inline]] inline bool MessagePackReader<Sink>::ReadValue() {
  using MessagePackDetail::Token;
  const uint8_t type = data_[position_++];
  switch (MessagePackDetail::kTokens[type]) {
    case Token::PositiveFixint:
      return Accept(sink_.Signed(type));
    case Token::NegativeFixint:
      return Accept(sink_.Signed(static_cast<int8_t>(type)));
    case Token::FixStr:
      return ReadString(type & 0x1Fu);
    case Token::FixMap:
      return OpenStructure(type & 0x0Fu, position_);
    case Token::FixArray:
      return OpenCollection(type & 0x0Fu, position_);
    case Token::Nil:
      // Empty rather than Null: a repeated map key whose later value is nil empties the member,
      // as every later value replaces the earlier one.
      return Accept(sink_.Empty());
    case Token::False:
      return Accept(sink_.Bool(false));
    case Token::True:
      return Accept(sink_.Bool(true));
    case Token::Bin8:
    case Token::Bin16:
    case Token::Bin32: {
      uint32_t length = 0;
      return ReadLength(type - 0xC4u, length) && ReadBlob(length);
    }
    case Token::Float32:
      return Have(4, kMessagePackTruncated32Message) && Accept(sink_.Float(TakeFloat32()));
    case Token::Float64:
      return Have(8, kMessagePackTruncated64Message) && Accept(sink_.Float(TakeFloat64()));
    case Token::Uint8:
      return Have(1, kMessagePackTruncated8Message) && Accept(sink_.Unsigned(Take8()));
    case Token::Uint16:
      return Have(2, kMessagePackTruncated16Message) && Accept(sink_.Unsigned(Take16()));
    case Token::Uint32:
      return Have(4, kMessagePackTruncated32Message) && Accept(sink_.Unsigned(Take32()));
    case Token::Uint64:
      return Have(8, kMessagePackTruncated64Message) && Accept(sink_.Unsigned(Take64()));
    case Token::Int8:
      return Have(1, kMessagePackTruncated8Message) &&
             Accept(sink_.Signed(static_cast<int8_t>(Take8())));
    case Token::Int16:
      return Have(2, kMessagePackTruncated16Message) &&
             Accept(sink_.Signed(static_cast<int16_t>(Take16())));
    case Token::Int32:
      return Have(4, kMessagePackTruncated32Message) &&
             Accept(sink_.Signed(static_cast<int32_t>(Take32())));
    case Token::Int64:
      return Have(8, kMessagePackTruncated64Message) &&
             Accept(sink_.Signed(static_cast<int64_t>(Take64())));
    case Token::Str8:
    case Token::Str16:
    case Token::Str32: {
      uint32_t length = 0;
      return ReadLength(type - 0xD9u, length) && ReadString(length);
    }
    case Token::Array16: {
      const std::size_t countPosition = position_;
      return Have(2, kMessagePackTruncated16Message) && OpenCollection(Take16(), countPosition);
    }
    case Token::Array32: {
      const std::size_t countPosition = position_;
      return Have(4, kMessagePackTruncated32Message) && OpenCollection(Take32(), countPosition);
    }
    case Token::Map16: {
      const std::size_t countPosition = position_;
      return Have(2, kMessagePackTruncated16Message) && OpenStructure(Take16(), countPosition);
    }
    case Token::Map32: {
      const std::size_t countPosition = position_;
      return Have(4, kMessagePackTruncated32Message) && OpenStructure(Take32(), countPosition);
    }
    case Token::Invalid:
      break;
  }
  // 0xC1 (never used) and the ext types 0xC7-0xC9 and 0xD4-0xD8: their payloads mean something
  // only to applications that registered them, and nothing here does.
  Fail(kMessagePackInvalidDataMessage, position_);
  return false;
}

// A map key: only the string formats are accepted. `key` borrows the input.
template <BindingValueSink Sink>
bool MessagePackReader<Sink>::ReadKey(std::string_view& key) {
  const uint8_t type = data_[position_++];
  uint32_t length;
  if (type >= 0xA0 && type <= 0xBF) {
    length = type & 0x1Fu;
  } else if (type >= 0xD9 && type <= 0xDB) {
    if (!ReadLength(type - 0xD9u, length)) {
      return false;
    }
  } else {
    Fail(kMessagePackKeyNotStringMessage, position_);
    return false;
  }
  if (size_ - position_ < length) {
    Fail(kMessagePackStringTruncatedMessage, length, position_);
    return false;
  }
  key = std::string_view(reinterpret_cast<const char*>(data_ + position_), length);
  position_ += length;
  return true;
}

// The length of str 8/16/32 or bin 8/16/32: `widthClass` 0, 1 or 2 for 1, 2 or 4 bytes.
template <BindingValueSink Sink>
bool MessagePackReader<Sink>::ReadLength(uint32_t widthClass, uint32_t& length) {
  switch (widthClass) {
    case 0:
      if (!Have(1, kMessagePackTruncated8Message)) {
        return false;
      }
      length = Take8();
      return true;
    case 1:
      if (!Have(2, kMessagePackTruncated16Message)) {
        return false;
      }
      length = Take16();
      return true;
    default:
      if (!Have(4, kMessagePackTruncated32Message)) {
        return false;
      }
      length = Take32();
      return true;
  }
}

template <BindingValueSink Sink>
bool MessagePackReader<Sink>::ReadString(uint32_t length) {
  if (size_ - position_ < length) {
    Fail(kMessagePackStringTruncatedMessage, length, position_);
    return false;
  }
  const std::string_view text(reinterpret_cast<const char*>(data_ + position_), length);
  position_ += length;
  return Accept(sink_.String(text));
}

template <BindingValueSink Sink>
bool MessagePackReader<Sink>::ReadBlob(uint32_t length) {
  if (size_ - position_ < length) {
    Fail(kMessagePackBlobTruncatedMessage, length, position_);
    return false;
  }
  const uint8_t* bytes = data_ + position_;
  position_ += length;
  return Accept(sink_.Blob(bytes, length));
}

// The count has just been read; `countPosition`, just past the type byte, is where the
// messages about the container point.
template <BindingValueSink Sink>
bool MessagePackReader<Sink>::OpenCollection(uint32_t count, std::size_t countPosition) {
  if (count > kMaxBindingElements) {
    Fail(kMessagePackTooManyElementsMessage, countPosition, count, kMaxBindingElements);
    return false;
  }
  if (!MayNest(countPosition) ||
      !Accept(sink_.BeginCollection(BindingReuse::Replace), countPosition)) {
    return false;
  }
  if constexpr (requires(Sink & sink, std::size_t reserve) { sink.ReserveElements(reserve); }) {
    // Every element takes at least one byte, so a valid document never declares more elements
    // than bytes remain; the budget keeps hostile counts in nested arrays from adding up.
    const std::size_t reserve =
        std::min({static_cast<std::size_t>(count), size_ - position_, reserveBudget_});
    if (reserve > 1) {
      reserveBudget_ -= reserve;
      static_cast<void>(sink_.ReserveElements(reserve));  // below the limit: never refused
    }
  }
  frames_[depth_++] = Frame{count, 0, false};
  return true;
}

template <BindingValueSink Sink>
bool MessagePackReader<Sink>::OpenStructure(uint32_t count, std::size_t countPosition) {
  // The limit also keeps the doubled item count within 32 bits.
  if (count > kMaxBindingElements) {
    Fail(kMessagePackTooManyEntriesMessage, countPosition, count, kMaxBindingElements);
    return false;
  }
  if (!MayNest(countPosition) ||
      !Accept(sink_.BeginStructure(BindingReuse::Replace), countPosition)) {
    return false;
  }
  frames_[depth_++] = Frame{count * 2, 0, true};
  return true;
}

template <BindingValueSink Sink>
void MessagePackReader<Sink>::Refused(BindingBuildStatus status, std::size_t position) {
  if (status == BindingBuildStatus::TooDeep) {
    Fail(kMessagePackTooDeepMessage, position, kMaxBindingDepth);
  } else {
    // Counts are bounded before anything is opened and every event comes in order, so a sink
    // has no other reason to refuse; should one all the same, stop there.
    Fail(kMessagePackInvalidDataMessage, position_);
  }
}

}  // namespace Vexa
