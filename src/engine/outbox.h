#pragma once

#include <memory>
#include <vector>

#include "engine/messages.h"

namespace tarnwick {

class WorkQueue;
class UiMessageQueue;

// Where one entry's messages go: held back in order while the entry runs ahead of the
// table, straight to the queues once it is the one the table waits for. Worker thread only.
class Outbox {
 public:
  Outbox(WorkQueue& workQueue, UiMessageQueue& statusQueue)
      : workQueue_(workQueue), statusQueue_(statusQueue) {}

  bool isLive() const { return live_; }
  // From now on messages go straight through; those held so far go first.
  void goLive();
  // StatusDownloaded and StatusEntryFailed wait for room: a front end must learn of each.
  void status(UiMessage message);
  void work(WorkCode code, std::unique_ptr<WorkPayload> payload);

 private:
  void push(UiMessage message);

  WorkQueue& workQueue_;
  UiMessageQueue& statusQueue_;
  bool live_ = false;
  std::vector<UiMessage> statuses_;
  std::vector<WorkMessage> works_;
};

}  // namespace tarnwick
