// Helpers for the codec suites: a compact text of a value, so that tables can state whole trees
// and failures in one string, and inputs copied to buffers of exactly their size.
//
//   EXPECT_EQ(Outcome(ParseYaml("a: [1, -2]")), "{a:[U1,S-2]}");
//   EXPECT_EQ(Outcome(ParseYaml("a: *x")), "error: Undefined alias encountered: ...");
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "value/property.h"
#include "value/result.h"

namespace Vexa::Testing {

// ~ empty, true/false, S-5 signed, U5 unsigned, F5.5 float (%.17g, so every double reads back
// exactly and -0 keeps its sign), 'x' string, <xy> blob (its bytes as they are), [a,b] collection,
// {k:v} structure with its members in the order the value iterates them.
class Dump final : public BindingVisitor {
 public:
  void VisitEmpty() override { out_ += "~"; }
  void VisitBool(bool value) override { out_ += value ? "true" : "false"; }
  void VisitSigned(int64_t value) override { out_ += "S" + std::to_string(value); }
  void VisitUnsigned(uint64_t value) override { out_ += "U" + std::to_string(value); }
  void VisitFloat(double value) override {
    char text[64];
    std::snprintf(text, sizeof text, "F%.17g", value);
    out_ += text;
  }
  void VisitString(std::string_view value) override { out_ += "'" + std::string(value) + "'"; }
  void VisitBlob(const BindingBlob& bytes) override {
    out_ += "<" + std::string(bytes.begin(), bytes.end()) + ">";
  }
  void BeginCollection(std::size_t) override { out_ += "["; }
  void BeginElement(std::size_t index) override { out_ += index != 0 ? "," : ""; }
  void EndCollection() override { out_ += "]"; }
  void BeginStructure(std::size_t) override { out_ += "{"; }
  // Only a structure's first member follows its brace directly.
  void BeginMember(std::string_view key) override {
    out_ += (out_.back() == '{' ? "" : ",") + std::string(key) + ":";
  }
  void EndStructure() override { out_ += "}"; }

  [[nodiscard]] const std::string& Text() const { return out_; }

 private:
  std::string out_;
};

inline std::string DumpOf(const BindingProperty& value) {
  Dump dump;
  value.Visit(dump);
  return dump.Text();
}

// The dump of a result's value; for a failure "error: " and its message, after checking that
// nothing of a partly built value was kept: the value is exactly {"error": message}.
inline std::string Outcome(const BindingResult& result) {
  if (result.Ok()) {
    return DumpOf(result.value);
  }
  const std::string message(result.ErrorText());
  EXPECT_EQ(DumpOf(result.value), "{error:'" + message + "'}");
  return "error: " + message;
}

inline std::string Repeat(std::string_view piece, std::size_t count) {
  std::string text;
  text.reserve(piece.size() * count);
  for (std::size_t index = 0; index < count; ++index) {
    text += piece;
  }
  return text;
}

// A heap copy of `bytes` in a buffer of exactly their size (null when there are none), so that
// a read past the end is caught by the address sanitizer rather than landing in slack.
inline std::unique_ptr<char[]> ExactCopy(std::string_view bytes) {
  if (bytes.empty()) {
    return nullptr;
  }
  std::unique_ptr<char[]> copy(new char[bytes.size()]);
  std::memcpy(copy.get(), bytes.data(), bytes.size());
  return copy;
}

}  // namespace Vexa::Testing
