// The console: the page at / that shows the plugin's API, calls its endpoints and streams its
// events and log, served from the files of host/console/ compiled into the host.
//
//   GET /                  index.html
//   GET /console/{file}    the page's scripts, style sheet and icon
//
// Each answer carries a Content-Security-Policy that lets the page load and fetch from its own
// origin only and run no inline script, and is not cached, so that a rebuilt host serves its
// new page at once.
#pragma once

#include <string_view>

namespace httplib {
struct Response;
}

namespace VexaHost {

inline constexpr char kConsoleSecurityPolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

// Answers the console's file `name` ("index.html", "app.js"), or 404 when it has none.
void ServeConsoleFile(std::string_view name, httplib::Response& response);

}  // namespace VexaHost
