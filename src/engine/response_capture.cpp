#include "engine/response_capture.h"

#include <algorithm>

namespace tarnwick {
namespace {

constexpr std::size_t kFirstPageChunk = 64 * 1024;
constexpr std::size_t kPageChunk = std::size_t{1} << 20;

// The reason a response gives for ruling its entry out; ok when it does not.
Status refusalOf(std::uint32_t status) {
  if (status >= 200 && status < 300) return Status::ok();
  if (status >= 300 && status < 400) return Status::refused("redirect without a usable Location");
  return Status::refused("HTTP status " + std::to_string(status));
}

}  // namespace

ResponseCapture::~ResponseCapture() { charge_.releaseMemory(charged_); }

bool ResponseCapture::onResponse(std::uint32_t status, std::optional<std::uint64_t> contentLength) {
  responded_ = true;
  refusal_ = refusalOf(status);
  length_ = contentLength;
  tooSmall_ = kind_ == Kind::File && length_ && *length_ < minSize_;
  return bodyWanted();
}

BodyTaken ResponseCapture::onBody(std::string_view bytes) {
  if (restRefused_) return BodyTaken::Enough;
  const BodyTaken taken = kind_ == Kind::Page ? takePage(bytes) : takeFile(bytes);
  holding_ = taken == BodyTaken::None;
  return taken;
}

// The page text is the first kMaxPageText body bytes without CR and LF; nothing past them
// is read, so an endless run of line breaks ends too.
BodyTaken ResponseCapture::takePage(std::string_view bytes) {
  bytes = bytes.substr(0, kMaxPageText - bodyBytes_);
  if (!roomForPage(bytes.size())) return BodyTaken::None;
  for (const char c : bytes) {
    if (c == '\r' || c == '\n') continue;
    if (pageChunks_.empty() || pageChunks_.back().size() == pageChunks_.back().capacity()) {
      addPageChunk(pageChunks_.empty() ? firstPageChunk() : kPageChunk);
    }
    pageChunks_.back().push_back(c);
  }
  bodyBytes_ += bytes.size();
  return bodyBytes_ < kMaxPageText ? BodyTaken::All : BodyTaken::Enough;
}

// The first piece of page text takes the announced length when there is room for it; the
// text grows in steps of kPageChunk from there, so a page never takes twice what it needs.
std::size_t ResponseCapture::firstPageChunk() const {
  const std::size_t announced = std::min<std::uint64_t>(length_.value_or(0), kMaxPageText);
  return charge_.hasRoomFor(announced) ? std::max(announced, kFirstPageChunk) : kFirstPageChunk;
}

// Whether the room `bytes` more text may need, at the worst, is there.
bool ResponseCapture::roomForPage(std::size_t bytes) const {
  const std::size_t room =
      pageChunks_.empty() ? 0 : pageChunks_.back().capacity() - pageChunks_.back().size();
  if (bytes <= room) return true;
  std::size_t rest = bytes - room, needed = 0;
  if (pageChunks_.empty()) {
    needed = firstPageChunk();
    rest -= std::min(rest, needed);
  }
  needed += (rest + kPageChunk - 1) / kPageChunk * kPageChunk;
  return charge_.hasRoomFor(needed);
}

void ResponseCapture::addPageChunk(std::size_t capacity) {
  pageChunks_.emplace_back().reserve(capacity);
  hold(pageChunks_.back().capacity());
}

BodyTaken ResponseCapture::takeFile(std::string_view bytes) {
  const std::size_t needed = held_.size() + bytes.size();
  if (!held_.empty() && needed > kHeldFileBytes) return BodyTaken::None;
  if (needed > held_.capacity()) {
    const std::size_t wanted = std::max(needed, std::min(2 * held_.capacity(), kHeldFileBytes));
    if (!charge_.hasRoomFor(wanted - held_.capacity())) return BodyTaken::None;
    const std::size_t before = held_.capacity();
    held_.reserve(wanted);
    hold(held_.capacity() - before);
  }
  held_.insert(held_.end(), bytes.begin(), bytes.end());
  bodyBytes_ += bytes.size();
  return BodyTaken::All;
}

void ResponseCapture::hold(std::size_t bytes) {
  charge_.holdMemory(bytes);
  charged_ += bytes;
}

// The text leaves in one piece, not much larger than itself; it stays charged to the entry,
// which holds it until its turn.
ByteString ResponseCapture::takePageText() {
  std::size_t size = 0;
  for (const std::string& chunk : pageChunks_) size += chunk.size();
  std::string text;
  if (pageChunks_.size() == 1 && size >= pageChunks_.front().capacity() / 2) {
    text = std::move(pageChunks_.front());  // most often: the announced length, or a short page
  } else {
    text.reserve(size);
    for (const std::string& chunk : pageChunks_) text += chunk;
  }
  pageChunks_.clear();
  charge_.releaseMemory(std::exchange(charged_, 0));
  charge_.holdMemory(text.capacity());
  return ByteString(std::move(text));
}

void ResponseCapture::dropHeldBytes(std::size_t count) {
  held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
}

}  // namespace tarnwick
