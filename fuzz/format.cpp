// Format: any template against arguments of every kind renders without crashing, reading an
// argument as another type or writing past its buffer, and never returns more than 4095 bytes.
// Templates are bounded so that one run stays short; widths and precisions are not: Format
// bounds them by what its result can hold, so "%1000000000d", or a "*" taking such an
// argument, must cost no more than the result is worth (libFuzzer's -timeout catches one that
// does not).
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "util/format.h"

namespace {

constexpr std::size_t kMaxTemplate = 128;

void CheckLength(const std::string& result, const std::string& templ) {
  FUZZ_CHECK(result.size() <= 4095,
             "a result of " + std::to_string(result.size()) + " bytes from " + templ);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string templ = input.ConsumeRandomLengthString(kMaxTemplate);
  const auto small = input.ConsumeIntegral<int32_t>();
  const auto count = input.ConsumeIntegral<uint32_t>();
  const auto wide = input.ConsumeIntegral<int64_t>();
  const auto big = input.ConsumeIntegral<uint64_t>();
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
