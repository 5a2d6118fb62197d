// The plugin's events as Server-Sent Events, for any number of HTTP clients of GET /events:
//
//   event: OnJsonApiEvent_kor-geoinfo_v1_whereami
//   data: {"data":{...},"eventType":"Create","uri":"/kor-geoinfo/v1/whereami"}
//
// after a first comment line (": connected"), and a comment line (": heartbeat") whenever a client
// has had nothing for a while, so that proxies and clients see the stream alive. Publishing never
// waits for a client: each client has a bounded queue, and a client that falls behind by more than
// that is dropped (its stream ends) rather than slowing the plugin down.
//
// A data text is written as one `data:` line per line it holds, and line breaks in a name are
// dropped, so no payload can break the framing. An event larger than maxQueuedBytes still
// reaches a client that is keeping up; only a backlog beyond the limit drops a client.
//
// Threading: Publish and CloseAll from any thread (Publish runs on the plugin thread); each
// attached client is served by the HTTP worker thread that attached it. A stream still being
// written when the EventStream is destroyed ends at its next wake-up; it holds its own share
// of the state, so the EventStream may go before the HTTP server's workers are done.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string_view>

namespace httplib {
struct Response;
}

namespace VexaHost {

struct EventStreamLimits {
  std::size_t maxClients = 64;
  std::size_t maxQueuedBytes = 1 << 20;  // per client
  std::chrono::milliseconds heartbeat{15000};
  std::size_t replay = 0;  // the last events a new client gets first
};

class EventStream {
 public:
  explicit EventStream(EventStreamLimits limits = {});
  ~EventStream();  // closes every stream

  // Queues the event for every attached client; drops (ending its stream, with a log line) a
  // client whose backlog would exceed maxQueuedBytes. Never waits for a socket.
  void Publish(std::string_view name, std::string_view json);

  // Makes `response` the stream of a new client (status 200, text/event-stream, chunked);
  // false, leaving `response` untouched, when maxClients are attached already.
  bool Attach(httplib::Response& response);

  // Ends every client's stream (cleanly, with the last chunk) and refuses new ones; for
  // shutdown, before the HTTP server's stop(), which waits for the streams to end.
  void CloseAll();

  // Clients attached and not dropped yet.
  std::size_t ClientCount() const;

 private:
  struct Client;
  struct Shared;  // the lock, the clients and the closed flag; the streams share it
  EventStreamLimits limits_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace VexaHost
