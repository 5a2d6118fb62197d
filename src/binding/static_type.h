// Native type identity: a compile-time 32-bit hash code and a text for every native type that
// the binding system describes, and the one static StaticTypeInfo record per type.
//
//   namespace Vexa::Client::Api {
//   struct GeoInfo { ... };
//   VEXA_STATIC_TYPE(GeoInfo, "struct Vexa::Client::Api::GeoInfo");
//   }
//
//   static_assert(Vexa::StaticType::HashCode<int>() == 0x1C4DE261);
//   const Vexa::StaticTypeInfo& info = Vexa::StaticTypeInfoOf<Vexa::Client::Api::GeoInfo>();
//   // info.name is "const char *__cdecl StaticType::Name<struct Vexa::Client::Api::GeoInfo>(void)"
//
// The hash code of T is the 32-bit FNV-1a hash of the signature text
// "unsigned int __cdecl StaticType::HashCode<" + T's type text + ">(void)". The texts are the
// ones the platform's original 32-bit compiler printed for these functions, so hash codes
// agree with the host's and do not depend on the compiler, word size or standard library we
// build with: every type text is spelled out here instead of taken from __PRETTY_FUNCTION__.
//
// Type texts known here: the fundamental types under their signature spelling ("int",
// "unsigned __int64"). A 64-bit `long` (LP64 Linux) is spelled like the 64-bit integer of
// the original platform ("__int64"), so `int64_t`, `uint64_t` and `size_t` have the same
// hash codes on x86-64 as on i386; a 32-bit `long` keeps its own spelling ("long"), as it
// does there. Further: std::string, std::vector<T>, std::unordered_map<K, T>, std::optional<T> and
// pointers over known types, BindingProperty, and every record or enum that declares its text
// with VEXA_STATIC_TYPE. Asking for the hash code or record of any other type does not compile
// (a static_assert names the fix). Containers with non-default hashers or allocators and
// cv-qualified types have no text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace Vexa {

inline constexpr uint32_t kFnv1aBasis = 0x811C9DC5u;
inline constexpr uint32_t kFnv1aPrime = 0x01000193u;

// 32-bit FNV-1a over the bytes of `text`, one byte at a time (XOR, then multiply), continuing
// from `hash`. The one hash of the type system: type identities and field and argument names.
[[nodiscard]] constexpr uint32_t Fnv1aHash(std::string_view text, uint32_t hash = kFnv1aBasis) {
  for (const char character : text) {
    hash = (hash ^ static_cast<uint8_t>(character)) * kFnv1aPrime;
  }
  return hash;
}

// A text of exactly N characters fixed at compile time (NUL-terminated in `chars`).
template <std::size_t N>
struct StaticTypeText {
  char chars[N + 1] = {};

  constexpr StaticTypeText() = default;
  constexpr StaticTypeText(const char (&text)[N + 1]) {  // implicit: literals convert
    for (std::size_t index = 0; index < N; ++index) {
      chars[index] = text[index];
    }
  }
  [[nodiscard]] constexpr std::string_view View() const { return {chars, N}; }
  [[nodiscard]] constexpr char Last() const { return N == 0 ? '\0' : chars[N - 1]; }
};
template <std::size_t N>
StaticTypeText(const char (&)[N]) -> StaticTypeText<N - 1>;

// The argument of a record's or enum's type-text function, so that the function is found by
// argument-dependent lookup in the type's own namespace (see VEXA_STATIC_TYPE).
template <typename T>
struct StaticTypeTag {};

// One per native type, constant-initialised (so "first use" can never race), at a fixed
// address for the life of the process. Compare types by hash code.
struct StaticTypeInfo {
  uint32_t hashCode;  // StaticType::HashCode<T>()
  // StaticType::Name<T>() for types that declare their text; otherwise `text`.
  const char* name;
  // "#" and the hash code in eight upper-case hex digits, NUL-terminated ("#1C4DE261").
  char text[12];
};

