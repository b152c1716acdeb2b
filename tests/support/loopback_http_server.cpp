#include "support/loopback_http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <sstream>
#include <string_view>
#include <system_error>

namespace tarnwick::testing {
namespace {

constexpr std::size_t kMaxRequestHeadBytes = 64 * 1024;
constexpr int kIdleClientMs = 10000;  // a client that sends nothing for this long is dropped
constexpr auto kLongestStall = std::chrono::seconds(60);

[[noreturn]] void throwSystemError(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// Waits until `socket` is ready for `events` or the server wakes everyone to shut down.
bool waitReady(int socket, short events, int wakeEvent, int timeoutMs) {
  pollfd fds[2] = {{socket, events, 0}, {wakeEvent, POLLIN, 0}};
  for (;;) {
    const int ready = poll(fds, 2, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0 && fds[1].revents == 0 && fds[0].revents != 0;
  }
}

bool sendAll(int socket, std::string_view data, int wakeEvent) {
  while (!data.empty()) {
    const ssize_t sent = send(socket, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      data.remove_prefix(static_cast<std::size_t>(sent));
    } else if (sent < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    } else if (!waitReady(socket, POLLOUT, wakeEvent, kIdleClientMs)) {
      return false;
    }
  }
  return true;
}

// Reads up to the blank line that ends the request head; empty when the client gave up.
std::string receiveRequestHead(int socket, int wakeEvent) {
  std::string head;
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxRequestHeadBytes) {
    if (!waitReady(socket, POLLIN, wakeEvent, kIdleClientMs)) return {};
    char buffer[4096];
    const ssize_t received = recv(socket, buffer, sizeof buffer, 0);
    if (received == 0 || (received < 0 && errno != EAGAIN && errno != EINTR)) return {};
    if (received > 0) head.append(buffer, static_cast<std::size_t>(received));
  }
  return head;
}

// The value of the header called `name` (lower case), or nullopt when the head has none.
std::optional<std::string> headerValue(const std::string& head, const std::string& name) {
  std::string lower = head;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t at = lower.find("\r\n" + name + ":");
  if (at == std::string::npos) return std::nullopt;
  const std::size_t start = head.find_first_not_of(" \t", at + name.size() + 3);
  return head.substr(start, head.find("\r\n", start) - start);
}

LoggedRequest parseRequestHead(const std::string& head) {
  LoggedRequest request;
  std::istringstream(head) >> request.method >> request.path;
  request.userAgent = headerValue(head, "user-agent");
  request.referer = headerValue(head, "referer");
  return request;
}

// Sends `pattern` over and over until `length` bytes are out, one block at a time.
bool sendRepeated(int socket, const std::string& pattern, std::uint64_t length, int wakeEvent) {
  std::string block;
  while (!pattern.empty() && block.size() < 64 * 1024) block += pattern;
  for (std::uint64_t sent = 0; sent < length && !block.empty();) {
    const std::size_t size =
        static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), length - sent));
    if (!sendAll(socket, std::string_view(block).substr(0, size), wakeEvent)) return false;
    sent += size;
  }
  return true;
}

std::string responseHead(const ScriptedResponse& response) {
  // Clients read the status code only, so one reason phrase fits every status.
  std::string head =
      "HTTP/1.1 " + std::to_string(response.status) + " Scripted\r\nConnection: close\r\n";
  if (response.repeatedLength) {
    head += "Content-Length: " + std::to_string(*response.repeatedLength) + "\r\n";
  } else if (response.framing == BodyFraming::ContentLength) {
    head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
  }
  for (const std::string& line : response.headers) head += line + "\r\n";
  return head + "\r\n";
}

}  // namespace

ScriptedResponse ScriptedResponse::ok(std::string body, BodyFraming framing) {
  ScriptedResponse response;
  response.body = std::move(body);
  response.framing = framing;
  return response;
}

ScriptedResponse ScriptedResponse::withStatus(int status, std::string body) {
  ScriptedResponse response = ok(std::move(body));
  response.status = status;
  return response;
}

ScriptedResponse ScriptedResponse::redirect(std::string location, int status) {
  ScriptedResponse response = withStatus(status);
  response.headers.push_back("Location: " + location);
  return response;
}

ScriptedResponse ScriptedResponse::cutOff(std::string body, std::size_t bytesSent) {
  ScriptedResponse response = ok(std::move(body));
  response.truncation = Truncation{bytesSent, false};
  return response;
}

