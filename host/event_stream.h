// The plugin's events as Server-Sent Events, for any number of HTTP clients of GET /events:
//
//   event: OnJsonApiEvent_kor-geoinfo_v1_whereami
//   data: {"data":{...},"eventType":"Create","uri":"/kor-geoinfo/v1/whereami"}
//
// and a comment line (": heartbeat") whenever a client has had nothing for a while, so that
// proxies and clients see the stream alive. Publishing never waits for a client: each client
// has a bounded queue, and a client that falls behind by more than that is dropped (its
// stream ends) rather than slowing the plugin down.
//
// Threading: Publish and CloseAll from any thread (Publish runs on the plugin thread); each
// attached client is served by the HTTP worker thread that attached it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace httplib {
struct Response;
}

namespace VexaHost {

struct EventStreamLimits {
  std::size_t maxClients = 64;
  std::size_t maxQueuedBytes = 1 << 20;  // per client
  std::chrono::milliseconds heartbeat{15000};
};

class EventStream {
 public:
  explicit EventStream(EventStreamLimits limits = {});
  ~EventStream();  // closes every stream

  // Queues the event for every attached client.
  void Publish(std::string_view name, std::string_view json);

  // Makes `response` the stream of a new client (status 200, text/event-stream, chunked);
  // false, leaving `response` untouched, when maxClients are attached already.
  bool Attach(httplib::Response& response);

  // Ends every client's stream and refuses new ones; for shutdown.
  void CloseAll();

  std::size_t ClientCount() const;

 private:
  struct Client;
  EventStreamLimits limits_;
  mutable std::mutex mutex_;
  std::list<std::shared_ptr<Client>> clients_;
  bool closed_ = false;
};

}  // namespace VexaHost
