// The failure of a host request or a service proxy call, and the result-or-failure that those
// operations return.
//
//   Vexa::MaybeType<Vexa::Failure, GeoInfo> answer = module.Request<GeoInfo>(
//       Vexa::HttpMethod::Get, "/kor-settings/v2/local/GeoInfo");
//   if (!answer) {
//     Log(kLevelError, kGroupDebug, "%s (%d)", answer.Error().Message(), answer.Error().code);
//   } else {
//     Use(answer.Value());
//   }
//
// A failure is a value, never an exception: a MaybeType holds either its value or a Failure,
// and is [[nodiscard]], so that a failure cannot be dropped by accident. A MaybeType cannot be
// built empty; asking a failed one for its value (or a good one for its failure) is a
// programming error, caught by an assert in debug builds.
#pragma once

#include <cassert>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "value/result.h"

namespace Vexa {

// A signed 32-bit code (an HTTP status, or 0 when none applies) and a message that is either
// a text the failure owns or a static text it only points to.
class Failure {
 public:
  Failure() = default;
  // Owns a copy of `message`.
  Failure(int32_t failureCode, std::string message)
      : code(failureCode), owned_(std::move(message)), isOwned_(true) {}
  // Points to `message`, which must be static (a literal or a constant).
  [[nodiscard]] static Failure Static(int32_t failureCode, const char* message) {
    Failure failure;
    failure.code = failureCode;
    failure.static_ = message != nullptr ? message : "";
    return failure;
  }

  // The failure of a conversion or decoder: `code` and the result's message ("?" when the
  // result carries none, so that a failure never reads as empty). `result` must have failed.
  [[nodiscard]] static Failure Of(int32_t failureCode, const BindingResult& result) {
    assert(!result.Ok());
    const std::string_view message = result.ErrorText();
    return Failure(failureCode, std::string(message.empty() ? std::string_view("?") : message));
  }

  // Whichever text is present; valid while the failure lives.
  [[nodiscard]] const char* Message() const { return isOwned_ ? owned_.c_str() : static_; }
  [[nodiscard]] bool OwnsMessage() const { return isOwned_; }

  int32_t code = 0;

 private:
  const char* static_ = "";
  std::string owned_;
  bool isOwned_ = false;
};

template <typename Error, typename T>
class MaybeType;

// Either a T or a Failure.
template <typename T>
class [[nodiscard]] MaybeType<Failure, T> {
 public:
  using ValueType = T;

  MaybeType(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit
  MaybeType(Failure failure)                                                // NOLINT: implicit
      : state_(std::in_place_index<1>, std::move(failure)) {}

  [[nodiscard]] bool HasValue() const { return state_.index() == 0; }
  explicit operator bool() const { return HasValue(); }

  [[nodiscard]] T& Value() & {
    assert(HasValue());
    return *std::get_if<0>(&state_);
  }
  [[nodiscard]] const T& Value() const& {
    assert(HasValue());
    return *std::get_if<0>(&state_);
  }
  [[nodiscard]] T&& Value() && {
    assert(HasValue());
    return std::move(*std::get_if<0>(&state_));
  }
  [[nodiscard]] const Failure& Error() const {
    assert(!HasValue());
    return *std::get_if<1>(&state_);
  }

 private:
  std::variant<T, Failure> state_;
};

// Success, or a Failure.
template <>
class [[nodiscard]] MaybeType<Failure, void> {
 public:
  using ValueType = void;

  MaybeType() = default;                                                       // success
  MaybeType(Failure failure) : failure_(std::move(failure)), failed_(true) {}  // NOLINT

  [[nodiscard]] bool HasValue() const { return !failed_; }
  explicit operator bool() const { return HasValue(); }
  [[nodiscard]] const Failure& Error() const {
    assert(failed_);
    return failure_;
  }

 private:
  Failure failure_;
  bool failed_ = false;
};

// Shorthand used throughout the runtime.
template <typename T>
using Maybe = MaybeType<Failure, T>;

}  // namespace Vexa
