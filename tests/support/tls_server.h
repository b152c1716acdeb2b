#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace tarnwick::testing {

// openssl's own test server, serving the files of a folder over TLS on 127.0.0.1 with the
// kept test certificate of server `name` ('a' or 'b', signed by authority `name`); it ends
// with the object.
class TlsServer {
 public:
  TlsServer(const std::filesystem::path& folder, char name);
  ~TlsServer();
  TlsServer(const TlsServer&) = delete;
  TlsServer& operator=(const TlsServer&) = delete;

  // "https://127.0.0.1:<port>" followed by `path` (which starts with "/").
  std::string url(const std::string& path) const;
  // The PEM file of authority `name`.
  static std::string authority(char name);

 private:
  pid_t process_ = -1;
  std::string port_;
};

}  // namespace tarnwick::testing
