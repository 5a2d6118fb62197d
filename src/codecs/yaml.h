// YAML to BindingProperty: reads one YAML document (a request body or an argument text) into a
// value tree, with typed scalars, anchors and aliases, and errors that give line and column.
//
//   const Vexa::BindingResult result = Vexa::ParseYaml("a: 5\nb: [x, 'y']\n");
//   if (!result) { report(result.ErrorText()); }   // {"error": message}, codecs/yaml_messages.h
//   result.value.Member("a").GetUnsigned();        // 5
//
// libyaml's event parser does the tokenizing (it is linked as the shared libyaml); this reader
// walks its events, feeds a BindingValueBuilder, resolves scalars (codecs/yaml_scalar.h) and
// expands aliases. The system never writes YAML.
//
// Mapping. Sequences become collections, mappings structures, scalars what their tag and
// text resolve to. Mapping keys are never type-resolved ("1: x" has the key "1"); a key may
// carry no tag but the string tag, and may not be a sequence or a mapping. Tags on sequences
// and mappings are ignored. Texts are cut at their first NUL (a double-quoted "\0"), like every
// text of a value. Decided here, where the rules leave room:
// - Key position. An event stands in key position when the innermost open node is a mapping
//   whose last key has received its value; only there is a scalar a key, and only there are a
//   sequence or a mapping refused as keys. (A member's current kind does not matter: a key that
//   appears again after a mapping value simply receives its new value.)
// - Repeated keys address the same member again; the later value replaces the earlier one
//   whatever the kinds of the two (a later mapping replaces an earlier mapping, no merging).
// - The empty key ("": 1, or "? " with no key text) is a key like any other: member "".
// - A bool-tagged scalar whose text is no bool literal leaves its target as it was (an
//   appended element stays empty, a repeated key keeps its earlier value).
//
// Documents. An empty text, or one with only comments, is an empty value. One document is
// read; a second document start fails with "Multi-document YAML is not supported.", also
// when the first document was empty ("---\n---\na: 1\n").
//
// Anchors and aliases. An anchor name may be defined once per text (again: the duplicate
// message, whether the first was on a key or a node). An anchored mapping key records its
// text; any other anchored node records the path to it from the root. An alias copies what is
// at that path when the alias is read (a full copy of a mapping as it then stood: if a repeated
// key has replaced the value since, the alias finds the new one, and the empty value when the
// path leads nowhere any more), or, for a key anchor, gives the key's text as a string. An
// alias inside the node its anchor names is cyclic and fails; an alias whose anchor came later,
// or never, is undefined and fails. An alias in key position gives the key: the text of a key
// anchor, or the text of an anchored string; any other anchored value there is an invalid key.
//
// Positions. The reader's own messages give the line and column of the failing event's start,
// counted from 1. A libyaml error gives libyaml's problem text and position, counted from 0;
// for encoding errors (invalid UTF-8, control characters), for which libyaml records only a
// byte offset, the position is the line and column of that offset, counted the way libyaml
// counts (a line break ends a line, "\r\n" is one break, a column is one character).
//
// Limits, each a failure with its own message instead of unbounded work or memory:
// - Sequences and mappings nested deeper than kMaxBindingDepth. libyaml is asked for no more
//   than the events read so far, so a text of a million "[" costs a few hundred events.
// - Aliases. The values that aliases copy in one text, counted node by node (every scalar,
//   sequence and mapping of each copy), may number at most YamlAliasCopyBudget(text size):
//   the larger of kYamlAliasCopyFloor and the text's byte count. The text itself can describe
//   no more values than it has bytes, so the whole tree stays within about twice what the text
//   could describe without aliases, and a few hundred kilobytes of "billion laughs" fail after
//   a bounded amount of copying. A copy whose nesting, added to the depth of the alias, would
//   exceed kMaxBindingDepth fails too.
// - A sequence of more than kMaxBindingElements elements; memory that runs out all the same.
// Reading never goes past the text's size, and every libyaml resource is released on every
// path (events one by one, the parser at the end). libyaml balances its events; should an
// event come out of place all the same, the builder refuses it and the reader fails with
// kYamlUnexpectedEventMessage rather than build on a broken stack.
//
// Threading: none shared; concurrent calls on different texts are independent.
#pragma once

#include <cstddef>
#include <string_view>

#include "value/property.h"
#include "value/result.h"

namespace Vexa {

// The fewest values that aliases may copy into one document, however short the text.
inline constexpr std::size_t kYamlAliasCopyFloor = std::size_t{1} << 18;

// How many values aliases may copy in total into a document read from `textSize` bytes.
[[nodiscard]] constexpr std::size_t YamlAliasCopyBudget(std::size_t textSize) noexcept {
  return textSize > kYamlAliasCopyFloor ? textSize : kYamlAliasCopyFloor;
}

// Reads the YAML text (UTF-8, `text.size()` bytes; no NUL needed after it, and a NUL inside it
// is an error of libyaml's). Borrows the text for the call only; the result owns everything it
// holds. Never throws.
[[nodiscard]] BindingResult ParseYaml(std::string_view text);

}  // namespace Vexa
