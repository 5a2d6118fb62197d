// Host values: any record a host may hand in converts to a property or is refused with a
// message, without reading what it does not hold; a property read from a record goes back to a
// record and reads again as the same property; nothing leaks.
#include <cstdint>
#include <string>

#include "bridge/host_value.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  VexaFuzz::HostValueMaker maker(input);
  const HostValue value = maker.MakeRoot();
  HostResult result{};
  Vexa::BindingProperty property;
  if (Vexa::FromHostValue(result, property, value, "value")) {
    HostValue back{};
    FUZZ_CHECK(Vexa::ToHostValue(property, back), "a property read from a record does not go back");
    Vexa::BindingProperty again;
    FUZZ_CHECK(Vexa::FromHostValue(result, again, back, "again"), result.error);
    FUZZ_CHECK(again == property, "the record built from a property reads differently");
    Vexa::ReleaseHostValue(back);
  } else {
    FUZZ_CHECK(result.error != nullptr && result.error[0] != '\0', "a refusal without a message");
  }
  Vexa::ReleaseHostResult(result);
  return 0;
}
