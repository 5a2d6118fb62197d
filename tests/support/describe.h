// Looking into values in assertions: a compact text of a whole tree, so that a table row states
// a tree or a failure in one string; the keys of a structure; the interned texts of a tree.
//
//   EXPECT_EQ(Outcome(ParseYaml("a: [1, -2]")), "{a:[U1,S-2]}");
//   EXPECT_EQ(Outcome(ParseYaml("a: *x")), "error: Undefined alias encountered: ...");
//   EXPECT_EQ(References(tree, "name"), 3u);
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "value/context.h"
#include "value/property.h"
#include "value/result.h"

namespace Vexa::Testing {

// ~ empty, true/false, S-5 signed, U5 unsigned, F5.5 float (%.17g, so every double reads back
// exactly and -0 keeps its sign), 'x' string, <xy> blob (its bytes as they are), E7 enumerator,
// [a,b] collection, {k:v} structure with its members in the order the value iterates them.
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
  void VisitEnum(const BindingEnumerator& value) override {
    out_ += "E" + std::to_string(value.value);
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

inline std::vector<std::string> Keys(const BindingProperty& value) {
  std::vector<std::string> keys;
  for (const auto& [key, member] : value.Members()) {
    keys.emplace_back(key);
  }
  return keys;
}

// The two sides of a table row "input => expected", so that tables pack many rows per line.
inline std::pair<std::string, std::string> Sides(std::string_view row) {
  const std::size_t arrow = row.find(" => ");
  EXPECT_NE(arrow, std::string_view::npos) << row;
  return {std::string(row.substr(0, arrow)), std::string(row.substr(arrow + 4))};
}

// Distinct texts interned in the value's tree, and the references to one of them.
inline std::size_t Interned(const BindingProperty& value) {
  const BindingValueContext* context = value.DiagnosticContext();
  return context != nullptr ? context->InternedCount() : 0;
}
inline uint32_t References(const BindingProperty& value, std::string_view text) {
  const BindingValueContext* context = value.DiagnosticContext();
  return context != nullptr ? context->ReferenceCount(text) : 0;
}

}  // namespace Vexa::Testing
