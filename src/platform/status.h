#pragma once

#include <string>
#include <utility>

namespace tarnwick {

// The outcome of a call across a platform boundary: ok, or a failure of one kind with its
// reason. The reason is code page 932 text: the system's or libcurl's English words with the
// names they concern, or, for a fatal end, the message the user is shown.
class Status {
 public:
  enum class Kind {
    Ok,
    Network,  // the server could not be reached or its answer broke off: worth another try
    Refused,  // the URL or the server's answer rules the request out: no point trying again
    Aborted,  // the owner asked for the transfer to end
    Local,    // the local file system refused: disk full, permission, a link, a name
    Fatal,    // the download folder itself cannot be used: the whole program must end
  };

  Status() = default;
  static Status ok() { return {}; }
  static Status network(std::string reason) { return {Kind::Network, std::move(reason)}; }
  static Status refused(std::string reason) { return {Kind::Refused, std::move(reason)}; }
  static Status aborted() { return {Kind::Aborted, "transfer aborted"}; }
  static Status local(std::string reason) { return {Kind::Local, std::move(reason)}; }
  static Status fatal(std::string reason) { return {Kind::Fatal, std::move(reason)}; }

  bool isOk() const { return kind_ == Kind::Ok; }
  Kind kind() const { return kind_; }
  const std::string& reason() const { return reason_; }

 private:
  Status(Kind kind, std::string reason) : kind_(kind), reason_(std::move(reason)) {}

  Kind kind_ = Kind::Ok;
  std::string reason_;
};

}  // namespace tarnwick
