// YAML: any text reads without crashing, reading past it or growing beyond the alias budget;
// a value that reads writes as JSON that reads again.
#include <cstdint>
#include <string>
#include <string_view>

#include "codecs/json.h"
#include "codecs/yaml.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const Vexa::BindingResult parsed =
      Vexa::ParseYaml(std::string_view(reinterpret_cast<const char*>(data), size));
  if (parsed.Ok()) {
    const std::string json = Vexa::ToJson(parsed.value);
    FUZZ_CHECK(Vexa::ParseJson(json).Ok(), "its JSON does not read: " + json);
  }
  return 0;
}
