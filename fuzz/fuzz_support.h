// What the fuzz targets share: a check that stops the run as a finding, the input reader, and
// host value records built from the input. Only the seam's header is used here, so the host's
// targets include it too.
//
//   FUZZ_CHECK(parsed.Ok(), "written text does not parse: " + written);
//   FuzzedDataProvider input(data, size);
//   VexaFuzz::HostValueMaker maker(input);
//   const HostValue value = maker.MakeRoot();     // valid while `maker` lives
//
// A failed check prints its message and aborts, which libFuzzer records as a crash and saves
// the input. Targets split their input with FuzzedDataProvider (clang's header): texts are
// consumed from the front of the bytes, numbers from the back.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "vexa/host_contract.h"

namespace VexaFuzz {

[[noreturn]] inline void CheckFailed(const char* condition, const std::string& message) {
  std::fprintf(stderr, "FUZZ_CHECK(%s) failed: %s\n", condition, message.c_str());
  std::abort();
}

// HostValue records as a host may hand them in, right or wrong: every kind number from 0 to 12
// (11 and 12 are unknown), texts that are null or NUL-terminated with a random length word,
// blob, element and member arrays of exactly their count, or null with a count, or (for
// collections, which have a limit) a count past the element limit over a short array, which
// must be refused before it is read; keys null or not. At most kMaxValues values in one tree,
// nested at most kMaxDepth deep, and then maybe wrapped in up to kMaxWrapping one-element
// collections to reach the nesting limit. Everything the records point at is owned by the maker.
class HostValueMaker {
 public:
  static constexpr std::size_t kMaxValues = 64;
  static constexpr int kMaxDepth = 6;
  static constexpr int kMaxWrapping = 520;
  static constexpr uint32_t kHugeCount = 0x10000000;  // one past the element limit

  // `trusting`: for a reader that trusts the length words and counts it is given (the host's,
  // which reads only what the plugin built): lengths are then exact and no count is inflated;
  // arrays may still be missing.
  explicit HostValueMaker(FuzzedDataProvider& input, bool trusting = false)
      : input_(input), trusting_(trusting) {}

  HostValue MakeRoot() {
    HostValue value = Make(0);
    for (int levels = input_.ConsumeBool() ? input_.ConsumeIntegralInRange(0, kMaxWrapping) : 0;
         levels > 0; --levels) {
      std::vector<HostValue>& outer = elements_.emplace_back(1, value);
      value = HostValue{};
      value.kind = HOST_VALUE_COLLECTION;
      value.payload.collection.elements = outer.data();
      value.payload.collection.count = 1;
    }
    return value;
  }

  HostValue Make(int depth) {
    HostValue value{};
    value.kind = input_.ConsumeIntegralInRange<uint32_t>(0, 12);
    ++made_;
    switch (value.kind) {
      case HOST_VALUE_BOOL:
        value.payload.boolean = input_.ConsumeIntegral<uint8_t>();
        break;
      case HOST_VALUE_FLOAT:
        value.payload.floatValue = input_.ConsumeFloatingPoint<double>();
        break;
      case HOST_VALUE_BORROWED_STRING:
      case HOST_VALUE_STRING:
        value.payload.string.text = Text();
        value.payload.string.length =
            !trusting_ ? input_.ConsumeIntegral<uint32_t>()
            : value.payload.string.text != nullptr
                ? static_cast<uint32_t>(std::strlen(value.payload.string.text))
                : 0;
        break;
      case HOST_VALUE_BORROWED_BLOB:
      case HOST_VALUE_BLOB: {
        const std::string& bytes = texts_.emplace_back(input_.ConsumeRandomLengthString(32));
        const uint8_t* array = reinterpret_cast<const uint8_t*>(bytes.data());
        // Blobs and structures have no count limit: only their arrays may go missing.
        value.payload.blob.size = Count(static_cast<uint32_t>(bytes.size()), array, false);
        value.payload.blob.bytes = array;
        break;
      }
      case HOST_VALUE_COLLECTION: {
        std::vector<HostValue>& elements = elements_.emplace_back();
        for (int count = Children(depth); count > 0; --count) {
          elements.push_back(Make(depth + 1));
        }
        HostValue* array = elements.empty() ? nullptr : elements.data();
        value.payload.collection.count = Count(static_cast<uint32_t>(elements.size()), array, true);
        value.payload.collection.elements = array;
        break;
      }
      case HOST_VALUE_STRUCTURE: {
        std::vector<HostValueMember>& members = members_.emplace_back();
        for (int count = Children(depth); count > 0; --count) {
          members.push_back(HostValueMember{Text(), Make(depth + 1), 0});
        }
        HostValueMember* array = members.empty() ? nullptr : members.data();
        value.payload.structure.count = Count(static_cast<uint32_t>(members.size()), array, false);
        value.payload.structure.members = array;
        break;
      }
      default:  // integers, and the bits of an unknown kind
        value.payload.unsignedValue = input_.ConsumeIntegral<uint64_t>();
        break;
    }
    return value;
  }

  // A text that lives as long as the maker, or now and then null.
  const char* Text() {
    if (input_.ConsumeIntegralInRange(0, 15) == 0) {
      return nullptr;
    }
    return texts_.emplace_back(input_.ConsumeRandomLengthString(24)).c_str();
  }

 private:
  int Children(int depth) {
    return made_ < kMaxValues && depth < kMaxDepth ? input_.ConsumeIntegralInRange(0, 4) : 0;
  }

  // The count stored beside `array`: mostly its own; sometimes with the array dropped, or (when
  // `huge` allows) a count past the element limit.
  template <typename T>
  uint32_t Count(uint32_t count, T*& array, bool huge) {
    switch (input_.ConsumeIntegralInRange(0, 15)) {
      case 0:
        array = nullptr;
        return count != 0 ? count : 1;
      case 1:
        return huge && !trusting_ && array != nullptr ? kHugeCount : count;
      default:
        return count;
    }
  }

  FuzzedDataProvider& input_;
  bool trusting_;
  std::size_t made_ = 0;
  std::deque<std::string> texts_;  // a deque: growing it moves no text
  std::deque<std::vector<HostValue>> elements_;
  std::deque<std::vector<HostValueMember>> members_;
};

}  // namespace VexaFuzz

#define FUZZ_CHECK(condition, message)                \
  do {                                                \
    if (!(condition)) {                               \
      ::VexaFuzz::CheckFailed(#condition, (message)); \
    }                                                 \
  } while (false)
