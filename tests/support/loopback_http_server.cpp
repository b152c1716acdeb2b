#include "support/loopback_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <sstream>
#include <string_view>
#include <system_error>

namespace tarnwick::testing {
namespace {

constexpr int kIdleClientMs = 10000;  // a client that does nothing for this long is dropped
constexpr auto kLongestHold = std::chrono::seconds(60);  // of a cut response's connection

// Waits until `socket` is ready for `events`; false on error, timeout or server shutdown.
bool waitReady(int socket, short events, int wakeEvent, int timeoutMs = kIdleClientMs) {
  pollfd fds[2] = {{socket, events, 0}, {wakeEvent, POLLIN, 0}};
  int ready = 0;
  while ((ready = poll(fds, 2, timeoutMs)) < 0 && errno == EINTR) {
  }
  return ready > 0 && fds[1].revents == 0 && fds[0].revents != 0;
}

// Waits `duration`; true when the server began shutting down meanwhile.
bool shutDownWithin(std::chrono::milliseconds duration, int wakeEvent) {
  pollfd wake = {wakeEvent, POLLIN, 0};
  return poll(&wake, 1, static_cast<int>(duration.count())) != 0;
}

bool sendAll(int socket, std::string_view data, int wakeEvent) {
  while (!data.empty()) {
    const ssize_t sent = ::send(socket, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      data.remove_prefix(static_cast<std::size_t>(sent));
    } else if ((sent < 0 && errno != EAGAIN && errno != EINTR) ||
               !waitReady(socket, POLLOUT, wakeEvent)) {
      return false;
    }
  }
  return true;
}

// Reads up to the blank line that ends the request head; empty when the client gave up.
std::string receiveRequestHead(int socket, int wakeEvent) {
  std::string head;
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    char buffer[4096];
    const ssize_t received =
        waitReady(socket, POLLIN, wakeEvent) ? recv(socket, buffer, sizeof buffer, 0) : 0;
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

bool keepsConnection(const ScriptedResponse& response) {
  return !response.closeDelimited && !response.cutAt && !response.raw;
}

std::string responseHead(const ScriptedResponse& response) {
  // Clients read the status code only, so one reason phrase fits every status.
  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " Scripted\r\n";
  if (!keepsConnection(response)) head += "Connection: close\r\n";
  if (!response.closeDelimited) {
    head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
  }
  for (const std::string& line : response.headers) head += line + "\r\n";
  return head + "\r\n";
}

}  // namespace

LoopbackHttpServer::LoopbackHttpServer()
    : listenSocket_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)),
      wakeEvent_(eventfd(0, EFD_CLOEXEC)) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  auto* generic = reinterpret_cast<sockaddr*>(&address);
  if (listenSocket_ < 0 || wakeEvent_ < 0 || bind(listenSocket_, generic, length) != 0 ||
      listen(listenSocket_, 64) != 0 || getsockname(listenSocket_, generic, &length) != 0) {
    const int error = errno;
    close(listenSocket_);
    close(wakeEvent_);
    throw std::system_error(error, std::generic_category(), "listening on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t ignored = write(wakeEvent_, &one, sizeof one);
  acceptThread_.join();
  for (Connection& connection : connections_) connection.thread.join();
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

std::vector<LoggedRequest> LoopbackHttpServer::requests() const {
  std::lock_guard lock(mutex_);
  return log_;
}

void LoopbackHttpServer::acceptLoop() {
  while (waitReady(listenSocket_, POLLIN, wakeEvent_, -1)) {
    const int client = accept4(listenSocket_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0) continue;
    // A head and a body sent apart on a kept connection would wait out the client's delayed
    // acknowledgement.
    const int noDelay = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    connections_.remove_if([](Connection& connection) {
      const bool finished = connection.finished;
      if (finished) connection.thread.join();
      return finished;
    });
    Connection& connection = connections_.emplace_back();
    connection.thread = std::thread([this, client, &connection, number = ++accepted_] {
      serve(client, number);
      close(client);
      connection.finished = true;
    });
  }
}

void LoopbackHttpServer::serve(int socket, int connection) {
  for (;;) {
    const std::string head = receiveRequestHead(socket, wakeEvent_);
    if (head.empty()) return;
    LoggedRequest request{.userAgent = headerValue(head, "user-agent"),
                          .referer = headerValue(head, "referer"),
                          .connection = connection};
    std::istringstream(head) >> request.method >> request.path;
    {
      std::lock_guard lock(mutex_);
      log_.push_back(request);
    }
    const ScriptedResponse response = responseFor(request.path);
    const bool sent = send(socket, response);
    if (sent && keepsConnection(response)) continue;
    if (sent && response.cutAt) shutDownWithin(kLongestHold, wakeEvent_);
    shutdown(socket, SHUT_WR);
    return;
  }
}

// Sends the reply as scripted: whole, cut or dripped. False when the client went away.
bool LoopbackHttpServer::send(int socket, const ScriptedResponse& response) const {
  if (!response.raw && !sendAll(socket, responseHead(response), wakeEvent_)) return false;
  std::string_view body = response.raw ? *response.raw : response.body;
  body = body.substr(0, response.cutAt.value_or(body.size()));
  if (response.dripInterval.count() == 0) return sendAll(socket, body, wakeEvent_);
  for (; !body.empty(); body.remove_prefix(std::min(response.dripBytes, body.size()))) {
    if (!sendAll(socket, body.substr(0, response.dripBytes), wakeEvent_) ||
        shutDownWithin(response.dripInterval, wakeEvent_)) {
      return false;
    }
  }
  return true;
}

ScriptedResponse LoopbackHttpServer::responseFor(const std::string& path) const {
  std::unique_lock lock(mutex_);
  if (auto scripted = responses_.find(path); scripted != responses_.end()) return scripted->second;
  const Handler handler = handler_;
  lock.unlock();
  const std::optional<ScriptedResponse> generated = handler ? handler(path) : std::nullopt;
  return generated.value_or(ScriptedResponse{.status = 404, .body = "not found"});
}

}  // namespace tarnwick::testing
