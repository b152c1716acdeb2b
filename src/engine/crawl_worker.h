#pragma once

#include <cstdint>

#include "engine/crawl_components.h"
#include "engine/messages.h"

namespace tarnwick {

// The worker thread's whole life for one run: builds the engine from `job`, runs the
// crawl loop until ControlStop or the idle rule ends it, tears the engine down and
// pushes StatusFinished to job.statusQueue as its last act, also when the run failed to
// build or ran out of memory. Returns 0.
std::int32_t CrawlWorker(const CrawlJob& job, CrawlComponentFactory& components);

}  // namespace tarnwick
