#include "engine/outbox.h"

#include "engine/ui_message_queue.h"
#include "engine/work_queue.h"

namespace tarnwick {
namespace {

bool mustArrive(UiCode code) {
  return code == UiCode::StatusDownloaded || code == UiCode::StatusEntryFailed;
}

}  // namespace

void Outbox::goLive() {
  live_ = true;
  for (UiMessage& message : statuses_) push(std::move(message));
  for (WorkMessage& message : works_) workQueue_.post(message.code, std::move(message.payload));
  statuses_.clear();
  works_.clear();
}

void Outbox::status(UiMessage message) {
  if (live_) {
    push(std::move(message));
  } else {
    statuses_.push_back(std::move(message));
  }
}

void Outbox::work(WorkCode code, std::unique_ptr<WorkPayload> payload) {
  if (live_) {
    workQueue_.post(code, std::move(payload));
  } else {
    works_.push_back({code, std::move(payload)});
  }
}

void Outbox::push(UiMessage message) {
  if (mustArrive(message.code)) {
    statusQueue_.pushWaiting(message);
  } else {
    statusQueue_.push(message);
  }
}

}  // namespace tarnwick
