#include "support/tls_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

namespace tarnwick::testing {
namespace {

std::string keptFile(const std::string& name) {
  return std::string(TARNWICK_TLS_FILES) + "/" + name;
}

}  // namespace

TlsServer::TlsServer(const std::filesystem::path& folder, char name) {
  const std::string server = std::string("server-") + name;
  const std::string said = (folder / (server + ".said")).string();
  std::vector<std::string> args = {"openssl",
                                   "s_server",
                                   "-WWW",
                                   "-accept",
                                   "127.0.0.1:0",
                                   "-cert",
                                   keptFile(server + ".pem"),
                                   "-key",
                                   keptFile(server + ".key")};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawn_file_actions_addopen(&actions, 1, said.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawnp(&process_, "openssl", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  // It tells its port once it listens.
  for (int i = 0; i < 500 && port_.empty(); ++i) {
    const std::string text = contentOf(said);
    const std::size_t at = text.find("ACCEPT 127.0.0.1:");
    if (at != std::string::npos && text.find('\n', at) != std::string::npos) {
      port_ = text.substr(at + 17, text.find('\n', at) - at - 17);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
}

TlsServer::~TlsServer() {
  if (process_ <= 0) return;
  kill(process_, SIGTERM);
  waitpid(process_, nullptr, 0);
}

std::string TlsServer::url(const std::string& path) const {
  return "https://127.0.0.1:" + port_ + path;
}

std::string TlsServer::authority(char name) { return keptFile(std::string("ca-") + name + ".pem"); }

}  // namespace tarnwick::testing
