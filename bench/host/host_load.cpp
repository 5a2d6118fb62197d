// vexa-host-load: a running vexa-host under load over HTTP. Sends whereami and getlocation
// requests (valid addresses, and a few whose documented error answers are checked as closely)
// from a number of connections at once, half of them keeping their connection alive and half
// opening a new one per request, while one /events client reads the plugin's events. The
// login session is signed out and in again every --cycle requests, so that events flow during
// the run: whereami publishes its resource once per session, from the sign-in itself, so the
// requests alone send none.
//
//   vexa-host-load --port 8470 --pid 12345
//   vexa-host-load --port 8470 --pid 12345 --requests 20000 --connections 4
//
// Prints what was sent and answered, the events expected and received, the plugin's live
// allocations before and after (from GET /host/v1/statistics) and the host's resident memory
// after each tenth of the requests, then the bounds; the live allocations must not grow from
// the warm-up to the end of the run (they may end lower, see the bound). Exit status 0 when every
// figure is within its bound, 1 when one is not, 2 for a usage error. A benchmark, not a test:
// scripts/bench-host
// --load starts a fresh host and runs it.
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

constexpr char kWhereAmI[] = "/kor-geoinfo/v1/whereami";
constexpr char kSession[] = R"({"state":"SUCCEEDED","profileId":7,"accountId":9})";
constexpr double kMaxRssDriftPercent = 5;
constexpr auto kEventWait = std::chrono::seconds(10);
constexpr int kEventsPerCycle = 4;       // Delete and Create, each under two names
constexpr long long kSpareContexts = 8;  // emptied value contexts a plugin thread keeps ("+8")

struct Options {
  int port = 0;
  long pid = 0;
  long requests = 100000;
  int connections = 16;
  long cycle = 1000;  // requests between two sign-out/sign-in cycles; 0: none
};

// One kind of request and the answer it must get: a valid address its country, an error its
// documented status, code and message exactly. `weight` is its share of every 20 requests.
struct Case {
  const char* name;
  const char* path;
  int status;
  const char* country;  // of a location; null for an error answer
  const char* errorCode;
  const char* message;
  int weight;
};

constexpr char kNoPlace[] = "contenttargeting.geoinfo.getWhereAmI: no location known for 10.0.0.1";
constexpr char kNoAddress[] = "contenttargeting.geoinfo.getWhereAmI: not an IP address: nowhere";
constexpr Case kCases[] = {
    {"whereami", kWhereAmI, 200, "DE", nullptr, nullptr, 10},
    {"getlocation US", "/kor-geoinfo/v1/getlocation?ip_address=8.8.8.8", 200, "US", nullptr,
     nullptr, 2},
    {"getlocation GB", "/kor-geoinfo/v1/getlocation?ip_address=81.2.69.160", 200, "GB", nullptr,
     nullptr, 2},
    {"getlocation DE", "/kor-geoinfo/v1/getlocation?ip_address=193.99.144.80", 200, "DE", nullptr,
     nullptr, 2},
    {"getlocation v6", "/kor-geoinfo/v1/getlocation?ip_address=2001:4860:4860::8888", 200, "US",
     nullptr, nullptr, 1},
    {"no location", "/kor-geoinfo/v1/getlocation?ip_address=10.0.0.1", 404, nullptr, "NOT_FOUND",
     kNoPlace, 1},
    {"not an address", "/kor-geoinfo/v1/getlocation?ip_address=nowhere", 404, nullptr, "NOT_FOUND",
     kNoAddress, 1},
    {"no ip_address", "/kor-geoinfo/v1/getlocation", 400, nullptr, "BAD_REQUEST",
     "A value for 'ip_address' is required.", 1},
};
constexpr std::size_t kCaseCount = sizeof kCases / sizeof kCases[0];

