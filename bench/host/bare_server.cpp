// vexa-bare-server: cpp-httplib with nothing behind it, answering every GET with one fixed JSON
// body. It is the floor that scripts/bench-host measures vexa-host's endpoints against: the same
// library, the same socket options, the same body size, no plugin.
//
// With --one-hop, each handler hands the copying of the body to one worker thread, the host's
// own PluginThread, and waits for it, as the host does with every call into the plugin: the
// floor of a host that crosses to its plugin thread and back once per request.
//
//   vexa-bare-server --port 0 --body '{"country":"DE"}' [--one-hop]
//   listening on http://127.0.0.1:41234
#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "http_front.h"
#include "plugin_thread.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: vexa-bare-server [--port N] [--body TEXT] [--one-hop]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  long port = 0;
  std::string body = "{}";
  bool oneHop = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view flag = argv[i];
    if (flag == "--one-hop") {
      oneHop = true;
      continue;
    }
    if (i + 1 == argc) {
      return Usage();
    }
    if (flag == "--port") {
      char* end = nullptr;
      port = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || port < 0 || port > 65535) {
        return Usage();
      }
    } else if (flag == "--body") {
      body = argv[++i];
    } else {
      return Usage();
    }
  }

  // Declared before the server, so that it outlives the server's workers waiting on it.
  std::optional<VexaHost::PluginThread> worker;
  if (oneHop) {
    worker.emplace();
  }
  httplib::Server server;
  VexaHost::ApplyServerSettings(server);  // the host's own workers, socket options, keep-alive
  server.Get(".*", [&body, &worker](const httplib::Request&, httplib::Response& response) {
    if (!worker) {
      response.set_content(body, "application/json");
      return;
    }
    // As the host: the body is made on the worker, then set as the response's content here.
    std::string answer;
    if (!worker->Run([&] { answer = body; })) {
      response.status = 503;
      return;
    }
    response.set_content(answer, "application/json");
  });
  const int bound =
      port == 0 ? server.bind_to_any_port("127.0.0.1")
                : (server.bind_to_port("127.0.0.1", static_cast<int>(port)) ? static_cast<int>(port)
                                                                            : -1);
  if (bound < 0) {
    std::fprintf(stderr, "vexa-bare-server: cannot listen on 127.0.0.1:%ld\n", port);
    return 1;
  }
  std::printf("listening on http://127.0.0.1:%d\n", bound);
  std::fflush(stdout);
  return server.listen_after_bind() ? 0 : 1;
}
