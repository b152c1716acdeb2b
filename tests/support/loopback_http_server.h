#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarnwick::testing {

// One response the server sends for a path. A response with a Content-Length that is sent
// whole keeps its connection for the client's next request; any other closes it.
struct ScriptedResponse {
  int status = 200;
  std::vector<std::string> headers{};  // extra header lines such as "Location: /x"
  std::string body{};
  bool closeDelimited = false;  // no Content-Length: the connection closes after the body
  // Sends only this many bytes of the body (the headers announce all of it), then holds
  // the connection open until the server ends.
  std::optional<std::size_t> cutAt{};
  std::optional<std::string> raw{};  // sent verbatim instead, for malformed replies
  // When set, the body (or `raw`) goes out `dripBytes` at a time, this long apart.
  std::chrono::milliseconds dripInterval{0};
  std::size_t dripBytes = 1;

  static ScriptedResponse ok(std::string body) { return {.body = std::move(body)}; }
  static ScriptedResponse redirect(std::string location) {
    return {.status = 302, .headers = {"Location: " + location}};
  }
};

// What the server saw of one request; absent headers are nullopt.
struct LoggedRequest {
  std::string method{};
  std::string path{};  // the request target as sent, query included
  std::optional<std::string> userAgent{};
  std::optional<std::string> referer{};
  int connection = 0;  // the connections the server accepted, counted from 1
};

// A small threaded HTTP/1.1 server on 127.0.0.1 (never any other address) and an
// ephemeral port, scripted per path. Lookup order for a request: the response set for its
// exact path, then the handler, then 404. Every method is thread-safe; destruction ends
// open connections, cut ones included, promptly.
class LoopbackHttpServer {
 public:
  // Returns the response for a path, or nullopt for 404.
  using Handler = std::function<std::optional<ScriptedResponse>(const std::string& path)>;

  LoopbackHttpServer();  // throws std::system_error when no socket can be bound
  ~LoopbackHttpServer();

  std::uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by `path` (which starts with "/").
  std::string url(const std::string& path) const;

  void setResponse(const std::string& path, ScriptedResponse response);
  // Serves each body with status 200 at its path, such as {"/index.html", "<a href=...>"}.
  void serveFiles(const std::map<std::string, std::string>& files);
  void setHandler(Handler handler);
  std::vector<LoggedRequest> requests() const;

 private:
  struct Connection {
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  void acceptLoop();
  void serve(int socket, int connection);
  bool send(int socket, const ScriptedResponse& response) const;
  ScriptedResponse responseFor(const std::string& path) const;

  int listenSocket_ = -1;
  int wakeEvent_ = -1;  // readable once the server is shutting down
  std::uint16_t port_ = 0;

  mutable std::mutex mutex_;
  std::map<std::string, ScriptedResponse> responses_;
  Handler handler_;
  std::vector<LoggedRequest> log_;
  std::list<Connection> connections_;  // touched by the accept thread only, until it ends
  int accepted_ = 0;                   // likewise
  std::thread acceptThread_;
};

}  // namespace tarnwick::testing