// Why `answer` is not what `expected` documents; empty when it is.
std::string CheckAnswer(const Case& expected, const httplib::Result& answer) {
  if (!answer) {
    return "transport: " + httplib::to_string(answer.error());
  }
  if (answer->status != expected.status) {
    return "status " + std::to_string(answer->status) + ": " + answer->body.substr(0, 200);
  }
  const json body = json::parse(answer->body, nullptr, false);
  const auto text = [&](const json& object, const char* member) -> std::optional<std::string> {
    const auto found = object.find(member);
    return found != object.end() && found->is_string() ? std::optional(found->get<std::string>())
                                                       : std::nullopt;
  };
  const auto isLocation = [&](const json& location) {
    return location.is_object() && location.size() == 3 &&
           text(location, "country") == expected.country && text(location, "city") &&
           text(location, "region");
  };
  const auto isTrue = [&](const char* member) {
    const auto found = body.find(member);
    return found != body.end() && found->is_boolean() && found->get<bool>();
  };
  bool good = body.is_object();
  if (good && expected.country == nullptr) {
    good = body.size() == 2 && text(body, "errorCode") == expected.errorCode &&
           text(body, "message") == expected.message;
  } else if (good && std::string_view(expected.path) == kWhereAmI) {
    good = body.size() == 4 && isTrue("success") && body.contains("isLatest") &&
           body["isLatest"].is_boolean() && text(body, "errorMessage") == "" &&
           body.contains("geoInfo") && isLocation(body["geoInfo"]);
  } else if (good) {
    good = isLocation(body);
  }
  return good ? "" : "body: " + answer->body.substr(0, 200);
}

// The one /events client: reads the stream on a thread of its own and checks its framing and
// every event's name and payload as it goes.
class EventReader {
 public:
  explicit EventReader(int port) : client_("127.0.0.1", port) {
    client_.set_read_timeout(3600);  // heartbeats come every 15 s; the run ends the stream
    thread_ = std::thread([this] {
      const httplib::Result result = client_.Get("/events", [this](const char* data, size_t size) {
        Take(std::string_view(data, size));
        return true;
      });
      std::lock_guard lock(mutex_);
      ended_ = true;
      if (!stopping_) {
        problems_.push_back("the event stream ended: " +
                            (result ? "status " + std::to_string(result->status)
                                    : httplib::to_string(result.error())));
      }
      changed_.notify_all();
    });
  }
  ~EventReader() { Stop(); }

  // Waits until the stream has begun; false when it ended (or never began) in 10 s.
  bool WaitConnected() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kEventWait, [&] { return connected_ || ended_; }) && connected_;
  }
  // Waits until `count` events have come, or the bound; then a moment longer for any extra.
  void WaitFor(long count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, kEventWait, [&] { return received_ >= count || ended_; });
    changed_.wait_for(lock, std::chrono::milliseconds(200), [&] { return ended_; });
  }
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    client_.stop();
    if (thread_.joinable()) {
      thread_.join();
    }
  }
  long Received() {
    std::lock_guard lock(mutex_);
    return received_;
  }
  std::vector<std::string> Problems() {
    std::lock_guard lock(mutex_);
    return problems_;
  }

 private:
  void Take(std::string_view data) {
    std::lock_guard lock(mutex_);
    connected_ = true;
    pending_.append(data);
    std::size_t at = 0;
    for (std::size_t end; (end = pending_.find('\n', at)) != std::string::npos; at = end + 1) {
      Line(std::string_view(pending_).substr(at, end - at));
    }
    pending_.erase(0, at);
    changed_.notify_all();
  }

  // One line of the stream: a comment, "event: NAME", "data: TEXT" or the blank line that ends
  // an event.
  void Line(std::string_view line) {
    const auto field = [&](std::string_view prefix) {
      return line.substr(0, prefix.size()) == prefix ? std::optional(line.substr(prefix.size()))
                                                     : std::nullopt;
    };
    if (line.empty()) {
      if (name_) {
        Event(*name_, data_);
      }
      name_.reset();
      data_.reset();
    } else if (line.front() == ':' && !name_) {
      // a comment: ": connected", ": heartbeat"
    } else if (const auto name = field("event: "); name && !name_) {
      name_ = std::string(*name);
    } else if (const auto data = field("data: "); data && name_) {
      data_ = data_ ? *data_ + "\n" + std::string(*data) : std::string(*data);
    } else {
      Problem("a line out of place", line);
    }
  }

  void Event(const std::string& name, const std::optional<std::string>& data) {
    ++received_;
    if (name != "OnJsonApiEvent" && name != "OnJsonApiEvent_kor-geoinfo_v1_whereami") {
      return Problem("an unknown event", name);
    }
    const json payload = data ? json::parse(*data, nullptr, false) : json();
    const auto member = [&](const json& object, const char* name) {
      return object.is_object() && object.contains(name) ? object[name] : json();
    };
    const bool framed = payload.size() == 3 && member(payload, "uri") == kWhereAmI;
    const json type = member(payload, "eventType"), location = member(payload, "data");
    const bool good = framed && ((type == "Delete" && location.is_null()) ||
                                 (type == "Create" && member(location, "success") == true &&
                                  member(location, "geoInfo").is_object()));
    if (!good) {
      Problem("a malformed event", name + " " + data.value_or("(no data)"));
    }
  }

  void Problem(const char* what, std::string_view text) {
    problems_.push_back(std::string(what) + ": " + std::string(text.substr(0, 200)));
  }

  httplib::Client client_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string pending_;
  std::optional<std::string> name_, data_;
  long received_ = 0;
  bool connected_ = false, ended_ = false, stopping_ = false;
  std::vector<std::string> problems_;
};

