#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ahead_budget.h"
#include "platform/http_client.h"
#include "platform/status.h"
#include "text/byte_string.h"

namespace tarnwick {

// The response of one attempt as it arrives, kept in memory until the worker takes it up
// between pumps: no file is touched from inside the HTTP client. A page keeps its text; a
// file keeps the body bytes not yet written, up to kHeldFileBytes, after which it holds
// the transfer until they are taken. Memory is charged to the entry first; a transfer ahead
// that finds no room waits. Worker thread only.
class ResponseCapture final : public HttpReceiver {
 public:
  enum class Kind { Page, File };
  static constexpr std::size_t kMaxPageText = std::size_t{64} << 20;  // body bytes read
  static constexpr std::size_t kHeldFileBytes = std::size_t{1} << 20;

  ResponseCapture(Kind kind, std::uint32_t minSize, Charge& charge)
      : kind_(kind), minSize_(minSize), charge_(charge) {}
  ~ResponseCapture() override;
  ResponseCapture(const ResponseCapture&) = delete;
  ResponseCapture& operator=(const ResponseCapture&) = delete;

  bool onResponse(std::uint32_t status, std::optional<std::uint64_t> contentLength) override;
  BodyTaken onBody(std::string_view bytes) override;

  // The final response has arrived and its body is wanted: an accepted status and, for a
  // file, a length that is not below the threshold.
  bool bodyWanted() const { return responded_ && refusal_.isOk() && !tooSmall_; }
  bool responded() const { return responded_; }
  // Why the response rules the entry out; ok when it does not.
  const Status& refusal() const { return refusal_; }
  std::optional<std::uint64_t> length() const { return length_; }
  std::uint64_t bodyBytes() const { return bodyBytes_; }
  // Bytes were held back and the transfer waits for resume().
  bool holding() const { return holding_; }

  // The page text: the body without CR and LF.
  ByteString takePageText();
  // File bytes received and not yet taken.
  std::string_view heldBytes() const { return {held_.data(), held_.size()}; }
  void dropHeldBytes(std::size_t count);
  // What is still to come is not wanted: the transfer ends at its next bytes.
  void refuseRest() { restRefused_ = true; }
  // Transfers may go on: a holding transfer is resumed by its owner.
  void resumed() { holding_ = false; }

 private:
  BodyTaken takePage(std::string_view bytes);
  BodyTaken takeFile(std::string_view bytes);
  std::size_t firstPageChunk() const;
  bool roomForPage(std::size_t bytes) const;
  void addPageChunk(std::size_t capacity);
  void hold(std::size_t bytes);

  const Kind kind_;
  const std::uint32_t minSize_;
  Charge& charge_;
  bool responded_ = false;
  bool tooSmall_ = false;
  bool restRefused_ = false;
  bool holding_ = false;
  Status refusal_;
  std::optional<std::uint64_t> length_;
  std::uint64_t bodyBytes_ = 0;  // received and taken
  std::size_t charged_ = 0;      // memory charged for what this capture holds
  std::vector<std::string> pageChunks_;
  std::vector<char> held_;
};

}  // namespace tarnwick
