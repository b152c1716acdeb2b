#include "engine/crawl_session.h"

#include <chrono>

#include "engine/crawl_worker.h"

namespace tarnwick {
namespace {

constexpr auto kWaitSlice = std::chrono::milliseconds(5);

UiMessage control(UiCode code) { return {code, {}, {}, 0, 0}; }

}  // namespace

CrawlSession::CrawlSession(CrawlJob job, CrawlComponentFactory& components)
    : job_(std::move(job)), components_(components) {
  job_.controlQueue = &controlQueue_;
  job_.statusQueue = &statusQueue_;
  job_.abortRequest = &abortRequest_;
}

CrawlSession::~CrawlSession() {
  if (!worker_.joinable()) return;
  abort();
  wait([](const UiMessage&) {});
}

void CrawlSession::start() {
  worker_ = std::thread([this] { CrawlWorker(job_, components_).run(); });
  controlQueue_.push(control(UiCode::ControlStart));
}

bool CrawlSession::drain(const StatusHandler& handle) {
  for (UiMessage message; !finished_ && statusQueue_.pop(message);) {
    // The worker's last act was this push, so it ends at once.
    if (message.code == UiCode::StatusFinished) {
      worker_.join();
      finished_ = true;
    }
    handle(message);
  }
  return !finished_;
}

void CrawlSession::stop() { controlQueue_.push(control(UiCode::ControlStop)); }

void CrawlSession::abort() {
  abortRequest_.store(true, std::memory_order_release);
  stop();
}

void CrawlSession::wait(const StatusHandler& handle, const std::function<void()>& whileWaiting) {
  while (drain(handle)) {
    if (whileWaiting) whileWaiting();
    std::this_thread::sleep_for(kWaitSlice);
  }
}

}  // namespace tarnwick