// Sets up a client of the driver: no Nagle delay (a PUT writes its head and body apart, and the
// body would wait for the delayed ACK of the head), keep-alive as asked.
void Configure(httplib::Client& client, bool keepAlive) {
  client.set_tcp_nodelay(true);
  client.set_keep_alive(keepAlive);
}

// Signs out and in again: the plugin sends the whereami resource's Delete and, from the sign-in,
// its Create (kEventsPerCycle events). True when both calls succeeded.
bool CycleSession(httplib::Client& client) {
  const httplib::Result out = client.Delete("/host/v1/session", "", "application/json");
  const httplib::Result in = client.Put("/host/v1/session", kSession, "application/json");
  return out && out->status == 200 && in && in->status == 200;
}

// VmRSS of the process in KiB; 0 when it cannot be read.
long ResidentKiB(long pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      return std::atol(line.c_str() + 6);
    }
  }
  return 0;
}

// The plugin's live allocations and bytes (allocated less freed); nothing when the statistics
// cannot be read.
struct Live {
  long long allocations, bytes;
};
std::optional<Live> LiveAllocations(int port) {
  httplib::Client client("127.0.0.1", port);
  const httplib::Result result = client.Get("/host/v1/statistics");
  const json counters =
      result && result->status == 200 ? json::parse(result->body, nullptr, false) : json();
  if (!counters.is_object()) {
    return std::nullopt;
  }
  return Live{counters.value("allocations", 0LL) - counters.value("frees", 0LL),
              counters.value("bytesAllocated", 0LL) - counters.value("bytesFreed", 0LL)};
}

