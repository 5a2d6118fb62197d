#include "console.h"

#include <httplib.h>
#if defined(_WIN32)
// httplib.h brings in windows.h, whose Yield macro would rename the host API's Yield entry.
#undef Yield
#endif

#include <algorithm>
#include <string>

#include "embedded_files.h"
#include "http_front.h"

namespace VexaHost {
namespace {

// The media type of a console file by its extension.
const char* MediaTypeOf(std::string_view name) {
  static const std::pair<std::string_view, const char*> kTypes[] = {
      {".html", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".svg", "image/svg+xml"},
      {".png", "image/png"}};
  for (const auto& [extension, type] : kTypes) {
    if (name.ends_with(extension)) {
      return type;
    }
  }
  return "application/octet-stream";
}

}  // namespace

void ServeConsoleFile(std::string_view name, httplib::Response& response) {
  const auto files = ConsoleFiles();
  const auto file = std::find_if(files.begin(), files.end(),
                                 [&](const EmbeddedFile& known) { return known.name == name; });
  if (file == files.end()) {
    return SetErrorResponse(response, 404, "The console has no file " + std::string(name));
  }
  response.set_header("Content-Security-Policy", kConsoleSecurityPolicy);
  response.set_header("X-Content-Type-Options", "nosniff");
  response.set_header("Referrer-Policy", "no-referrer");
  response.set_header("Cache-Control", "no-cache");
  response.set_content(file->content.data(), file->content.size(), MediaTypeOf(name));
}

}  // namespace VexaHost
