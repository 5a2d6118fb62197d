// JSON: any text reads without crashing; a text that reads writes a text that reads again, and
// two rounds of write -> read keep every structure, key, text, integer and bool, and read every
// double back within 2 units in the last place of the double written (the reader's normal
// precision may be off by that much, see codecs/json.h; over rounds the error may add up, so
// each round is compared with the one before it).
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "codecs/json.h"
#include "fuzz_support.h"

namespace {

using Vexa::BindingProperty;
using Kind = Vexa::BindingPropertyKind;

// How many doubles lie between a and b (a zero of either sign counts as 0).
uint64_t UlpDistance(double a, double b) {
  const auto ordered = [](double value) {
    int64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits < 0 ? INT64_MIN - bits : bits;  // monotonic in the value
  };
  const int64_t x = ordered(a), y = ordered(b);
  return x > y ? static_cast<uint64_t>(x) - static_cast<uint64_t>(y)
               : static_cast<uint64_t>(y) - static_cast<uint64_t>(x);
}

bool IsInteger(Kind kind) {
  return kind == Kind::Signed || kind == Kind::Unsigned;
}

// Whether `b` is `a` read back: doubles within 2 ulp; integers by value (a "-0" reads as a
// signed zero and is written "0", which reads as an unsigned one); all else exactly.
bool SameWithinTwoUlps(const BindingProperty& a, const BindingProperty& b) {
  if (IsInteger(a.Kind()) && IsInteger(b.Kind()) && a.Kind() != b.Kind()) {
    const BindingProperty& signedOne = a.Kind() == Kind::Signed ? a : b;
    const BindingProperty& unsignedOne = a.Kind() == Kind::Signed ? b : a;
    return signedOne.GetSigned() >= 0 &&
           static_cast<uint64_t>(signedOne.GetSigned()) == unsignedOne.GetUnsigned();
  }
  if (a.Kind() != b.Kind() || a.Size() != b.Size()) {
    return false;
  }
  switch (a.Kind()) {
    case Kind::Float:
      return UlpDistance(a.GetFloat(), b.GetFloat()) <= 2;
    case Kind::Collection:
      for (std::size_t index = 0; index < a.Size(); ++index) {
        if (!SameWithinTwoUlps(a.Elements()[index], b.Elements()[index])) {
          return false;
        }
      }
      return true;
    case Kind::Structure: {
      auto other = b.Members().begin();
      for (const auto& [key, member] : a.Members()) {
        const auto [otherKey, otherMember] = *other++;
        if (key != otherKey || !SameWithinTwoUlps(member, otherMember)) {
          return false;
        }
      }
      return true;
    }
    default:
      return a == b;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const Vexa::BindingResult first = Vexa::ParseJson(text);
  if (!first.Ok()) {
    return 0;
  }
  Vexa::BindingProperty previous = first.value;
  for (int round = 1; round <= 2; ++round) {
    const std::string written = Vexa::ToJson(previous);
    Vexa::BindingResult again = Vexa::ParseJson(written);
    FUZZ_CHECK(again.Ok(),
               "written text does not read: " + written + " -> " + std::string(again.ErrorText()));
    FUZZ_CHECK(SameWithinTwoUlps(previous, again.value),
               "round " + std::to_string(round) + " changed the value: " + written);
    previous = std::move(again.value);
  }
  return 0;
}
