// Reading JSON: RapidJSON's SAX reader in its default mode, over a length-bounded stream,
// driving a handler that feeds the value builder.
#include <rapidjson/reader.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "codecs/json.h"
#include "util/format.h"
#include "value/builder.h"

namespace Vexa {

namespace {

// The reader's error texts by code, as this system reports them. They are RapidJSON's English
// table (rapidjson/error/en.h), except code 2, whose wording the system has always used.
constexpr const char* kJsonParseErrorTexts[] = {
    "No error.",                                           // 0
    "The document is empty.",                              // 1 (never reported)
    "The document root must not follow by other values.",  // 2
    "Invalid value.",                                      // 3
    "Missing a name for object member.",                   // 4
    "Missing a colon after a name of object member.",      // 5
    "Missing a comma or '}' after an object member.",      // 6
    "Missing a comma or ']' after an array element.",      // 7
    "Incorrect hex digit after \\u escape in string.",     // 8
    "The surrogate pair in string is invalid.",            // 9
    "Invalid escape character in string.",                 // 10
    "Missing a closing quotation mark in string.",         // 11
    "Invalid encoding in string.",                         // 12
    "Number too big to be stored in double.",              // 13
    "Miss fraction part in number.",                       // 14
    "Miss exponent in number.",                            // 15
    "Terminate parsing due to Handler error.",             // 16
    "Unspecific syntax error.",                            // 17
};
constexpr const char* kJsonUnknownErrorText = "Unknown error.";

static_assert(std::size(kJsonParseErrorTexts) == rapidjson::kParseErrorUnspecificSyntaxError + 1);
static_assert(rapidjson::kParseErrorDocumentRootNotSingular == kJsonErrorRootNotSingular);
static_assert(rapidjson::kParseErrorTermination == kJsonErrorTermination);
static_assert(rapidjson::kParseErrorNumberTooBig == kJsonErrorNumberTooBig);

// RapidJSON's SAX handler: each call becomes one builder event; any refusal (depth, element
// count) answers false, which makes the reader stop with its termination error. Running out
// of memory while storing a value is a refusal too: the reader then unwinds normally and the
// caller gets a failed result instead of an exception.
class JsonSaxHandler {
 public:
  // `text` is what `stream` reads (the reader's scratch copy stands at the same offsets).
  JsonSaxHandler(BindingValueBuilder& builder, std::string_view text,
                 rapidjson::InsituStringStream& stream) noexcept
      : builder_(builder), text_(text), stream_(stream) {}

  // Whether the reader stopped at a number beyond the double range.
  [[nodiscard]] bool NumberTooBig() const noexcept { return numberTooBig_; }

  bool Null() {
    return Accepted([&] { return builder_.Null(); });
  }
  bool Bool(bool value) {
    return Accepted([&] { return builder_.Bool(value); });
  }
  // The reader reports negative integers as Int/Int64 and the others as Uint/Uint64, so the
  // sign of the text, not the size of the number, decides between signed and unsigned.
  bool Int(int value) {
    return Accepted([&] { return builder_.Signed(value); });
  }
  bool Int64(int64_t value) {
    return Accepted([&] { return builder_.Signed(value); });
  }
  bool Uint(unsigned value) {
    return Accepted([&] { return builder_.Unsigned(value); });
  }
  bool Uint64(uint64_t value) {
    return Accepted([&] { return builder_.Unsigned(value); });
  }
  // The reader refuses most numbers beyond the double range itself, but its normal precision
  // scales the digits in double arithmetic and overflows to infinity for some at the edge
  // (9e308, 2057060051e300), and also for a few that round to the largest double
  // (1.7976931348623158e308). Those are read again, correctly rounded; what still overflows is
  // too big. The refusal stops the reader at the number, and Parse reports code 13 there.
  bool Double(double value) {
    if (!std::isfinite(value)) {
      value = CorrectlyRounded();
      numberTooBig_ = !std::isfinite(value);
      if (numberTooBig_) {
        return false;
      }
    }
    return Accepted([&] { return builder_.Float(value); });
  }
  // Only with kParseNumbersAsStringsFlag, which the default mode does not set.
  bool RawNumber(const char*, rapidjson::SizeType, bool) { return false; }
  bool String(const char* text, rapidjson::SizeType length, bool) {
    return Accepted([&] { return builder_.String(std::string_view(text, length)); });
  }
  bool StartObject() {
    return Accepted([&] { return builder_.BeginStructure(BindingReuse::Keep); });
  }
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    return Accepted([&] { return builder_.MemberKey(std::string_view(text, length)); });
  }
  bool EndObject(rapidjson::SizeType) {
    return Accepted([&] { return builder_.EndStructure(); });
  }
  bool StartArray() {
    return Accepted([&] { return builder_.BeginCollection(BindingReuse::Keep); });
  }
  bool EndArray(rapidjson::SizeType) {
    return Accepted([&] { return builder_.EndCollection(); });
  }

