#include "event_stream.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <list>
#include <thread>

namespace VexaHost {
namespace {

using namespace std::chrono_literals;

// Polls `ready` for a generous while: arrival is waited for, speed is not judged.
bool Eventually(const std::function<bool()>& ready) {
  for (int i = 0; i < 10000 && !ready(); ++i) {
    std::this_thread::sleep_for(1ms);
  }
  return ready();
}

// One GET /events client on a thread of its own, keeping what arrives.
struct Reader {
  std::mutex mutex;
  std::string text;
  std::atomic<int> status = 0;  // 0 while the stream lasts, -1 when it broke off or was left
  std::jthread thread;
  std::string Tail(std::size_t size) {
    std::lock_guard lock(mutex);
    return text.substr(text.size() - std::min(size, text.size()));
  }
};

class EventStreamTest : public ::testing::Test {
 protected:
  void Start(EventStreamLimits limits) {
    stream_ = std::make_unique<EventStream>(limits);
    server_.Get("/events", [this](const httplib::Request&, httplib::Response& response) {
      if (!stream_->Attach(response)) {
        response.status = 503;
      }
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    listener_ = std::jthread([this] { server_.listen_after_bind(); });
  }
  void TearDown() override {
    stream_->CloseAll();
    server_.stop();  // returns only once every stream has ended
  }
  // Starts a client, which hangs up once its text holds `leaveOn` (when given).
  Reader& Read(const std::string& leaveOn = {}) {
    Reader& reader = readers_.emplace_back();
    reader.thread = std::jthread([this, &reader, leaveOn] {
      httplib::Client client("127.0.0.1", port_);
      client.set_read_timeout(60s);
      auto result = client.Get("/events", [&](const char* data, std::size_t size) {
        std::lock_guard lock(reader.mutex);
        return reader.text.append(data, size).find(leaveOn) == std::string::npos || leaveOn.empty();
      });
      reader.status = result ? result->status : -1;
    });
    return reader;
  }
  int RequestStatus() {
    auto result = httplib::Client("127.0.0.1", port_).Get("/events");
    return result ? result->status : -1;
  }

  httplib::Server server_;
  std::unique_ptr<EventStream> stream_;
  std::jthread listener_;
  std::list<Reader> readers_;  // joined before the listener
  int port_ = 0;
};

TEST_F(EventStreamTest, ClientsUpToTheLimitReceiveEveryEventUntilCloseAll) {
  Start({.maxClients = 2, .heartbeat = 1h});
  Reader& first = Read();
  Reader& second = Read();
  ASSERT_TRUE(Eventually([&] { return stream_->ClientCount() == 2; }));
  EXPECT_EQ(RequestStatus(), 503);
  stream_->Publish("OnA", R"({"n":1})");
  stream_->Publish("On\nB", "one\ntwo\r\nthree\rfour");
  const std::string expected =
      ": connected\n\nevent: OnA\ndata: {\"n\":1}\n\n"
      "event: OnB\ndata: one\ndata: two\ndata: three\ndata: four\n\n";
  for (Reader* reader : {&first, &second}) {
    EXPECT_TRUE(Eventually([&] { return reader->Tail(1000) == expected; })) << reader->Tail(1000);
  }
  stream_->CloseAll();
  // Both streams end with the last chunk, as complete responses.
  EXPECT_TRUE(Eventually([&] { return first.status == 200 && second.status == 200; }));
  EXPECT_EQ(RequestStatus(), 503);
}

// A stream that keeps a backlog greets each new client with its last events, oldest first.
TEST_F(EventStreamTest, ANewClientGetsTheBacklogFirst) {
  Start({.heartbeat = 1h, .replay = 2});
  for (const char* name : {"OnOne", "OnTwo", "OnThree"}) {
    stream_->Publish(name, "{}");
  }
  Reader& reader = Read();
  const std::string backlog =
      ": connected\n\nevent: OnTwo\ndata: {}\n\nevent: OnThree\ndata: {}\n\n";
  EXPECT_TRUE(Eventually([&] { return reader.Tail(1000) == backlog; })) << reader.Tail(1000);
  stream_->Publish("OnFour", "{}");
  EXPECT_TRUE(Eventually([&] {
    return reader.Tail(1000) == backlog + "event: OnFour\ndata: {}\n\n";
  })) << reader.Tail(1000);
}

TEST_F(EventStreamTest, SilenceSendsHeartbeatsAndALeavingClientIsReleased) {
  Start({.heartbeat = 20ms});
  Reader& reader = Read(": connected\n\n: heartbeat\n\n");
  ASSERT_TRUE(Eventually([&] { return reader.status != 0; }));
  EXPECT_TRUE(reader.Tail(1000).starts_with(": connected\n\n: heartbeat\n\n"));
  EXPECT_TRUE(Eventually([&] {
    return stream_->ClientCount() == 0;
  }));  // the reader hung up; a heartbeat's failed write noticed it
}

TEST_F(EventStreamTest, AClientThatNeverReadsIsDroppedWhileOthersKeepUp) {
  Start({.maxQueuedBytes = 4096, .heartbeat = 1h});
  const int stalled = socket(AF_INET, SOCK_STREAM, 0);
  const int small = 4096;
  setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  const sockaddr_in address{
      AF_INET, htons(static_cast<uint16_t>(port_)), {htonl(INADDR_LOOPBACK)}, {}};
  ASSERT_EQ(connect(stalled, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const std::string request = "GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  send(stalled, request.data(), request.size(), 0);
  Reader& reader = Read();
  ASSERT_TRUE(Eventually([&] { return stream_->ClientCount() == 2; }));
  // The first event is larger than the limit: a client with an empty queue still takes it.
  const std::string payload(3000, 'x');
  for (int i = 0; i < 5000 && stream_->ClientCount() == 2; ++i) {
    const std::string frame =
        "data: " + std::to_string(i) + (i == 0 ? payload + payload : payload) + "\n\n";
    stream_->Publish("OnTick", frame.substr(6, frame.size() - 8));
    ASSERT_TRUE(Eventually([&] { return reader.Tail(frame.size()) == frame; })) << i;
  }
  EXPECT_EQ(stream_->ClientCount(), 1u);
  close(stalled);
}

}  // namespace
}  // namespace VexaHost
