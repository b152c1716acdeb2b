#pragma once

#include "engine/crawl_components.h"
#include "engine/messages.h"

namespace tarnwick {

// The worker thread's whole life for one run: builds the engine from the job, runs the
// crawl loop until ControlStop or the idle rule ends it, tears the engine down and pushes
// StatusFinished to job.statusQueue as its last act. A run that cannot go on (memory ran
// out) still ends that way, with the reason in the message. Worker thread only.
class CrawlWorker {
 public:
  CrawlWorker(const CrawlJob& job, CrawlComponentFactory& components)
      : job_(job), components_(components) {}

  void run();

 private:
  const CrawlJob& job_;
  CrawlComponentFactory& components_;
};

}  // namespace tarnwick