namespace StaticTypeDetail {

template <std::size_t... Lengths>
constexpr StaticTypeText<(Lengths + ... + 0)> Join(const StaticTypeText<Lengths>&... parts) {
  StaticTypeText<(Lengths + ... + 0)> joined;
  std::size_t at = 0;
  const auto append = [&](std::string_view part) {
    for (const char character : part) {
      joined.chars[at++] = character;
    }
  };
  (append(parts.View()), ...);
  return joined;
}

// Primary: no text. Specialisations below give `value`.
template <typename T>
struct Text {};

template <typename T>
inline constexpr bool kHasText = requires {
  Text<T>::value;
};

// A record or enum declares its text with an overload of VexaStaticTypeText beside it.
template <typename T>
inline constexpr bool kIsDeclared = requires {
  VexaStaticTypeText(StaticTypeTag<T>{});
};

template <typename T>
requires kIsDeclared<T>
struct Text<T> {
  static constexpr auto value = VexaStaticTypeText(StaticTypeTag<T>{});
};

#define VEXA_STATIC_TYPE_FUNDAMENTAL(Type, spelling)        \
  template <>                                               \
  struct Text<Type> {                                       \
    static constexpr auto value = StaticTypeText(spelling); \
  }
VEXA_STATIC_TYPE_FUNDAMENTAL(void, "void");
VEXA_STATIC_TYPE_FUNDAMENTAL(bool, "bool");
VEXA_STATIC_TYPE_FUNDAMENTAL(char, "char");
VEXA_STATIC_TYPE_FUNDAMENTAL(signed char, "signed char");
VEXA_STATIC_TYPE_FUNDAMENTAL(unsigned char, "unsigned char");
VEXA_STATIC_TYPE_FUNDAMENTAL(wchar_t, "wchar_t");
VEXA_STATIC_TYPE_FUNDAMENTAL(char8_t, "char8_t");
VEXA_STATIC_TYPE_FUNDAMENTAL(char16_t, "char16_t");
VEXA_STATIC_TYPE_FUNDAMENTAL(char32_t, "char32_t");
VEXA_STATIC_TYPE_FUNDAMENTAL(short, "short");
VEXA_STATIC_TYPE_FUNDAMENTAL(unsigned short, "unsigned short");
VEXA_STATIC_TYPE_FUNDAMENTAL(int, "int");
VEXA_STATIC_TYPE_FUNDAMENTAL(unsigned int, "unsigned int");
VEXA_STATIC_TYPE_FUNDAMENTAL(long long, "__int64");
VEXA_STATIC_TYPE_FUNDAMENTAL(unsigned long long, "unsigned __int64");

struct LongText {
  static constexpr auto value = StaticTypeText("long");
};
struct UnsignedLongText {
  static constexpr auto value = StaticTypeText("unsigned long");
};
template <>
struct Text<long> : std::conditional_t<sizeof(long) == 8, Text<long long>, LongText> {};
template <>
struct Text<unsigned long>
    : std::conditional_t<sizeof(long) == 8, Text<unsigned long long>, UnsignedLongText> {};
VEXA_STATIC_TYPE_FUNDAMENTAL(float, "float");
VEXA_STATIC_TYPE_FUNDAMENTAL(double, "double");
VEXA_STATIC_TYPE_FUNDAMENTAL(long double, "long double");
VEXA_STATIC_TYPE_FUNDAMENTAL(std::string,
                             "class std::basic_string<char,struct std::char_traits<char>,"
                             "class std::allocator<char> >");
#undef VEXA_STATIC_TYPE_FUNDAMENTAL

// Closing a template argument list: a blank separates consecutive '>'.
template <typename T>
constexpr auto CloseAfter() {
  if constexpr (Text<T>::value.Last() == '>') {
    return StaticTypeText(" >");
  } else {
    return StaticTypeText(">");
  }
}

template <typename T>
requires kHasText<T>
struct Text<T*> {
  static constexpr auto value = [] {
    if constexpr (Text<T>::value.Last() == '*') {
      return Join(Text<T>::value, StaticTypeText("*"));
    } else {
      return Join(Text<T>::value, StaticTypeText(" *"));
    }
  }();
};

template <typename T>
requires kHasText<T>
struct Text<std::vector<T>> {
  static constexpr auto value = Join(StaticTypeText("class std::vector<"), Text<T>::value,
                                     StaticTypeText(",class std::allocator<"), Text<T>::value,
                                     CloseAfter<T>(), StaticTypeText(" >"));
};

template <typename T>
requires kHasText<T>
struct Text<std::optional<T>> {
  static constexpr auto value =
      Join(StaticTypeText("class std::optional<"), Text<T>::value, CloseAfter<T>());
};

template <typename... Types>
inline constexpr bool kHaveTexts = (kHasText<Types> && ...);

template <typename K, typename T>
requires kHaveTexts<K, T>
struct Text<std::unordered_map<K, T>> {
  static constexpr auto value =
      Join(StaticTypeText("class std::unordered_map<"), Text<K>::value, StaticTypeText(","),
           Text<T>::value, StaticTypeText(",struct std::hash<"), Text<K>::value, CloseAfter<K>(),
           StaticTypeText(",struct std::equal_to<"), Text<K>::value, CloseAfter<K>(),
           StaticTypeText(",class std::allocator<struct std::pair<"), Text<K>::value,
           StaticTypeText(" const ,"), Text<T>::value, CloseAfter<T>(), StaticTypeText(" > >"));
};

// Checks on a declared text, run by VEXA_STATIC_TYPE where the declaration is written.
template <typename T>
constexpr bool StartsWithKindWord(std::string_view text) {
  if constexpr (std::is_enum_v<T>) {
    return text.starts_with("enum ");
  } else if constexpr (std::is_union_v<T>) {
    return text.starts_with("union ");
  } else if constexpr (std::is_class_v<T>) {
    return text.starts_with("struct ") || text.starts_with("class ");
  } else {
    return false;
  }
}
constexpr bool EndsWithName(std::string_view text, std::string_view spelled) {
  if (spelled.starts_with("::")) {
    spelled.remove_prefix(2);
  }
  if (spelled.empty() || text.size() <= spelled.size() || !text.ends_with(spelled)) {
    return false;
  }
  const char before = text[text.size() - spelled.size() - 1];
  return before == ' ' || before == ':';
}

// Stops the compilation with one readable message for a type without a text.
template <typename T>
constexpr void RequireText() {
  static_assert(kHasText<T>,
                "this type has no type text: declare one beside its definition, in its "
                "namespace, with VEXA_STATIC_TYPE(Type, \"struct Namespace::Type\")");
}

inline constexpr auto kHashCodeOpen = StaticTypeText("unsigned int __cdecl StaticType::HashCode<");
inline constexpr auto kNameOpen = StaticTypeText("const char *__cdecl StaticType::Name<");
inline constexpr auto kSignatureClose = StaticTypeText(">(void)");

template <typename T>
inline constexpr auto kNameText = Join(kNameOpen, Text<T>::value, kSignatureClose);

constexpr char HexDigit(uint32_t value, int shift) {
  return "0123456789ABCDEF"[(value >> shift) & 0xFu];
}

}  // namespace StaticTypeDetail

