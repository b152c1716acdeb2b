#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "engine/crawl_components.h"
#include "engine/messages.h"
#include "engine/ui_message_queue.h"

namespace tarnwick {

// One crawl run as a front end drives it: owns the job, the two message queues and the
// worker thread. Thread rule: one thread (the front end's) makes every call; the worker
// reads the job and the queues until it has pushed StatusFinished, and the session lives at
// least that long: destroying it aborts a run still going and waits for its end.
class CrawlSession {
 public:
  using StatusHandler = std::function<void(const UiMessage&)>;

  // `components` must outlive the session. Nothing runs before start().
  CrawlSession(CrawlJob job, CrawlComponentFactory& components);
  ~CrawlSession();
  CrawlSession(const CrawlSession&) = delete;
  CrawlSession& operator=(const CrawlSession&) = delete;

  // Starts the worker and sends ControlStart.
  void start();
  // Hands every status message waiting to `handle`, without waiting for more. Returns
  // false once StatusFinished has been handed over (the worker has ended then).
  bool drain(const StatusHandler& handle);
  // Asks the run to end after the current fetch.
  void stop();
  // Also ends the running transfers at once, without retries.
  void abort();
  // Hands over status messages as they come until StatusFinished, calling `whileWaiting`
  // between looks (a window keeps its events going there).
  void wait(const StatusHandler& handle, const std::function<void()>& whileWaiting = {});

 private:
  CrawlJob job_;
  CrawlComponentFactory& components_;
  UiMessageQueue controlQueue_;
  UiMessageQueue statusQueue_;
  std::atomic<bool> abortRequest_{false};
  std::thread worker_;
  bool finished_ = false;
};

}  // namespace tarnwick