bool ParseLong(const char* text, long low, long high, long& value) {
  char* end = nullptr;
  value = std::strtol(text, &end, 10);
  return *text != '\0' && *end == '\0' && value >= low && value <= high;
}

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  long port = 0, connections = options.connections;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view flag = argv[i];
    const char* value = argv[i + 1];
    const bool good = flag == "--port"          ? ParseLong(value, 1, 65535, port)
                      : flag == "--pid"         ? ParseLong(value, 1, 1L << 30, options.pid)
                      : flag == "--requests"    ? ParseLong(value, 10, 100000000, options.requests)
                      : flag == "--connections" ? ParseLong(value, 2, 256, connections)
                      : flag == "--cycle"       ? ParseLong(value, 0, 100000000, options.cycle)
                                                : false;
    if (!good) {
      return std::nullopt;
    }
  }
  if (argc % 2 == 0 || port == 0 || options.pid == 0 || options.requests % 10 != 0 ||
      connections % 2 != 0) {
    return std::nullopt;
  }
  options.port = static_cast<int>(port);
  options.connections = static_cast<int>(connections);
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<Options> parsed = ParseOptions(argc, argv);
  if (!parsed) {
    std::fprintf(stderr,
                 "usage: vexa-host-load --port N --pid HOST_PID [--requests N (a multiple of "
                 "10)] [--connections N (even)] [--cycle N]\n");
    return 2;
  }
  const Options& options = *parsed;
  std::vector<std::size_t> mix;  // case indexes, in the order requests take them
  for (std::size_t index = 0; index < kCaseCount; ++index) {
    mix.insert(mix.end(), kCases[index].weight, index);
  }
  std::atomic<long> sentOf[kCaseCount] = {}, errorsOf[kCaseCount] = {};

  EventReader events(options.port);
  if (!events.WaitConnected()) {
    std::fprintf(stderr, "vexa-host-load: no event stream from 127.0.0.1:%d\n", options.port);
    return 1;
  }
  const std::optional<Live> atStart = LiveAllocations(options.port);
  if (!atStart) {
    std::fprintf(stderr, "vexa-host-load: no statistics from 127.0.0.1:%d\n", options.port);
    return 1;
  }
  // The warm-up: each request once and one session cycle, before the starting figure. The
  // plugin keeps the pages its values give back in a bounded reserve, counted as live, which
  // grows to what the requests and events need at once the first time they run.
  std::atomic<long> cycles{0}, otherErrors{0};
  {
    httplib::Client client("127.0.0.1", options.port);
    Configure(client, true);
    for (const Case& c : kCases) {
      otherErrors += !CheckAnswer(c, client.Get(c.path)).empty();
    }
    ++(CycleSession(client) ? cycles : otherErrors);
  }
  const std::optional<Live> before = LiveAllocations(options.port);

  // Half the connections keep theirs alive, half open one per request; each half takes half
  // of the requests, in the order of the mix.
  const long tenth = options.requests / 10;
  std::atomic<long> next[2] = {0, 0}, done{0};
  Clock::time_point finished;
  std::vector<long> resident(10, 0);
  std::mutex errorsMutex;
  std::vector<std::string> errorSamples;
  const auto worker = [&](bool keepAlive) {
    const long share = options.requests / 2;
    std::optional<httplib::Client> kept;
    if (keepAlive) {
      kept.emplace("127.0.0.1", options.port);
      Configure(*kept, true);
    }
    for (long ticket; (ticket = next[keepAlive].fetch_add(1)) < share;) {
      const std::size_t index = mix[ticket % mix.size()];
      const Case& c = kCases[index];
      std::optional<httplib::Client> fresh;
      if (!keepAlive) {
        fresh.emplace("127.0.0.1", options.port);
        Configure(*fresh, false);
      }
      const std::string problem = CheckAnswer(c, (keepAlive ? kept : fresh)->Get(c.path));
      ++sentOf[index];
      if (!problem.empty()) {
        ++errorsOf[index];
        std::lock_guard lock(errorsMutex);
        if (errorSamples.size() < 5) {
          errorSamples.push_back(std::string(c.name) + ": " + problem);
        }
      }
      if (const long count = ++done; count % tenth == 0) {
        resident[count / tenth - 1] = ResidentKiB(options.pid);
        if (count == options.requests) {
          finished = Clock::now();  // read after the join
        }
      }
    }
  };
  // Signs out and in again after every `cycle` requests answered, until the last cycle.
  const auto cycler = [&] {
    httplib::Client client("127.0.0.1", options.port);
    Configure(client, true);
    for (long mark = options.cycle; options.cycle > 0 && mark < options.requests;
         mark += options.cycle) {
      while (done.load() < mark) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      if (done.load() == options.requests) {
        break;  // only cycles during the load count
      }
      ++(CycleSession(client) ? cycles : otherErrors);
    }
  };

  const Clock::time_point start = finished = Clock::now();
  std::vector<std::thread> threads;
  for (int index = 0; index < options.connections; ++index) {
    threads.emplace_back(worker, index % 2 == 0);
  }
  threads.emplace_back(cycler);
  for (std::thread& thread : threads) {
    thread.join();
  }
  const double seconds = std::chrono::duration<double>(finished - start).count();
  const long expectedEvents = kEventsPerCycle * cycles.load();
  events.WaitFor(expectedEvents);
  events.Stop();
  const std::optional<Live> after = LiveAllocations(options.port);
  const long residentEnd = ResidentKiB(options.pid);

  // The table.
  long sent = 0, errors = otherErrors.load();
  std::printf(
      "== vexa-host under load: %ld requests, %d connections (%d keep-alive, %d new per "
      "request), host pid %ld\n",
      options.requests, options.connections, options.connections / 2, options.connections / 2,
      options.pid);
  std::printf("%-16s %9s %7s  %s\n", "request", "sent", "errors", "path");
  for (std::size_t index = 0; index < kCaseCount; ++index) {
    std::printf("%-16s %9ld %7ld  %s\n", kCases[index].name, sentOf[index].load(),
                errorsOf[index].load(), kCases[index].path);
    sent += sentOf[index];
    errors += errorsOf[index];
  }
  std::printf("%-16s %9ld %7ld  (a sign-out and a sign-in each; the first in the warm-up)\n",
              "session cycles", cycles.load(), otherErrors.load());
  for (const std::string& sample : errorSamples) {
    std::printf("  error: %s\n", sample.c_str());
  }
  const std::vector<std::string> eventProblems = events.Problems();
  for (std::size_t index = 0; index < eventProblems.size() && index < 5; ++index) {
    std::printf("  event stream: %s\n", eventProblems[index].c_str());
  }
  std::printf("resident KiB after each %ld:", tenth);
  for (const long kib : resident) {
    std::printf(" %ld", kib);
  }
  std::printf(" (end %ld)\n", residentEnd);

  bool failed = false;
  const auto bound = [&failed](const char* figure, const std::string& value, const char* limit,
                               bool ok) {
    std::printf("%-30s %-36s %-14s %s\n", figure, value.c_str(), limit, ok ? "ok" : "MISSED");
    failed = failed || !ok;
  };
  const long received = events.Received();
  const double drift =
      resident[1] > 0 ? 100.0 * static_cast<double>(resident[9] - resident[1]) / resident[1] : 1e9;
  char driftText[64];
  std::snprintf(driftText, sizeof driftText, "%+.2f %% (%ld -> %ld KiB)", drift, resident[1],
                resident[9]);
  const auto pair = [](long long first, long long second) {
    return std::to_string(first) + " -> " + std::to_string(second);
  };
  std::printf("%-30s %-36s %-14s %s\n", "figure", "measured", "bound", "");
  bound("requests sent", std::to_string(sent), "all", sent == options.requests);
  bound("errors", std::to_string(errors), "0", errors == 0);
  bound("events expected -> received", pair(expectedEvents, received), "equal",
        received == expectedEvents && eventProblems.empty());
  const bool counted = before && after;
  std::printf("%-30s %lld at the host's start, %lld bytes\n", "plugin live allocations",
              atStart->allocations, atStart->bytes);
  // Up to kSpareContexts more, not equal: the plugin thread keeps the value contexts its
  // requests give back, as many as it has had values alive at once (at most 8), and calls that
  // overlap during the run may have more alive at once than the warm-up had. A leak grows with
  // the requests and passes that at once.
  bound("  after warm-up -> after run",
        counted ? pair(before->allocations, after->allocations) : "?", "+8 at most",
        counted && after->allocations <= before->allocations + kSpareContexts);
  std::printf("%-30s %-36s\n", "  their bytes",
              counted ? pair(before->bytes, after->bytes).c_str() : "?");
  bound("resident, 2nd -> 10th tenth", driftText, "within 5 %",
        std::abs(drift) <= kMaxRssDriftPercent);
  std::printf("%-30s %.0f (%.1f s)\n", "requests/s", static_cast<double>(sent) / seconds, seconds);
  return failed ? 1 : 0;
}
