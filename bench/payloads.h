// The payloads the plugin really sees, as JSON texts by name, for the codec benchmarks beside
// the large documents of bench/data.
#pragma once

#include <map>
#include <string>

namespace Vexa::Bench {

// A list of twelve call records of about 2 KB whose texts are mostly distinct: each record has
// its own uuid, beside a service and a method of a few, a status and an id. Where list2k repeats
// its texts record after record, here a decode interns a new text in nearly every record.
inline std::string DistinctRecords() {
  static constexpr const char* kUuids[] = {
      "6513270e-269e-4d37-b2a7-4de452e6b438", "d23f0824-128b-4f33-8c5c-7fd0a6a3a450",
      "9531985d-5d9d-49f8-9818-e811892f902b", "36f675cc-81e7-4ef5-a8e2-5d940ed90475",
      "6b0d549b-6f03-475a-9600-a35a099950d8", "8d116ece-1738-47d9-bd9c-172411e20b8f",
      "90c192cf-d3ac-44af-8f21-ddb66cad4a26", "a170b338-3926-4059-b28c-105d1fb17c23",
      "0fd630f1-f29d-4da9-953f-48f1a09f76b5", "0cb1e29c-658c-4a14-95e6-0af593bd04cf",
      "8e81973e-0bec-47b0-b898-d190f9ebdacc", "6b4cb242-4a23-4596-a217-beaddbc496cb"};
  static constexpr const char* kServices[] = {
      "contenttargeting.geoinfo", "contenttargeting.geoinfo.locations",
      "platform.identity.accountsession", "platform.telemetry.eventlog"};
  static constexpr const char* kMethods[] = {"getWhereAmI", "getLocationForIpAddress",
                                             "publishWhereAmIResource", "refreshAccountSession",
                                             "recordTelemetryEvent"};
  static constexpr const char* kStatuses[] = {"200", "404", "500"};
  std::string list = "[";
  for (int index = 0; index < 12; ++index) {
    list += std::string(index > 0 ? "," : "") + "{\"uuid\":\"" + kUuids[index] +
            "\",\"service\":\"" + kServices[index % 4] + "\",\"method\":\"" + kMethods[index % 5] +
            "\",\"status\":\"" + kStatuses[index % 3] +
            "\",\"id\":" + std::to_string(1000 + 37 * index) + "}";
  }
  return list + "]";
}

// The payloads the plugin really sees: an argument of one member, a nested record, a list of
// records, by size (27 bytes, 120 bytes, 2 KB), and the list of records with distinct texts
// (DistinctRecords, 1.8 KB).
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
          {"list2k", list},
          {"distinct2k", DistinctRecords()}};
}

}  // namespace Vexa::Bench
