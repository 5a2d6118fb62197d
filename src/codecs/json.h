// The JSON codec: JSON text to a BindingProperty tree and back, through RapidJSON's SAX reader
// (default mode) and its compact writer.
//
//   Vexa::BindingResult parsed = Vexa::ParseJson(R"({"country":"DE","codes":[49,-1,2.5]})");
//   if (!parsed) { Log(..., parsed.ErrorText()); }      // "Error: <text> at offset <n>."
//   std::string text = Vexa::ToJson(parsed.value);      // {"codes":[49,-1,2.5],"country":"DE"}
//   std::string named = Vexa::ToJson(value, &registry); // enumerators by their names
//   buffer.clear(); Vexa::AppendJson(buffer, value);    // into a string kept for reuse
//
// Reading. null gives an empty value, true/false a bool, an integer with a minus sign that fits
// in 64 bits a signed value, one without a minus sign an unsigned value, any other number a
// float; a string gives its decoded text up to its first NUL (an escaped U+0000 ends it); an
// array a collection; an object a structure, where a repeated key addresses the same member
// again: a later scalar replaces the earlier value, a later null keeps it, a later object or
// array of the same kind merges into it. An empty or white-space-only text is an empty value
// and no error. The text is read up to its first NUL byte and never past its given length.
//
// What the default mode accepts beyond strict JSON, on purpose (it is RapidJSON's default
// reader and the system's peers rely on it): bytes inside strings are not checked as UTF-8, so
// invalid sequences are stored as they are (and written back unchanged; code 12 never comes);
// a lone low surrogate escape (\uDC00 to \uDFFF) is stored as its three-byte encoding, while a
// high surrogate escape not followed by a low one is an error (code 9). An unescaped control
// character inside a string is code 10. A number beyond the double range fails with code 13
// ("Number too big to be stored in double.") at its offset; one that rounds to the largest
// double (1.7976931348623158e308) is that double.
//
// Precision. Doubles are read with RapidJSON's normal precision, which scales the decimal digits
// by powers of ten in double arithmetic: a number may be read one or two units in the last place
// off. Not only numbers with all 17 significant digits: short ones with large exponents too
// (1.23e63 reads one unit low, and then alternates with 1.2299999999999999e63 from one write and
// read to the next; 3.3e30 likewise). So writing a float and reading it back is not always exact:
// a written text always reads again, and its floats come back within 2 units in the last place
// of those written (what fuzz/json.cpp checks), but rounds may add up: a float can move further
// from where it started (6.6666666666666657e41 moves one unit, then two more). Everyday numbers
// (coordinates, amounts, whole numbers) come back exactly.
//
// Failures. A failed parse answers a failed BindingResult whose message is
// "Error: %s at offset %u." (JsonParseErrorText of the error code, and the byte offset from the
// start of the text at which the reader stopped); nothing of the partly built value is kept.
// Nesting deeper than kMaxBindingDepth arrays and objects is refused by our handler, which
// stops the reader: the message is then that of code 16 ("Terminate parsing due to Handler
// error.") at the offset just after the bracket that went too deep. No recursion of ours
// grows with the input, and RapidJSON's recursive reader is stopped at that depth.
//
// Writing. Compact JSON (no white space): null, true/false, integers, floats as RapidJSON's
// writer forms them (at most 17 significant digits that a correctly rounding reader reads back as
// the same double, though not always the shortest such form: 1e23 is written
// 9.999999999999999e22), strings with RapidJSON's escaping (quotation
// mark, backslash and control characters; everything else, "/" and bytes from 0x80 included,
// copied), blobs as Base64 strings, enumerators by name when `names` names them (else by number),
// collections as arrays, structures as objects with members in byte-wise key order. An empty
// root gives the empty text. A float that is not finite has no JSON form: it is written as null.
//
// Threading: none shared; every call works on its own state. The enumerator names are only read.
// Each thread that writes keeps its writer and a buffer of up to 16 KiB for its next text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "value/property.h"
#include "value/result.h"

namespace Vexa {

class BindingEnumeratorNames;

// The failure message of a parse; %s is the error code's text, %u the byte offset.
inline constexpr const char* kJsonParseErrorMessage = "Error: %s at offset %u.";

// The reader's error codes (RapidJSON's numbering).
inline constexpr unsigned kJsonErrorRootNotSingular = 2;
inline constexpr unsigned kJsonErrorNumberTooBig = 13;
inline constexpr unsigned kJsonErrorTermination = 16;

// The text of a reader error code: RapidJSON's English table, as this system documents it
// (code 2 keeps the system's own wording); "Unknown error." for a code outside the table.
[[nodiscard]] const char* JsonParseErrorText(unsigned code) noexcept;

// Parses a NUL-terminated UTF-8 text (a null pointer is the empty text). Running out of memory
// while the value is built stops the reader like a refusal (code 16) instead of throwing
// through it.
[[nodiscard]] BindingResult ParseJson(const char* text);
// Parses the characters of `text` up to its first NUL (all of them when it holds none).
[[nodiscard]] BindingResult ParseJson(const std::string& text);
// The same for a view that need not be NUL-terminated: reads no byte beyond text.size(). (A
// little slower: every byte read is checked against the end.)
[[nodiscard]] BindingResult ParseJson(std::string_view text);

// Compact JSON of `value`. `names` (borrowed for the call; may be null; a BindingRegistry is one)
// names enumerators. A small value's text costs one allocation, the string's own.
[[nodiscard]] std::string ToJson(const BindingProperty& value,
                                 const BindingEnumeratorNames* names = nullptr);
// The same text appended to `out`, which keeps what it held before. A caller that keeps its
// string for the next text (cleared, not shrunk) writes without allocating once the string has
// grown to its texts' size. Throws std::bad_alloc when memory runs out, and `out` then holds
// what it held before the call.
void AppendJson(std::string& out, const BindingProperty& value,
                const BindingEnumeratorNames* names = nullptr);

}  // namespace Vexa