namespace StaticType {

// True when T has a type text (HashCode<T> and StaticTypeInfoOf<T> compile).
template <typename T>
inline constexpr bool kHasText = StaticTypeDetail::kHasText<T>;

// True when T declares its text itself (records and enums through VEXA_STATIC_TYPE,
// BindingProperty); only those have Name<T>.
template <typename T>
inline constexpr bool kHasDeclaredText = StaticTypeDetail::kIsDeclared<T>;

// T's type text, e.g. "class std::vector<int,class std::allocator<int> >".
template <typename T>
[[nodiscard]] constexpr std::string_view TypeText() {
  if constexpr (kHasText<T>) {
    return StaticTypeDetail::Text<T>::value.View();
  } else {
    StaticTypeDetail::RequireText<T>();
    return {};
  }
}

// FNV-1a of "unsigned int __cdecl StaticType::HashCode<" + TypeText<T>() + ">(void)".
template <typename T>
[[nodiscard]] constexpr uint32_t HashCode() {
  namespace Detail = StaticTypeDetail;
  const uint32_t open = Fnv1aHash(Detail::kHashCodeOpen.View());
  return Fnv1aHash(Detail::kSignatureClose.View(), Fnv1aHash(TypeText<T>(), open));
}

// "const char *__cdecl StaticType::Name<" + TypeText<T>() + ">(void)", static for the process.
template <typename T>
[[nodiscard]] constexpr const char* Name() {
  static_assert(kHasDeclaredText<T>,
                "StaticType::Name exists only for types that declare their text with "
                "VEXA_STATIC_TYPE; other types are named \"#\" and their hash code");
  return StaticTypeDetail::kNameText<T>.chars;
}

}  // namespace StaticType

