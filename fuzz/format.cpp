// Format: any template against arguments of every kind renders without crashing, reading an
// argument as another type or writing past its buffer, and never returns more than 4095 bytes.
// Templates are bounded so that one run stays short.
//
// Widths and precisions are bounded too, for now: Format hands them to the C library as they
// are, which pads a width of a billion for seconds before the result is cut at its limit
// ("%1000000000d", or "*" taking such an argument). Until Format bounds them by what its
// result can hold, this target leaves out templates with numbers of more than six digits and
// keeps the integer arguments of templates with a "*" below a million; drop both limits then.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "util/format.h"

namespace {

constexpr std::size_t kMaxTemplate = 128;
constexpr int64_t kMaxWidth = 1000000;

bool HasHugeNumber(const std::string& templ) {
  std::size_t digits = 0;
  for (const char c : templ) {
    digits = c >= '0' && c <= '9' ? digits + 1 : 0;
    if (digits > 6) {
      return true;
    }
  }
  return false;
}

void CheckLength(const std::string& result, const std::string& templ) {
  FUZZ_CHECK(result.size() <= 4095,
             "a result of " + std::to_string(result.size()) + " bytes from " + templ);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string templ = input.ConsumeRandomLengthString(kMaxTemplate);
  if (HasHugeNumber(templ)) {
    return 0;
  }
  const bool starred = templ.find('*') != std::string::npos;
  const auto bounded = [starred](auto number) {
    return starred ? static_cast<decltype(number)>(number % kMaxWidth) : number;
  };
  const auto small = bounded(input.ConsumeIntegral<int32_t>());
  const auto count = bounded(input.ConsumeIntegral<uint32_t>());
  const auto wide = bounded(input.ConsumeIntegral<int64_t>());
  const auto big = bounded(input.ConsumeIntegral<uint64_t>());
  const auto real = input.ConsumeFloatingPoint<double>();
  const auto letter = input.ConsumeIntegral<char>();
  const bool flag = input.ConsumeBool();
  const std::string text = input.ConsumeRandomLengthString(64);
  const char* const cText = text.c_str();
  const std::string_view view(text.data(), text.size() / 2);  // not NUL-terminated
  CheckLength(Vexa::Format(templ.c_str(), small, count, wide, big, real, letter, flag, cText, text,
                           view, static_cast<const char*>(nullptr)),
              templ);
  CheckLength(Vexa::Format(templ.c_str(), text, small), templ);
  CheckLength(Vexa::Format(templ.c_str()), templ);
  return 0;
}
