// Positional, type-checked message formatting: numbered placeholders over printf syntax.
//
//   std::string text = Vexa::Format("Error reading streamed response for %1 %2: %3",
//                                   method, uri, reason);     // "%1" etc. pick arguments
//   std::string padded = Vexa::Format("[%1$-8s] %2$08.3f", name, 3.14159);
//
// Template syntax. "%%" is a literal '%'. "%N" (N from 1 to the argument count, not followed
// by '$') is argument N in its default form; anything after it is literal text, so "%1s" is
// argument 1 followed by 's'. "%N$" followed by a printf placeholder body (flags, width,
// precision, length modifier, conversion) is argument N formatted by that body; any other '%'
// starts a printf placeholder that takes the next argument of a running counter (which short
// and explicit forms never move). A short "%N" with N above the argument count is read as a
// width: "%5s" with two arguments is the next argument right-aligned in 5 columns. '*' widths
// and precisions take the next argument, or argument M with "*M$", and must name an integer.
//
// Type safety. Every argument is rendered as its own type, never as the type that the
// template asks for: a conversion letter that the argument does not allow falls back to the
// argument's default ("%1$x" with a string renders the string), and the template's length
// modifier is ignored ("%1$lld" with a 32-bit int is rendered as a 32-bit int; 64-bit
// integers are always rendered in full). Caller text is never used as a printf template.
//
// Failures. Formatting never fails and never throws (beyond allocating the result): a
// malformed placeholder, a placeholder text of 60 characters, a placeholder that the end of
// the template cuts off before its conversion ("%12" or "%-*" at the end; a lone '%' or
// "%N$" there still renders its argument in the default form), an argument number above the
// argument count or a star naming a non-integer or a missing argument ends the output at
// that placeholder; text that does not fit is cut. A placeholder whose width, precision or
// rendering would pass printf's limit of 2,147,483,647 bytes renders nothing, as printf
// refuses it. Widths and precisions cost no more than the part of them that fits: a width of
// a billion gives the same 4095 bytes as printf would, at the price of 4095.
//
// Arguments. Integers of up to 32 bits and bool render as 32-bit integers ("%d", or "%u"
// when unsigned), wider ones as 64-bit ("%lld"), char and signed char as characters ("%c"),
// float and double as double ("%g"), char pointers, char arrays, std::string and
// std::string_view as strings ("%s"; a null char pointer as an empty one, an array or a view
// never read past its end). Any other type does not compile unless it has a text form.
//
// Extension. A type with a text form of its own opts in with one free function beside its
// definition, found by argument-dependent lookup (ordinary lookup never finds one):
//
//   namespace Vexa { std::string FormatText(const PluginApiVersion& version); }
//
// Such arguments build their text first (only when a placeholder uses them) and render it
// like a string: widths and precisions apply, integer conversions fall back to "%s".
#pragma once

#include <string>

// The argument descriptors behind Format; not for callers.
#include "util/format_arguments.h"

namespace Vexa {

// Renders `templ` (see the top of this file) with the arguments into a 4096-byte local
// buffer and returns the result, at most 4095 bytes. The arguments are read in place, never
// copied; the only allocations are the result and the text forms of composite arguments.
template <typename... Args>
[[nodiscard]] std::string Format(const char* templ, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return FormatDetail::FormatDescribed(templ, nullptr, nullptr, 0);
  } else {
    const FormatArgument* const descriptors[] = {&FormatArgumentFor<Args>()...};
    const void* const arguments[] = {static_cast<const void*>(&args)...};
    return FormatDetail::FormatDescribed(templ, descriptors, arguments, sizeof...(Args));
  }
}

}  // namespace Vexa
