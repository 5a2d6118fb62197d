// Services behind the service proxy declared in a file (--services FILE.json), so that a
// plugin author can stand in for the backend a plugin calls: each method answers a canned or
// templated payload with a status, after a latency.
//
//   {
//     "notes.store": {
//       "getShelf": {"payload": {"name": "{{shelf}}", "notes": []}, "latencyMs": 20},
//       "putNote":  {"status": 503, "error": "the store is down"}
//     }
//   }
//
// A method's "status" is a number (default 200); 200 answers "payload" (any JSON, default
// null), any other status answers "error" (default "<service>.<method> answered <status>").
// The error text is a template as a longer string of the payload is (below). In the payload a
// string that is exactly "{{name}}" becomes the request payload's member
// `name` as it is (any JSON), "{{}}" the whole request payload; "{{name}}" inside a longer
// string is replaced by the member's text (a string's characters, another value's JSON). A
// member the request lacks gives null, or nothing inside a string.
//
// Threading: loaded once before the first request; Answer only reads, from any thread.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>

#include "json.h"

namespace VexaHost {

// What a declared method says, before it is addressed to the request.
struct DeclaredAnswer {
  std::string status;   // "200", "503"
  std::string payload;  // JSON text when the status is 200, else empty
  std::string error;    // empty when the status is 200
  std::chrono::milliseconds latency{0};
};

class DeclaredServices {
 public:
  DeclaredServices() = default;
  // Reads `path`; nothing, with `error` saying where and why, when the file is not such a
  // declaration.
  static std::optional<DeclaredServices> Load(const std::string& path, std::string& error);

  // The answer of `service`.`method` to `payload` (JSON text); nothing when the service is not
  // declared here. A declared service without the method answers 404.
  std::optional<DeclaredAnswer> Answer(const std::string& service, const std::string& method,
                                       const std::string& payload) const;

  // "notes.store (getShelf, putNote)", for the start-up lines; empty when none is declared.
  std::string Describe() const;

 private:
  struct Method {
    int status = 200;
    std::string payload = "null";  // the template, as JSON text
    std::string error;
    std::chrono::milliseconds latency{0};
  };
  std::map<std::string, std::map<std::string, Method>> services_;
};

}  // namespace VexaHost