ScriptedResponse ScriptedResponse::stalled(std::string body, std::size_t bytesSent) {
  ScriptedResponse response = cutOff(std::move(body), bytesSent);
  response.truncation->stall = true;
  return response;
}

ScriptedResponse ScriptedResponse::rawReply(std::string bytes) {
  ScriptedResponse response;
  response.raw = std::move(bytes);
  return response;
}

ScriptedResponse ScriptedResponse::repeated(std::string pattern, std::uint64_t length) {
  ScriptedResponse response = ok(std::move(pattern));
  response.repeatedLength = length;
  return response;
}

struct LoopbackHttpServer::Connection {
  std::thread thread;
  std::atomic<bool> finished{false};
};

LoopbackHttpServer::LoopbackHttpServer() {
  wakeEvent_ = eventfd(0, EFD_CLOEXEC);
  if (wakeEvent_ < 0) throwSystemError("eventfd");
  listenSocket_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listenSocket_ < 0) throwSystemError("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (bind(listenSocket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listenSocket_, 64) != 0 ||
      getsockname(listenSocket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const int error = errno;
    close(listenSocket_);
    close(wakeEvent_);
    errno = error;
    throwSystemError("bind 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stallReleased_.notify_all();
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t ignored = write(wakeEvent_, &one, sizeof one);
  acceptThread_.join();
  for (const auto& connection : connections_) connection->thread.join();
  close(listenSocket_);
  close(wakeEvent_);
}

std::string LoopbackHttpServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackHttpServer::setResponse(const std::string& path, ScriptedResponse response) {
  std::lock_guard lock(mutex_);
  responses_[path] = std::move(response);
}

void LoopbackHttpServer::serveFiles(const std::map<std::string, std::string>& files) {
  for (const auto& [path, body] : files) setResponse(path, ScriptedResponse::ok(body));
}

void LoopbackHttpServer::setHandler(Handler handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

void LoopbackHttpServer::releaseStalledResponses() {
  {
    std::lock_guard lock(mutex_);
    ++stallGeneration_;
  }
  stallReleased_.notify_all();
}

std::vector<LoggedRequest> LoopbackHttpServer::requests() const {
  std::lock_guard lock(mutex_);
  return log_;
}

void LoopbackHttpServer::acceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenSocket_, POLLIN, 0}, {wakeEvent_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents != 0) return;
    const int client = accept4(listenSocket_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0) continue;
    reapFinishedConnections();
    auto connection = std::make_unique<Connection>();
    Connection* raw = connection.get();
    connections_.push_back(std::move(connection));
    raw->thread = std::thread([this, client, raw] {
      serve(client);
      close(client);
      raw->finished = true;
    });
  }
}

// Only the accept thread touches the list, so finished threads can be joined here.
void LoopbackHttpServer::reapFinishedConnections() {
  connections_.remove_if([](const std::unique_ptr<Connection>& connection) {
    if (!connection->finished) return false;
    connection->thread.join();
    return true;
  });
}

void LoopbackHttpServer::serve(int socket) {
  const std::string head = receiveRequestHead(socket, wakeEvent_);
  if (head.empty()) return;
  const LoggedRequest request = parseRequestHead(head);
  {
    std::lock_guard lock(mutex_);
    log_.push_back(request);
  }
  const ScriptedResponse response = responseFor(request.path);
  if (response.raw) {
    sendAll(socket, *response.raw, wakeEvent_);
    return;
  }
  if (!sendAll(socket, responseHead(response), wakeEvent_)) return;
  if (response.repeatedLength) {
    sendRepeated(socket, response.body, *response.repeatedLength, wakeEvent_);
    shutdown(socket, SHUT_WR);
    return;
  }
  std::string_view body = response.body;
  if (response.truncation) body = body.substr(0, response.truncation->bytes);
  if (!sendAll(socket, body, wakeEvent_)) return;
  if (response.truncation && response.truncation->stall) holdStall();
  shutdown(socket, SHUT_WR);
}

ScriptedResponse LoopbackHttpServer::responseFor(const std::string& path) const {
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    const auto scripted = responses_.find(path);
    if (scripted != responses_.end()) return scripted->second;
    handler = handler_;
  }
  if (handler) {
    if (auto generated = handler(path)) return *generated;
  }
  return ScriptedResponse::withStatus(404, "not found");
}

void LoopbackHttpServer::holdStall() {
  std::unique_lock lock(mutex_);
  const std::uint64_t generation = stallGeneration_;
  stallReleased_.wait_for(lock, kLongestStall,
                          [&] { return stopping_ || stallGeneration_ != generation; });
}

}  // namespace tarnwick::testing
