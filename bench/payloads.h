// The payloads the plugin really sees, as JSON texts by name, for the codec benchmarks beside
// the large documents of bench/data.
#pragma once

#include <map>
#include <string>

namespace Vexa::Bench {

// The payloads the plugin really sees: an argument of one member, a nested record, a list of
// records, by size (27 bytes, 120 bytes, 2 KB).
inline std::map<std::string, std::string> SmallPayloads() {
  std::string list = "{\"records\":[";
  for (int index = 0; index < 12; ++index) {
    list += std::string(index > 0 ? "," : "") + "{\"id\":" + std::to_string(index) +
            ",\"name\":\"record number " + std::to_string(index) +
            "\",\"country\":\"DE\",\"city\":\"Berlin-Charlottenburg-Wilmersdorf\",\"enabled\":" +
            (index % 2 == 0 ? "true" : "false") + ",\"score\":" + std::to_string(index) +
            ".25,\"note\":\"a note of some sixty bytes, as texts in such lists go\"}";
  }
  list += "]}";
  return {{"small27", R"({"ipAddress":"81.2.69.160"})"},
          {"record120",
           R"({"uuid":"7b3ee3b9","geoInfo":{"country":"DE","city":"Berlin","region":"BE"},)"
           R"("isLatest":true,"success":true})"},
          {"list2k", list}};
}

}  // namespace Vexa::Bench