 private:
  template <typename Event>
  static bool Accepted(Event&& event) noexcept {
    try {
      return event() == BindingBuildStatus::Ok;
    } catch (...) {  // std::bad_alloc; nothing else is thrown while storing
      return false;
    }
  }

  // The number where the stream stands, read correctly rounded; infinity when it is out of
  // range. While the reader reads a number it works on a copy of a string stream (RapidJSON's
  // copy optimisation, pinned below), so the stream itself still stands at the number's first
  // character when the number is handed over.
  [[nodiscard]] double CorrectlyRounded() const noexcept {
    const std::size_t start = stream_.Tell();
    std::size_t end = start;
    while (end < text_.size() &&
           std::string_view("0123456789+-.eE").find(text_[end]) != std::string_view::npos) {
      ++end;
    }
    double value = HUGE_VAL;
    const std::from_chars_result read =
        std::from_chars(text_.data() + start, text_.data() + end, value);
    return read.ec == std::errc() ? value : HUGE_VAL;
  }
  static_assert(rapidjson::StreamTraits<rapidjson::InsituStringStream>::copyOptimization);

  BindingValueBuilder& builder_;
  std::string_view text_;
  rapidjson::InsituStringStream& stream_;  // only told where it stands
  bool numberTooBig_ = false;
};

bool IsJsonWhiteSpace(char c) noexcept {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// Leading white space only (or nothing) up to the end of the text: the empty document.
template <typename Stream>
bool IsEmptyDocument(Stream stream) noexcept {
  while (IsJsonWhiteSpace(stream.Peek())) {
    stream.Take();
  }
  return stream.Peek() == '\0';
}

// Where the scratch copy starts in its buffer. At the start, a large document's copy stands at
// the same offset within a page as the document itself (both are blocks of their own from the
// system), and in some address layouts the whole parse then ran a quarter slower, steadily
// within a process; 64 bytes in, that layout never appeared in our measurements.
constexpr std::size_t kScratchOffset = 64;

// Texts shorter than this are copied onto the stack: the answers of services and most
// arguments are a few dozen bytes, and a block of the heap for each would cost more than
// reading them.
constexpr std::size_t kStackScratchBytes = 512;

// Parses `text`, which ends at its first NUL or its end. The reader works in place on a copy
// of it (RapidJSON's in-situ mode): a string is decoded where it stands and handed over as it
// is, instead of being pushed into the reader's own stack a character at a time first; the
// builder interns every text anyway, so the copy is only scratch. Offsets count from the
// text's first byte, as in the reader's copying mode, and the messages are the same.
BindingResult Parse(std::string_view text) {
  BindingResult result;
  char stackScratch[kStackScratchBytes];
  std::unique_ptr<char[]> heapScratch;
  char* copy = stackScratch;
  if (text.size() >= kStackScratchBytes) {
    heapScratch.reset(new char[kScratchOffset + text.size() + 1]);
    copy = heapScratch.get() + kScratchOffset;
  }
  if (!text.empty()) {
    std::memcpy(copy, text.data(), text.size());
  }
  copy[text.size()] = '\0';
  rapidjson::InsituStringStream stream(copy);
  // An empty or white-space-only document is an empty value, not the reader's code 1.
  if (IsEmptyDocument(stream)) {
    return result;
  }
  BindingValueBuilder builder(result.value);
  JsonSaxHandler handler(builder, text, stream);
  rapidjson::Reader reader;
  const rapidjson::ParseResult parsed = reader.Parse<rapidjson::kParseInsituFlag>(stream, handler);
  if (parsed.IsError()) {
    const unsigned code =
        handler.NumberTooBig() ? kJsonErrorNumberTooBig : static_cast<unsigned>(parsed.Code());
    result.Fail(Format(kJsonParseErrorMessage, JsonParseErrorText(code), parsed.Offset()));
  }
  return result;
}

}  // namespace

const char* JsonParseErrorText(unsigned code) noexcept {
  return code < std::size(kJsonParseErrorTexts) ? kJsonParseErrorTexts[code]
                                                : kJsonUnknownErrorText;
}

BindingResult ParseJson(const char* text) {
  return Parse(text != nullptr ? std::string_view(text) : std::string_view());
}

// A std::string always has a NUL after its last character; an embedded NUL ends the text
// early, as documented. The reader stops at the first NUL of its scratch copy by itself, so the
// whole string is handed over without a search for one first.
BindingResult ParseJson(const std::string& text) {
  return Parse(text);
}

// A view may end anywhere, before bytes it does not own: it is cut at its first NUL.
BindingResult ParseJson(std::string_view text) {
  if (const void* nul = text.empty() ? nullptr : std::memchr(text.data(), 0, text.size());
      nul != nullptr) {
    text = text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
  }
  return Parse(text);
}

}  // namespace Vexa
