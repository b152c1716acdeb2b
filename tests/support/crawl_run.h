#pragma once

#include <string>
#include <vector>

#include "engine/crawl_components.h"
#include "engine/messages.h"

namespace tarnwick::testing {

// A status code as one letter: Searching, Examining, url Added, downLoading, Downloaded,
// Finished.
char statusLetter(UiCode code);

// A job for `startUrl` that saves the given categories at any size.
CrawlJob crawlJob(const std::string& startUrl, std::uint8_t depth,
                  const std::vector<std::int32_t>& saveCategories, UiMessageQueue& control,
                  UiMessageQueue& status, SaveLayout layout = SaveLayout::Tree);

// Runs CrawlWorker on its own thread, as the window does: sends ControlStart and returns
// every status message up to StatusFinished. Should the crawl not end by itself within
// three minutes, sends ControlStop and sets `*stopSent`.
std::vector<UiMessage> runCrawl(const CrawlJob& job, CrawlComponentFactory& components,
                                bool* stopSent = nullptr);

}  // namespace tarnwick::testing
