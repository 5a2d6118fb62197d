#include "event_stream.h"

#include <httplib.h>
#if defined(_WIN32)
// httplib.h brings in windows.h, whose Yield macro would rename the host API's Yield entry.
#undef Yield
#endif

#include <condition_variable>
#include <list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "log.h"

namespace VexaHost {

struct EventStream::Client {
  std::condition_variable wake;
  std::string pending;  // whole frames not yet handed to the socket
  bool greeted = false;
  bool dropped = false;  // fell behind; its stream ends without the last chunk
};

struct EventStream::Shared {
  std::mutex mutex;
  std::list<std::shared_ptr<Client>> clients;
  // The last limits.replay frames, a ring whose oldest is at recentStart; a frame's text is
  // written over the oldest's, which keeps its buffer.
  std::vector<std::string> recent;
  std::size_t recentStart = 0;
  std::string scratch;  // the frame being sent, without replay
  bool closed = false;
};

namespace {

// Appends "field: line\n" for each line of `text` (CR, LF and CRLF each end one), so that no
// text can end the event early or start a field of its own.
void AppendField(std::string& out, std::string_view field, std::string_view text) {
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find_first_of("\r\n", start);
    out.append(field).append(": ").append(text.substr(start, end - start)).push_back('\n');
    if (end == std::string_view::npos) {
      return;
    }
    start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
}

// Writes the frame of one event over `frame`: its name, without line breaks, and its data.
void WriteFrame(std::string& frame, std::string_view name, std::string_view json) {
  frame.clear();
  frame.append("event: ");
  for (const char c : name) {
    if (c != '\r' && c != '\n') {
      frame.push_back(c);
    }
  }
  frame.push_back('\n');
  AppendField(frame, "data", json);
  frame.push_back('\n');
}

}  // namespace

EventStream::EventStream(EventStreamLimits limits)
    : limits_(limits), shared_(std::make_shared<Shared>()) {}

EventStream::~EventStream() {
  CloseAll();
}

void EventStream::Publish(std::string_view name, std::string_view json) {
  std::size_t dropped = 0;
  {
    // The frame is written into a buffer kept for it under the lock: publishing (three log
    // records per request) allocates nothing once the ring is full.
    std::lock_guard lock(shared_->mutex);
    std::string* frame = &shared_->scratch;
    if (limits_.replay > 0 && shared_->recent.size() < limits_.replay) {
      frame = &shared_->recent.emplace_back();
    } else if (limits_.replay > 0) {
      frame = &shared_->recent[shared_->recentStart];
      shared_->recentStart = (shared_->recentStart + 1) % limits_.replay;
    }
    WriteFrame(*frame, name, json);
    for (auto it = shared_->clients.begin(); it != shared_->clients.end();) {
      Client& client = **it;
      // An empty queue takes any one event, so that a single large event cannot drop every
      // client; a backlog is what marks a client that does not read.
      if (!client.pending.empty() &&
          client.pending.size() + frame->size() > limits_.maxQueuedBytes) {
        client.dropped = true;
        std::string().swap(client.pending);
        client.wake.notify_one();
        it = shared_->clients.erase(it);
        ++dropped;
        continue;
      }
      client.pending += *frame;
      client.wake.notify_one();
      ++it;
    }
  }
  if (dropped > 0) {
    HostLog(LogLevel::Warn, "events: dropped " + std::to_string(dropped) + " client(s) more than " +
                                std::to_string(limits_.maxQueuedBytes) + " bytes behind");
  }
}

bool EventStream::Attach(httplib::Response& response) {
  auto client = std::make_shared<Client>();
  {
    std::lock_guard lock(shared_->mutex);
    if (shared_->closed || shared_->clients.size() >= limits_.maxClients) {
      return false;
    }
    const std::size_t count = shared_->recent.size();
    for (std::size_t index = 0; index < count; ++index) {
      client->pending += shared_->recent[(shared_->recentStart + index) % count];
    }
    shared_->clients.push_back(client);
  }
  response.status = 200;
  response.set_header("Cache-Control", "no-cache");
  // The provider runs on the HTTP worker again and again until it returns false or calls
  // done(); each call waits for one batch of frames (or the heartbeat) and writes it.
  auto provider = [shared = shared_, client, heartbeat = limits_.heartbeat](
                      std::size_t, httplib::DataSink& sink) {
    std::string out;
    {
      std::unique_lock lock(shared->mutex);
      if (!client->greeted) {
        client->greeted = true;
        out = ": connected\n\n";
      } else {
        const bool woken = client->wake.wait_for(lock, heartbeat, [&] {
          return client->dropped || shared->closed || !client->pending.empty();
        });
        if (client->dropped) {
          return false;
        }
        if (shared->closed) {
          lock.unlock();
          sink.done();
          return true;
        }
        if (woken) {
          out.swap(client->pending);
        } else {
          out = ": heartbeat\n\n";
        }
      }
    }
    return sink.is_writable() && sink.write(out.data(), out.size());
  };
  auto releaser = [shared = shared_, client](bool) {
    std::lock_guard lock(shared->mutex);
    shared->clients.remove(client);
  };
  response.set_chunked_content_provider("text/event-stream", std::move(provider),
                                        std::move(releaser));
  return true;
}

void EventStream::CloseAll() {
  std::lock_guard lock(shared_->mutex);
  shared_->closed = true;
  for (const auto& client : shared_->clients) {
    client->wake.notify_one();
  }
  shared_->clients.clear();
}

std::size_t EventStream::ClientCount() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->clients.size();
}

}  // namespace VexaHost
