// BindingResult: a value and whether the operation that produced it succeeded.
//
//   Vexa::BindingResult decoded = Vexa::ParseJson(text);
//   if (!decoded) { Log(decoded.ErrorText()); return; }
//   Use(decoded.value);
//
// A failure is the structure {"error": message}. Every conversion and decoder returns or fills
// one; a conversion handed a failed result adds nothing, so a chain reports its first failure.
// The status is private: a result becomes a success only by being constructed as one or by
// Succeed(), which empties the value, so a failure's message can never pass for a success's
// data. Results are [[nodiscard]]: a producer's result that is dropped does not compile
// quietly.
//
// Ownership: the result owns its value (a standalone BindingProperty).
#pragma once

#include <string_view>
#include <utility>

#include "value/property.h"

namespace Vexa {

class [[nodiscard]] BindingResult {
 public:
  // A success with an empty value.
  BindingResult() = default;
  // A success carrying a deep copy of `property`.
  explicit BindingResult(const BindingProperty& property) : value(property) {}
  // A success carrying `property` (a standalone value is taken over, a nested one copied).
  explicit BindingResult(BindingProperty&& property) : value(std::move(property)) {}

  // A failed result carrying `message`.
  [[nodiscard]] static BindingResult Failed(std::string_view message);

  [[nodiscard]] bool Ok() const noexcept { return ok_; }
  [[nodiscard]] explicit operator bool() const noexcept { return ok_; }

  // Empties the value and marks success.
  void Succeed() noexcept;
  // Replaces the value with {"error": message} and marks failure (a later Fail overwrites).
  void Fail(std::string_view message);
  // Empties the value and marks failure without a message: the last resort when not even the
  // message can be allocated. ErrorText() is then the empty text.
  void FailWithoutMessage() noexcept;
  // The message of a failure; the empty text on success or when "error" is not a string.
  [[nodiscard]] std::string_view ErrorText() const noexcept;

  // On success the data; on failure {"error": message}. Producers build their data in place
  // here (conversions write members straight into it).
  BindingProperty value;

 private:
  bool ok_ = true;
};

}  // namespace Vexa
