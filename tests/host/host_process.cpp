#include "host_process.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

// Starts the host with its standard output on a pipe (when `output` is given) and its standard
// error in `errorFile`.
pid_t Spawn(const std::vector<std::string>& arguments, const std::string& errorFile, int* output,
            const std::function<void()>& confine = {}) {
  int pipeEnds[2] = {-1, -1};
  if (output != nullptr && pipe(pipeEnds) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // a test that dies takes its host with it
    const int error = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(error, 2);
    if (output != nullptr) {
      dup2(pipeEnds[1], 1);
      close(pipeEnds[0]);
    }
    if (confine) {
      confine();
    }
    std::vector<char*> argv{const_cast<char*>(VEXA_HOST_BINARY)};
    for (const std::string& argument : arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (output != nullptr) {
    close(pipeEnds[1]);
    *output = pipeEnds[0];
  }
  return pid;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

HostProcess::HostProcess(std::vector<std::string> arguments, std::string dataDirectory,
                         const std::function<void()>& confine)
    : dataDirectory_(std::move(dataDirectory)) {
  if (dataDirectory_.empty()) {
    char folder[] = "/tmp/vexa-host-test-XXXXXX";
    dataDirectory_ = mkdtemp(folder);
    ownsData_ = true;
  }
  errorFile_ = dataDirectory_ + ".stderr";
  arguments.insert(arguments.end(), {"--port", "0", "--data-dir", dataDirectory_});
  int output = -1;
  pid_ = Spawn(arguments, errorFile_, &output, confine);
  // The start-up lines, until the one with the port (or the end of the output).
  FILE* lines = fdopen(output, "r");
  char line[512];
  while (port_ == 0 && std::fgets(line, sizeof line, lines) != nullptr) {
    std::sscanf(line, "listening on http://127.0.0.1:%d", &port_);
  }
  // The rest of the output is not read: the host writes nothing more to it.
  fclose(lines);
  if (port_ == 0) {
    throw std::runtime_error("vexa-host did not start: " + StandardError());
  }
}

HostProcess::~HostProcess() {
  if (pid_ > 0) {
    Stop(SIGKILL);
  }
  std::filesystem::remove(errorFile_);
  if (ownsData_) {
    std::filesystem::remove_all(dataDirectory_);
  }
}

httplib::Client HostProcess::Client() const {
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(30, 0);
  return client;
}

std::string HostProcess::StandardError() const {
  return ReadFile(errorFile_);
}

int HostProcess::Stop(int signal) {
  int status = 0;
  kill(pid_, signal);
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return status;
}

int RunHostToEnd(const std::vector<std::string>& arguments, std::string& standardError) {
  const std::string errorFile = std::filesystem::temp_directory_path() /
                                ("vexa-host-run-" + std::to_string(getpid()) + ".stderr");
  int status = 0;
  waitpid(Spawn(arguments, errorFile, nullptr), &status, 0);
  standardError = ReadFile(errorFile);
  std::filesystem::remove(errorFile);
  return status;
}

std::string Call(const HostProcess& host, const std::string& method, const std::string& path,
                 const std::string& body) {
  httplib::Client client = host.Client();
  httplib::Result result =
      method == "GET"      ? client.Get(path.c_str())
      : method == "PUT"    ? client.Put(path.c_str(), body, "application/json")
      : method == "PATCH"  ? client.Patch(path.c_str(), body, "application/json")
      : method == "DELETE" ? client.Delete(path.c_str(), body, "application/json")
                           : client.Post(path.c_str(), body, "application/json");
  return result ? std::to_string(result->status) + " " + result->body : "no answer";
}

std::string Location(const char* country, bool isLatest, const char* errorMessage) {
  return std::string("{\"errorMessage\":\"") + errorMessage + "\",\"geoInfo\":{\"city\":\"\"," +
         "\"country\":\"" + country +
         "\",\"region\":\"\"},\"isLatest\":" + (isLatest ? "true" : "false") +
         ",\"success\":" + (*country != 0 ? "true" : "false") + "}";
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

EventLog::EventLog(const HostProcess& host)
    : reader_([this, client = host.Client()]() mutable {
        client.Get("/events", [this](const char* data, size_t size) {
          std::lock_guard lock(mutex_);
          text_.append(data, size);
          return true;
        });
      }) {
  Take(0);  // the stream's first line comes at once; events published before it would be missed
}

std::string EventLog::Take(std::size_t count) {
  std::string events;
  for (int wait = 0; wait < 2500; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::lock_guard lock(mutex_);
    const std::size_t end = text_.rfind("\n\n");
    if (end != std::string::npos && (Count(text_.substr(0, end), "\ndata: ") >= count)) {
      for (std::size_t at = 0, next; at < end; at = next + 1) {
        next = text_.find('\n', at);
        events += text_[at] != ':' && next != at ? text_.substr(at, next - at + 1) : "";
      }
      text_.erase(0, end + 2);
      break;
    }
  }
  return events;
}

EventLog::~EventLog() {
  reader_.join();
}