namespace StaticTypeDetail {

template <typename T>
constexpr const char* NameOr(const char* hashText) {
  if constexpr (StaticType::kHasDeclaredText<T>) {
    return StaticType::Name<T>();
  } else {
    return hashText;
  }
}

template <typename T>
inline constexpr uint32_t kHash = StaticType::HashCode<T>();

// The record names itself: `name` may point into its own `text`.
template <typename T>
inline constexpr StaticTypeInfo kInfo = {
    kHash<T>,
    NameOr<T>(kInfo<T>.text),
    {'#', HexDigit(kHash<T>, 28), HexDigit(kHash<T>, 24), HexDigit(kHash<T>, 20),
     HexDigit(kHash<T>, 16), HexDigit(kHash<T>, 12), HexDigit(kHash<T>, 8), HexDigit(kHash<T>, 4),
     HexDigit(kHash<T>, 0), '\0', '\0', '\0'}};

}  // namespace StaticTypeDetail

// The one StaticTypeInfo of T. Does not compile for a type without a type text.
template <typename T>
[[nodiscard]] constexpr const StaticTypeInfo& StaticTypeInfoOf() {
  if constexpr (StaticType::kHasText<T>) {
    return StaticTypeDetail::kInfo<T>;
  } else {
    StaticTypeDetail::RequireText<T>();
    return StaticTypeDetail::kInfo<void>;
  }
}

// Declares the type text of a record or enum. Write it right after the definition, inside
// the type's own namespace (argument-dependent lookup finds it there), e.g.
//   VEXA_STATIC_TYPE(GeoInfo, "struct Vexa::Client::Api::GeoInfo");
// A member type is declared after its enclosing class, at namespace scope:
//   VEXA_STATIC_TYPE(Outer::Inner, "enum Vexa::Outer::Inner");
// Compile-time checks: the text starts with "struct " or "class " for a class, "union " for a
// union and "enum " for an enum, and ends with the type's name as written in the macro.
#define VEXA_STATIC_TYPE(Type, typeText)                                                       \
  constexpr auto VexaStaticTypeText(::Vexa::StaticTypeTag<Type>) {                             \
    return ::Vexa::StaticTypeText(typeText);                                                   \
  }                                                                                            \
  static_assert(::Vexa::StaticTypeDetail::StartsWithKindWord<Type>(typeText),                  \
                "VEXA_STATIC_TYPE: a record's text starts with \"struct \" or \"class \", an " \
                "enum's with \"enum \"");                                                      \
  static_assert(::Vexa::StaticTypeDetail::EndsWithName(typeText, #Type),                       \
                "VEXA_STATIC_TYPE: the text must end with the type's name as the macro names it")

class BindingProperty;
VEXA_STATIC_TYPE(BindingProperty, "class Vexa::BindingProperty");

}  // namespace Vexa
