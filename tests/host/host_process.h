// A vexa-host process started by a test: on a free port, with a data directory of its own (or
// a given one), its standard error kept in a file beside it.
//
//   HostProcess host({"--disabled"});
//   httplib::Client client = host.Client();
//   std::string answer = Call(host, "GET", "/host/v1/health");   // "200 {...}"
//   int status = host.Stop();   // SIGTERM, then the exit status as waitpid tells it
#pragma once

#include <httplib.h>
#include <sys/types.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class HostProcess {
 public:
  // Starts the host with `arguments` and waits for its "listening on" line. An empty
  // `dataDirectory` makes a fresh one, removed with the process object. `confine` runs in the
  // child before the host program starts (limits, capabilities); it may only make system calls.
  explicit HostProcess(std::vector<std::string> arguments = {}, std::string dataDirectory = "",
                       const std::function<void()>& confine = {});
  ~HostProcess();

  httplib::Client Client() const;
  int Port() const { return port_; }
  const std::string& DataDirectory() const { return dataDirectory_; }
  std::string StandardError() const;  // what it wrote so far
  // Sends `signal` and answers the raw wait status.
  int Stop(int signal = 15);

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  bool ownsData_ = false;
  std::string dataDirectory_;
  std::string errorFile_;
};

// The events of GET /events, collected until the host stops.
class EventLog {
 public:
  explicit EventLog(const HostProcess& host);
  // The whole events since the last look as "event: NAME\ndata: JSON" lines, once there are
  // `count` of them (or after five seconds). An unexpected event shows in the next look.
  std::string Take(std::size_t count);
  ~EventLog();  // the host's stop ends the stream

 private:
  std::mutex mutex_;
  std::string text_;
  std::thread reader_;
};

// The raw wait status of `arguments` run to its end, and what it wrote to standard error.
int RunHostToEnd(const std::vector<std::string>& arguments, std::string& standardError);

// "<status> <body>" of a request, or "no answer".
std::string Call(const HostProcess& host, const std::string& method, const std::string& path,
                 const std::string& body = "");

// How often `part` occurs in `text`.
std::size_t Count(const std::string& text, const std::string& part);

// The whereami answer's body: the location in `country` (none when empty), whether it came from
// the service now, and why there is none.
std::string Location(const char* country, bool isLatest, const char* errorMessage = "");
