// The argument descriptors behind Vexa::Format: how each argument type renders, and the
// rendering entry that Format hands them to. Format is a template, so this header is compiled
// wherever Format is called; it is not for callers to use. Include "util/format.h" and call
// Format, or give a type a FormatText of its own (see there). The names may change with the
// formatter.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

namespace Vexa {

// Rendering context handed to a FormatArgument's render operation for one placeholder.
struct FormatSpec {
  char* output;           // where the rendering goes
  std::size_t written;    // bytes already in the buffer before `output`
  std::size_t remaining;  // bytes from `output` to the end of the buffer, at least 1
  // The placeholder as the template wrote it (without argument numbers and "M$"), the
  // '%' included. At most 59 characters are ever kept.
  char text[64];
  std::size_t textLength;
  const char* allowedConversions;  // set by the render operation; the first is the default
  char conversion;                 // chosen by the render operation
  const char* barePrefix;          // "ll" for 64-bit integers, "" otherwise
  const void* value;               // the caller's argument; borrowed for the call
  // Star values in the order of their '*' in `text` (width, then precision).
  std::int32_t starValues[2];
  int starCount;
};

// Constant descriptor of one argument type: how to render it and whether it can supply a
// '*' width or precision.
struct FormatArgument {
  // Renders slot.value at slot.output and returns the bytes written; returns
  // slot.remaining when the rendering did not fit.
  std::size_t (*render)(FormatSpec& slot);
  // The value as a signed 32-bit integer (64-bit values give their low 32 bits). Only
  // called when usableAsInteger is true.
  std::int32_t (*integerValue)(const void* value);
  bool usableAsInteger;
};

namespace FormatDetail {

// The renderings that every supported type reduces to; see FormatArgumentFor.
std::size_t RenderValue(FormatSpec& slot, std::int32_t value);
std::size_t RenderValue(FormatSpec& slot, std::uint32_t value);
std::size_t RenderValue(FormatSpec& slot, signed char value);
std::size_t RenderValue(FormatSpec& slot, std::int64_t value);
std::size_t RenderValue(FormatSpec& slot, std::uint64_t value);
std::size_t RenderValue(FormatSpec& slot, double value);
std::size_t RenderCString(FormatSpec& slot, const char* text);
std::size_t RenderBoundedText(FormatSpec& slot, std::string_view text);

extern const FormatArgument kCStringArgument;
extern const FormatArgument kStringArgument;
extern const FormatArgument kStringViewArgument;

std::string FormatDescribed(const char* templ, const FormatArgument* const* descriptors,
                            const void* const* arguments, std::size_t count);

// Integers and floating-point numbers other than wide or Unicode characters and long double,
// which have no faithful rendering here.
template <typename T>
inline constexpr bool kIsWideCharacter = std::is_same_v<T, wchar_t> || std::is_same_v<T, char8_t> ||
                                         std::is_same_v<T, char16_t> || std::is_same_v<T, char32_t>;
template <typename T>
inline constexpr bool kIsScalar = (std::is_integral_v<T> && !kIsWideCharacter<T>) ||
                                  std::is_same_v<T, float> || std::is_same_v<T, double>;
template <typename T>
concept Scalar = kIsScalar<T>;

// The type that a scalar argument is rendered as (only its type is used).
template <Scalar T>
constexpr auto ScalarClassOf() {
  if constexpr (std::is_floating_point_v<T>) {
    return double{};
  } else if constexpr (std::is_same_v<T, char> || std::is_same_v<T, signed char>) {
    return static_cast<signed char>(0);
  } else if constexpr (sizeof(T) > 4) {
    if constexpr (std::is_signed_v<T>) {
      return std::int64_t{};
    } else {
      return std::uint64_t{};
    }
  } else if constexpr (std::is_signed_v<T> || std::is_same_v<T, bool>) {
    return std::int32_t{};
  } else {
    return std::uint32_t{};
  }
}
template <Scalar T>
using ScalarClass = decltype(ScalarClassOf<T>());

// Blocks ordinary lookup so that FormatText is only ever found next to the argument's type.
void FormatText() = delete;

template <typename T>
concept HasFormatText = requires(const T& value) {
  { FormatText(value) } -> std::convertible_to<std::string>;
};

template <typename T>
inline constexpr bool kIsCharArray =
    std::conjunction_v<std::is_bounded_array<T>, std::is_same<std::remove_extent_t<T>, char>>;
template <typename T>
concept CharArray = kIsCharArray<T>;

template <Scalar T>
std::size_t RenderScalar(FormatSpec& slot) {
  using Class = ScalarClass<T>;
  return RenderValue(slot, static_cast<Class>(*static_cast<const T*>(slot.value)));
}

template <Scalar T>
std::int32_t ScalarIntegerValue(const void* value) {
  using Class = ScalarClass<T>;
  // Conversion to a narrower signed type keeps the low bits (two's complement, C++20).
  return static_cast<std::int32_t>(static_cast<Class>(*static_cast<const T*>(value)));
}

inline std::int32_t NoIntegerValue(const void*) {
  return 0;
}

template <std::size_t N>
std::size_t RenderCharArray(FormatSpec& slot) {
  // An array need not hold a NUL; never read past its end.
  const char* text = static_cast<const char*>(slot.value);
  const void* nul = std::memchr(text, '\0', N);
  const std::size_t length =
      nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : N;
  return RenderBoundedText(slot, std::string_view(text, length));
}

template <HasFormatText T>
std::size_t RenderTextForm(FormatSpec& slot) {
  const std::string text = FormatText(*static_cast<const T*>(slot.value));
  return RenderCString(slot, text.c_str());
}

template <Scalar T>
inline constexpr FormatArgument kScalarArgument{&RenderScalar<T>, &ScalarIntegerValue<T>,
                                                !std::is_floating_point_v<ScalarClass<T>>};

template <std::size_t N>
inline constexpr FormatArgument kCharArrayArgument{&RenderCharArray<N>, &NoIntegerValue, false};

template <HasFormatText T>
inline constexpr FormatArgument kTextFormArgument{&RenderTextForm<T>, &NoIntegerValue, false};

template <typename T>
inline constexpr bool kUnsupported = false;

}  // namespace FormatDetail

// The descriptor of argument type T (cv and reference ignored): integers of up to 32 bits
// and bool render as 32-bit integers, wider ones as 64-bit, char and signed char as
// characters, float and double as double, char pointers and char arrays, std::string and
// std::string_view as strings (a null char pointer as an empty one), and types with an
// ADL-visible FormatText as their text form. Other types do not compile.
template <typename T>
[[nodiscard]] constexpr const FormatArgument& FormatArgumentFor() {
  using Value = std::remove_cvref_t<T>;
  if constexpr (FormatDetail::Scalar<Value>) {
    return FormatDetail::kScalarArgument<Value>;
  } else if constexpr (std::is_same_v<Value, const char*> || std::is_same_v<Value, char*>) {
    return FormatDetail::kCStringArgument;
  } else if constexpr (FormatDetail::CharArray<Value>) {
    return FormatDetail::kCharArrayArgument<std::extent_v<Value>>;
  } else if constexpr (std::is_same_v<Value, std::string>) {
    return FormatDetail::kStringArgument;
  } else if constexpr (std::is_same_v<Value, std::string_view>) {
    return FormatDetail::kStringViewArgument;
  } else if constexpr (FormatDetail::HasFormatText<Value>) {
    return FormatDetail::kTextFormArgument<Value>;
  } else {
    static_assert(FormatDetail::kUnsupported<Value>,
                  "no Format rendering for this type: declare std::string FormatText(const T&) "
                  "beside it");
  }
}

}  // namespace Vexa
