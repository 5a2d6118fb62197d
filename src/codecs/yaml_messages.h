// The failure messages of the YAML reader, in one place so that they read against each other
// and against the texts that callers and clients already match on.
//
//   result.Fail(Vexa::Format(Vexa::kYamlUndefinedAliasMessage, name, line, column));
//
// Every template is a positional Format template. "line" and "col" of the reader's own
// messages count from 1 and give the start of the event that failed; the parser error quotes
// libyaml's problem position as libyaml counts it, from 0. The texts are matched by clients
// exactly as they stand: do not reword them.
#pragma once

namespace Vexa {

// No arguments. A second document in the stream.
inline constexpr const char kYamlMultiDocumentMessage[] = "Multi-document YAML is not supported.";

// %1 anchor name, %2 line, %3 column. Every anchor name may be defined once per text.
inline constexpr const char kYamlDuplicateAnchorMessage[] =
    "Duplicate occurrence of anchor \"%1\". At line: %2 col: %3";

// %1 line, %2 column. A mapping key with a tag other than the string tag, or an alias in key
// position whose anchored value is not a text.
inline constexpr const char kYamlInvalidKeyMessage[] =
    "Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2";

// %1 line, %2 column. A sequence used as a mapping key.
inline constexpr const char kYamlUnexpectedSequenceMessage[] =
    "Unexpected start of sequence. At line: %1 col: %2";

// %1 line, %2 column. A mapping used as a mapping key.
inline constexpr const char kYamlUnexpectedMappingMessage[] =
    "Unexpected start of mapping. At line: %1 col: %2";

// %1 alias name, %2 line, %3 column. An alias inside the node that its anchor names.
inline constexpr const char kYamlCyclicAliasMessage[] =
    "Cannot deserialize cyclic aliases. Alias \"%1\". At line: %2 col: %3";

// %1 alias name, %2 line, %3 column. No anchor of that name appeared before the alias.
inline constexpr const char kYamlUndefinedAliasMessage[] =
    "Undefined alias encountered: \"%1\". At line: %2 col: %3";

// %1 libyaml's problem text, %2 line, %3 column of libyaml's problem position (from 0).
inline constexpr const char kYamlParserErrorMessage[] =
    "YAML parser error: %1. At line: %2 col: %3";

// %1 the tag in full ("tag:yaml.org,2002:null"). Only the str, int, float and bool tags are
// understood on scalars.
inline constexpr const char kYamlUnsupportedTagMessage[] = "Unsupported YAML tag '%1'.";

// The field name that the conversion messages of the int and float tags quote.
inline constexpr const char kYamlConversionFieldName[] = "yaml";

// The type names those messages quote: the type system's names of the targets a tagged text is
// read into (int64_t for an int with a leading "-", uint64_t for any other int, double).
inline constexpr const char kYamlSignedTypeName[] = "int64";
inline constexpr const char kYamlUnsignedTypeName[] = "uint64";
inline constexpr const char kYamlFloatTypeName[] = "double";

// The problem text quoted by kYamlParserErrorMessage when libyaml gives none (it reports
// running out of memory without one).
inline constexpr const char kYamlUnknownProblem[] = "unknown problem";

// --- Refusals of this system's own, for the limits that keep every input's cost bounded. ---

// %1 the deepest nesting accepted (kMaxBindingDepth), %2 line, %3 column of the sequence or
// mapping that would open one level too many.
inline constexpr const char kYamlTooDeepMessage[] =
    "Sequences and mappings are nested deeper than %1 levels. At line: %2 col: %3";

// %1 alias name, %2 the deepest nesting accepted, %3 line, %4 column. The anchored value is
// itself nested so deeply that its copy at the alias would exceed the limit.
inline constexpr const char kYamlAliasTooDeepMessage[] =
    "Alias \"%1\" would nest sequences and mappings deeper than %2 levels. At line: %3 col: %4";

// %1 alias name, %2 the number of values that aliases may copy into one document, %3 line,
// %4 column. What stops "billion laughs": aliases of aliases that multiply a small text into
// an enormous value.
inline constexpr const char kYamlAliasTooLargeMessage[] =
    "Alias \"%1\" would make aliases copy more than %2 values. At line: %3 col: %4";

// %1 the largest element count (kMaxBindingElements), %2 line, %3 column of the element.
inline constexpr const char kYamlTooManyElementsMessage[] =
    "A sequence has more than %1 elements. At line: %2 col: %3";

// %1 line, %2 column. An event out of place in the stream (a guard: libyaml balances its
// events, so this is not expected from any text).
inline constexpr const char kYamlUnexpectedEventMessage[] =
    "Unexpected YAML event. At line: %1 col: %2";

// %1 line, %2 column of the event being read. Only when the system cannot supply the memory
// that an input within the limits above needs.
inline constexpr const char kYamlOutOfMemoryMessage[] =
    "Not enough memory to read YAML. At line: %1 col: %2";

}  // namespace Vexa
